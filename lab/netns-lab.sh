#!/usr/bin/env bash
# Network-namespace lab (root only): a LAN made of namespaces. A bridge lives in a
# namespace of its own, each camera gets a namespace running one camsim, and the
# PC gets one where the command runs. Discovery is a real broadcast on the bridge,
# and an IP change really re-addresses the camera's interface. Nothing touches
# the host's own interfaces; everything is removed on exit, failure included.
#
#   lab/netns-lab.sh [options] -- COMMAND [ARGS...]
#
#   --build DIR        build folder holding bin/camsim (default: build/dev)
#   --cameras N        cameras, 1..200 (default 2); camera i is 10.77.1.i/16 with
#                      MAC 02:77:00:00:01:i (hex), the PC is 10.77.0.1/16
#   --rate RATE        shape every camera link to RATE both ways with tc tbf (e.g. 100mbit)
#   --pc-rate RATE     shape the PC's own link to RATE both ways (e.g. 1gbit)
#   --reply-delay MS   each camera waits MS before each of its replies
#   --flash-ms MS      time a camera takes to flash an accepted file
#   --camsim ARG       one more camsim argument (repeatable), e.g. --camsim --fault=...
#   --laptop           the PC is a technician's laptop: a second adapter wlan0
#                      (192.168.50.20/24, inside the lab) carries its default route
#                      to an empty network, and eth0 has no route beyond its subnet
#   --foreign          the last camera is fresh from the factory on another subnet:
#                      10.77.1.i becomes 10.99.1.i/24, without a route to the PC
#                      (camsim's fault no-route)
#   --server IP        a host on the LAN that is no camera (a parking server) at IP/16
#   --adapters N       the PC has N adapters, 1..8 (default 1): eth0 on the bridge, and
#                      eth1.. each to an empty network 10.78.K.1/24 of its own
#   --routed           one more camera behind a router (another VLAN): 10.88.1.1/24,
#                      MAC 02:77:00:00:02:10; the router is 10.77.0.254 on the bridge
#                      and the PC reaches 10.88.1.0/24 through it; no broadcast crosses
#   --keep             keep the run folder (lab/run/netns-PID)
# The command runs in the PC namespace with QUORVANE_NET_CONF set, and with
# QV_LAB_DIR (run folder), QV_LAB_IPS and QV_LAB_MACS (space-separated),
# QV_LAB_ADAPTERS (the PC's adapters), QV_LAB_ROUTED_IP and QV_LAB_ROUTED_MAC
# (with --routed) exported,
# and QV_LAB_OFF: a command that switches camera i off while it still answers
# the search (`$QV_LAB_OFF i`: the PC's packets to it go unanswered, as to a
# camera that lost power after the search).
# Exit status: the command's; 77 when this machine cannot make namespaces (not root).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build="$root/build/dev"
cameras=2
rate=""
pcrate=""
delay=0
flash=0
keep=0
laptop=0
foreign=0
server=""
adapters=1
routed=0
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --cameras) cameras="$2"; shift 2 ;;
    --rate) rate="$2"; shift 2 ;;
    --pc-rate) pcrate="$2"; shift 2 ;;
    --reply-delay) delay="$2"; shift 2 ;;
    --flash-ms) flash="$2"; shift 2 ;;
    --camsim) extra+=("$2"); shift 2 ;;
    --server) server="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --laptop) laptop=1; shift ;;
    --foreign) foreign=1; shift ;;
    --adapters) adapters="$2"; shift 2 ;;
    --routed) routed=1; shift ;;
    --) shift; break ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { sed -n '2,38p' "$0" >&2; exit 2; }
case "$adapters" in ''|*[!0-9]*) echo "--adapters takes a number" >&2; exit 2 ;; esac
[ "$adapters" -ge 1 ] && [ "$adapters" -le 8 ] || { echo "--adapters takes 1..8" >&2; exit 2; }
case "$cameras" in ''|*[!0-9]*) echo "--cameras takes a number" >&2; exit 2 ;; esac
[ "$cameras" -ge 1 ] && [ "$cameras" -le 200 ] || { echo "--cameras takes 1..200" >&2; exit 2; }
camsim="$build/bin/camsim"
[ -x "$camsim" ] || { echo "no camsim at $camsim" >&2; exit 2; }

if [ "$(id -u)" -ne 0 ]; then
  echo "netns lab skipped: needs root" >&2
  exit 77
fi
id="qv$$"
if ! ip netns add "${id}lan" 2>/dev/null; then
  echo "netns lab skipped: 'ip netns add' does not work here" >&2
  exit 77
