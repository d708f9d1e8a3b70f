#!/usr/bin/env bash
# The full benchmark run: builds the release preset, generates (or reuses)
# the seeded sites with N=1,000 and N=10,000 items per family, runs the
# suite (three repetitions; the medians count) and prints the table used in
# docs/performance.md.
#   scripts/bench.sh [extra benchmark flags, e.g. --benchmark_filter=snippet]
# Sites are kept in $QUORLINA_BENCH_SITES (default /tmp/quorlina-bench) and
# reused while the generator and seed are unchanged. Results go to
# build/release/bench-results.json.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target quorlina_bench

sites=${QUORLINA_BENCH_SITES:-/tmp/quorlina-bench}
out=build/release/bench-results.json
echo "load before: $(uptime)"
build/release/bench/quorlina_bench --sizes=1000,10000 --site-dir="$sites" \
  --benchmark_min_time=1 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json "$@"
echo "load after: $(uptime)"
python3 bench/report.py "$out"
