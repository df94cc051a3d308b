#!/usr/bin/env bash
# Runs inside lab/netns-lab.sh: one upgrade batch of every lab camera with a
# pack at the 35 MiB limit; prints the whole batch's throughput beside the
# line rate given as LINE_MBIT.
#   netns_batch.sh BUILD_BIN LINE_MBIT
set -euo pipefail
bin=$1
line=$2
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
"$bin/quorvane-cli" --config-dir "$dir" search >"$dir/list.txt" 2>/dev/null
type=$(awk -F'\t' 'NR == 2 { print $2 }' "$dir/list.txt")
cameras=$(($(wc -l <"$dir/list.txt") - 1))
# Kernel, file system and application making 36,700,160 bytes with the
# 64-byte header, three 200-byte entries and the 16-byte digest.
head -c $((3 << 20)) /dev/urandom >"$dir/uImage"
head -c $((12 << 20)) /dev/urandom >"$dir/rootfs.cramfs"
head -c $((36700160 - 64 - 600 - 16 - (15 << 20))) /dev/urandom >"$dir/app_$type.jffs2"
"$bin/quorvane-pack" create "$dir/fw.bin" "$dir/uImage" "$dir/rootfs.cramfs" \
  "$dir/app_$type.jffs2" >/dev/null
size=$(stat -c %s "$dir/fw.bin")
start=$(date +%s.%N)
"$bin/quorvane-cli" --config-dir "$dir" upgrade "$dir/fw.bin" --all >"$dir/out.txt" 2>&1 ||
  { cat "$dir/out.txt" >&2; echo "the batch failed" >&2; exit 1; }
end=$(date +%s.%N)
awk -v n="$cameras" -v s="$size" -v t0="$start" -v t1="$end" -v line="$line" 'BEGIN {
  secs = t1 - t0
  mbit = n * s * 8 / secs / 1e6
  share = mbit / line
  printf "upgrade batch, shaped LAN   %d cameras x %d bytes in %.1f s: %.1f Mbit/s, %.0f%% of %d Mbit/s (goal >= 90%%) %s\n",
    n, s, secs, mbit, share * 100, line, (share >= 0.9) ? "ok" : "BELOW GOAL"
  exit (share >= 0.9) ? 0 : 1
}'
