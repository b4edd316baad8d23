#!/usr/bin/env bash
# Model-selection benchmark: builds bench/selection_bench (Release), runs it, then runs the
# scikit-learn peer (bench/selection_peer.py) on the same data and prints the table with the
# speed-ups and the agreement of the results. See docs/performance.md.
#
#   bench/run_selection_bench.sh [--quick] [--only kselect|fselect] [--repeat R]
#                                [--peer-repeat R] [--grid-repeat R] [--skip-sfs]
#                                [--build DIR] [--data DIR] [--threads T]
#
#   --quick        N / 10 on every workload (a smoke run of about a minute)
#   --only W       one workload: kselect (K by cross-validation) or fselect (forward selection)
#   --repeat R     best of R builds on our side (default 3)
#   --peer-repeat  best of R runs of the peer's forward loop (default 3)
#   --grid-repeat  best of R runs of GridSearchCV (default 1; at full size it takes minutes)
#   --skip-sfs     leave out the SequentialFeatureSelector reference runs
#   --build DIR    build directory (default build-selection-bench in the source tree)
#   --data DIR     where the CSV files and results go (default a new temporary directory)
#   --threads T    our side with Threads = T, GridSearchCV with n_jobs = T (default 1)
#
# Exit status: 0 when every comparable result agrees, 1 otherwise (or on a failure).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-selection-bench"
data=""
ours_args=()
peer_args=()
while [[ $# -gt 0 ]]; do
    case "$1" in
        --quick) ours_args+=(--quick) ;;
        --only) ours_args+=(--only "$2"); shift ;;
        --repeat) ours_args+=(--repeat "$2"); shift ;;
        --peer-repeat) peer_args+=(--repeat "$2"); shift ;;
        --grid-repeat) peer_args+=(--grid-repeat "$2"); shift ;;
        --skip-sfs) peer_args+=(--skip-sfs) ;;
        --build) build="$2"; shift ;;
        --data) data="$2"; shift ;;
        --threads) ours_args+=(--threads "$2"); peer_args+=(--jobs "$2"); shift ;;
        *) sed -n '2,20p' "$0" >&2; exit 2 ;;
    esac
    shift
done
if [[ -z "$data" ]]; then
    data=$(mktemp -d /tmp/selection-bench.XXXXXX)
fi
mkdir -p "$data"

# The peer is Debian's scikit-learn, which installs for the system interpreter only.
python=/usr/bin/python3
if ! "$python" -c 'import sklearn' 2>/dev/null; then
    echo "installing python3-sklearn" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-sklearn
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
# GCC 12 at -O3 reports a false -Wrestrict inside std::string in some of the component's
# sources; it stays a warning here so that the Release build goes through.
flags=(-DCMAKE_BUILD_TYPE=Release -DKNN_BUILD_TESTS=OFF "-DCMAKE_CXX_FLAGS=-Wno-error=restrict")
if grep -q 'SelectionBench.cmake' "$root/CMakeLists.txt"; then
    # Wired into the top-level list: the benchmark directory also wants nanoflann.
    if [[ ! -f /usr/include/nanoflann.hpp ]]; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libnanoflann-dev
    fi
    quietly cmake -S "$root" -B "$build" "${flags[@]}" -DKNN_BUILD_BENCH=ON
    quietly cmake --build "$build" -j2 --target selection_bench
else
    # Not wired yet: build the component's objects and link the program by hand.
    quietly cmake -S "$root" -B "$build" "${flags[@]}"
    quietly cmake --build "$build" -j2 --target knn_core velcommon940r velparsexml940r
    mkdir -p "$build/bin"
    mapfile -t objects < <(find "$build/CMakeFiles/knn_core.dir" -name '*.o' | sort)
    g++ -std=c++20 -O3 -DNDEBUG -Wall -Wextra -Werror -I"$root" -I"$root/host/common" \
        -I"$root/host/parser" "$root/bench/selection_bench.cpp" "${objects[@]}" \
        -o "$build/bin/selection_bench" -L"$build/lib" -lvelcommon940r -lvelparsexml940r \
        -Wl,-rpath,"$build/lib"
fi

cores=$(getconf _NPROCESSORS_ONLN)
export OMP_NUM_THREADS=1 OPENBLAS_NUM_THREADS=1 MKL_NUM_THREADS=1
echo "machine: $cores cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "data and results: $data"
echo
echo "== ours (libknn800 code, Release)"
"$build/bin/selection_bench" --data "$data" "${ours_args[@]}"
echo
echo "== peer"
"$python" "$root/bench/selection_peer.py" "$data" "${peer_args[@]}"
