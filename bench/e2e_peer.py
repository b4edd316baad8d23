#!/usr/bin/python3
"""The end-to-end benchmark's data, its scikit-learn side and its comparison table.

    /usr/bin/python3 bench/e2e_peer.py data DIR --records N --new M [--balanced] [--seed S]
    /usr/bin/python3 bench/e2e_peer.py peer DIR --settings S.xml --out PEER.json
                                            --predictions PRED.csv
    /usr/bin/python3 bench/e2e_peer.py compare DIR

data     Writes DIR/train.csv (N records: id, x1 ... x8, cls), DIR/new.csv (M new records:
         id, x1 ... x8, identifiers N + 1 ... N + M) and DIR/new_truth.csv (id, cls of the new
         records, which neither side sees). The predictors are uniform on eight different
         ranges and written with 12 significant digits; cls is one of three categories cut
         from a smooth function of x1 ... x6 plus Gaussian noise (x7 and x8 carry nothing),
         so the best K lies inside 1 ... 30 (7 at 10 000 records, 16 at 100 000). Class
         frequencies are 50 / 30 / 20 % in label order (a, b, c), or 32 / 33 / 35 % with
         --balanced. The same arguments always give the same files.
peer     What a user would otherwise run, single-threaded: read both CSV files (pandas when
         it is installed, numpy.loadtxt otherwise), rescale the predictors to -1 ... 1 by the
         ranges the settings document declares (knn init declares the data's minimum and
         maximum), GridSearchCV over n_neighbors = MinK ... MaxK with the folds knn run uses
         (record i in fold ((i - 1) mod V) + 1) as a PredefinedSplit,
         KNeighborsClassifier(algorithm="kd_tree"), accuracy, refit on all records, predict
         the new records and write id, cls_predicted. Every part is timed (wall clock).
compare  Reads what bench/run_e2e_bench.sh measured (DIR/times.tsv, DIR/stamps.txt, the
         peer's JSON files, both predictions files) and prints the table. Exit status 1 when
         the two sides chose the same K but less than 99 % of the predictions agree (a
         difference that the tie rule explains does not count against that), or when the
         files do not line up.

Ties: our vote gives a tie to the category that is more frequent among the training records
(then the first in the dictionary); scikit-learn's gives it to the smallest label. With the
default class frequencies both rules pick the same category; with --balanced they pick
different ones (the later label against the earlier), so the chosen K can differ and a few
predictions can differ.
"""

import argparse
import json
import os
import re
import sys
import time
import xml.etree.ElementTree as ElementTree

for _var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[_var] = "1"

import numpy as np  # noqa: E402

AGREEMENT_NEEDED = 0.99

# --- data ------------------------------------------------------------------------------------

# Each predictor is offset + scale * u with u uniform on -1 ... 1: different ranges, so that
# the rescaling matters.
OFFSETS = [0.0, 50.0, -200.0, 0.05, 1.0, 0.0, -0.3, 20.0]
SCALES = [1.0, 10.0, 100.0, 0.01, 1.0, 1000.0, 0.1, 10.0]
NOISE = 0.3
LABELS = ["a", "b", "c"]


def signal(u):
    return (np.sin(6.0 * u[:, 0]) + 0.8 * u[:, 1] * u[:, 2] + 0.7 * u[:, 3] ** 2
            + 0.5 * np.cos(8.0 * u[:, 4]) + 0.3 * u[:, 5])


def draw(rng, count):
    u = rng.uniform(-1.0, 1.0, size=(count, len(SCALES)))
    x = np.asarray(OFFSETS) + np.asarray(SCALES) * u
    score = signal(u) + rng.normal(0.0, NOISE, size=count)
    return x, score


def write_csv(path, header, ids, x=None, labels=None):
    row_format = ",".join(["%d"] + (["%.12g"] * x.shape[1] if x is not None else []))
    with open(path, "w", newline="") as f:
        f.write(",".join(header) + "\n")
        lines = []
        for i in range(len(ids)):
            values = (ids[i],) + (tuple(x[i]) if x is not None else ())
            line = row_format % values
            if labels is not None:
                line += "," + labels[i]
            lines.append(line + "\n")
            if len(lines) == 10000:
                f.writelines(lines)
                lines.clear()
        f.writelines(lines)


