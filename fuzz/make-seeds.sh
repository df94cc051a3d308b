#!/usr/bin/env bash
# Rebuilds the seed corpus in fuzz/corpus from the project's own writers
# (packs as the tests make them, frames as the encoders send them).
#   fuzz/make-seeds.sh [BUILD_DIR]     (default build/dev, which must be built)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build/dev}
exe=$build/bin/fuzz_make_seeds
[[ -x $exe ]] || { echo "missing $exe (build target fuzz_make_seeds first)" >&2; exit 1; }
rm -rf "$here/corpus"
"$exe" "$here/corpus"
find "$here/corpus" -type f | wc -l | xargs echo "seeds:"
