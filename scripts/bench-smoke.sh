#!/usr/bin/env bash
# Builds the benchmark (release preset) and runs every benchmark once on a
# small generated site (N=200), the peers too when they are installed, so
# the suite cannot rot. (The cold mode, which drops the page cache of the
# whole machine, is left to scripts/bench.sh --cold.) Nothing about
# timing is asserted: the run fails only when the build fails, a library
# call returns an error, or a floor's system call fails.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target quorlina_bench

site=$(mktemp -d "${TMPDIR:-/tmp}/quorlina-bench-smoke-XXXXXX")
trap 'rm -rf "$site"' EXIT
timeout 600 build/release/bench/quorlina_bench --sizes=200 --site-dir="$site" \
  --benchmark_min_time=0.01 --peer-rounds=1
