#!/usr/bin/env bash
# The main job, on a simulated fleet: sets up, builds, starts cameras on
# loopback (lab/loopback-lab.sh) and opens the main window on them. Without a
# display it takes the console tour instead (search, upgrade, modify IP,
# restore IP) and
# saves a screenshot of the window drawn under Xvfb.
# Nothing sent leaves 127.0.0.0/8.
#
#   bash scripts/demo.sh            window when there is a display, else the tour
#   bash scripts/demo.sh --tour     the console tour even with a display
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# QV_DEMO_BUILD names another configured build folder (default: the dev preset's).
build=${QV_DEMO_BUILD:-$root/build/dev}

if [ "${1:-}" != "--inside" ]; then
  mode=${1:-auto}
  bash scripts/setup.sh
  [ -n "${QV_DEMO_BUILD:-}" ] || cmake --preset dev >/dev/null
  cmake --build "$build" --target quorvane quorvane-cli quorvane-pack camsim Korvel Nimbrel
  fleet=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-demo.XXXXXX")
  trap 'rm -rf "$fleet"' EXIT
  # A varied fleet, so that sorting by version and type shows something.
  cat >"$fleet/fleet.json" <<'JSON'
{"defaults": {"type": "QV-LPR200", "sw": "V2.1.3_20240115", "hw": "111A"},
 "cameras": [
   {},
   {"sw": "V2.1.10_20240301"},
   {"type": "QV-LPR300", "hw": "112B"},
   {"sw": "V2.1.9_20231201", "hw": "112B"},
   {"faults": {"refuse-ip-change": true}},
   {"type": "QV-LPR300", "sw": "V3.0.1_20240520", "hw": "113C"}
 ]}
JSON
  exec bash lab/loopback-lab.sh --build "$build" --fleet "$fleet/fleet.json" -- \
    bash "$0" --inside "$mode"
fi

# ---- inside the lab: QUORVANE_NET_CONF points at the running fleet ----
mode=${2:-auto}
bin="$build/bin"
work="$QV_LAB_DIR/tool"
mkdir -p "$work"
# The default address for a restore lies on loopback too.
printf '[config]\r\ndefaultip=127.0.9.10\r\n' >"$work/config.ini"

if [ "$mode" != "--tour" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  echo "demo: opening the main window on the simulated fleet; close it to end the demo" >&2
  "$bin/quorvane" --config-dir "$work" --search
  exit 0
fi

say() { printf '\n== %s\n' "$*"; }
cli() {
  echo "\$ quorvane-cli $*"
  set +e
  "$bin/quorvane-cli" --config-dir "$work" "$@"
  echo "(exit status $?)"
  set -e
}

say "search: every camera, sorted by IP address"
cli search
say "search sorted by software version, as after two clicks on its header"
cli search --sort sw
say "upgrade the four QV-LPR200 cameras (V2.1.x) to V2.2 with a single update pack (kernel, file system, application)"
head -c 300000 /dev/urandom >"$work/uImage"
head -c 500000 /dev/urandom >"$work/rootfs.cramfs"
# _YJ11#_: the application fits hardware versions 110 to 119.
head -c 400000 /dev/urandom >"$work/app_V2.2_YJ11#_QV-LPR200.jffs2"
"$bin/quorvane-pack" create "$work/fw.bin" "$work/uImage" "$work/rootfs.cramfs" \
  "$work/app_V2.2_YJ11#_QV-LPR200.jffs2" >/dev/null
cli upgrade "$work/fw.bin" --ip 127.0.1.1 127.0.1.2 127.0.1.4 127.0.1.5 --sync-time
say "a refused upgrade: two camera types ticked together"
cli upgrade "$work/fw.bin" --all
say "search again: the upgraded cameras report their new software version"
cli search
say "the same upgrade again: the cameras already run V2.2, nothing is sent"
cli upgrade "$work/fw.bin" --ip 127.0.1.1 127.0.1.2 127.0.1.4 127.0.1.5
say "modify IP: the ticked cameras get consecutive addresses from 127.0.20.253 (one refuses)"
cli modify-ip 127.0.20.253 --all
say "search again: the cameras answer from their new addresses"
cli search
say "restore default IP of one camera (config.ini: defaultip=127.0.9.10)"
cli restore-ip --ip 127.0.20.253
cli search
say "a refused request: start address ending in 255"
cli modify-ip 127.0.20.255 --all
say "the day's operation log"
cat "$work"/*_*_*.log | tr -d '\r'

shot="$build/demo-screenshot.png"
say "the main window after a search, drawn under Xvfb"
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1366x768x24" "$bin/quorvane" --config-dir "$work" --search \
    --screenshot "$shot" 2>/dev/null && echo "saved $shot"
else
  echo "xvfb-run is missing; no screenshot"
fi
