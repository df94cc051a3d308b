#!/usr/bin/env bash
# Runs inside lab/netns-lab.sh (root) over shaped links: an upgrade batch sends
# each camera the pack, and each keeps exactly those bytes.
#   netns_upgrade.sh PATH/TO/quorvane-cli PATH/TO/quorvane-pack
set -euo pipefail
cli=$1
qp=$2
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cli" --config-dir "$dir" search >"$dir/list.txt" 2>/dev/null
type=$(awk -F'\t' 'NR == 2 { print $2 }' "$dir/list.txt")
[ -n "$type" ] || fail "no camera found"
head -c 300000 /dev/urandom >"$dir/uImage"
head -c 200000 /dev/urandom >"$dir/rootfs.cramfs"
head -c 500000 /dev/urandom >"$dir/app_$type.jffs2"
"$qp" create "$dir/fw.bin" "$dir/uImage" "$dir/rootfs.cramfs" "$dir/app_$type.jffs2" >/dev/null

"$cli" --config-dir "$dir" upgrade "$dir/fw.bin" --all >"$dir/out.txt" 2>"$dir/err.txt" ||
  { cat "$dir/out.txt" "$dir/err.txt" >&2; fail "upgrade exited $?"; }
grep -q "批量升级完成" "$dir/err.txt" || fail "no completion message"
i=0
for mac in $QV_LAB_MACS; do
  i=$((i + 1))
  grep -q "\[$mac\] .* 升级成功" "$dir/out.txt" || fail "no success line for $mac"
  kept=$(find "$QV_LAB_DIR/c$i/files" -type f -name '*.bin' | head -n 1)
  cmp -s "$kept" "$dir/fw.bin" || fail "camera $mac does not hold the pack"
done
echo "netns upgrade: OK"
