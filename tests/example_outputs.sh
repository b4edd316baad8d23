#!/usr/bin/env bash
# Runs `knn run` on every bundled example (model document and predictions of the training data
# itself) and compares the SHA-256 of each output with the list in tests/golden/examples.sha256.
#   tests/example_outputs.sh BUILD_DIR           check; exit 1 on any difference
#   tests/example_outputs.sh BUILD_DIR --update  write the list anew
# A change that must not alter any result leaves the list as it is.
set -euo pipefail
build=${1:?usage: example_outputs.sh BUILD_DIR [--update]}
mode=${2:-check}
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(dirname "$here")
knn="$build/bin/knn"
list="$here/golden/examples.sha256"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for example in iris breast_cancer diabetes wine; do
    dir="$source_dir/examples/$example"
    "$knn" run --quiet --settings "$dir/$example.xml" --data "$dir/$example.csv" \
        --pmml "$work/$example.pmml" --score "$dir/$example.csv" \
        --predictions "$work/$example.predictions.csv" >/dev/null
done
# The demo's new flowers.
"$knn" run --quiet --settings "$source_dir/examples/iris/iris.xml" \
    --data "$source_dir/examples/iris/iris.csv" --score "$source_dir/examples/iris/NEW.csv" \
    --predictions "$work/iris-new.predictions.csv" >/dev/null
(cd "$work" && sha256sum -- *.pmml *.predictions.csv) >"$work/now.sha256"

if [ "$mode" = --update ]; then
    cp "$work/now.sha256" "$list"
    echo "wrote $list"
elif diff -u "$list" "$work/now.sha256"; then
    echo "every example output is unchanged"
else
    echo "example outputs differ from $list" >&2
    exit 1
fi
