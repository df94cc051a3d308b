#!/usr/bin/env bash
# Network benchmarks: each prints its figure beside its reference and goal.
#   bench/net/run.sh [--smoke] BUILD_DIR
# Use a release build:
#   cmake -S . -B build/net-rel -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/net-rel
# The shaped-LAN and the adapters benchmarks need root (network namespaces); they
# are skipped otherwise.
# --smoke (or QV_BENCH_SMOKE=1): each benchmark once, with a 1 MiB file and 20
# cameras to discover, a debug build welcome, in seconds. CI runs it. Either
# way a benchmark fails the run when it cannot run, not when a figure falls
# short of its goal.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
smoke=${QV_BENCH_SMOKE:-0}
[ "${1:-}" = --smoke ] && { smoke=1; shift; }
build=$(cd "${1:?usage: bench/net/run.sh [--smoke] BUILD_DIR}" && pwd)
bin="$build/bin"
for b in bench_discovery bench_update bench_modify_ip bench_lan_check bench_scan bench_adapters camsim; do
  [ -x "$bin/$b" ] || { echo "missing $bin/$b; build the tree first" >&2; exit 2; }
done
bash "$root/lab/loopback-up.sh" || exit 1
grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" 2>/dev/null ||
  echo "note: $build is not a Release build; figures will be low" >&2

status=0
cameras=1000 rounds=5 lan_rounds=3 size=() scan_cameras=20
if [ "$smoke" = 1 ]; then
  cameras=20 rounds=1 lan_rounds=1 size=(--size $((1 << 20))) scan_cameras=5
  echo "smoke run: one round each, small files; figures are printed, not judged"
fi
echo "== network benchmarks ($(nproc) cores)"
"$bin/bench_discovery" "$cameras" "$rounds" || status=1
# The simulated camera keeps what it receives; in RAM (tmpfs) its storage stays out
# of a figure that compares the protocol with a plain copy, which stores nothing.
shm=""
[ -d /dev/shm ] && [ -w /dev/shm ] && shm=/dev/shm
TMPDIR="${shm:-${TMPDIR:-/tmp}}" "$bin/bench_update" --rounds "$rounds" "${size[@]}" || status=1
"$bin/bench_modify_ip" "$rounds" || status=1
# A search by address of a /24: the fleet's cameras among 254 addresses.
"$bin/bench_scan" "$scan_cameras" "$rounds" || status=1
if [ "$(id -u)" -eq 0 ]; then
  # Rounds follow each other at once: the camera does not reboot in between.
  QV_LAB_REBOOT_MS=0 bash "$root/lab/netns-lab.sh" --build "$build" --cameras 1 --rate 100mbit --reply-delay 1 \
    -- "$bin/bench_update" --lan 100 --rounds "$lan_rounds" "${size[@]}"
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || status=1
  # 254 target addresses asked for on the LAN, four cameras and a server among them.
  bash "$root/lab/netns-lab.sh" --build "$build" --cameras 4 --server 10.77.1.200 \
    -- "$bin/bench_lan_check" --rounds "$lan_rounds" --host 10.77.1.200
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || status=1
  # Four adapters against one: the PC's eth0 with the cameras, three empty networks.
  bash "$root/lab/netns-lab.sh" --build "$build" --cameras 3 --adapters 4 \
    -- "$bin/bench_adapters" "$rounds" eth0
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || status=1
else
  echo "update, shaped LAN           skipped: needs root for the namespace lab"
  echo "address check, 254           skipped: needs root for the namespace lab"
  echo "search, adapters             skipped: needs root for the namespace lab"
fi
exit "$status"
