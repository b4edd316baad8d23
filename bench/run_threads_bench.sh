#!/usr/bin/env bash
# Threads against one thread of the same build (docs/performance.md, "Threads"): the all-points
# search of bench/kdtree_bench (ours and the peer's loop over queries, each on T threads), K
# selection and forward selection of bench/selection_bench, and the model document of
# `knn run --pmml` on 100 000 records of 8 predictors (fixed K = 10, so that the scoring pass
# of the document is most of the run). Prints nproc and uptime before and after, since the
# machine may be shared.
#
#   bench/run_threads_bench.sh [--threads T] [--repeat R] [--build DIR] [--data DIR]
#
#   --threads T   the thread count to compare with one thread (default 2)
#   --repeat R    best of R runs everywhere (default 3)
#   --build DIR   build directory (default build-bench in the source tree, Release)
#   --data DIR    where the data and documents go (default a new temporary directory)
#
# Exit status 1 when a result differs between the thread counts.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
data=""
threads=2
repeat=3
while [[ $# -gt 0 ]]; do
    case "$1" in
        --threads) threads="$2"; shift ;;
        --repeat) repeat="$2"; shift ;;
        --build) build="$2"; shift ;;
        --data) data="$2"; shift ;;
        *) sed -n '2,16p' "$0" >&2; exit 2 ;;
    esac
    shift
done
if [[ -z "$data" ]]; then
    data=$(mktemp -d /tmp/threads-bench.XXXXXX)
fi
mkdir -p "$data"

# GCC 12 warns falsely about restrict in the Release build of the benchmarks.
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKNN_BUILD_BENCH=ON \
    -DKNN_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS=-Wno-error=restrict >/dev/null
cmake --build "$build" -j2 --target kdtree_bench selection_bench knn knn800 >/dev/null

echo "processors: $(nproc); before: $(uptime)"

echo
echo "== all-points search, N = 100 000, d = 8, K = 10 (1 thread, then $threads)"
"$build/bin/kdtree_bench" --only 100000,8 --repeat "$repeat" --threads 1
"$build/bin/kdtree_bench" --only 100000,8 --repeat "$repeat" --threads "$threads"

echo
echo "== K selection (100 000 x 8, K 1 ... 30, 10 folds) and forward selection (5 of 16, 5 000, K = 5)"
for t in 1 "$threads"; do
    echo "-- Threads = $t"
    "$build/bin/selection_bench" --data "$data" --repeat "$repeat" --threads "$t"
    cp "$data/ours.json" "$data/ours-$t.json"
done
python3 - "$data/ours-1.json" "$data/ours-$threads.json" <<'PY'
import json, sys
one, many = (json.load(open(p))["results"] for p in sys.argv[1:])
for name in one:
    a, b = one[name], many[name]
    same = all(a[key] == b[key] for key in ("k", "errors", "features", "history"))
    print(f"{name:<13} build {a['build_s']:.3f} s -> {b['build_s']:.3f} s: "
          f"{a['build_s'] / b['build_s']:.2f}x, results {'the same' if same else 'DIFFER'}")
    if not same:
        sys.exit(1)
PY

echo
echo "== model document of knn run --pmml, 100 000 records x 8 predictors, K = 10"
/usr/bin/python3 "$root/bench/e2e_peer.py" data "$data" --records 100000 --new 10 >/dev/null
"$build/bin/knn" init --data "$data/train.csv" --target cls --id id --k 10 \
    --out "$data/fixed.xml" --quiet
best() {  # best wall time of $repeat runs of the command
    local best=""
    for ((r = 0; r < repeat; ++r)); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        best=$(python3 -c "import sys; a=float(sys.argv[2])-float(sys.argv[1]); \
b=sys.argv[3]; print(a if b=='' or a<float(b) else b)" "$start" "$end" "$best")
    done
    echo "$best"
}
declare -A whole plain
for t in 1 "$threads"; do
    run=("$build/bin/knn" run --settings "$data/fixed.xml" --data "$data/train.csv" -q
        --threads "$t")
    plain[$t]=$(best "${run[@]}")
    whole[$t]=$(best "${run[@]}" --pmml "$data/model-$t.pmml")
done
cmp -s "$data/model-1.pmml" "$data/model-$threads.pmml" || { echo "documents DIFFER"; exit 1; }
python3 - "${plain[1]}" "${whole[1]}" "${plain[$threads]}" "${whole[$threads]}" "$threads" <<'PY'
import sys
p1, w1, pt, wt = map(float, sys.argv[1:5])
t = sys.argv[5]
print(f"run without the document: {p1:.2f} s (1 thread), {pt:.2f} s ({t})")
print(f"run with the document:    {w1:.2f} s (1 thread), {wt:.2f} s ({t})")
print(f"the document alone:       {w1 - p1:.2f} s -> {wt - pt:.2f} s: "
      f"{(w1 - p1) / (wt - pt):.2f}x; documents identical")
PY

echo
echo "after: $(uptime)"
