#!/usr/bin/env bash
# Builds the project and runs every test suite:
#   1. g++ 12 and clang++ 14 builds with -Werror, each with the full test suite
#      (the power-loss suite included: it needs root and loop devices, and
#      skips without them unless QUORLINA_REQUIRE_POWERLOSS=1, as on CI);
#   2. the full suite under AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. the concurrency tests under ThreadSanitizer;
#   4. the library and the tool cross-compiled for macOS (aarch64, x86_64),
#      and the library's unit suite built against musl and run
#      (scripts/cross-check.sh);
#   5. each fuzz target for a bounded time (scripts/fuzz.sh);
#   6. the benchmarks once at a small size, so they cannot rot.
# Set QUORLINA_QUICK=1 to run only step 1 with g++.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

run_preset() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
  echo "=== $preset: test"
  ctest --preset "$preset"
}

run_preset ci-gcc
[[ "${QUORLINA_QUICK:-0}" == 1 ]] && exit 0
run_preset ci-clang
run_preset asan
run_preset tsan

echo "=== cross-compile: macOS and musl"
scripts/cross-check.sh
echo "=== fuzz"
scripts/fuzz.sh
echo "=== benchmark smoke run"
scripts/bench-smoke.sh
echo "=== all test stages passed"
