#!/usr/bin/env bash
# Draws docs/outcomes.png: the window after one upgrade batch in which every
# camera ends differently (verified, came back unchanged, not back in time,
# refused, link dropped, no answer). Loopback lab under Xvfb; nothing leaves
# 127.0.0.0/8.
#
#   bash scripts/outcome-screenshot.sh [OUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${QV_DEMO_BUILD:-$root/build/dev}
out=${1:-$root/docs/outcomes.png}

if [ "${2:-}" != "--inside" ]; then
  fleet=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-outcomes.XXXXXX")
  trap 'rm -rf "$fleet"' EXIT
  cat >"$fleet/fleet.json" <<'JSON'
{"defaults": {"type": "QV-LPR200", "sw": "V2.1.3_20240115", "hw": "111A", "reboot_ms": 3000,
              "flash_ms": 300},
 "cameras": [
   {},
   {"faults": {"keep-version": true}},
   {"reboot_ms": 600000},
   {"faults": {"fail-verify": true}},
   {"faults": {"drop-after": 300000}},
   {"faults": {"refuse-connect": true}}
 ]}
JSON
  exec bash lab/loopback-lab.sh --build "$build" --fleet "$fleet/fleet.json" -- \
    bash "$0" "$out" --inside
fi

work="$QV_LAB_DIR/tool"
mkdir -p "$work"
# The camera that stays silent is given up after 15 s instead of 300.
echo "verify_timeout_ms = 15000" >>"$QUORVANE_NET_CONF"
head -c 300000 /dev/urandom >"$work/uImage"
head -c 400000 /dev/urandom >"$work/app_V2.6_YJ11#_QV-LPR200.jffs2"
"$build/bin/quorvane-pack" create "$work/fw.bin" "$work/uImage" \
  "$work/app_V2.6_YJ11#_QV-LPR200.jffs2" >/dev/null
xvfb-run -a -s "-screen 0 1366x768x24" "$build/bin/quorvane" --config-dir "$work" --search \
  --select-all --upgrade "$work/fw.bin" --screenshot "$out"
echo "saved $out"