def make_data(args):
    os.makedirs(args.directory, exist_ok=True)
    train_seed, new_seed = np.random.SeedSequence(args.seed).spawn(2)
    x_train, s_train = draw(np.random.default_rng(train_seed), args.records)
    x_new, s_new = draw(np.random.default_rng(new_seed), args.new)
    # Near-equal classes grow with the label (a tie then goes to the later label on our side,
    # to the earlier on the peer's); otherwise the most frequent class is the first label.
    shares = [0.32, 0.65] if args.balanced else [0.5, 0.8]
    cuts = np.quantile(s_train, shares)
    labels = np.asarray(LABELS)
    y_train = labels[np.searchsorted(cuts, s_train)]
    y_new = labels[np.searchsorted(cuts, s_new)]
    names = [f"x{j + 1}" for j in range(x_train.shape[1])]
    train_ids = np.arange(1, args.records + 1)
    new_ids = np.arange(args.records + 1, args.records + args.new + 1)
    write_csv(os.path.join(args.directory, "train.csv"), ["id"] + names + ["cls"], train_ids,
              x_train, y_train)
    write_csv(os.path.join(args.directory, "new.csv"), ["id"] + names, new_ids, x_new)
    write_csv(os.path.join(args.directory, "new_truth.csv"), ["id", "cls"], new_ids, None,
              y_new)
    frequencies = {c: float(np.mean(y_train == c)) for c in LABELS}
    with open(os.path.join(args.directory, "data.json"), "w") as f:
        json.dump({"records": args.records, "new": args.new, "seed": args.seed,
                   "balanced": args.balanced, "frequencies": frequencies}, f, indent=1)


# --- the peer --------------------------------------------------------------------------------


def read_settings(path):
    """The roles, declared ranges and K selection parameters of a settings document."""
    root = ElementTree.parse(path).getroot()
    ranges = {}
    for field in root.iter("Field"):
        if field.get("kind") == "continuous":
            ranges[field.get("name")] = (float(field.get("min")), float(field.get("max")))
    parameters = {p.get("key"): p.get("value") for p in root.iter("Parameter")}
    targets = [t.get("name") for t in root.iter("Target")]
    if len(targets) != 1:
        raise SystemExit(f"{path}: the peer handles one target, the settings name {targets}")
    if parameters.get("IsAutoKSelection") != "true" or "VFoldValue" not in parameters:
        raise SystemExit(f"{path}: the peer needs K chosen by V-fold cross-validation")
    return {
        "target": targets[0],
        "predictors": [p.get("name") for p in root.iter("Predictor")],
        "id": parameters.get("CaseIDVar"),
        "ranges": ranges,
        "min_k": int(parameters["MinK"]),
        "max_k": int(parameters["MaxK"]),
        "folds": int(parameters["VFoldValue"]),
    }


def reader():
    try:
        import pandas
        return "pandas " + pandas.__version__, pandas
    except ImportError:
        return "numpy.loadtxt", None


def read_csv(path, text_columns, pandas):
    """The columns of a CSV file by name; the text columns as strings, the others as doubles."""
    with open(path) as f:
        names = f.readline().strip().split(",")
    if pandas is not None:
        frame = pandas.read_csv(path, dtype={n: (str if n in text_columns else np.float64)
                                             for n in names}, keep_default_na=False)
        return {n: frame[n].to_numpy() for n in names}
    dtype = [(n, "U64" if n in text_columns else "f8") for n in names]
    table = np.loadtxt(path, delimiter=",", skiprows=1, dtype=dtype, ndmin=1)
    return {n: table[n] for n in names}


def rescale(columns, predictors, ranges):
    """2 * ((x - min) / (max - min)) - 1 with the declared range: the component's expression."""
    x = np.empty((len(columns[predictors[0]]), len(predictors)))
    for j, name in enumerate(predictors):
        low, high = ranges[name]
        x[:, j] = 2.0 * ((columns[name] - low) / (high - low)) - 1.0
    return x


