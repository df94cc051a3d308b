#!/usr/bin/env bash
# Runs inside lab/loopback-lab.sh: every camera of the fleet upgraded with a
# 1 MiB kernel image, PARALLEL at once; prints the time and the largest
# resident memory of the tool and of the simulator. The image's name carries a
# version the cameras do not run yet, which the check after the reboot finds.
#   loopback_thousand.sh BUILD_BIN PARALLEL
# QV_BENCH_SMOKE=1: a 64 KiB image; it fails only when the batch does.
set -euo pipefail
bin=$1
par=$2
smoke=${QV_BENCH_SMOKE:-0}
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
image="$dir/uImage_V3.1"
head -c $((smoke == 1 ? 64 << 10 : 1 << 20)) /dev/urandom >"$image"
rc=0
/usr/bin/time -f '%e %M' -o "$dir/time.txt" "$bin/quorvane-cli" --config-dir "$dir" upgrade \
  "$image" --all --parallel "$par" >"$dir/out.txt" 2>"$dir/err.txt" || rc=$?
read -r secs kib <"$dir/time.txt"
done=$(grep -c ' 升级成功$' "$dir/out.txt" || true)
total=$(grep -o '开始批量升级：[0-9]*台' "$dir/out.txt" | grep -o '[0-9]*' || echo 0)
sim=$(ps -o rss= -C camsim | sort -n | tail -1)
printf "%d cameras on loopback, %d KiB each, --parallel %d: %.1f s, %d upgraded, exit %d %s\n" \
  "$total" "$(($(stat -c %s "$image") >> 10))" "$par" "$secs" "$done" "$rc" "$([ "$rc" -eq 0 ] && [ "$done" -eq "$total" ] && echo ok || echo FAILED)"
awk -v a="$kib" -v b="${sim:-0}" 'BEGIN {
  printf "  largest resident memory of quorvane-cli: %.1f MiB; camsim (one process, whole fleet) now %.1f MiB\n",
    a / 1024, b / 1024 }'
[ "$rc" -eq 0 ] && [ "$done" -eq "$total" ]
