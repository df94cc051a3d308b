#!/usr/bin/env bash
# Runs inside lab/netns-lab.sh (cameras on links of CAM_MBIT, the PC on a link of
# PC_MBIT, each camera flashing for FLASH_S): batches of every camera with a pack
# at the 35 MiB limit, one at a time and PARALLEL at once, then with the last two
# cameras switched off (they still answer the search), beside the same batch
# without them. Prints each figure beside its goal.
#   netns_parallel.sh BUILD_BIN CAM_MBIT PC_MBIT FLASH_S PARALLEL
set -euo pipefail
bin=$1
cam=$2
pcl=$3
flash=$4
par=$5
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
"$bin/quorvane-cli" --config-dir "$dir" search >"$dir/list.txt" 2>/dev/null
type=$(awk -F'\t' 'NR == 2 { print $2 }' "$dir/list.txt")
read -r -a ips <<<"$QV_LAB_IPS"
n=${#ips[@]}
[ "$(($(wc -l <"$dir/list.txt") - 1))" -eq "$n" ] || { echo "the search missed cameras" >&2; exit 1; }
head -c $((3 << 20)) /dev/urandom >"$dir/uImage"
head -c $((12 << 20)) /dev/urandom >"$dir/rootfs.cramfs"
head -c $((36700160 - 64 - 600 - 16 - (15 << 20))) /dev/urandom >"$dir/app_$type.jffs2"
"$bin/quorvane-pack" create "$dir/fw.bin" "$dir/uImage" "$dir/rootfs.cramfs" \
  "$dir/app_$type.jffs2" >/dev/null
size=$(stat -c %s "$dir/fw.bin")

# batch LABEL EXPECTED_RC ARGS...: the batch's seconds, search included.
batch() {
  local label=$1 want=$2 rc=0
  shift 2
  local t0 t1
  t0=$(date +%s.%N)
  "$bin/quorvane-cli" --config-dir "$dir" upgrade "$dir/fw.bin" "$@" >"$dir/out-$label.txt" 2>&1 || rc=$?
  t1=$(date +%s.%N)
  if [ "$rc" -ne "$want" ]; then
    cat "$dir/out-$label.txt" >&2
    echo "batch $label ended with $rc, expected $want" >&2
    return 1
  fi
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f\n", b - a }'
}
live=("${ips[@]:0:$((n - 2))}")
t1=$(batch one 0 --all --parallel 1)
tn=$(batch par 0 --all --parallel "$par")
"$QV_LAB_OFF" "$((n - 1))"
"$QV_LAB_OFF" "$n"
t1off=$(batch one-off 1 --all --parallel 1)
t1live=$(batch one-live 0 --ip "${live[@]}" --parallel 1)
tnoff=$(batch par-off 1 --all --parallel "$par")
tnlive=$(batch par-live 0 --ip "${live[@]}" --parallel "$par")
# What one switched-off camera cost before the probe: the five attempts of 30 s.
tdead=""
if [ "${QV_BENCH_BEFORE:-0}" = 1 ]; then
  tdead=$(batch dead-before 1 --ip "${ips[$((n - 1))]}" --probe-ms 0)
fi
tdeadnow=$(batch dead-now 1 --ip "${ips[$((n - 1))]}")

echo "seconds: one=$t1 par=$tn one-off=$t1off one-live=$t1live par-off=$tnoff par-live=$tnlive dead-before=$tdead dead-now=$tdeadnow" >&2
awk -v n="$n" -v s="$size" -v cam="$cam" -v pcl="$pcl" -v fl="$flash" -v par="$par" \
  -v t1="$t1" -v tn="$tn" -v t1off="$t1off" -v t1live="$t1live" -v tnoff="$tnoff" \
  -v tnlive="$tnlive" -v tdead="$tdead" -v tdeadnow="$tdeadnow" 'BEGIN {
  bad = 0
  printf "%d cameras x %d bytes, camera links %d Mbit/s, PC link %d Mbit/s, flash %d s\n", n, s, cam, pcl, fl
  printf "  --parallel 1: %.1f s   --parallel %d: %.1f s\n", t1, par, tn
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
  printf "  the same beside the best time with the flash (%.1f s):          %5.0f%%  (for reference)\n",
    ideal, (ideal / tn * 100)
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
  exit bad ? 1 : 0
}'