def run_peer(args):
    started = time.perf_counter()
    from sklearn import __version__ as sklearn_version
    from sklearn.model_selection import GridSearchCV, PredefinedSplit
    from sklearn.neighbors import KNeighborsClassifier
    reader_name, pandas = reader()
    parts = {"imports": time.perf_counter() - started}

    def timed(name, work):
        start = time.perf_counter()
        result = work()
        parts[name] = time.perf_counter() - start
        return result

    settings = timed("settings", lambda: read_settings(args.settings))
    target, id_name, predictors = settings["target"], settings["id"], settings["predictors"]
    text = {target, id_name}
    train = timed("read_train", lambda: read_csv(os.path.join(args.directory, "train.csv"), text,
                                                 pandas))
    new = timed("read_new", lambda: read_csv(os.path.join(args.directory, "new.csv"), text,
                                             pandas))

    def scale():
        return (rescale(train, predictors, settings["ranges"]),
                rescale(new, predictors, settings["ranges"]))

    x_train, x_new = timed("scale", scale)
    y_train = train[target]
    # knn run numbers the records into folds: record i (from 1) is in fold ((i - 1) mod V) + 1.
    folds = np.arange(len(y_train)) % settings["folds"]
    k_values = list(range(settings["min_k"], settings["max_k"] + 1))
    search = GridSearchCV(KNeighborsClassifier(algorithm="kd_tree"), {"n_neighbors": k_values},
                          scoring="accuracy", cv=PredefinedSplit(folds), n_jobs=1, refit=True)
    timed("fit", lambda: search.fit(x_train, y_train))
    parts["refit"] = search.refit_time_
    parts["cv"] = parts.pop("fit") - search.refit_time_
    predicted = timed("predict", lambda: search.predict(x_new))

    def write():
        with open(args.predictions, "w", newline="") as f:
            f.write(f"{id_name},{target}_predicted\n")
            f.writelines(f"{i},{p}\n" for i, p in zip(new[id_name], predicted))

    timed("write", write)
    parts["script"] = time.perf_counter() - started
    with open(args.out, "w") as f:
        json.dump({
            "reader": reader_name, "sklearn": sklearn_version, "numpy": np.__version__,
            "python": sys.version.split()[0], "parts": parts, "records": len(y_train),
            "new": len(predicted), "k": int(search.best_params_["n_neighbors"]),
            "k_values": k_values, "folds": settings["folds"],
            "cv_errors": [1.0 - s for s in search.cv_results_["mean_test_score"]],
        }, f, indent=1)


# --- the comparison --------------------------------------------------------------------------


def read_times(path):
    """times.tsv rows: side, variant, repetition, wall seconds, peak kB, document bytes."""
    rows = {}
    with open(path) as f:
        for line in f:
            side, variant, repetition, seconds, peak, document = line.rstrip("\n").split("\t")
            rows.setdefault((side, variant), []).append({
                "repetition": int(repetition), "seconds": float(seconds), "peak_kb": int(peak),
                "document": int(document) if document else None})
    return rows


def best(rows):
    return min(rows, key=lambda r: r["seconds"])


def stage_parts(path):
    """Our run's parts from the time stamps of its progress lines (see run_e2e_bench.sh)."""
    stamps = []
    with open(path) as f:
        for line in f:
            stamp, _, text = line.rstrip("\n").partition(" ")
            stamps.append((float(stamp), text))
    start = stamps[0][0]
    end = stamps[-1][0]

    def at(pattern):
        for stamp, text in stamps:
            if re.search(pattern, text):
                return stamp
        return None

    marks = [
        ("settings, reading train.csv, preparing the cases", at(r"reading cases: done")),
        ("choosing K by cross-validation", at(r"model selection: done|choosing K: done")),
        ("final model (tree over all records)", at(r"building the model: done")),
        ("model document (every training record's neighbours)",
         at(r"reading the model document back")),
        ("reading the model document back", at(r"reading new\.csv")),
        ("reading new.csv, scoring, writing predictions", end),
    ]
    parts = []
    previous = start
    for label, mark in marks:
        if mark is None:
            parts.append((label, None))
            continue
        parts.append((label, mark - previous))
        previous = mark
    return parts, end - start


def our_summary(path):
    """K and its cross-validated error from the summary knn run printed."""
    with open(path) as f:
        text = f.read()
    k = re.search(r"\(categorical[^)]*\): K = (\d+)", text)
    error = re.search(r"error\s+([\d.]+)% at K = (\d+)", text)
    return (int(k.group(1)) if k else None), (float(error.group(1)) if error else None)


def read_predictions(path):
    with open(path) as f:
        header = f.readline().rstrip("\n").split(",")
        rows = [line.rstrip("\n").split(",") for line in f]
    return header, rows


def read_json(path):
    with open(path) as f:
        return json.load(f)


