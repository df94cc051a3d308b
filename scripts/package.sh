#!/usr/bin/env bash
# Builds the Debian package from a clean release build and checks it with lintian.
#
#   bash scripts/package.sh [BUILD_DIR]      (default: build/package)
#
# The package is BUILD_DIR/package/quorvane_<version>-1_<arch>.deb. It is
# configured as an installed tool: without a configuration file it talks to the
# camera LAN (QV_NET_DEFAULT_LOOPBACK=OFF), so do not run what is built here
# without a quorvane-net.conf that points at a lab.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package}

bash scripts/setup.sh

rm -rf "$build"
# Debian's own compiler and linker flags (fortify, stack protector, relro, now),
# without -g: the package is stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1" | sed -e 's/\(^\| \)-g\( \|$\)/ /g'; }
# With fortify, glibc marks calls such as ftruncate warn_unused_result, and GCC
# does not take (void) as an answer; where the code drops such a result on
# purpose (a best-effort cleanup) it stays a warning here.
cppflags="$(flags CPPFLAGS) -Wno-error=unused-result"
cmake -S . -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DQV_NET_DEFAULT_LOOPBACK=OFF \
  -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF -DQV_WERROR=ON \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$cppflags $(flags CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$cppflags $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null

# Only what the package holds; the lab and the tests are not built.
nice cmake --build "$build" -j "$(nproc)" \
  --target quorvane quorvane-cli quorvane-pack Korvel Nimbrel manpages debian-changelog
(cd "$build" && cpack -G DEB >/dev/null)

deb=$(ls "$build"/package/quorvane_*.deb)
echo "package: $deb"
# An error fails the script; warnings are listed (packaging/README.md says
# which are accepted and why).
lintian --fail-on error --tag-display-limit 0 "$deb" || {
  echo "package.sh: lintian reports errors" >&2
  exit 1
}
echo "package.sh: lintian found no error"
