#!/usr/bin/env bash
# End-to-end benchmark: what a user runs, `knn init` and `knn run` on CSV files, against the
# same work written as a scikit-learn script (bench/e2e_peer.py), single-threaded. Generates the
# data, times both sides (wall clock, best of R) with their peak memory, and prints one table
# with the parts, the ratios ours/peer, the K each side chose and how many predictions agree.
# See docs/performance.md.
#
#   bench/run_e2e_bench.sh [--quick] [--large] [--records N] [--new M] [--repeat R]
#                          [--balanced] [--knn PATH] [--build DIR] [--data DIR]
#
#   --quick        N / 10 and M / 10 (a smoke run of about a minute)
#   --large        N = 1 000 000 training records (the peer's GridSearchCV then takes long)
#   --records N    training records (default 100 000)
#   --new M        new records to score (default 10 000)
#   --repeat R     best of R runs of each command, on both sides (default 1)
#   --balanced     classes of 32 / 33 / 35 % instead of 50 / 30 / 20 %: the two sides then
#                  settle tied votes differently
#   --knn PATH     the knn program to time (default: built here, Release, in --build)
#   --build DIR    build directory (default build-e2e in the source tree)
#   --data DIR     where the data and results go (default a new temporary directory)
#
# Exit status: 0 when both sides agree, 1 when they chose the same K but fewer than 99 % of
# the predictions agree (ties that the vote rules settle differently excepted), when the
# outputs do not line up, or on any failure.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-e2e"
data=""
knn=""
records=100000
new=10000
divide=1
repeat=1
balanced=()
while [[ $# -gt 0 ]]; do
    case "$1" in
        --quick) divide=10 ;;
        --large) records=1000000 ;;
        --records) records="$2"; shift ;;
        --new) new="$2"; shift ;;
        --repeat) repeat="$2"; shift ;;
        --balanced) balanced=(--balanced) ;;
        --knn) knn="$2"; shift ;;
        --build) build="$2"; shift ;;
        --data) data="$2"; shift ;;
        *) sed -n '2,24p' "$0" >&2; exit 2 ;;
    esac
    shift
done
records=$((records / divide))
new=$((new / divide))
if [[ -z "$data" ]]; then
    data=$(mktemp -d /tmp/e2e-bench.XXXXXX)
fi
mkdir -p "$data"
data=$(cd "$data" && pwd)

# The peer is Debian's scikit-learn, which installs for the system interpreter only.
python=/usr/bin/python3
if ! "$python" -c 'import sklearn' 2>/dev/null; then
    echo "installing python3-sklearn" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-sklearn
fi
if [[ ! -x /usr/bin/time ]]; then
    echo "installing time (for the peak memory)" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time
fi

# The build's output is shown only when it fails.
quietly() {
    local log
    log=$(mktemp)
    if ! "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        return 1
    fi
    rm -f "$log"
}
if [[ -z "$knn" ]]; then
    quietly cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKNN_BUILD_TESTS=OFF
    quietly cmake --build "$build" -j2 --target knn knn800
    knn="$build/bin/knn"
fi
knn=$(realpath "$knn")

export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 MKL_NUM_THREADS=1
# nproc counts OMP_NUM_THREADS as a limit: ask it without that.
machine() {
    echo "$1: $(env -u OMP_NUM_THREADS -u OMP_THREAD_LIMIT nproc) cores (nproc);" \
        "uptime: $(uptime | xargs)"
}
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
machine "start"
echo "knn: $knn"
echo "data and results: $data"

cd "$data"
# Results of an earlier run in the same directory must not be taken for this run's.
rm -f p.csv p_pmml.csv p_compact.csv p_progress.csv peer.*.json peer_predictions.csv \
    model.pmml compact.pmml summary.txt stamps.txt times.tsv memory.txt
"$python" "$root/bench/e2e_peer.py" data . --records "$records" --new "$new" "${balanced[@]}"
: >times.tsv

# Runs a command with its peak memory measured, appends a line to times.tsv: side, variant,
# repetition, wall seconds, peak kB, size of the model document (when given). The command's
# standard output goes to $out (default /dev/null).
measure() {
    local side=$1 variant=$2 repetition=$3 document=$4 out=${out:-/dev/null}
    shift 4
    local start end status=0
    start=$EPOCHREALTIME
    /usr/bin/time -f %M -o memory.txt "$@" >"$out" || status=$?
    end=$EPOCHREALTIME
    if [[ $status -ne 0 ]]; then
        echo "failed (exit $status): $*" >&2
        exit 1
    fi
    local size=""
    [[ -n "$document" ]] && size=$(stat -c %s "$document")
    local seconds
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$side" "$variant" "$repetition" "$seconds" \
        "$(tail -n1 memory.txt)" "$size" >>times.tsv
}

# Whether this knn has --compact; the row is left out when it does not.
compact=no
if "$knn" run --help | grep -q -- '--compact'; then
    compact=yes
fi

echo "== ours: knn init, then knn run; best of $repeat"
measure ours init 1 "" "$knn" init --data train.csv --target cls --id id --min-k 1 --max-k 30 \
    --folds 10 --out settings.xml -q
# Single-threaded like the peer: a knn with --threads would otherwise use every processor.
single=()
if "$knn" run --help | grep -q -- '--threads'; then
    single=(--threads 1)
fi
common=(run --settings settings.xml --data train.csv --score new.csv -q "${single[@]}")
for ((r = 1; r <= repeat; r++)); do
    out=summary.txt measure ours run "$r" "" "$knn" "${common[@]}" --predictions p.csv
    measure ours run_pmml "$r" model.pmml "$knn" "${common[@]}" --predictions p_pmml.csv \
        --pmml model.pmml
    if [[ $compact == yes ]]; then
        measure ours run_compact "$r" compact.pmml "$knn" "${common[@]}" \
            --predictions p_compact.csv --pmml compact.pmml --compact
    fi
done
# The model document changes nothing in the predictions.
for other in p_pmml.csv p_compact.csv; do
    if [[ -f $other ]] && ! cmp -s p.csv "$other"; then
        echo "DISAGREEMENT: $other differs from p.csv (the run without --pmml)" >&2
        exit 1
    fi
done
[[ $compact == yes ]] || echo "(this knn has no --compact: that row is left out)"

# One more run with progress on standard error, each line stamped as it arrives; the parts of
# the run are the gaps between the stamps. The first and last lines mark the process's start
# and end.
{
    echo "$EPOCHREALTIME start"
    "$knn" run --settings settings.xml --data train.csv --score new.csv "${single[@]}" \
        --predictions p_progress.csv 2>&1 >/dev/null
    echo "$EPOCHREALTIME end"
} | while IFS= read -r line; do
    if [[ $line =~ ^[0-9]+\.[0-9]+\ (start|end)$ ]]; then
        echo "$line"
    else
        echo "$EPOCHREALTIME $line"
    fi
done >stamps.txt
if ! cmp -s p.csv p_progress.csv; then
    echo "the run with progress failed or predicted otherwise: see $data/stamps.txt" >&2
    exit 1
fi

echo "== peer: scikit-learn; best of $repeat"
for ((r = 1; r <= repeat; r++)); do
    measure peer process "$r" "" "$python" "$root/bench/e2e_peer.py" peer . \
        --settings settings.xml --out "peer.$r.json" --predictions peer_predictions.csv
done
machine "end"
echo
status=0
"$python" "$root/bench/e2e_peer.py" compare . || status=$?
exit $status