def compare(args):
    directory = args.directory
    data = read_json(os.path.join(directory, "data.json"))
    times = read_times(os.path.join(directory, "times.tsv"))
    peer_runs = times[("peer", "process")]
    peer_best = best(peer_runs)
    peer = read_json(os.path.join(directory, f"peer.{peer_best['repetition']}.json"))

    failures = []
    # Predictions: ours (with probabilities and neighbours) against the peer's.
    ours_header, ours_rows = read_predictions(os.path.join(directory, "p.csv"))
    peer_header, peer_rows = read_predictions(os.path.join(directory, "peer_predictions.csv"))
    truth_header, truth_rows = read_predictions(os.path.join(directory, "new_truth.csv"))
    target = peer_header[1][:-len("_predicted")]
    predicted_column = ours_header.index(f"{target}_predicted")
    probability_columns = [(i, h[len(f"{target}_prob_"):]) for i, h in enumerate(ours_header)
                           if h.startswith(f"{target}_prob_")]
    our_k = sum(1 for h in ours_header if re.fullmatch(r"(\w+_)?neighbor_\d+", h))
    summary_k, our_cv_error = our_summary(os.path.join(directory, "summary.txt"))
    if summary_k is not None and summary_k != our_k:
        failures.append(f"our summary says K = {summary_k}, the predictions have {our_k} "
                        f"neighbours")
    if len(ours_rows) != len(peer_rows) or len(ours_rows) != len(truth_rows):
        failures.append(f"predictions: ours {len(ours_rows)} rows, peer {len(peer_rows)}, "
                        f"truth {len(truth_rows)}")
    same = tie_explained = other = 0
    ours_right = peer_right = 0
    for ours_row, peer_row, truth_row in zip(ours_rows, peer_rows, truth_rows):
        if not (ours_row[0] == peer_row[0] == truth_row[0]):
            failures.append(f"predictions out of line: identifiers {ours_row[0]}, "
                            f"{peer_row[0]}, {truth_row[0]}")
            break
        ours_label, peer_label = ours_row[predicted_column], peer_row[1]
        ours_right += ours_label == truth_row[1]
        peer_right += peer_label == truth_row[1]
        if ours_label == peer_label:
            same += 1
            continue
        # A tied vote shows as equal top probabilities: (count + 1) / (K + categories).
        probabilities = [(float(ours_row[i]), label) for i, label in probability_columns]
        top = max(p for p, _ in probabilities)
        tied = sorted(label for p, label in probabilities if p == top)
        if len(tied) > 1 and ours_label in tied and peer_label == tied[0]:
            tie_explained += 1
        else:
            other += 1
    count = max(len(ours_rows), 1)
    explained_share = (same + tie_explained) / count
    if our_k == peer["k"] and explained_share < AGREEMENT_NEEDED:
        failures.append(f"same K = {our_k}, but only {explained_share:.2%} of the predictions "
                        f"agree (ties included); at least {AGREEMENT_NEEDED:.0%} expected")

    # --- the table ---
    cores = os.cpu_count()
    print(f"data: {data['records']} training records, {data['new']} new records, 8 continuous "
          f"predictors, classes " + " / ".join(f"{c} {share:.1%}" for c, share in
                                               data["frequencies"].items())
          + (" (balanced)" if data["balanced"] else "") + f"; seed {data['seed']}")
    print(f"K from {peer['k_values'][0]} to {peer['k_values'][-1]} by {peer['folds']}-fold "
          f"cross-validation, folds by record number; {cores} cores; wall clock, best of "
          f"{len(peer_runs)}")
    print()
    print("== ours: knn (one thread)")
    header = f"  {'command':<52} {'wall s':>8} {'peak MB':>8} {'document':>12}"
    print(header)
    print("  " + "-" * (len(header) - 2))
    variants = [("init", "knn init --min-k --max-k --folds"),
                ("run", "knn run --score (no --pmml)"),
                ("run_pmml", "knn run --score --pmml"),
                ("run_compact", "knn run --score --pmml --compact")]
    for variant, label in variants:
        if ("ours", variant) not in times:
            print(f"  {label:<52} {'(not run)':>8}")
            continue
        rows = times[("ours", variant)]
        b = best(rows)
        peak = max(r["peak_kb"] for r in rows) / 1024
        document = "(temporary)" if b["document"] is None else f"{b['document'] / 1e6:.2f} MB"
        if variant == "init":
            document = ""
        print(f"  {label:<52} {b['seconds']:>8.3f} {peak:>8.0f} {document:>12}")
    parts, whole = stage_parts(os.path.join(directory, "stamps.txt"))
    print("  parts of knn run (no --pmml), from the time stamps of its progress lines in one "
          "more run:")
    for label, seconds in parts:
        print(f"    {label:<52} " + ("       -" if seconds is None else f"{seconds:8.3f}"))
    print(f"    {'whole run (with progress)':<52} {whole:8.3f}")
    print()
    p = peer["parts"]
    print(f"== peer: scikit-learn {peer['sklearn']}, numpy {peer['numpy']}, python "
          f"{peer['python']}, n_jobs=1; reader {peer['reader']}")
    k_count = len(peer["k_values"])
    peer_parts = [
        ("python start and imports", peer_best["seconds"] - p["script"] + p["imports"]),
        ("settings document (ranges, K range, folds)", p["settings"]),
        ("reading train.csv", p["read_train"]),
        ("reading new.csv", p["read_new"]),
        ("rescaling to -1 ... 1", p["scale"]),
        (f"GridSearchCV: {peer['folds']} folds x {k_count} K", p["cv"]),
        ("refit on all records", p["refit"]),
        ("predicting the new records", p["predict"]),
        ("writing the predictions", p["write"]),
    ]
    for label, seconds in peer_parts:
        print(f"    {label:<52} {seconds:8.3f}")
    peer_peak = max(r["peak_kb"] for r in peer_runs) / 1024
    print(f"    {'whole process':<52} {peer_best['seconds']:8.3f}   peak {peer_peak:.0f} MB")
    print()

    ours_run = best(times[("ours", "run")])
    ours_peak = max(r["peak_kb"] for r in times[("ours", "run")]) / 1024
    by_label = dict(parts)
    print("== ours against the peer")
    header = f"  {'':<40} {'ours':>10} {'peer':>10} {'ours/peer':>10}"
    print(header)
    print("  " + "-" * (len(header) - 2))

    def ratio_row(label, ours_value, peer_value, unit="s"):
        if ours_value is None:
            print(f"  {label:<40} {'-':>10} {peer_value:>9.3f}{unit}")
            return
        print(f"  {label:<40} {ours_value:>9.3f}{unit} {peer_value:>9.3f}{unit} "
              f"{ours_value / peer_value:>10.3f}")

    ratio_row("whole: knn run / python process", ours_run["seconds"], peer_best["seconds"])
    if ("ours", "init") in times:
        ratio_row("whole with knn init / python process",
                  ours_run["seconds"] + best(times[("ours", "init")])["seconds"],
                  peer_best["seconds"])
    ratio_row("reading the training data", by_label[parts[0][0]], p["read_train"] + p["scale"])
    ratio_row("choosing K (CV)", by_label[parts[1][0]], p["cv"])
    ratio_row("final model / refit", by_label[parts[2][0]], p["refit"])
    ratio_row("reading, scoring, writing new records", by_label[parts[5][0]],
              p["read_new"] + p["predict"] + p["write"])
    print(f"  {'peak memory (MB)':<40} {ours_peak:>10.0f} {peer_peak:>10.0f} "
          f"{ours_peak / peer_peak:>10.3f}")
    peer_errors = dict(zip(peer["k_values"], peer["cv_errors"]))
    print(f"  {'chosen K':<40} {our_k:>10} {peer['k']:>10}")
    ours_error = "-" if our_cv_error is None else f"{our_cv_error:.2f}%"
    print(f"  {'CV error at the chosen K':<40} {ours_error:>10} "
          f"{100 * peer_errors[peer['k']]:>9.2f}%")
    if our_k != peer["k"] and our_k in peer_errors:
        print(f"  {'peer CV error at our K':<40} {'':>10} {100 * peer_errors[our_k]:>9.2f}%")
    print(f"  {'accuracy on the new records':<40} {ours_right / count:>10.2%} "
          f"{peer_right / count:>10.2%}")
    print(f"  predictions agreeing: {same} of {count} ({same / count:.2%}); differing where "
          f"our vote was tied (tie rule): {tie_explained}; differing otherwise: {other}")
    print()
    print("Note: our vote gives a tie to the category more frequent among the training records "
          "(then the first in\nthe dictionary), scikit-learn's to the smallest label. On "
          "balanced classes the chosen K can therefore\ndiffer and a few predictions can "
          "differ; that is not counted as a disagreement.")
    if our_k != peer["k"]:
        print(f"NOTE: the chosen K differs (ours {our_k}, peer {peer['k']}); predictions are "
              f"not held to {AGREEMENT_NEEDED:.0%} agreement.")
    for failure in failures:
        print(f"DISAGREEMENT: {failure}")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    data = commands.add_parser("data", help="write the CSV files")
    data.add_argument("directory")
    data.add_argument("--records", type=int, required=True)
    data.add_argument("--new", type=int, required=True)
    data.add_argument("--balanced", action="store_true")
    data.add_argument("--seed", type=int, default=20240917)
    peer = commands.add_parser("peer", help="run the scikit-learn side")
    peer.add_argument("directory")
    peer.add_argument("--settings", required=True)
    peer.add_argument("--out", required=True)
    peer.add_argument("--predictions", required=True)
    table = commands.add_parser("compare", help="print the table")
    table.add_argument("directory")
    args = parser.parse_args()
    if args.command == "data":
        make_data(args)
        return 0
    if args.command == "peer":
        run_peer(args)
        return 0
    return compare(args)


if __name__ == "__main__":
    sys.exit(main())
