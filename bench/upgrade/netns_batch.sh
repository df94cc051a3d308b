#!/usr/bin/env bash
# Runs inside lab/netns-lab.sh: one upgrade batch of every lab camera with a
# pack at the 35 MiB limit; prints the throughput up to the last camera's
# verdict beside the line rate given as LINE_MBIT, and the check after the
# reboot that follows apart.
#   netns_batch.sh BUILD_BIN LINE_MBIT
# QV_BENCH_SMOKE=1: a 1 MiB pack, the figure printed but not judged.
set -euo pipefail
bin=$1
line=$2
smoke=${QV_BENCH_SMOKE:-0}
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
"$bin/quorvane-cli" --config-dir "$dir" search >"$dir/list.txt" 2>/dev/null
type=$(awk -F'\t' 'NR == 2 { print $2 }' "$dir/list.txt")
cameras=$(($(wc -l <"$dir/list.txt") - 1))
# Kernel, file system and application making 36,700,160 bytes with the
# 64-byte header, three 200-byte entries and the 16-byte digest. The
# application names a version the cameras do not run yet, which the check
# after the reboot then finds.
total=36700160
[ "$smoke" = 1 ] && total=$((1 << 20))
head -c $((total / 35 * 3)) /dev/urandom >"$dir/uImage"
head -c $((total / 35 * 12)) /dev/urandom >"$dir/rootfs.cramfs"
app="$dir/app_V3.1_$type.jffs2"
head -c $((total - 64 - 600 - 16 - total / 35 * 15)) /dev/urandom >"$app"
"$bin/quorvane-pack" create "$dir/fw.bin" "$dir/uImage" "$dir/rootfs.cramfs" "$app" >/dev/null
size=$(stat -c %s "$dir/fw.bin")
start=$(date +%s.%N)
# Each line stamped as it comes: the last verdict ends the transfers; what
# follows is the check after the reboot, reported apart.
rc=0
"$bin/quorvane-cli" --config-dir "$dir" upgrade "$dir/fw.bin" --all 2>&1 |
  while IFS= read -r line; do printf '%s\t%s\n' "$(date +%s.%N)" "$line"; done >"$dir/out.txt" ||
  rc=$?
[ "$rc" -eq 0 ] ||
  { cat "$dir/out.txt" >&2; echo "the batch failed" >&2; exit 1; }
end=$(date +%s.%N)
verdict=$(grep -E $'\t\\[[^]]*\\] [0-9.]+ 升级(成功|失败)' "$dir/out.txt" | tail -1 | cut -f1)
[ -n "$verdict" ] || verdict=$end
awk -v n="$cameras" -v s="$size" -v t0="$start" -v t1="$end" -v tv="$verdict" -v line="$line" -v smoke="$smoke" 'BEGIN {
  secs = tv - t0
  mbit = n * s * 8 / secs / 1e6
  share = mbit / line
  printf "upgrade batch, shaped LAN   %d cameras x %d bytes, last verdict after %.1f s: %.1f Mbit/s, %.0f%% of %d Mbit/s (goal >= 90%%) %s\n",
    n, s, secs, mbit, share * 100, line, (share >= 0.9) ? "ok" : (smoke == 1 ? "(smoke: not judged)" : "BELOW GOAL")
  printf "  then the check after reboot: %.1f s more (the whole batch %.1f s)\n", t1 - tv, t1 - t0
  exit (share >= 0.9 || smoke == 1) ? 0 : 1
}'
