#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset: clang, AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each one for a bounded time,
# starting from its committed seed corpus in fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh                     every target, QUORLINA_FUZZ_SECONDS each
#   scripts/fuzz.sh end_to_end tags_csv only the named targets
#   scripts/fuzz.sh --merge [targets]   afterwards, minimise what was found
#                                       into the committed corpora
#
# Environment:
#   QUORLINA_FUZZ_SECONDS  seconds per target (default 45); set it to hours
#                          for a long run, e.g. QUORLINA_FUZZ_SECONDS=3600
#   QUORLINA_FUZZ_JOBS     targets run at the same time (default 2)
#
# New inputs go to build/fuzz/corpus-new/<target>/, crashes to
# build/fuzz/artifacts/. A crash fails the script and prints the command
# that reproduces it. Each target's statistics are in build/fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${QUORLINA_FUZZ_SECONDS:-45}
jobs=${QUORLINA_FUZZ_JOBS:-2}
merge=0
targets=()
for a in "$@"; do
  if [[ "$a" == --merge ]]; then merge=1; else targets+=("$a"); fi
done
if [[ ${#targets[@]} -eq 0 ]]; then
  # The list in fuzz/targets.cmake is the one source of the target names.
  mapfile -t targets < <(sed -n '/set(QUORLINA_FUZZ_TARGETS/,/)/p' fuzz/targets.cmake |
                         tr -d '()' | tr ' ' '\n' | grep -E '^[a-z_]+$' | grep -v QUORLINA)
fi

echo "=== fuzz: building (preset fuzz)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2 >/dev/null

out=build/fuzz
mkdir -p "$out/logs" "$out/artifacts"
# The end-to-end target builds small trees for every input; a memory-backed
# directory keeps it fast.
if [[ -z "${TMPDIR:-}" && -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi

run_one() {
  local t=$1
  local bin="$out/fuzz/${t}_fuzz" new="$out/corpus-new/$t"
  mkdir -p "$new"
  if "$bin" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=8192 \
       -print_final_stats=1 -artifact_prefix="$out/artifacts/${t}-" \
       "$new" "fuzz/corpus/$t" >"$out/logs/$t.log" 2>&1; then
    local execs
    execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$out/logs/$t.log" | grep -o '[0-9]*$' || echo 0)
    printf '  %-22s %10s executions in %ss\n' "$t" "$execs" "$seconds"
  else
    echo "  $t: FAILED; last lines of $out/logs/$t.log:"
    grep -v '^#\|^INFO' "$out/logs/$t.log" | tail -25 | sed 's/^/    /'
    echo "  reproduce with: $bin $out/artifacts/${t}-crash-*  (or leak-*/timeout-*/oom-*)"
    return 1
  fi
}

echo "=== fuzz: ${#targets[@]} targets, ${seconds}s each, $jobs at a time"
failed=0
pids=()
names=()
for t in "${targets[@]}"; do
  run_one "$t" &
  pids+=($!)
  names+=("$t")
  if [[ ${#pids[@]} -ge $jobs ]]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || failed=1; done

if [[ $merge == 1 && $failed == 0 ]]; then
  echo "=== fuzz: merging new inputs into fuzz/corpus"
  for t in "${targets[@]}"; do
    "$out/fuzz/${t}_fuzz" -merge=1 "fuzz/corpus/$t" "$out/corpus-new/$t" >"$out/logs/$t.merge.log" 2>&1
    echo "  $t: $(ls "fuzz/corpus/$t" | wc -l) inputs"
  done
fi

if [[ $failed != 0 ]]; then
  echo "=== fuzz: a target failed"
  exit 1
fi
echo "=== fuzz: all targets ran clean"
