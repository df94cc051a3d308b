#!/usr/bin/env bash
# quorvane-pack.exe verify under Wine beside the Linux quorvane-pack verify on
# the same packs (8 and 32 MiB by default), with the cost of starting a Windows
# program under Wine measured on its own (--version), so that the ratio of the
# work itself shows. Builds nothing: a Linux release build (quorvane-pack,
# pack_bench) and the Windows build.
#   bench/pack/windows.sh [--smoke] [LINUX_BUILD] [WINDOWS_BUILD] [RUNS] [MIB...]
# --smoke (or QV_BENCH_SMOKE=1): packs of 1 and 2 MiB, one round, a debug
# Linux build welcome; CI's Windows step runs it. It fails when a command fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
smoke=${QV_BENCH_SMOKE:-0}
[ "${1:-}" = --smoke ] && { smoke=1; shift; }
linux=$(cd "${1:-$root/build/release}" && pwd)
windows=$(cd "${2:-$root/build/windows}" && pwd)
runs=${3:-7}
[ "$smoke" = 1 ] && runs=${3:-1}
shift $(($# < 3 ? $# : 3))
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(8 32)
[[ $smoke = 1 && $# -eq 0 ]] && sizes=(1 2)
qp=$linux/bin/quorvane-pack
qpexe=$windows/bin/quorvane-pack.exe
for exe in "$qp" "$linux/bin/pack_bench"; do
  [[ -x $exe ]] || { echo "missing $exe (build the release preset first)" >&2; exit 1; }
done
[[ -f $qpexe ]] || { echo "missing $qpexe (build the windows preset first)" >&2; exit 1; }
grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$linux/CMakeCache.txt" 2>/dev/null ||
  echo "note: $linux is not a Release build; the Linux figures will be high" >&2

export WINEPREFIX="${WINEPREFIX:-$windows/wineprefix}"
wine="$root/cmake/wine-run.sh"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
work=$(mktemp -d "${TMPDIR:-/tmp}/qvwinbench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "quorvane-pack verify, Linux against Windows under $("$wine" --version 2>/dev/null || echo Wine);" \
  "$runs interleaved rounds after one warm-up round; page cache warm; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %12s %12s %8s %14s %10s\n' pack "Linux ms" "Wine ms" ratio "Wine start ms" "ratio net"
first=() last=()
for mib in "${sizes[@]}"; do
  dir=$work/$mib
  mkdir -p "$dir"
  # Three images in the proportions of a real pack: kernel, file system, application.
  head -c $((mib * 1024 * 1024 / 8)) /dev/urandom >"$dir/uImage"
  head -c $((mib * 1024 * 1024 * 3 / 8)) /dev/urandom >"$dir/rootfs.cramfs"
  head -c $((mib * 1024 * 1024 / 2 - 4096)) /dev/urandom >"$dir/app_V2.1_YJ11#_QV-LPR200.jffs2"
  "$qp" create "$dir/pack.bin" "$dir/uImage" "$dir/rootfs.cramfs" \
    "$dir/app_V2.1_YJ11#_QV-LPR200.jffs2" >/dev/null
  mapfile -t ms < <("$linux/bin/pack_bench" time "$runs" \
    "$qp" verify "$dir/pack.bin" :: \
    "$wine" "$qpexe" verify "$(winpath "$dir/pack.bin")" :: \
    "$wine" "$qpexe" --version)
  [[ ${#ms[@]} -eq 3 ]] || { echo "timing failed" >&2; exit 1; }
  awk -v n="$mib MiB" -v l="${ms[0]}" -v w="${ms[1]}" -v s="${ms[2]}" 'BEGIN {
    net = (w - s > 0) ? (w - s) / l : 0
    printf "%-8s %12.1f %12.1f %7.2fx %14.1f %9.2fx\n", n, l, w, w / l, s, net
  }'
  [[ ${#first[@]} -gt 0 ]] || first=("$mib" "${ms[@]}")
  last=("$mib" "${ms[@]}")
done
echo "ratio: Wine against Linux; ratio net: with the Wine start (quorvane-pack.exe --version) taken off"
# The cost of the extra bytes alone, whatever a start costs: from the smallest
# pack to the largest.
if [[ ${first[0]} != "${last[0]}" ]]; then
  awk -v a="${first[0]}" -v b="${last[0]}" -v l1="${first[1]}" -v w1="${first[2]}" \
    -v l2="${last[1]}" -v w2="${last[2]}" 'BEGIN {
    dl = l2 - l1; dw = w2 - w1
    printf "%s to %s MiB: Linux +%.1f ms, Wine +%.1f ms, ratio %s\n", a, b, dl, dw,
      (dl > 0) ? sprintf("%.2fx", dw / dl) : "n/a"
  }'
fi
