#!/bin/sh
# Runs a Windows program of the build under Wine: a prefix of the build's own,
# no debug chatter, no Mono or Gecko installers. Loopback only, like any run
# from the build tree.
here=$(cd "$(dirname "$0")/.." && pwd)
: "${WINEPREFIX:=$here/build/windows/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The technicians' Windows is Chinese: Wine takes its code page (936) from
# the locale, which is built once beside the prefix when the system lacks it.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  LOCPATH="$(dirname "$WINEPREFIX")/locale"
  if [ ! -d "$LOCPATH/zh_CN.UTF-8" ]; then
    mkdir -p "$LOCPATH"
    tmp=$(mktemp -d "$LOCPATH/.new-XXXXXX")
    if localedef -i zh_CN -f UTF-8 "$tmp/zh_CN.UTF-8" >/dev/null 2>&1 || [ -d "$tmp/zh_CN.UTF-8" ]; then
      mv -T "$tmp/zh_CN.UTF-8" "$LOCPATH/zh_CN.UTF-8" 2>/dev/null || true
    fi
    rm -rf "$tmp"
  fi
  export LOCPATH
fi
export LC_ALL=zh_CN.UTF-8
loader=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
[ -x "$loader" ] || loader=/usr/lib/wine/wine64
exec "$loader" "$@"
