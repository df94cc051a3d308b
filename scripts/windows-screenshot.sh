#!/usr/bin/env bash
# The window of the Windows edition after a search, under Xvfb and Wine,
# against the Linux camera simulator on loopback: docs/windows-window.png.
# Builds nothing; needs build/dev (camsim) and build/windows (quorvane.exe and
# the two DLLs). The search button is pressed from the keyboard (xdotool), as
# a technician would. Nothing leaves 127.0.0.0/8.
#
#   scripts/windows-screenshot.sh [LINUX_BUILD] [WINDOWS_BUILD] [OUTPUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != "--inside" ]; then
  linux=$(cd "${1:-$root/build/dev}" && pwd)
  windows=$(cd "${2:-$root/build/windows}" && pwd)
  out=$(realpath -m "${3:-$root/docs/windows-window.png}")
  [ -x "$linux/bin/camsim" ] || { echo "windows-screenshot: no camsim in $linux" >&2; exit 2; }
  [ -f "$windows/bin/quorvane.exe" ] || { echo "windows-screenshot: no quorvane.exe in $windows" >&2; exit 2; }
  for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "windows-screenshot: $tool is missing (scripts/setup.sh)" >&2; exit 2; }
  done
  exec bash "$root/lab/loopback-lab.sh" --build "$linux" --count 5 -- \
    bash "$0" --inside "$linux" "$windows" "$out"
fi
windows=$3
out=$4
export WINEPREFIX="${WINEPREFIX:-$windows/wineprefix}"
wine="$root/cmake/wine-run.sh"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# The dialogs ask for 宋体 (SimSun), which Wine does not have: Debian's CJK
# face stands in. With no window manager on Xvfb, Wine draws the frames.
for face in 宋体 SimSun; do
  "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d "Noto Sans CJK SC" /f >/dev/null
done
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
# Its caption buttons are Marlett glyphs (Debian's fonts-wine), which this
# Wine only finds among the prefix's own fonts.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ -f /usr/share/wine/fonts/marlett.ttf ] && [ ! -f "$fonts/marlett.ttf" ]; then
  mkdir -p "$fonts"
  cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
fi

work="$QV_LAB_DIR/工具 目录"
mkdir -p "$work"
cp "$QUORVANE_NET_CONF" "$work/quorvane-net.conf"
printf '[config]\r\ndefaultip=127.0.9.10\r\n' >"$work/config.ini"
unset QUORVANE_NET_CONF  # the copy in the configuration folder is used

display=""
for n in $(seq 90 120); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
done
[ -n "$display" ] || { echo "windows-screenshot: no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1366x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
app=""
cleanup() {
  [ -z "$app" ] || kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 1 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.2; done

"$wine" "$windows/bin/quorvane.exe" --config-dir "$(winpath "$work")" >"$work/wine.log" 2>&1 &
app=$!
win=""
for _ in $(seq 1 120); do
  win=$(xdotool search --name '^QuorvaneV1' 2>/dev/null | head -1 || true)
  [ -n "$win" ] && break
  sleep 0.5
done
[ -n "$win" ] || { echo "windows-screenshot: the window did not appear" >&2; cat "$work/wine.log" >&2; exit 1; }
sleep 2
# Focus starts on the list; Tab goes 全选, 升级日志, 搜索设备.
xdotool windowfocus --sync "$win"
sleep 0.3
xdotool key Tab Tab Tab space
# The search holds the window until the cameras have answered (the lab's
# discovery deadline is 2.5 s).
sleep 6
mkdir -p "$(dirname "$out")"
import -window "$win" "$out"
xdotool key --window "$win" alt+F4 || true
for _ in $(seq 1 20); do kill -0 "$app" 2>/dev/null || break; sleep 0.25; done
echo "windows-screenshot: $out"
