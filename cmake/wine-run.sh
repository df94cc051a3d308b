#!/bin/sh
# Runs a Windows program of the build under Wine: a prefix of the build's own,
# no debug chatter, no Mono or Gecko installers. Loopback only, like any run
# from the build tree.
here=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$here/build/windows/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
loader=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
[ -x "$loader" ] || loader=/usr/lib/wine/wine64
exec "$loader" "$@"
