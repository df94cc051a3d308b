#!/usr/bin/env bash
# The Windows console programs under Wine against the Linux camera simulator
# on loopback: the same protocol across two systems. Builds nothing; needs
# build/dev (camsim) and build/windows (the .exe and .dll files).
#
#   scripts/windows-e2e.sh [LINUX_BUILD] [WINDOWS_BUILD]
#
# In a folder with a Chinese name: quorvane-pack.exe makes an update pack,
# quorvane-cli.exe searches, upgrades four cameras, re-addresses one and
# restores it, and the day's log is checked (CRLF lines). Nothing leaves
# 127.0.0.0/8.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != "--inside" ]; then
  linux=$(cd "${1:-$root/build/dev}" && pwd)
  windows=$(cd "${2:-$root/build/windows}" && pwd)
  [ -x "$linux/bin/camsim" ] || { echo "windows-e2e: no camsim in $linux" >&2; exit 2; }
  [ -f "$windows/bin/quorvane-cli.exe" ] || { echo "windows-e2e: no quorvane-cli.exe in $windows" >&2; exit 2; }
  exec bash "$root/lab/loopback-lab.sh" --build "$linux" --count 5 -- \
    bash "$0" --inside "$linux" "$windows"
fi
linux=$2
windows=$3
export WINEPREFIX="${WINEPREFIX:-$windows/wineprefix}"
wine="$root/cmake/wine-run.sh"
# Wine sees the Linux root as drive Z:.
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

work="$QV_LAB_DIR/${QV_E2E_FOLDER:-工具 目录}"
mkdir -p "$work"
cp "$QUORVANE_NET_CONF" "$work/quorvane-net.conf"
printf '[config]\r\ndefaultip=127.0.9.10\r\n' >"$work/config.ini"
wwork=$(winpath "$work")
unset QUORVANE_NET_CONF  # the copy in the configuration folder is used

fail=0
check() {  # check NAME WANT_STATUS COMMAND...
  local name=$1 want=$2
  shift 2
  set +e
  "$@" >"$work/out.txt" 2>"$work/err.txt"
  local got=$?
  set -e
  if [ "$got" -ne "$want" ]; then
    echo "FAIL $name: exit status $got, expected $want" >&2
    sed 's/^/  /' "$work/out.txt" "$work/err.txt" >&2
    fail=1
  else
    echo "ok   $name"
  fi
}
cli() { "$wine" "$windows/bin/quorvane-cli.exe" --config-dir "$wwork" "$@"; }

check "quorvane-cli.exe --version" 0 "$wine" "$windows/bin/quorvane-cli.exe" --version
check "search finds the five cameras" 0 cli search
rows=$(grep -c '127\.0\.1\.' "$work/out.txt" || true)
[ "$rows" -eq 5 ] || { echo "FAIL search: $rows rows, expected 5" >&2; cat "$work/out.txt" >&2; fail=1; }
# By address too: every camera answers its own probe; the closed ports of the
# other addresses (ICMP refusals, a receive error on Windows) end no scan.
check "search --scan of a /24 finds them again" 0 cli search --scan 127.0.1.0/24
grep -q '（254个地址）：搜索到5台设备，其中5台已在列表中' "$work/err.txt" ||
  { echo "FAIL search --scan: not every camera answered" >&2; cat "$work/err.txt" >&2; fail=1; }

head -c 300000 /dev/urandom >"$work/uImage"
head -c 500000 /dev/urandom >"$work/rootfs.cramfs"
head -c 400000 /dev/urandom >"$work/app_V2.7_YJ11#_QV-LPR200.jffs2"
check "quorvane-pack.exe create" 0 "$wine" "$windows/bin/quorvane-pack.exe" create \
  "$wwork\\fw.bin" "$wwork\\uImage" "$wwork\\rootfs.cramfs" "$wwork\\app_V2.7_YJ11#_QV-LPR200.jffs2"
check "quorvane-pack verify (Linux) accepts the Windows pack" 0 "$linux/bin/quorvane-pack" verify "$work/fw.bin"
check "upgrade four QV-LPR200 cameras" 0 cli upgrade "$wwork\\fw.bin" \
  --ip 127.0.1.1 127.0.1.2 127.0.1.4 127.0.1.5 --sync-time
check "search shows the new software version" 0 cli search
# The fleet starts on V2.1.3: the image's tag is another version, so that only
# an upgrade can show it, on the four cameras upgraded and no other.
upgraded=$(grep -c 'V2\.7\.0_' "$work/out.txt" || true)
[ "$upgraded" -eq 4 ] || { echo "FAIL: $upgraded cameras report V2.7 after the upgrade, expected 4" >&2; cat "$work/out.txt" >&2; fail=1; }
check "modify-ip moves one camera" 0 cli modify-ip 127.0.20.10 --ip 127.0.1.3
check "restore-ip brings it to config.ini's default" 0 cli restore-ip --ip 127.0.20.10
check "search finds it at the default address" 0 cli search
grep -q '127\.0\.9\.10' "$work/out.txt" || { echo "FAIL: no camera at 127.0.9.10" >&2; fail=1; }

log=$(ls "$work"/*_*_*.log 2>/dev/null | head -1)
if [ -z "$log" ]; then
  echo "FAIL: no daily log in $work" >&2
  fail=1
elif [ "$(grep -c $'\r$' "$log")" -ne "$(wc -l <"$log")" ]; then
  echo "FAIL: daily log lines do not all end in CRLF" >&2
  fail=1
else
  echo "ok   daily log $(basename "$log"): $(wc -l <"$log") CRLF lines"
fi
exit $fail
