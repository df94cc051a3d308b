#!/usr/bin/env bash
# CI check of the Windows installer and the portable zip under Wine. Builds
# nothing: needs build/dev (camsim) and build/windows's package/ folder
# (targets windows-installer and windows-portable).
#
#   scripts/windows-install-check.sh [LINUX_BUILD] [WINDOWS_BUILD]
#
# Installer: installs silently into a Wine prefix of its own (made fresh under
# WINDOWS_BUILD/install-check, so that nothing an earlier run left can hide or
# fake a leftover), checks the installed files, the Start-menu entry and the
# Add/Remove Programs key, runs the installed quorvane-cli.exe --version and a
# search with the user's own loopback configuration in %APPDATA%\Quorvane,
# uninstalls silently and checks that nothing of the installer's is left. The
# user's %APPDATA%\Quorvane and %LOCALAPPDATA%\Quorvane stay, on purpose.
# Portable zip: unpacked into a folder with a Chinese name, --version, a search
# with the loopback configuration put beside the executable. Last, an install
# with /D= into a folder named in Chinese that holds a file of the user's, which
# the uninstaller must leave.
#
# Firewall: Wine's netsh.exe is a stub that only logs its arguments (debug
# channel fixme+netsh), so the install and the uninstall run with that channel
# on and the logged command lines are checked: that the installer adds an
# inbound UDP rule for each program on the private and domain profiles and the
# uninstaller deletes them. Whether Windows then holds such a rule is not
# proven here.
#
# Both products carry the camera LAN's defaults (a broadcast to
# 255.255.255.255). Everything therefore runs inside a network namespace of its
# own with nothing but loopback (unshare -n), camsim included; without one
# nothing is run. The logs are checked for the configuration the tool read.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

case "${1:-}" in
--inside)
  # In the namespace: loopback up, then a fleet of three on it.
  ip link set lo up
  exec bash "$root/lab/loopback-lab.sh" --build "$2" --count 3 -- bash "$0" --lab "$2" "$3"
  ;;
--lab) ;;
*)
  linux=$(cd "${1:-$root/build/dev}" && pwd)
  windows=$(cd "${2:-$root/build/windows}" && pwd)
  version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
  [ -x "$linux/bin/camsim" ] || { echo "install-check: no camsim in $linux" >&2; exit 2; }
  for f in "quorvane-setup-$version.exe" "quorvane-$version-windows-portable.zip"; do
    [ -f "$windows/package/$f" ] || { echo "install-check: no $windows/package/$f" >&2; exit 2; }
  done
  unshare -n true 2>/dev/null || {
    echo "install-check: cannot create a network namespace (unshare -n); the installed" >&2
    echo "copy's LAN defaults could reach the network if its configuration were missed," >&2
    echo "so nothing is run." >&2
    exit 1
  }
  exec unshare -n bash "$0" --inside "$linux" "$windows"
  ;;
esac

linux=$2
windows=$3
version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
setup="$windows/package/quorvane-setup-$version.exe"
zip="$windows/package/quorvane-$version-windows-portable.zip"
lab_conf=$QUORVANE_NET_CONF
unset QUORVANE_NET_CONF QUORVANE_CONFIG_DIR  # the programs must find their own

