#!/usr/bin/env bash
# Runs inside lab/loopback-lab.sh: every camera of the fleet upgraded with a
# 1 MiB kernel image, PARALLEL at once, twice: without the check after the
# reboot (--no-verify), then with it. Prints both times, the goal for the
# second (at most 1.5x the first plus the cameras' reboot time), and the
# largest resident memory of the tool and of the simulator. Each batch's image
# names a version the cameras do not run yet, so that the check proves each.
#   loopback_thousand.sh BUILD_BIN PARALLEL
# QV_BENCH_SMOKE=1: a 64 KiB image; it fails only when a batch does.
set -euo pipefail
bin=$1
par=$2
smoke=${QV_BENCH_SMOKE:-0}
reboot_ms=${QV_LAB_REBOOT_MS:-3000}
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
bytes=$((smoke == 1 ? 64 << 10 : 1 << 20))

# One batch: its image, its options; sets secs, kib, done, total, rc.
batch() {
  local image="$dir/uImage_V$1"
  shift
  head -c "$bytes" /dev/urandom >"$image"
  rc=0
  /usr/bin/time -f '%e %M' -o "$dir/time.txt" "$bin/quorvane-cli" --config-dir "$dir" upgrade \
    "$image" --all --parallel "$par" "$@" >"$dir/out.txt" 2>"$dir/err.txt" || rc=$?
  read -r secs kib <"$dir/time.txt"
  done=$(grep -c ' 升级成功$' "$dir/out.txt" || true)
  total=$(grep -o '开始批量升级：[0-9]*台' "$dir/out.txt" | grep -o '[0-9]*' || echo 0)
  printf "%d cameras on loopback, %d KiB each, --parallel %d%s: %.1f s, %d upgraded, exit %d %s\n" \
    "$total" "$((bytes >> 10))" "$par" "${1:+ $1}" "$secs" "$done" "$rc" \
    "$([ "$rc" -eq 0 ] && [ "$done" -eq "$total" ] && echo ok || echo FAILED)"
  [ "$rc" -eq 0 ] && [ "$done" -eq "$total" ]
}

status=0
batch 3.1 --no-verify || status=1
plain=$secs
# The first batch's cameras are still rebooting: the second's search must find them all.
sleep "$(awk -v r="$reboot_ms" 'BEGIN { print r / 1000 + 2 }')"
batch 3.2 || status=1
checked=$secs
awk -v a="$checked" -v b="$plain" -v r="$reboot_ms" -v smoke="$smoke" 'BEGIN {
  goal = 1.5 * b + r / 1000
  printf "  with the check after reboot: %.1f s against %.1f s without (%.2fx); goal <= %.1f s (1.5x + reboot %.1f s) %s\n",
    a, b, a / b, goal, r / 1000, (a <= goal) ? "ok" : (smoke == 1 ? "(smoke: not judged)" : "SLOWER THAN GOAL")
}'
sim=$(ps -o rss= -C camsim | sort -n | tail -1)
awk -v a="$kib" -v b="${sim:-0}" 'BEGIN {
  printf "  largest resident memory of quorvane-cli: %.1f MiB; camsim (one process, whole fleet) now %.1f MiB\n",
    a / 1024, b / 1024 }'
exit "$status"
