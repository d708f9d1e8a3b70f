#!/usr/bin/env bash
# The full benchmark run: builds the release preset, generates (or reuses)
# the seeded sites, runs the suite and prints the tables used in
# docs/performance.md.
#
#   scripts/bench.sh [--cold] [--linear] [--runs=N] [extra benchmark flags]
#
#   (default)  warm page cache, N=1,000 and 10,000 items per family, every
#              operation, three repetitions (the medians count), and the
#              site-wide lists against the peers (hugo, a tomllib script)
#              when they are installed
#   --cold     the lists and reads at N=10,000 with the page cache dropped
#              before every timed call and floor (needs root; otherwise it
#              says so and measures nothing), five paired rounds each
#   --linear   the lists at N=10,000 and 100,000, warm: the time per item
#              should not grow with the site
#   --runs=N   N separate runs of the suite, each with its own results file,
#              then one table of every run's ratios side by side
#
# Extra arguments go to the benchmark binary, for example
# --benchmark_filter=post. Sites are kept in $QUORLINA_BENCH_SITES (default
# /tmp/quorlina-bench) and reused while the generator and seed are unchanged
# (N=100,000 takes about 1.6 GB). Results go to
# build/release/bench-results[-cold|-linear][-K].json.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=warm
runs=1
extra=()
for a in "$@"; do
  case "$a" in
    --cold) mode=cold ;;
    --linear) mode=linear ;;
    --runs=*) runs=${a#--runs=} ;;
    *) extra+=("$a") ;;
  esac
done

cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target quorlina_bench

sites=${QUORLINA_BENCH_SITES:-/tmp/quorlina-bench}
case "$mode" in
  warm) args=(--sizes=1000,10000 --benchmark_min_time=1 --benchmark_repetitions=3
              --benchmark_report_aggregates_only=true); suffix= ;;
  cold) args=(--sizes=10000 --cold --cold-rounds=5); suffix=-cold ;;
  linear) args=(--sizes=10000,100000 --peers=off '--benchmark_filter=list/'
                --benchmark_min_time=2 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true)
          suffix=-linear ;;
esac

outs=()
for ((k = 1; k <= runs; k++)); do
  out=build/release/bench-results${suffix}.json
  [[ $runs -gt 1 ]] && out=build/release/bench-results${suffix}-$k.json
  rm -f "$out"
  echo "run $k of $runs ($mode), load before: $(uptime)"
  build/release/bench/quorlina_bench --site-dir="$sites" "${args[@]}" \
    --benchmark_out="$out" --benchmark_out_format=json ${extra[@]+"${extra[@]}"}
  echo "run $k of $runs ($mode), load after: $(uptime)"
  # The cold mode without root writes no results.
  [[ -s "$out" ]] && outs+=("$out")
done
[[ ${#outs[@]} -gt 0 ]] && python3 bench/report.py "${outs[@]}"
exit 0