fi
namespaces=("${id}lan")
pids=()
run="$root/lab/run/netns-$$"
cleanup() {
  local status=$?
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do
    for _ in $(seq 1 100); do kill -0 "$p" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$p" 2>/dev/null || true
  done
  # Removing a namespace removes its interfaces and the veth peers with them.
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
  [ "$keep" = 1 ] || rm -rf "$run"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$run"

lan="${id}lan"
ip -n "$lan" link set lo up
ip -n "$lan" link add br0 type bridge
ip -n "$lan" link set br0 up

# attach NAME: a namespace NAME joined to the bridge by its eth0.
attach() {
  local ns="$1" port="$2" mac="${3:-}"
  ip netns add "$ns"
  namespaces+=("$ns")
  ip -n "$lan" link add "$port" type veth peer name eth0 netns "$ns"
  ip -n "$lan" link set "$port" master br0 up
  ip -n "$ns" link set lo up
  [ -z "$mac" ] || ip -n "$ns" link set eth0 address "$mac"
  ip -n "$ns" link set eth0 up
}
shape() {
  local ns="$1" dev="$2" to="${3:-$rate}" burst="${4:-64kb}"
  ip netns exec "$ns" tc qdisc add dev "$dev" root tbf rate "$to" burst "$burst" latency 50ms
}

pc="${id}pc"
attach "$pc" pc
ip -n "$pc" addr add 10.77.0.1/16 dev eth0
if [ -n "$pcrate" ]; then
  # A gigabit bucket must hold a few timer ticks' worth of bytes.
  shape "$pc" eth0 "$pcrate" 1mb
  shape "$lan" pc "$pcrate" 1mb
fi
if [ "$laptop" = 1 ]; then
  # The office Wi-Fi: an empty network that holds the default route, so that a
  # limited broadcast from 0.0.0.0 leaves by wlan0 and not by the cable.
  wifi="${id}wifi"
  ip netns add "$wifi"
  namespaces+=("$wifi")
  ip -n "$pc" link add wlan0 type veth peer name wlan0 netns "$wifi"
  ip -n "$wifi" link set lo up
  ip -n "$wifi" addr add 192.168.50.1/24 dev wlan0
  ip -n "$wifi" link set wlan0 up
  ip -n "$pc" addr add 192.168.50.20/24 dev wlan0
  ip -n "$pc" link set wlan0 up
  for _ in $(seq 1 200); do
    ip -n "$pc" link show dev wlan0 | grep -q LOWER_UP && break
    sleep 0.05
  done
  ip -n "$pc" route add default via 192.168.50.1
else
  # On-link default route: broadcasts to 255.255.255.255 leave by eth0, and a camera
  # moved to another subnet is still reached on the link.
  ip -n "$pc" route add default dev eth0
fi

# More adapters, each to an empty network of its own: a search goes out on
# every one of them.
for k in $(seq 2 "$adapters"); do
  n=$((k - 1))
  other="${id}a$n"
  ip netns add "$other"
  namespaces+=("$other")
  ip -n "$pc" link add "eth$n" type veth peer name eth0 netns "$other"
  ip -n "$other" link set lo up
  ip -n "$other" addr add "10.78.$n.254/24" dev eth0
  ip -n "$other" link set eth0 up
  ip -n "$pc" addr add "10.78.$n.1/24" dev "eth$n"
  ip -n "$pc" link set "eth$n" up
done

cat > "$run/quorvane-net.conf" <<CONF
# Namespace lab: limited broadcast on the lab's bridge.
discovery_address = 255.255.255.255
discovery_port = 48620
control_port = 48621
ipset_port = 48622
bind_address = 0.0.0.0
discovery_probes = 3
discovery_probe_interval_ms = 100
discovery_spread_ms = 100
discovery_quiet_ms = 500
discovery_deadline_ms = 5000
ipset_timeout_ms = 1000
ipset_attempts = 3
update_result_timeout_ms = 120000
log_file = korvel.log
CONF

if [ -n "$server" ]; then
  attach "${id}srv" srv 02:77:00:00:02:01
  ip -n "${id}srv" addr add "$server/16" dev eth0
fi

ips=""
macs=""
for i in $(seq 1 "$cameras"); do
  ns="${id}c$i"
  mac=$(printf '02:77:00:00:01:%02X' "$i")
  ip_addr="10.77.1.$i"
  mask=255.255.0.0
  faults="\"reply-delay\": $delay"
  if [ "$foreign" = 1 ] && [ "$i" = "$cameras" ]; then
    ip_addr="10.99.1.$i"
    mask=255.255.255.0
    faults="$faults, \"no-route\": true"
  fi
  attach "$ns" "c$i" "$mac"
  if [ -n "$rate" ]; then
    shape "$ns" eth0
    shape "$lan" "c$i"
  fi
  mkdir -p "$run/c$i"
  cat > "$run/c$i/fleet.json" <<JSON
{"cameras": [{"ip": "$ip_addr", "mask": "$mask", "mac": "$mac", "flash_ms": $flash,
  "reboot_ms": ${QV_LAB_REBOOT_MS:-3000}, "faults": {$faults}}]}
JSON
  ip netns exec "$ns" "$camsim" --conf "$run/quorvane-net.conf" --fleet "$run/c$i/fleet.json" \
    --iface eth0 --dir "$run/c$i/files" --log "$run/c$i/camsim.log" \
    --ready-file "$run/c$i/ready" "${extra[@]}" >/dev/null &
  pids+=($!)
  ips="$ips $ip_addr"
  macs="$macs $mac"
done
routed_ip=""
routed_mac=""
if [ "$routed" = 1 ]; then
  # Another VLAN behind the site's router: the router forwards unicast both
  # ways (and answers ARP for the PC's subnet on the camera's side, where the
  # camera's default route is on-link), never a broadcast.
  rt="${id}rt"
  attach "$rt" rt 02:77:00:00:02:fe
  ip -n "$rt" addr add 10.77.0.254/16 dev eth0
  rc="${id}r1"
  routed_ip=10.88.1.1
  routed_mac=02:77:00:00:02:10
  ip netns add "$rc"
  namespaces+=("$rc")
  ip -n "$rt" link add eth1 type veth peer name eth0 netns "$rc"
  ip -n "$rt" addr add 10.88.1.254/24 dev eth1
  ip -n "$rt" link set eth1 up
  ip netns exec "$rt" sysctl -qw net.ipv4.ip_forward=1
  ip netns exec "$rt" sysctl -qw net.ipv4.conf.eth1.proxy_arp=1
  ip -n "$rc" link set lo up
  ip -n "$rc" link set eth0 address "$routed_mac"
  ip -n "$rc" link set eth0 up
  ip -n "$pc" route add 10.88.1.0/24 via 10.77.0.254 dev eth0
  mkdir -p "$run/r1"
  cat > "$run/r1/fleet.json" <<JSON
{"cameras": [{"ip": "$routed_ip", "mask": "255.255.255.0", "gateway": "10.88.1.254",
  "mac": "$routed_mac", "flash_ms": $flash, "reboot_ms": ${QV_LAB_REBOOT_MS:-3000}}]}
JSON
  ip netns exec "$rc" "$camsim" --conf "$run/quorvane-net.conf" --fleet "$run/r1/fleet.json" \
    --iface eth0 --dir "$run/r1/files" --log "$run/r1/camsim.log" \
    --ready-file "$run/r1/ready" "${extra[@]}" >/dev/null &
  pids+=($!)
  for _ in $(seq 1 300); do
    [ -f "$run/r1/ready" ] && break
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.1
  done
  [ -f "$run/r1/ready" ] || { echo "the routed camera did not start:" >&2; cat "$run/r1/camsim.log" >&2 || true; exit 1; }
fi
for i in $(seq 1 "$cameras"); do
  for _ in $(seq 1 300); do
    [ -f "$run/c$i/ready" ] && break
    kill -0 "${pids[$((i - 1))]}" 2>/dev/null || break
    sleep 0.1
  done
  [ -f "$run/c$i/ready" ] || { echo "camera $i did not start:" >&2; cat "$run/c$i/camsim.log" >&2 || true; exit 1; }
done
echo "netns lab: $cameras camera(s) on bridge br0 in $lan${rate:+, camera links shaped to $rate}${pcrate:+, PC link shaped to $pcrate}${delay:+, reply delay ${delay} ms}" >&2
# Switching a camera off after the search, run in the PC's namespace: the PC's
# frames to it go to a MAC nobody has, so a connection attempt goes unanswered
# (no refusal), while the camera's own discovery answers still arrive.
cat > "$run/off.sh" <<'OFF'
#!/usr/bin/env bash
set -e
ip neigh replace "10.77.1.$1" lladdr 02:77:de:ad:00:00 dev eth0 nud permanent
OFF
chmod +x "$run/off.sh"

set +e
ip netns exec "$pc" env QUORVANE_NET_CONF="$run/quorvane-net.conf" QV_LAB_DIR="$run" \
  QV_LAB_IPS="${ips# }" QV_LAB_MACS="${macs# }" QV_LAB_OFF="$run/off.sh" \
  QV_LAB_ADAPTERS="$adapters" QV_LAB_ROUTED_IP="$routed_ip" QV_LAB_ROUTED_MAC="$routed_mac" "$@"
status=$?
set -e
exit "$status"
