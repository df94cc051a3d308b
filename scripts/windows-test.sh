#!/usr/bin/env bash
# The Windows edition in CI: cross build with mingw-w64, the unit tests as .exe
# under Wine, then the console programs under Wine against the Linux camera
# simulator on loopback (scripts/windows-e2e.sh; needs build/dev's camsim),
# then the installer and the portable zip, installed, run and removed under
# Wine in a network namespace (scripts/windows-install-check.sh).
#
#   scripts/windows-test.sh [LINUX_BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
linux=${1:-build/dev}
started=$(date +%s)
echo "== windows: configure and build (mingw-w64)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"

# Known to fail under Wine 8, not on Linux: Wine's StrCmpLogicalW orders the
# ASCII table and four symbol pairs of the order table differently from Windows.
known='NaturalCompare\.AsciiOrderIsUnchanged|NaturalOrder\.SmallerComesFirstBothWays/(14|15|41|42)$'
echo "== windows: unit tests under Wine (known Wine gaps left out: $known)"
# Under Wine a test once failed in CI in 50 ms, quicker than Wine starts a
# program, and passed in every rerun since; so a test that fails is run once
# more, and the rerun shows in the output. A failure of ours fails twice.
ctest --preset windows -j "$(nproc)" -E "$known" --repeat until-pass:2

echo "== windows: console programs under Wine against camsim on loopback"
bash scripts/windows-e2e.sh "$linux" build/windows

echo "== windows: installer and portable zip under Wine"
cmake --build --preset windows --target windows-installer windows-portable
bash scripts/windows-install-check.sh "$linux" build/windows
echo "windows: $(($(date +%s) - started)) s"
