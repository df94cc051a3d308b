#!/usr/bin/env bash
# Times quorvane-pack on a pack at the 36,700,160-byte limit beside md5sum and
# openssl md5 over the same bytes, and prints median ratios against the faster
# of the two. Builds nothing: pass a release build directory.
#   bench/pack/run.sh [--smoke] [BUILD_DIR] [RUNS]
# --smoke (or QV_BENCH_SMOKE=1): a 2 MiB pack, one round, a debug build
# welcome; CI runs it. It fails when a command fails or the created pack
# differs, never because of a ratio.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
smoke=${QV_BENCH_SMOKE:-0}
[ "${1:-}" = --smoke ] && { smoke=1; shift; }
build=${1:-$here/../../build/release}
runs=${2:-9}
pack_size=()
if [ "$smoke" = 1 ]; then
  runs=${2:-1}
  pack_size=($((2 << 20)))
  echo "smoke run: a small pack, one round; figures are printed, not judged"
fi
bin=$build/bin
for exe in "$bin/quorvane-pack" "$bin/pack_bench"; do
  [[ -x $exe ]] || { echo "missing $exe (build the release preset first)" >&2; exit 1; }
done
grep -q 'CMAKE_BUILD_TYPE:STRING=Release' "$build/CMakeCache.txt" 2>/dev/null ||
  echo "note: $build is not a Release build; figures will be low" >&2
command -v md5sum >/dev/null && command -v openssl >/dev/null ||
  { echo "md5sum and openssl are needed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qvpackbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src" "$work/out"
pack=$("$bin/pack_bench" make "$work/src" "${pack_size[@]}")
size=$(stat -c %s "$pack")
echo "pack: $size bytes; $runs interleaved rounds after one warm-up round; page cache warm"

qp=$bin/quorvane-pack
mapfile -t ms < <("$bin/pack_bench" time "$runs" \
  md5sum "$pack" :: openssl md5 "$pack" :: \
  "$qp" verify "$pack" :: \
  "$qp" unpack "$pack" "$work/out" :: \
  "$qp" retype "$pack" "$work/out" retyped.bin :: \
  "$qp" create "$work/out/created.bin" \
  "$work/src/uImage" "$work/src/rootfs.cramfs" "$work/src/app_bench.jffs2")
[[ ${#ms[@]} -eq 6 ]] || { echo "timing failed" >&2; exit 1; }
md5=${ms[0]} ossl=${ms[1]} verify=${ms[2]} unpack=${ms[3]} retype=${ms[4]} create=${ms[5]}
cmp -s "$pack" "$work/out/created.bin" || { echo "created pack differs" >&2; exit 1; }

ref=$(awk -v a="$md5" -v b="$ossl" 'BEGIN { print (a < b) ? a : b }')
refname=$(awk -v a="$md5" -v b="$ossl" 'BEGIN { print (a < b) ? "md5sum" : "openssl md5" }')
printf '%-14s %10s %8s %6s\n' command "median ms" ratio goal
printf '%-14s %10.2f\n' "md5sum" "$md5"
printf '%-14s %10.2f\n' "openssl md5" "$ossl"
row() {
  awk -v n="$1" -v v="$2" -v r="$ref" -v g="$3" 'BEGIN {
    ratio = v / r
    printf "%-14s %10.2f %7.2fx %5.1fx %s\n", n, v, ratio, g, (ratio <= g) ? "ok" : "SLOWER THAN GOAL"
  }'
}
row verify "$verify" 1.0
row unpack "$unpack" 1.3
row retype "$retype" 2.2
row create "$create" 1.3
echo "ratios are against the faster reference ($refname)"
