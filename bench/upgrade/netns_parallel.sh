#!/usr/bin/env bash
# Runs inside lab/netns-lab.sh (cameras on links of CAM_MBIT, the PC on a link of
# PC_MBIT, each camera flashing for FLASH_S): batches of every camera with a pack
# at the 35 MiB limit, one at a time and PARALLEL at once, then with the last two
# cameras switched off (they still answer the search), beside the same batch
# without them. Prints each figure beside its goal. Every batch sends a pack of
# its own, so that each camera it reaches comes back with a version it did not
# run before, which the check after the reboot proves: the first two name the
# next version (V3.1, V3.2). The two switched-off cameras stay at V3.2 and the
# tool takes no batch of cameras at different versions, so from then on the
# packs name no version: a camera keeps its version's numbers, with a new
# suffix from the pack's digest.
#   netns_parallel.sh BUILD_BIN CAM_MBIT PC_MBIT FLASH_S PARALLEL
# QV_BENCH_SMOKE=1: a 1 MiB pack, the figures printed but not judged; a batch
# that ends otherwise than expected still fails the run.
set -euo pipefail
bin=$1
cam=$2
pcl=$3
flash=$4
par=$5
smoke=${QV_BENCH_SMOKE:-0}
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
"$bin/quorvane-cli" --config-dir "$dir" search >"$dir/list.txt" 2>/dev/null
type=$(awk -F'\t' 'NR == 2 { print $2 }' "$dir/list.txt")
read -r -a ips <<<"$QV_LAB_IPS"
n=${#ips[@]}
[ "$(($(wc -l <"$dir/list.txt") - 1))" -eq "$n" ] || { echo "the search missed cameras" >&2; exit 1; }
total=36700160
[ "$smoke" = 1 ] && total=$((1 << 20))
head -c $((total / 35 * 3)) /dev/urandom >"$dir/uImage"
head -c $((total / 35 * 12)) /dev/urandom >"$dir/rootfs.cramfs"
head -c $((total - 64 - 600 - 16 - total / 35 * 15)) /dev/urandom >"$dir/app.data"
# fresh_pack [untagged]: fw.bin anew, its application named for the next
# version, or for none but still unlike any before; the same file name every
# time, so that each camera keeps one copy, not one per batch.
release=0
fresh_pack() {
  release=$((release + 1))
  local app="$dir/app_V3.${release}_$type.jffs2"
  [ "${1:-}" = untagged ] && app="$dir/app_build${release}_$type.jffs2"
  rm -f "$dir"/app_*.jffs2
  ln "$dir/app.data" "$app"
  "$bin/quorvane-pack" create "$dir/fw.bin" "$dir/uImage" "$dir/rootfs.cramfs" "$app" >/dev/null
  size=$(stat -c %s "$dir/fw.bin")
}

# batch LABEL VAR EXPECTED_RC PROVEN ARGS...: the batch's seconds, search
# included, into VAR; a fresh pack is made before the clock starts. The batch
# must end with EXPECTED_RC and PROVEN cameras proven after their reboot.
tags=tagged
batch() {
  local label=$1 var=$2 want=$3 proven=$4 rc=0 started ended got
  shift 4
  fresh_pack "$tags"
  started=$(date +%s.%N)
  # Each line stamped as it comes: from the batch's start line to the last
  # verdict is the sending; the search before and the check after apart.
  "$bin/quorvane-cli" --config-dir "$dir" upgrade "$dir/fw.bin" "$@" 2>&1 |
    while IFS= read -r line; do printf '%s\t%s\n' "$(date +%s.%N)" "$line"; done \
      >"$dir/out-$label.txt" || rc=$?
  ended=$(date +%s.%N)
  local begun verdict
  begun=$(grep -m1 $'\t开始批量升级' "$dir/out-$label.txt" | cut -f1)
  verdict=$(grep -E $'\t\\[[^]]*\\] [0-9.]+ 升级(成功|失败)' "$dir/out-$label.txt" | tail -1 | cut -f1)
  printf -v "${var}_send" '%s' "$(awk -v a="${begun:-$started}" -v b="${verdict:-$ended}" 'BEGIN { printf "%.2f", b - a }')"
  printf -v "${var}_tail" '%s' "$(awk -v a="${verdict:-$ended}" -v b="$ended" 'BEGIN { printf "%.2f", b - a }')"
  # The summary line: 批量升级结果：共N台，成功N（已验证N），...
  got=$(grep $'\t批量升级结果' "$dir/out-$label.txt" | grep -o '已验证[0-9]*' | grep -o '[0-9]*' || true)
  if [ "$rc" -ne "$want" ] || [ "${got:-none}" != "$proven" ]; then
    cat "$dir/out-$label.txt" >&2
    echo "batch $label ended with $rc and ${got:-no} cameras proven, expected $want and $proven" >&2
    return 1
  fi
  printf -v "$var" '%s' "$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.2f", b - a }')"
}
live=("${ips[@]:0:$((n - 2))}")
t1="" tn="" t1off="" t1live="" tnoff="" tnlive="" tdead="" tdeadnow=""
batch one t1 0 "$n" --all --parallel 1
batch par tn 0 "$n" --all --parallel "$par"
# From here two cameras stay behind at V3.2 (see above): packs that name no version.
tags=untagged
"$QV_LAB_OFF" "$((n - 1))"
"$QV_LAB_OFF" "$n"
batch one-off t1off 1 "${#live[@]}" --all --parallel 1
batch one-live t1live 0 "${#live[@]}" --ip "${live[@]}" --parallel 1
batch par-off tnoff 1 "${#live[@]}" --all --parallel "$par"
batch par-live tnlive 0 "${#live[@]}" --ip "${live[@]}" --parallel "$par"
# What one switched-off camera cost before the probe: the five attempts of 30 s.
if [ "${QV_BENCH_BEFORE:-0}" = 1 ]; then
  batch dead-before tdead 1 0 --ip "${ips[$((n - 1))]}" --probe-ms 0
