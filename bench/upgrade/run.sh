#!/usr/bin/env bash
# Upgrade benchmarks on a release build:
#   bench/upgrade/run.sh [--smoke] [BUILD_DIR] [RUNS]
# 1. Preparing a 35 MiB multi-application pack for three hardware versions
#    (unpack, three compositions, size checks) inside the tool, beside
#    quorvane-pack doing the same work (unpack, then three creates). Goal <= 1.1x.
# 2. (root) Ten cameras upgraded with a 35 MiB pack over links shaped to
#    100 Mbit/s in the namespace lab: throughput up to the last verdict >= 90% of
#    line rate; the check after the reboot that follows is timed apart.
# 3. (root) Twenty cameras, 35 MiB, flash 2 s, camera links 100 Mbit/s, the PC's
#    link 1 Gbit/s: --parallel 10 against --parallel 1 (goal >= 8x, throughput
#    >= 85% of what the links allow, >= 90% of the best the links and the flash
#    allow), and with two cameras switched off (goal: at
#    most 5 s longer than without them, at --parallel 1 and 10).
#    QV_BENCH_BEFORE=1 also times one switched-off camera without the probe (150 s).
# 4. A thousand cameras on loopback, 1 MiB, --parallel 30, without and with the
#    check after the reboot: the second at most 1.5x the first plus the
#    cameras' reboot time; memory.
# Every batch sends a pack of its own, which brings each camera a version it
# does not run yet, so that the check after the reboot proves each one.
# --smoke (or QV_BENCH_SMOKE=1): every section at a small size (small packs, a
# few cameras, short flash and reboot), a debug build welcome, in seconds; it
# fails when a section or a batch fails, while the figures are printed beside
# their goals but not judged. CI runs it.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
smoke=${QV_BENCH_SMOKE:-0}
[ "${1:-}" = --smoke ] && { smoke=1; shift; }
export QV_BENCH_SMOKE=$smoke
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
if [ "$smoke" = 1 ]; then
  echo "smoke run: small packs, a few cameras; figures are printed, not judged"
  runs=${2:-1}
  # A short reboot keeps each camera's check after it in seconds.
  export QV_LAB_REBOOT_MS=${QV_LAB_REBOOT_MS:-300}
  pack=$("$bin/upgrade_bench" make "$work/src" $((2 << 20))) || exit 1
else
  pack=$("$bin/upgrade_bench" make "$work/src") || exit 1
fi
echo "== upgrade preparation: $(stat -c %s "$pack") bytes, 3 images for 3 hardware versions;" \
  "$runs interleaved rounds after one warm-up; page cache warm"
mapfile -t ms < <("$bin/upgrade_bench" prep "$runs" "$pack" "$bin/quorvane-pack" "$work/out")
[[ ${#ms[@]} -eq 2 ]] || { echo "timing failed" >&2; exit 1; }
awk -v a="${ms[0]}" -v b="${ms[1]}" -v smoke="$smoke" 'BEGIN {
  printf "%-34s %10s\n", "", "median ms"
  printf "%-34s %10.1f\n", "quorvane-pack unpack + 3 x create", b
  r = a / b
  printf "%-34s %10.1f  %.2fx (goal <= 1.1x) %s\n", "tool: prepare the request", a, r,
    (r <= 1.1) ? "ok" : "SLOWER THAN GOAL"
  exit (r <= 1.1 || smoke == 1) ? 0 : 1
}' || status=1

# Smoke: 3 cameras in one batch; 4 cameras, 2 at once, flash 0.2 s; 20 on loopback, 10 at once.
batch_cams=10 par_cams=20 par_flash=2 par=10 loop_cams=1000 loop_par=30
[ "$smoke" = 1 ] && batch_cams=3 par_cams=4 par_flash=0.2 par=2 loop_cams=20 loop_par=10
if [ "$(id -u)" -eq 0 ]; then
  bash "$root/lab/netns-lab.sh" --build "$build" --cameras "$batch_cams" --rate 100mbit \
    -- bash "$here/netns_batch.sh" "$bin" 100
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || status=1
  echo "== upgrades at once, shaped LAN"
  bash "$root/lab/netns-lab.sh" --build "$build" --cameras "$par_cams" --rate 100mbit \
    --pc-rate 1gbit --flash-ms "$(awk -v s="$par_flash" 'BEGIN { print s * 1000 }')" \
    -- bash "$here/netns_parallel.sh" "$bin" 100 1000 "$par_flash" "$par"
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || status=1
else
  echo "upgrade batch, shaped LAN   skipped: needs root for the namespace lab"
fi
echo "== $loop_cams cameras on loopback"
bash "$root/lab/loopback-lab.sh" --build "$build" --count "$loop_cams" \
  -- bash "$here/loopback_thousand.sh" "$bin" "$loop_par" || status=1
exit "$status"
