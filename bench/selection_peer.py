#!/usr/bin/python3
"""The scikit-learn side of the model-selection benchmark.

Reads the CSV files and the results that bench/selection_bench wrote into DIR, runs the same
selections with scikit-learn on the same numbers, single-threaded, and prints one table with
both sides, the speed-up and whether the results agree.

    /usr/bin/python3 bench/selection_peer.py DIR [--repeat R] [--grid-repeat R] [--skip-sfs]
                                              [--jobs J]

Times are wall-clock seconds: the best of R runs for the forward loop (default 3), of
--grid-repeat runs for GridSearchCV (default 1: it takes minutes at full size), and one run of
the SequentialFeatureSelector reference.

Peers:
  kselect  GridSearchCV over n_neighbors = MinK ... MaxK with the benchmark's fold column as a
           PredefinedSplit, KNeighborsClassifier / KNeighborsRegressor (kd_tree), scoring
           accuracy / neg_mean_squared_error, n_jobs=1, refit on all data (the default).
  fselect  The forward loop written with sklearn.neighbors.KDTree: for every candidate, a tree
           over the chosen features plus the candidate, all points queried with k = K + 1, the
           point itself dropped, vote or mean of the K others, training error without the case
           itself; the lowest error wins, ties to the earlier feature. For reference only,
           SequentialFeatureSelector with 5-fold cross-validation (leave-one-out over 5 000
           cases would mean 5 000 fits per candidate).

Predictors are rescaled as the component does: 2 * ((x - min) / (max - min)) - 1 with the
data minimum and maximum, which are also the ranges the settings declare.

--jobs J gives GridSearchCV n_jobs=J (its fits and scorings in J processes), to compare with
the component's Threads = J; the forward loop and the reference stay single-threaded.
"""

import argparse
import json
import os
import sys
import time

for _var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[_var] = "1"

import numpy as np  # noqa: E402
from sklearn.feature_selection import SequentialFeatureSelector  # noqa: E402
from sklearn.model_selection import GridSearchCV, PredefinedSplit  # noqa: E402
from sklearn.neighbors import KDTree, KNeighborsClassifier, KNeighborsRegressor  # noqa: E402


def load(path):
    with open(path) as f:
        names = f.readline().strip().split(",")
    data = np.loadtxt(path, delimiter=",", skiprows=1)
    return names, data


def rescale(x):
    low = x.min(axis=0)
    high = x.max(axis=0)
    return 2.0 * ((x - low) / (high - low)) - 1.0


def predictors(names):
    return [i for i, n in enumerate(names) if n.startswith("x")]


def best_of(repeat, run):
    """Runs `run` `repeat` times; the shortest time and the last result."""
    best = float("inf")
    result = None
    for _ in range(repeat):
        start = time.perf_counter()
        result = run()
        best = min(best, time.perf_counter() - start)
    return best, result


# --- K selection ---------------------------------------------------------------------------


JOBS = 1  # --jobs


def grid_search(x_raw, y, folds, categorical, k_range):
    x = rescale(x_raw)
    if categorical:
        estimator = KNeighborsClassifier(algorithm="kd_tree")
        scoring = "accuracy"
    else:
        estimator = KNeighborsRegressor(algorithm="kd_tree")
        scoring = "neg_mean_squared_error"
    search = GridSearchCV(estimator, {"n_neighbors": list(k_range)}, scoring=scoring,
                          cv=PredefinedSplit(folds), n_jobs=JOBS)
    search.fit(x, y)
    return search


def kselect(directory, setup, ours, repeat):
    names, data = load(os.path.join(directory, setup["csv"]))
    x = data[:, predictors(names)]
    folds = data[:, names.index("fold")].astype(int)
    fold_sizes = np.bincount(folds)
    k_range = range(setup["min_k"], setup["max_k"] + 1)
    rows = []
    for label, column, categorical in (("kselect_cat", "cls", True),
                                       ("kselect_cont", "y", False)):
        if label not in ours:
            continue
        y = data[:, names.index(column)]
        if categorical:
            y = y.astype(int)
        seconds, search = best_of(repeat, lambda: grid_search(x, y, folds, categorical, k_range))
        peer_k = search.best_params_["n_neighbors"]
        means = search.cv_results_["mean_test_score"]
        # The component's criterion: mean over folds of the misclassified fraction, or of the
        # fold's sum of squared errors (= fold size x MSE when the folds are equal).
        if categorical:
            peer_errors = 1.0 - means
            note = "error = mean misclassified fraction"
        else:
            peer_errors = -means * fold_sizes.mean()
            note = "error = mean fold SSE" if fold_sizes.min() == fold_sizes.max() else \
                "folds differ in size: criteria not comparable"
        our_errors = np.array(ours[label]["errors"])
        difference = np.max(np.abs(our_errors - peer_errors) / np.maximum(np.abs(peer_errors),
                                                                          1e-300))
        agree = ours[label]["k"] == peer_k
        rows.append({
            "workload": label, "n": len(y), "ours": ours[label]["build_s"],
            "ours_select": ours[label]["select_s"], "peer": seconds, "peer_name": "GridSearchCV",
            "agree": agree,
            "detail": f"K ours {ours[label]['k']}, peer {peer_k}; {note}, "
                      f"largest relative difference over K {difference:.1e}",
        })
    return rows


# --- Forward feature selection ---------------------------------------------------------------