fi
batch dead-now tdeadnow 1 0 --ip "${ips[$((n - 1))]}"

echo "seconds: one=$t1 par=$tn one-off=$t1off one-live=$t1live par-off=$tnoff par-live=$tnlive dead-before=$tdead dead-now=$tdeadnow" >&2
awk -v n="$n" -v s="$size" -v cam="$cam" -v pcl="$pcl" -v fl="$flash" -v par="$par" \
  -v t1="$t1" -v tn="$tn" -v t1off="$t1off" -v t1live="$t1live" -v tnoff="$tnoff" \
  -v tnlive="$tnlive" -v tdead="$tdead" -v tdeadnow="$tdeadnow" -v smoke="$smoke" \
  -v s1="$t1_send" -v sn="$tn_send" -v k1="$t1_tail" -v kn="$tn_tail" 'BEGIN {
  bad = 0
  printf "%d cameras x %d bytes, camera links %d Mbit/s, PC link %d Mbit/s, flash %g s\n", n, s, cam, pcl, fl
  printf "  --parallel 1: %.1f s   --parallel %d: %.1f s   (search, sending and the check after reboot)\n", t1, par, tn
  printf "  sending, from the batch start to the last verdict: %.1f s and %.1f s; the check after: %.1f s and %.1f s\n", s1, sn, k1, kn
  t1 = s1
  tn = sn
  r = t1 / tn
  printf "  speed-up %-34s %6.1fx   (goal >= 8x)   %s\n", "", r, (r >= 8 ? "ok" : "BELOW GOAL"); bad += (r < 8)
  allow = pcl < par * cam ? pcl : par * cam
  thr = n * s * 8 / tn / 1e6
  share = thr / allow
  printf "  whole-batch throughput %.0f Mbit/s of the %d the links allow: %5.0f%%  (goal >= 85%%) %s\n",
    thr, allow, share * 100, (share >= 0.85 ? "ok" : "BELOW GOAL"); bad += (share < 0.85)
  # Links idle while the cameras flash: the best a batch can do with them.
  rounds = int((n + par - 1) / par)
  ideal = rounds * (s * 8 / (allow / par) / 1e6 + fl)
  printf "  the same beside the best time with the flash (%.1f s):          %5.0f%%  (goal >= 90%%) %s\n",
    ideal, (ideal / tn * 100), (ideal / tn >= 0.9 ? "ok" : "BELOW GOAL"); bad += (ideal / tn < 0.9)
  d1 = t1off - t1live
  dn = tnoff - tnlive
  printf "  2 cameras off, --parallel 1: %.1f s, without them %.1f s: %+.1f s (goal <= 5 s) %s\n",
    t1off, t1live, d1, (d1 <= 5 ? "ok" : "ABOVE GOAL"); bad += (d1 > 5)
  printf "  2 cameras off, --parallel %d: %.1f s, without them %.1f s: %+.1f s (goal <= 5 s) %s\n",
    par, tnoff, tnlive, dn, (dn <= 5 ? "ok" : "ABOVE GOAL"); bad += (dn > 5)
  if (tdead != "") {
    printf "  one camera off alone: %.1f s with the probe, %.1f s without (the five attempts)\n", tdeadnow, tdead
  } else {
    printf "  one camera off alone: %.1f s with the probe (QV_BENCH_BEFORE=1 also times it without)\n", tdeadnow
  }
  exit (bad && smoke != 1) ? 1 : 0
}'
