#!/usr/bin/env bash
# Runs inside lab/netns-lab.sh (root): a modify-IP batch really moves the
# cameras to another subnet, then a restore and a second batch bring them back;
# the parking server at 10.77.1.20 (lab --server) never loses its address.
#   netns_ip_batch.sh PATH/TO/quorvane-cli
set -euo pipefail
cli=$1
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
read -r mac1 mac2 _ <<<"$QV_LAB_MACS"
read -r ip1 ip2 _ <<<"$QV_LAB_IPS"

fail() { echo "FAIL: $*" >&2; exit 1; }
run() {  # expected-status args...
  local want=$1; shift
  set +e
  "$cli" --config-dir "$dir" "$@" >"$dir/out.txt" 2>"$dir/err.txt"
  local got=$?
  set -e
  cat "$dir/out.txt"
  [ "$got" = "$want" ] || { cat "$dir/err.txt" >&2; fail "quorvane-cli $* exited $got, not $want"; }
}
# The address a camera answers the search from, by its MAC.
address_of() {
  "$cli" --config-dir "$dir" search 2>/dev/null | awk -F'\t' -v m="$1" '$4 == m { print $3 }'
}

run 0 search
[ "$(address_of "$mac1")" = "$ip1" ] || fail "camera $mac1 not found at $ip1"

run 0 modify-ip 10.77.5.1 --mac "$mac1" "$mac2"
grep -q "\[$mac1\] 10.77.5.1 修改IP成功" "$dir/out.txt" || fail "no success line for $mac1"
grep -q "批量修改IP完成" "$dir/err.txt" || fail "no completion message"
[ "$(address_of "$mac1")" = 10.77.5.1 ] || fail "$mac1 did not move"
[ "$(address_of "$mac2")" = 10.77.5.2 ] || fail "$mac2 did not move"

printf '[config]\r\ndefaultip=%s\r\n' "$ip1" >"$dir/config.ini"
run 0 restore-ip --mac "$mac1"
grep -q "\[$mac1\] $ip1 恢复默认IP成功" "$dir/out.txt" || fail "no restore line"
run 0 modify-ip "$ip2" --ip 10.77.5.2
[ "$(address_of "$mac1")" = "$ip1" ] || fail "$mac1 not back at $ip1"
[ "$(address_of "$mac2")" = "$ip2" ] || fail "$mac2 not back at $ip2"
# From 10.77.1.19 the second camera would land on the server: it is passed over.
run 0 modify-ip 10.77.1.19 --mac "$mac1" "$mac2"
grep -q "^$mac2	$ip2	10.77.1.21	跳过已占用地址 10.77.1.20" "$dir/out.txt" || fail "no plan line skipping the server"
grep -q "\[$mac2\] 10.77.1.21 跳过已占用地址 10.77.1.20" "$dir/out.txt" || fail "no skip line"
[ "$(address_of "$mac1")" = 10.77.1.19 ] || fail "$mac1 not at 10.77.1.19"
[ "$(address_of "$mac2")" = 10.77.1.21 ] || fail "$mac2 not at 10.77.1.21"
ip neigh show 10.77.1.20 | grep -q 02:77:00:00:02:01 || fail "the server's address moved"

# The server's address as the default: refused with the reason, nothing changed.
printf '[config]\r\ndefaultip=10.77.1.20\r\n' >"$dir/config.ini"
run 2 restore-ip --mac "$mac1"
grep -q "默认IP 10.77.1.20 已被局域网上的其他主机占用（02:77:00:00:02:01）" "$dir/err.txt" ||
  fail "no refusal for the server's address"
# Several cameras on one default: only with --same-address.
printf '[config]\r\ndefaultip=%s\r\n' "$ip1" >"$dir/config.ini"
run 2 restore-ip --all
grep -q "2台设备将使用同一地址 $ip1；确需如此请加 --same-address" "$dir/err.txt" ||
  fail "no refusal of one address for two"
[ "$(address_of "$mac1")" = 10.77.1.19 ] || fail "$mac1 moved"
[ "$(address_of "$mac2")" = 10.77.1.21 ] || fail "$mac2 moved"

# Address plans by MAC: every kind of bad plan is refused whole with its line,
# nothing changed.
plan="$dir/plan.csv"
bad_plan() {  # expected-text lines...
  local want=$1; shift
  printf '%s\n' "mac,ip,mask" "$@" >"$plan"
  run 2 modify-ip --plan-file "$plan"
  grep -qF "$want" "$dir/err.txt" || { cat "$dir/err.txt" >&2; fail "no refusal: $want"; }
}
bad_plan "第2行：地址已被占用 10.77.1.20" "$mac1,10.77.1.20,"
bad_plan "第2行：地址已被占用 10.77.1.21" "$mac1,10.77.1.21,"
bad_plan "第2行：地址不在子网 10.77.0.0/16 内" "$mac1,10.78.1.5,255.255.0.0"
bad_plan "第2行：未找到设备 02:77:00:00:09:09" "02:77:00:00:09:09,10.77.6.1,"
bad_plan "第3行：地址重复 10.77.6.1（第2行）" "$mac1,10.77.6.1," "$mac2,10.77.6.1,"
bad_plan "第3行：MAC重复 $mac1（第2行）" "$mac1,10.77.6.1," "$mac1,10.77.6.2,"
bad_plan "第2行：列数不符" "$mac1,10.77.6.1"
[ "$(address_of "$mac1")" = 10.77.1.19 ] || fail "$mac1 moved by a refused plan"
# A good one: each camera its own address, mask and gateway, proven there.
printf '%s\n' "mac,ip,mask,gateway,name" "$mac1,10.77.6.1,255.255.0.0,10.77.0.1,lane 1" \
  "$mac2,10.77.6.2,255.255.0.0,," >"$plan"
run 0 modify-ip --plan-file "$plan"
grep -q "\[$mac1\] 10.77.6.1 lane 1；已验证 新地址 10.77.6.1" "$dir/out.txt" || fail "no proof of $mac1"
[ "$(address_of "$mac1")" = 10.77.6.1 ] || fail "$mac1 not at 10.77.6.1"
[ "$(address_of "$mac2")" = 10.77.6.2 ] || fail "$mac2 not at 10.77.6.2"
# Undone from its record: both back where they were, the server untouched.
id=$("$cli" --config-dir "$dir" history | awk -F'\t' '$2 == "modify-ip" { print $1; exit }')
run 0 modify-ip --undo "$id"
[ "$(address_of "$mac1")" = 10.77.1.19 ] || fail "$mac1 not back at 10.77.1.19"
[ "$(address_of "$mac2")" = 10.77.1.21 ] || fail "$mac2 not back at 10.77.1.21"
ip neigh show 10.77.1.20 | grep -q 02:77:00:00:02:01 || fail "the server's address moved"
echo "netns IP batches: OK"
