#!/usr/bin/env bash
# CI check of the Debian package: builds it (scripts/package.sh, lintian included),
# checks its file list and control data, unpacks it into a scratch root and runs
# the unpacked programs from there, with HOME, XDG_CONFIG_HOME and XDG_STATE_HOME
# in a scratch folder whose quorvane-net.conf points at a camsim fleet on loopback.
#
#   bash scripts/package-check.sh [DEV_BUILD]     (camsim from DEV_BUILD, default build/dev)
#
# The package's own configuration targets the camera LAN. The unpacked programs
# therefore run only inside a network namespace of their own that has nothing but
# a loopback interface (unshare), so that even a wrong configuration reaches no
# network; without such a namespace they are not run at all.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${1:-}" = "--inside" ]; then
  # In the namespace: loopback up, a fleet of three, the programs against it.
  shift
  scratch=$1 camsim=$2 base_conf=$3
  ip link set lo up
  pkg="$scratch/root"
  export HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home/config" XDG_STATE_HOME="$scratch/home/state"
  unset QUORVANE_NET_CONF QUORVANE_CONFIG_DIR
  mkdir -p "$XDG_CONFIG_HOME/quorvane" "$scratch/lab"
  "$camsim" --conf "$base_conf" --count 3 --discovery-port 0 --control-port 0 --ipset-port 0 \
    --dir "$scratch/lab/files" --log "$scratch/lab/camsim.log" \
    --write-conf "$XDG_CONFIG_HOME/quorvane/quorvane-net.conf" \
    --ready-file "$scratch/lab/ready" >/dev/null &
  sim=$!
  trap 'kill -TERM $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
  for _ in $(seq 1 300); do
    [ -f "$scratch/lab/ready" ] && break
    kill -0 "$sim" 2>/dev/null || { cat "$scratch/lab/camsim.log" >&2; exit 1; }
    sleep 0.1
  done
  [ -f "$scratch/lab/ready" ] || { echo "camsim not ready" >&2; exit 1; }
  grep -q '^discovery_address = 127\.' "$XDG_CONFIG_HOME/quorvane/quorvane-net.conf"

  "$pkg/usr/bin/quorvane-cli" search --json >"$scratch/search.json" 2>"$scratch/search.err" || {
    cat "$scratch/search.err" >&2
    exit 1
  }
  found=$(grep -c '"mac"' "$scratch/search.json" || true)
  [ "$found" = 3 ] || { echo "search found $found cameras, 3 expected" >&2; cat "$scratch/search.json" >&2; exit 1; }

  # The logs are in the per-user state folder, and nothing beside the programs.
  state="$XDG_STATE_HOME/quorvane"
  [ "$(stat -c %a "$state")" = 700 ] || { echo "$state is not private" >&2; exit 1; }
  ls "$state"/[0-9][0-9][0-9][0-9]_[0-9][0-9]_[0-9][0-9].log >/dev/null
  grep -q "configuration $XDG_CONFIG_HOME/quorvane/quorvane-net.conf" "$state/korvel.log" || {
    echo "korvel.log does not name the scratch configuration:" >&2
    cat "$state/korvel.log" >&2
    exit 1
  }
  [ -z "$(find "$pkg" -name '*.log')" ] || { echo "a log was written into the package tree" >&2; exit 1; }

  printf 'camera firmware' >"$scratch/app.bin"
  "$pkg/usr/bin/quorvane-pack" create "$scratch/pack.bin" "$scratch/app.bin" >/dev/null
  "$pkg/usr/bin/quorvane-pack" verify "$scratch/pack.bin" >/dev/null
  echo "package-check: search found 3 cameras, pack verified, logs in $state"
  exit 0
fi

dev=$(cd "${1:-build/dev}" && pwd)
[ -x "$dev/bin/camsim" ] || { echo "no camsim in $dev/bin; build it first" >&2; exit 2; }
start=$(date +%s)

bash scripts/package.sh build/package
built=$(date +%s)
deb=$(ls "$root"/build/package/package/quorvane_*.deb)
version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

echo "== package: file list and control data"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort >build/package/files.actual
sed "s/@MULTIARCH@/$multiarch/" packaging/files.txt | sort | diff -u - build/package/files.actual
[ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || { echo "package version is not $version-1" >&2; exit 1; }
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || { echo "no dependencies computed" >&2; exit 1; }
dpkg-deb -I "$deb" conffiles | sort | diff -u - <(printf '/etc/quorvane/config.ini\n/etc/quorvane/quorvane-net.conf\n')

echo "== package: unpacked programs"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qv-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
for prog in quorvane quorvane-cli quorvane-pack; do
  out=$("$scratch/root/usr/bin/$prog" --version)
  [ "$out" = "$prog $version" ] || { echo "$prog --version says '$out'" >&2; exit 1; }
done
unshare -rn true 2>/dev/null || {
  echo "package-check: cannot create a network namespace (unshare -rn); the unpacked" >&2
  echo "programs would use the LAN defaults if their configuration were missed, so" >&2
  echo "they are not run." >&2
  exit 1
}
unshare -rn bash "$0" --inside "$scratch" "$dev/bin/camsim" "$dev/bin/quorvane-net.conf"
echo "package-check: package built in $((built - start)) s, checked in $(($(date +%s) - built)) s"
