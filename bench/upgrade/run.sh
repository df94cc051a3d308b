#!/usr/bin/env bash
# Upgrade benchmarks on a release build:
#   bench/upgrade/run.sh [BUILD_DIR] [RUNS]
# 1. Preparing a 35 MiB multi-application pack for three hardware versions
#    (unpack, three compositions, size checks) inside the tool, beside
#    quorvane-pack doing the same work (unpack, then three creates). Goal <= 1.1x.
# 2. (root) Ten cameras upgraded with a 35 MiB pack over links shaped to
#    100 Mbit/s in the namespace lab: whole-batch throughput >= 90% of line rate.
# 3. (root) Twenty cameras, 35 MiB, flash 2 s, camera links 100 Mbit/s, the PC's
#    link 1 Gbit/s: --parallel 10 against --parallel 1 (goal >= 8x, throughput
#    >= 85% of what the links allow), and with two cameras switched off (goal: at
#    most 5 s longer than without them, at --parallel 1 and 10).
#    QV_BENCH_BEFORE=1 also times one switched-off camera without the probe (150 s).
# 4. A thousand cameras on loopback, 1 MiB, --parallel 30: completes; memory.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build/release}" && pwd)
runs=${2:-7}
bin=$build/bin
for exe in upgrade_bench quorvane-pack quorvane-cli camsim; do
  [[ -x $bin/$exe ]] || { echo "missing $bin/$exe (build the release preset first)" >&2; exit 2; }
done
grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" 2>/dev/null ||
  echo "note: $build is not a Release build; figures will be low" >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/qvupbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src"
status=0
pack=$("$bin/upgrade_bench" make "$work/src") || exit 1
echo "== upgrade preparation: $(stat -c %s "$pack") bytes, 3 images for 3 hardware versions;" \
  "$runs interleaved rounds after one warm-up; page cache warm"
mapfile -t ms < <("$bin/upgrade_bench" prep "$runs" "$pack" "$bin/quorvane-pack" "$work/out")
[[ ${#ms[@]} -eq 2 ]] || { echo "timing failed" >&2; exit 1; }
awk -v a="${ms[0]}" -v b="${ms[1]}" 'BEGIN {
  printf "%-34s %10s\n", "", "median ms"
  printf "%-34s %10.1f\n", "quorvane-pack unpack + 3 x create", b
  r = a / b
  printf "%-34s %10.1f  %.2fx (goal <= 1.1x) %s\n", "tool: prepare the request", a, r,
    (r <= 1.1) ? "ok" : "SLOWER THAN GOAL"
  exit (r <= 1.1) ? 0 : 1
}' || status=1

if [ "$(id -u)" -eq 0 ]; then
  bash "$root/lab/netns-lab.sh" --build "$build" --cameras 10 --rate 100mbit \
    -- bash "$here/netns_batch.sh" "$bin" 100
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || status=1
  echo "== upgrades at once, shaped LAN"
  bash "$root/lab/netns-lab.sh" --build "$build" --cameras 20 --rate 100mbit --pc-rate 1gbit \
    --flash-ms 2000 -- bash "$here/netns_parallel.sh" "$bin" 100 1000 2 10
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || status=1
else
  echo "upgrade batch, shaped LAN   skipped: needs root for the namespace lab"
fi
echo "== a thousand cameras on loopback"
bash "$root/lab/loopback-lab.sh" --build "$build" --count 1000 \
  -- bash "$here/loopback_thousand.sh" "$bin" 30 || status=1
exit "$status"
