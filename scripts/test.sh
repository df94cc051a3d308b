#!/usr/bin/env bash
# Installs what is needed, then builds with warnings as errors and runs every
# test twice: in the debug build and under AddressSanitizer + UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash lab/loopback-up.sh 2>/dev/null || true

echo "== clang-format"
git ls-files -- '*.cpp' '*.h' '*.c' | xargs -r clang-format --dry-run -Werror

jobs=$(nproc)
for preset in dev asan; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
done

# Tests that share a folder, a lock or a port with another process fail only
# when they meet; a second debug run, four at a time, gives them the chance.
echo "== dev: tests again, four at a time"
ctest --preset dev -j 4

# Every benchmark script at a small size on the debug build, namespace lab
# included: a benchmark that no longer runs fails here, a figure short of its
# goal does not.
echo "== bench: smoke runs on the debug build"
bench_started=$(date +%s)
bash bench/pack/run.sh --smoke build/dev
bash bench/net/run.sh --smoke build/dev
bash bench/upgrade/run.sh --smoke build/dev
echo "bench: $(($(date +%s) - bench_started)) s"

# The site soak at CI size (three rounds, about two minutes): 200 cameras with
# seeded faults, every camera's outcome checked against the simulator's own
# account; a failure prints the seed that replays it.
echo "== soak: 200 cameras on loopback, seeded faults"
soak_started=$(date +%s)
bash bench/soak/run.sh --smoke build/dev
echo "soak: $(($(date +%s) - soak_started)) s"

# Every fuzz target for a short while (clang, libFuzzer, ASan + UBSan). A
# finding fails the run and is kept in fuzz/regressions, which the ctest runs
# above replay from then on.
echo "== fuzz: every target for 10 s"
fuzz_started=$(date +%s)
bash fuzz/run.sh 10
echo "fuzz: $(($(date +%s) - fuzz_started)) s with the build"

# The engine is where threads meet: its tests also run under ThreadSanitizer.
# This build has the GUI switched off, so building the console front end here
# also shows that the dialog logic needs no GUI toolkit.
echo "== tsan: engine tests (GUI off)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target engine_tests engine_fleet_tests quorvane-cli
ctest --preset tsan -L engine -j "$jobs"

# The Windows edition: cross-built, its tests under Wine, its console programs
# against the Linux simulator (needs build/dev's camsim).
bash scripts/windows-test.sh build/dev
echo "== bench: quorvane-pack.exe under Wine, smoke run"
bash bench/pack/windows.sh --smoke build/dev build/windows

# The Debian package, unpacked into a scratch root and run against a loopback
# fleet (camsim from the dev build), in a network namespace of its own.
echo "== package: build, lint, unpack and run"
bash scripts/package-check.sh build/dev