work="$windows/install-check"
rm -rf "$work"
mkdir -p "$work/home"
export WINEPREFIX="$work/prefix" HOME="$work/home"
# No menu entries on this machine's desktop from the Start-menu shortcut.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
wine="$root/cmake/wine-run.sh"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
settle() { "$wineserver" -w; }  # waits for every Wine process of the prefix
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  [ "${QV_KEEP:-0}" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
unix() {  # a C: path of the prefix as a Linux path
  local p=${1%$'\r'}
  p=${p#[Cc]:}
  printf '%s/drive_c%s' "$WINEPREFIX" "$(printf '%s' "$p" | tr '\\' '/')"
}
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

fail=0
bad() {
  echo "FAIL $*" >&2
  fail=1
}
ok() { echo "ok   $*"; }
run() {  # run NAME COMMAND...: exit status 0 expected, output in $work/out.txt
  local name=$1
  shift
  if "$@" >"$work/out.txt" 2>"$work/err.txt"; then
    ok "$name"
  else
    bad "$name: exit status $?"
    sed 's/^/  /' "$work/out.txt" "$work/err.txt" >&2
  fi
}
# A search must list exactly the fleet, and korvel.log must show that the
# loopback configuration at $2 was the one read.
search_checks() {  # search_checks WHAT CONF_WINDOWS_PATH KORVEL_LOG
  local rows
  rows=$(grep -c '127\.0\.1\.' "$work/out.txt" || true)
  [ "$rows" -eq 3 ] && ok "$1: three cameras" || bad "$1: $rows rows, expected 3"
  if [ ! -f "$3" ]; then
    bad "$1: no korvel.log at $3"
  elif grep -qF "configuration $2, discovery to 127." "$3"; then
    ok "$1: korvel.log names the loopback configuration"
  else
    bad "$1: korvel.log does not name $2 with a loopback discovery address"
    sed 's/^/  /' "$3" >&2
  fi
}

# --- the packaged LAN defaults are the Debian package's values
for f in quorvane-net.conf config.ini; do
  if diff <(grep -v '^[#;]' "$root/packaging/$f") \
    <(unzip -p "$zip" "quorvane-$version-windows-portable/$f" | tr -d '\r' | grep -v '^[#;]') >/dev/null; then
    ok "$f: the camera LAN's defaults, as in the Debian package"
  else
    bad "$f in the zip differs from packaging/$f in its values"
  fi
done

# --- install
installed=(Korvel.dll LICENSE.txt Nimbrel.dll config.ini quorvane-cli.exe quorvane-net.conf
  quorvane-pack.exe quorvane.installed uninstall.exe)
[ -f "$windows/bin/quorvane.exe" ] && installed+=(quorvane.exe)
WINEDEBUG=-all,fixme+netsh run "silent install" "$wine" "$setup" /S
settle
cp "$work/err.txt" "$work/install-err.txt"
dir="$WINEPREFIX/drive_c/Program Files/Quorvane"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quorvane"
# system.reg doubles each backslash of a key's name.
uninst_key='[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorvane]'
diff <(printf '%s\n' "${installed[@]}" | LC_ALL=C sort) <(ls "$dir" 2>/dev/null | LC_ALL=C sort) >"$work/diff.txt" &&
  ok "install folder holds ${#installed[@]} files" ||
  { bad "install folder content:"; sed 's/^/  /' "$work/diff.txt" >&2; }
[ -f "$menu/Quorvane 命令行.lnk" ] && ok "Start-menu entry" || bad "no Start-menu entry in $menu"
if grep -qF "$uninst_key" "$WINEPREFIX/system.reg" &&
  grep -A12 -F "$uninst_key" "$WINEPREFIX/system.reg" | grep -qF "\"DisplayVersion\"=\"$version\""; then
  ok "Add/Remove Programs key, version $version"
else
  bad "no uninstall key with DisplayVersion $version"
fi

# --- the firewall rules, as far as Wine's netsh stub shows them
netsh_lines() { grep -a 'fixme:netsh:wmain stub:' "$1" | sed 's/.*stub: //' || true; }
progs=(quorvane-cli.exe)
[ -f "$windows/bin/quorvane.exe" ] && progs+=(quorvane.exe)
for p in "${progs[@]}"; do
  rule="L\"name=Quorvane $p\""
  prog="L\"program=C:\\\\Program Files\\\\Quorvane\\\\$p\""
  if netsh_lines "$work/install-err.txt" | grep -F "L\"add\" L\"rule\" $rule L\"dir=in\" L\"action=allow\" $prog L\"protocol=UDP\" L\"profile=private,domain\"" >/dev/null; then
    ok "installer adds the inbound UDP rule for $p (private, domain)"
  else
    bad "installer ran no 'netsh advfirewall firewall add rule' for $p:"
    netsh_lines "$work/install-err.txt" | sed 's/^/  /' >&2
  fi
done

# --- the installed copy
for prog in quorvane-cli quorvane-pack; do
  run "installed $prog.exe --version" "$wine" "C:\\Program Files\\Quorvane\\$prog.exe" --version
  [ "$(tr -d '\r' <"$work/out.txt")" = "$prog $version" ] || bad "$prog.exe --version says: $(cat "$work/out.txt")"
done
"$wine" cmd.exe /c echo %APPDATA% >"$work/appdata.txt"
"$wine" cmd.exe /c echo %LOCALAPPDATA% >"$work/localappdata.txt"
appdata=$(unix "$(head -1 "$work/appdata.txt")")/Quorvane
local_appdata=$(unix "$(head -1 "$work/localappdata.txt")")/Quorvane
wappdata="$(head -1 "$work/appdata.txt" | tr -d '\r')\\Quorvane"
mkdir -p "$appdata"
cp "$lab_conf" "$appdata/quorvane-net.conf"
printf '[config]\r\ndefaultip=127.0.9.10\r\n' >"$appdata/config.ini"
run "installed quorvane-cli.exe search" "$wine" "C:\\Program Files\\Quorvane\\quorvane-cli.exe" search
search_checks "installed search" "$wappdata\\quorvane-net.conf" "$local_appdata/korvel.log"
ls "$local_appdata"/[0-9][0-9][0-9][0-9]_[0-9][0-9]_[0-9][0-9].log >/dev/null 2>&1 &&
  ok "daily log in %LOCALAPPDATA%\\Quorvane" || bad "no daily log in $local_appdata"
[ -z "$(find "$dir" -name '*.log')" ] && ok "no log in the install folder" || bad "a log in $dir"

# --- uninstall
WINEDEBUG=-all,fixme+netsh run "silent uninstall" "$wine" "C:\\Program Files\\Quorvane\\uninstall.exe" /S
settle  # the uninstaller runs on from a copy in %TEMP%
for p in "${progs[@]}"; do
  if netsh_lines "$work/err.txt" | grep -F "L\"delete\" L\"rule\" L\"name=Quorvane $p\"" >/dev/null; then
    ok "uninstaller deletes the rule for $p"
  else
    bad "uninstaller ran no 'netsh advfirewall firewall delete rule' for $p"
    netsh_lines "$work/err.txt" | sed 's/^/  /' >&2
  fi
done
[ ! -e "$dir" ] && ok "install folder removed" || bad "left in the install folder: $(ls -A "$dir")"
[ ! -e "$menu" ] && ok "Start-menu entry removed" || bad "Start-menu folder left: $(ls -A "$menu")"
grep -qiF -e "$uninst_key" -e '[Software\\Quorvane]' "$WINEPREFIX/system.reg" &&
  bad "a registry key of the installer is left" || ok "registry keys removed"
[ -f "$appdata/quorvane-net.conf" ] && [ -f "$local_appdata/korvel.log" ] &&
  ok "the user's configuration and logs stay" || bad "the user's own folders were touched"
rm -rf "$appdata" "$local_appdata"

# --- the portable zip, in a folder with a Chinese name
portable="$work/便携 工具"
mkdir -p "$portable"
unzip -q "$zip" -d "$portable"
pdir="$portable/quorvane-$version-windows-portable"
[ ! -e "$pdir/quorvane.installed" ] && ok "portable copy is not marked installed" ||
  bad "quorvane.installed in the zip"
wpdir=$(winpath "$pdir")
run "portable quorvane-cli.exe --version" "$wine" "$wpdir\\quorvane-cli.exe" --version
[ "$(tr -d '\r' <"$work/out.txt")" = "quorvane-cli $version" ] || bad "portable --version says: $(cat "$work/out.txt")"
# The technician edits the file beside the executable.
cp "$lab_conf" "$pdir/quorvane-net.conf"
run "portable quorvane-cli.exe search" "$wine" "$wpdir\\quorvane-cli.exe" search
search_checks "portable search" "$wpdir\\quorvane-net.conf" "$pdir/korvel.log"
ls "$pdir"/[0-9][0-9][0-9][0-9]_[0-9][0-9]_[0-9][0-9].log >/dev/null 2>&1 &&
  ok "daily log beside the portable executable" || bad "no daily log in $pdir"
[ ! -e "$appdata" ] && [ ! -e "$local_appdata" ] && ok "the portable copy wrote nothing per user" ||
  bad "the portable copy wrote into %APPDATA% or %LOCALAPPDATA%"

# --- /D= into a folder named in Chinese that holds a file of the user's: the
# uninstaller removes only what it installed.
other="$WINEPREFIX/drive_c/工具/Quorvane"
mkdir -p "$other"
echo keep >"$other/笔记.txt"
run "silent install with /D=" "$wine" "$setup" /S "/D=C:\工具\Quorvane"
settle
run "quorvane-cli.exe --version from C:\工具\Quorvane" "$wine" "C:\工具\Quorvane\quorvane-cli.exe" --version
run "silent uninstall from C:\工具\Quorvane" "$wine" "C:\工具\Quorvane\uninstall.exe" /S
settle
[ "$(ls -A "$other")" = "笔记.txt" ] && ok "only the user's own file is left in C:\工具\Quorvane" ||
  bad "C:\工具\Quorvane holds: $(ls -A "$other")"
exit $fail