def loo_error(x, y, columns, k, categorical, classes):
    """Training error without the case itself over the given columns."""
    points = np.ascontiguousarray(x[:, columns])
    n = len(points)
    neighbours = KDTree(points).query(points, k=k + 1, return_distance=False)
    own = neighbours == np.arange(n)[:, None]
    # Among exact duplicates the point itself may fall outside the k + 1 found: drop the last.
    own[~own.any(axis=1), -1] = True
    neighbours = neighbours[~own].reshape(n, k)
    if categorical:
        labels = y[neighbours]
        votes = np.stack([(labels == c).sum(axis=1) for c in range(classes)], axis=1)
        predicted = votes.argmax(axis=1)  # ties: the smallest label
        return 1.0 - float((predicted == y).sum()) / n
    predicted = y[neighbours].mean(axis=1)
    return float(((predicted - y) ** 2).sum())


def forward_loop(x_raw, y, k, count, categorical):
    x = rescale(x_raw)
    classes = int(y.max()) + 1 if categorical else 0
    candidates = list(range(x.shape[1]))
    chosen, history = [], []
    for _ in range(count):
        errors = [loo_error(x, y, chosen + [c], k, categorical, classes) for c in candidates]
        best = int(np.argmin(errors))  # first of equal errors: the earlier candidate
        chosen.append(candidates.pop(best))
        history.append(errors[best])
    return chosen, history


def sequential_selector(x_raw, y, k, count, categorical):
    x = rescale(x_raw)
    if categorical:
        estimator = KNeighborsClassifier(n_neighbors=k, algorithm="kd_tree")
        scoring = "accuracy"
    else:
        estimator = KNeighborsRegressor(n_neighbors=k, algorithm="kd_tree")
        scoring = "neg_mean_squared_error"
    selector = SequentialFeatureSelector(estimator, n_features_to_select=count,
                                         direction="forward", scoring=scoring, cv=5, n_jobs=1)
    selector.fit(x, y)
    return selector


def fselect(directory, setup, ours, repeat, with_sfs):
    names, data = load(os.path.join(directory, setup["csv"]))
    columns = predictors(names)
    x = data[:, columns]
    rows = []
    for label, column, categorical in (("fselect_cat", "cls", True),
                                       ("fselect_cont", "y", False)):
        if label not in ours:
            continue
        y = data[:, names.index(column)]
        if categorical:
            y = y.astype(int)
        seconds, (chosen, history) = best_of(
            repeat, lambda: forward_loop(x, y, setup["k"], setup["features"], categorical))
        peer_features = [names[columns[c]] for c in chosen]
        our_features = ours[label]["features"]
        our_history = np.array(ours[label]["history"])
        difference = np.max(np.abs(our_history - np.array(history)) / np.abs(history))
        rows.append({
            "workload": label, "n": len(y), "ours": ours[label]["build_s"],
            "ours_select": ours[label]["select_s"], "peer": seconds,
            "peer_name": "KDTree loop", "agree": peer_features == our_features,
            "detail": f"ours {' '.join(our_features)}; peer {' '.join(peer_features)}; "
                      f"largest relative difference of the error history {difference:.1e}",
        })
        if with_sfs:
            sfs_seconds, selector = best_of(
                1, lambda: sequential_selector(x, y, setup["k"], setup["features"], categorical))
            sfs_features = [names[columns[c]] for c in np.flatnonzero(selector.get_support())]
            rows.append({
                "workload": label, "n": len(y), "ours": ours[label]["build_s"],
                "ours_select": ours[label]["select_s"], "peer": sfs_seconds,
                "peer_name": "SFS, 5-fold", "agree": None,
                "detail": f"reference (5-fold CV, not leave-one-out): features "
                          f"{' '.join(sfs_features)} (as a set, unordered)",
            })
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("directory")
    parser.add_argument("--repeat", type=int, default=3,
                        help="best of R runs of the forward loop (default 3)")
    parser.add_argument("--grid-repeat", type=int, default=1,
                        help="best of R runs of GridSearchCV (default 1)")
    parser.add_argument("--skip-sfs", action="store_true",
                        help="leave out the SequentialFeatureSelector reference")
    parser.add_argument("--jobs", type=int, default=1,
                        help="n_jobs of GridSearchCV (default 1)")
    args = parser.parse_args()
    global JOBS
    JOBS = args.jobs

    with open(os.path.join(args.directory, "ours.json")) as f:
        ours_file = json.load(f)
    ours = ours_file["results"]
    workloads = ours_file["workloads"]

    rows = []
    if "kselect" in workloads:
        rows += kselect(args.directory, workloads["kselect"], ours, args.grid_repeat)
    if "fselect" in workloads:
        rows += fselect(args.directory, workloads["fselect"], ours, args.repeat,
                        not args.skip_sfs)

    import sklearn
    print(f"scikit-learn {sklearn.__version__}, numpy {np.__version__}, "
          f"python {sys.version.split()[0]}; GridSearchCV n_jobs={JOBS}, others one thread")
    header = (f"{'workload':<13} {'N':>7} {'ours build':>10} {'ours sel.':>10} "
              f"{'peer':<13} {'peer (s)':>9} {'speed-up':>9} {'agree':>6}")
    print(header)
    print("-" * len(header))
    for r in rows:
        agree = "-" if r["agree"] is None else ("yes" if r["agree"] else "NO")
        print(f"{r['workload']:<13} {r['n']:>7} {r['ours']:>10.3f} {r['ours_select']:>10.3f} "
              f"{r['peer_name']:<13} {r['peer']:>9.2f} {r['peer'] / r['ours']:>8.1f}x "
              f"{agree:>6}")
    print()
    for r in rows:
        print(f"{r['workload']} vs {r['peer_name']}: {r['detail']}")
    with open(os.path.join(args.directory, "peer.json"), "w") as f:
        json.dump(rows, f, indent=1, default=str)
    disagreements = [r for r in rows if r["agree"] is False]
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
