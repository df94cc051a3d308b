#!/usr/bin/env bash
# Loopback lab: brings lo up, starts camsim with a fleet on 127.x addresses and
# free ports, runs a command against it with QUORVANE_NET_CONF pointing at the
# fleet, then stops camsim. Nothing leaves 127.0.0.0/8.
#
#   lab/loopback-lab.sh [--build DIR] [--keep] [camsim options...] -- COMMAND [ARGS...]
#
#   --build DIR   build folder holding bin/camsim (default: build/dev)
#   --keep        keep the run folder (lab/run/loopback-PID) afterwards
#   camsim options, e.g. --count 20 --type QV-LPR200 --fault refuse-clock, or --fleet FILE.json
#                 (default: --count 5). Ports are always picked free.
# In the command, $QV_LAB_DIR is the run folder (camsim.log, files/ per camera).
# The exit status is the command's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build="$root/build/dev"
keep=0
sim_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --keep) keep=1; shift ;;
    --) shift; break ;;
    *) sim_args+=("$1"); shift ;;
  esac
done
if [ $# -eq 0 ]; then
  sed -n '2,15p' "$0" >&2
  exit 2
fi
camsim="$build/bin/camsim"
[ -x "$camsim" ] || { echo "no camsim at $camsim; build first (cmake --build $build --target camsim)" >&2; exit 2; }
[ ${#sim_args[@]} -gt 0 ] || sim_args=(--count 5)

bash "$here/loopback-up.sh"

run="$root/lab/run/loopback-$$"
mkdir -p "$run"
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  [ "$keep" = 1 ] || rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The lab configuration of the build, with the ports camsim picks written back.
base_conf="$build/bin/quorvane-net.conf"
conf_args=()
[ -f "$base_conf" ] && conf_args=(--conf "$base_conf")
# Cameras reboot for a few seconds after taking a file, as real ones do, so
# that the tool's check after the reboot has something to wait for; a
# --reboot-ms among the options (or "reboot_ms" in a fleet file) wins.
"$camsim" "${conf_args[@]}" --reboot-ms "${QV_LAB_REBOOT_MS:-3000}" "${sim_args[@]}" \
  --discovery-port 0 --control-port 0 --ipset-port 0 \
  --dir "$run/files" --log "$run/camsim.log" --write-conf "$run/quorvane-net.conf" \
  --ready-file "$run/ready" >/dev/null &
pid=$!
for _ in $(seq 1 300); do
  [ -f "$run/ready" ] && break
  kill -0 "$pid" 2>/dev/null || { echo "camsim did not start:" >&2; cat "$run/camsim.log" >&2 || true; exit 1; }
  sleep 0.1
done
[ -f "$run/ready" ] || { echo "camsim not ready after 30 s" >&2; exit 1; }
echo "lab: $(cat "$run/ready") (log: $run/camsim.log)" >&2

export QUORVANE_NET_CONF="$run/quorvane-net.conf"
export QV_LAB_DIR="$run"
set +e
"$@"
status=$?
set -e
exit "$status"
