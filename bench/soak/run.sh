#!/usr/bin/env bash
# The site soak (soak.py): camsim's fleet with seeded faults on loopback, batches
# back to back through quorvane-cli, every camera's outcome checked against
# what camsim says it received and runs.
#   bench/soak/run.sh [--smoke] [BUILD_DIR] [soak.py options: --seed N, --minutes M, ...]
# --smoke: three rounds, about two minutes (CI runs it); without it, 30 minutes.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
smoke=0
[ "${1:-}" = --smoke ] && { smoke=1; shift; }
build=$root/build/dev
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
  build=$(cd "$1" && pwd)
  shift
fi
bash "$root/lab/loopback-up.sh" 2>/dev/null || true
if [ "$smoke" = 1 ]; then
  exec python3 "$here/soak.py" --build "$build" "$@"
fi
exec python3 "$here/soak.py" --build "$build" --minutes 30 "$@"
