#!/usr/bin/env bash
# Installs every Debian package that building, testing, the GUI and the lab need.
# Idempotent: packages already present are left alone and apt-get is not run.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang-format clang-tidy clang libclang-rt-14-dev
  libssl-dev libasio-dev nlohmann-json3-dev libcli11-dev libicu-dev
  googletest libgtest-dev libgmock-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-qpa-plugins libxkbcommon-x11-0 qt6-translations-l10n
  xvfb xauth x11-apps imagemagick fonts-noto-cjk xdg-utils xdotool fonts-wine
  iproute2 iputils-ping procps psmisc python3 time locales openssl
  dpkg-dev file lintian
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 nsis zip unzip
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  echo "setup: installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present" >&2
