#!/usr/bin/env bash
# Brings the loopback interface up when it is down (it is on some fresh machines).
set -euo pipefail
if ! ip -o link show lo 2>/dev/null | grep -q '[<,]UP[,>]'; then
  if [ "$(id -u)" -eq 0 ]; then
    ip link set lo up
  else
    sudo -n ip link set lo up 2>/dev/null || { echo "loopback is down; run: sudo ip link set lo up" >&2; exit 1; }
  fi
fi
