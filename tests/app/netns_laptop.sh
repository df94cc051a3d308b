#!/usr/bin/env bash
# Runs inside lab/netns-lab.sh --laptop --foreign (root): the installed
# defaults on a laptop whose Wi-Fi holds the default route find every camera
# on the cable, the factory-fresh one on another subnet included and marked;
# it cannot be connected to and says why; one IP batch by MAC brings it into
# the cable's subnet, where it is upgraded and comes back with its new version.
#   netns_laptop.sh PATH/TO/quorvane-cli
set -euo pipefail
cli=$1
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
fail() { echo "FAIL: $*" >&2; cat "$dir/out.txt" >&2; exit 1; }
run() {  # expected-status args...
  local want=$1; shift
  set +e
  "$cli" --config-dir "$dir" "$@" >"$dir/out.txt" 2>"$dir/err.txt"
  local got=$?
  set -e
  [ "$got" = "$want" ] || { cat "$dir/out.txt" "$dir/err.txt" >&2; fail "quorvane-cli $* exited $got, not $want"; }
}
macs=($QV_LAB_MACS)
ips=($QV_LAB_IPS)
n=${#macs[@]}
factory=${macs[$((n - 1))]}
# The object of a MAC in the JSON list (its keys in order: detail, gateway, hw, ip, mac, ...).
row_of() { grep -B4 -A5 "\"mac\": \"$1\"" "$dir/out.txt"; }

run 0 search --json
found=$(grep -c '"mac"' "$dir/out.txt")
[ "$found" = "$n" ] || fail "found $found of $n cameras"
row_of "$factory" | grep -q "\"ip\": \"${ips[$((n - 1))]}\"" || fail "factory camera not at ${ips[$((n - 1))]}"
row_of "$factory" | grep -q '"detail": "不在本机网段：10.77.0.1/16"' || fail "factory camera not marked"
row_of "${macs[0]}" | grep -q '"detail": ""' || fail "a camera on the cable's subnet is marked"
run 0 search
grep -q "^详情\|	详情$" "$dir/out.txt" || fail "the table has no 详情 column"
grep -q "$factory.*不在本机网段：10.77.0.1/16$" "$dir/out.txt" || fail "the table does not mark it"

# Not reachable by its address: the reason says it is on another subnet.
head -c 100000 /dev/urandom >"$dir/uImage"
run 1 upgrade "$dir/uImage" --mac "$factory" --probe-ms 500 --no-verify
grep -q "不在本机网段：10.77.0.1/16，无法连接" "$dir/out.txt" "$dir/err.txt" ||
  { cat "$dir/out.txt" "$dir/err.txt" >&2; fail "the failure does not say why"; }

# By MAC, the limited broadcast leaves the cable too, whatever the default route.
run 0 modify-ip 10.77.9.1 --mac "$factory"
grep -q "\[$factory\] 10.77.9.1 修改IP成功" "$dir/out.txt" || fail "the factory camera did not move"
run 0 search --json
row_of "$factory" | grep -q '"ip": "10.77.9.1"' || fail "the factory camera is not at 10.77.9.1"
row_of "$factory" | grep -q '"detail": ""' || fail "the moved camera is still marked"

run 0 upgrade "$dir/uImage" --mac "$factory" --verify-timeout 30
grep -q "\[$factory\] 10.77.9.1 升级成功" "$dir/out.txt" || { cat "$dir/out.txt" >&2; fail "no upgrade"; }
# Back after its reboot with the new version, found again on the cable.
grep -q "已验证" "$dir/out.txt" "$dir/err.txt" || { cat "$dir/err.txt" >&2; fail "not verified after reboot"; }
echo "netns laptop: OK ($n of $n found, the factory camera re-addressed and upgraded)"
