#!/usr/bin/env bash
# Runs inside lab/netns-lab.sh --laptop --routed (root): a camera behind the
# site's router (another VLAN) is not found by any search, broadcasts do not
# cross the router; a search by address of its subnet finds it, beside the
# cameras of the cable, and it takes a control session like any other.
#   netns_scan.sh PATH/TO/quorvane-cli
set -euo pipefail
cli=$1
dir="$QV_LAB_DIR/tool"
mkdir -p "$dir"
fail() { echo "FAIL: $*" >&2; cat "$dir/out.txt" "$dir/err.txt" >&2; exit 1; }
run() {  # expected-status args...
  local want=$1; shift
  set +e
  "$cli" --config-dir "$dir" "$@" >"$dir/out.txt" 2>"$dir/err.txt"
  local got=$?
  set -e
  [ "$got" = "$want" ] || fail "quorvane-cli $* exited $got, not $want"
}
macs=($QV_LAB_MACS)
n=${#macs[@]}
routed=$QV_LAB_ROUTED_MAC
[ -n "$routed" ] || fail "no routed camera (run with --routed)"

run 0 search --json
[ "$(grep -c '"mac"' "$dir/out.txt")" = "$n" ] || fail "the search did not find the $n cameras of the cable"
! grep -q "\"mac\": \"$routed\"" "$dir/out.txt" || fail "a broadcast crossed the router"

started=$(date +%s%N)
run 0 search --json --scan 10.88.1.0/24
took=$(( ($(date +%s%N) - started) / 1000000 ))
[ "$(grep -c '"mac"' "$dir/out.txt")" = "$((n + 1))" ] || fail "the scan did not add the routed camera"
grep -q "\"mac\": \"$routed\"" "$dir/out.txt" || fail "the routed camera is not listed"
grep -q "\"ip\": \"$QV_LAB_ROUTED_IP\"" "$dir/out.txt" || fail "the routed camera is not at $QV_LAB_ROUTED_IP"
grep -q "按地址搜索 10.88.1.0/24（254个地址）：搜索到1台设备" "$dir/err.txt" || fail "the pane does not say what the scan found"

# Reached through the router: it takes a file like any camera of the list.
head -c 50000 /dev/urandom >"$dir/uImage"
run 0 upgrade "$dir/uImage" --mac "$routed" --scan "$QV_LAB_ROUTED_IP" --no-verify
grep -q "\[$routed\] $QV_LAB_ROUTED_IP 升级成功" "$dir/out.txt" || fail "the routed camera was not upgraded"
echo "netns scan: OK (search and scan, ${took} ms, the routed camera found and upgraded)"
