#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each, one after another, starting from
# the seed corpus and the kept findings in the tree (which stay unchanged).
# A finding (crash, sanitizer report, broken property, leak, time-out) is
# copied into fuzz/regressions/TARGET/, where ctest replays it in the ordinary
# builds, and the script exits 1. Prints executions and coverage per target.
# The targets: pack_read pack_write wire_decoder wire_datagram netconf ini
# natural_compare upgrade_request batch_report batch_journal addressing_plan neighbour_table camsim_receive (every fuzz_*
# program of the build).
#   fuzz/run.sh SECONDS [BUILD_DIR] [TARGET...]
# BUILD_DIR defaults to build/fuzz, configured and built here with the fuzz
# preset when it is the default.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
seconds=${1:?usage: fuzz/run.sh SECONDS [BUILD_DIR] [TARGET...]}
build=${2:-}
shift $(( $# >= 2 ? 2 : 1 ))
if [[ -z $build ]]; then
  build=$root/build/fuzz
  log=$(mktemp)
  if ! (cd "$root" && cmake --preset fuzz && cmake --build --preset fuzz -j "$(nproc)") >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  for exe in "$build"/bin/fuzz_*; do
    targets+=("${exe##*/fuzz_}")
  done
fi
((${#targets[@]})) || { echo "fuzz: no targets in $build/bin" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qvfuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
printf '%-16s %10s %8s %8s %8s  %s\n' target runs "exec/s" cov ft result
for t in "${targets[@]}"; do
  exe=$build/bin/fuzz_$t
  [[ -x $exe ]] || { echo "fuzz: missing $exe" >&2; exit 1; }
  mkdir -p "$work/$t/corpus" "$work/$t/artifacts"
  inputs=("$work/$t/corpus")
  for d in "$here/corpus/$t" "$here/regressions/$t"; do
    [[ -d $d ]] && inputs+=("$d")
  done
  rc=0
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$exe" "${inputs[@]}" -dict="$here/qv.dict" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$work/$t/artifacts/" >"$work/$t/log" 2>&1 || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t/log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/$t/log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$work/$t/log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$work/$t/log" | tail -1 | cut -d' ' -f2)
  result=clean
  if ((rc != 0)) || compgen -G "$work/$t/artifacts/*" >/dev/null; then
    result="FINDING"
    failed=1
    mkdir -p "$here/regressions/$t"
    for a in "$work/$t/artifacts/"*; do
      [[ -e $a ]] || continue
      cp "$a" "$here/regressions/$t/$(basename "$a")"
      echo "fuzz: $t: kept $(basename "$a") in fuzz/regressions/$t" >&2
    done
    tail -40 "$work/$t/log" >&2
  fi
  printf '%-16s %10s %8s %8s %8s  %s\n' "$t" "${runs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit "$failed"
