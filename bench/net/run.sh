#!/usr/bin/env bash
# Network benchmarks: each prints its figure beside its reference and goal.
#   bench/net/run.sh BUILD_DIR [--smoke]
# --smoke: each benchmark once and small, to show that it still runs (ctest
# bench_net_smoke); its figures mean nothing.
# Use a release build:
#   cmake -S . -B build/net-rel -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/net-rel
# The shaped-LAN benchmark needs root (network namespaces); it is skipped otherwise.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:?usage: bench/net/run.sh BUILD_DIR [--smoke]}" && pwd)
smoke=0
[ "${2:-}" = "--smoke" ] && smoke=1
bin="$build/bin"
for b in bench_discovery bench_update bench_modify_ip camsim; do
  [ -x "$bin/$b" ] || { echo "missing $bin/$b; build the tree first" >&2; exit 2; }
done
bash "$root/lab/loopback-up.sh" || exit 1
if [ "$smoke" -eq 1 ]; then
  echo "== network benchmarks, smoke run (figures mean nothing)"
  "$bin/bench_discovery" 20 1 && "$bin/bench_update" --rounds 1 && "$bin/bench_modify_ip" 1
  exit
fi
grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" 2>/dev/null ||
  echo "note: $build is not a Release build; figures will be low" >&2

status=0
echo "== network benchmarks ($(nproc) cores)"
"$bin/bench_discovery" 1000 5 || status=1
# The simulated camera keeps what it receives; in RAM (tmpfs) its storage stays out
# of a figure that compares the protocol with a plain copy, which stores nothing.
shm=""
[ -d /dev/shm ] && [ -w /dev/shm ] && shm=/dev/shm
TMPDIR="${shm:-${TMPDIR:-/tmp}}" "$bin/bench_update" --rounds 5 || status=1
"$bin/bench_modify_ip" 5 || status=1
if [ "$(id -u)" -eq 0 ]; then
  bash "$root/lab/netns-lab.sh" --build "$build" --cameras 1 --rate 100mbit --reply-delay 1 \
    -- "$bin/bench_update" --lan 100 --rounds 3
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || status=1
else
  echo "update, shaped LAN           skipped: needs root for the namespace lab"
fi
exit "$status"
