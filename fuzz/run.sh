#!/usr/bin/env bash
# Runs every built fuzz target for a bounded time, starting from its committed
# seed corpus, a few at a time. Fails when any target finds a crash, a leak,
# a timeout or a broken invariant; the input that did it is kept under
# <build>/fuzz-artifacts/<target>/.
#   fuzz/run.sh [build-dir]     FUZZ_SECONDS (per target), FUZZ_JOBS
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_JOBS:-2}
logs=$build/fuzz-logs
mkdir -p "$logs"

targets=()
for exe in "$build"/fuzz/fuzz_*; do
  [[ -x "$exe" && -f "$exe" ]] && targets+=("$exe")
done
if ((${#targets[@]} == 0)); then
  echo "fuzz: no targets in $build/fuzz" >&2
  exit 1
fi

run_one() {
  local exe=$1 name
  name=$(basename "$exe")
  mkdir -p "fuzz/corpus-work/$name" "fuzz/corpus/$name" \
    "$build/fuzz-artifacts/$name"
  # -timeout: an input that takes this long counts as a hang.
  "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 \
    -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$name/" \
    "fuzz/corpus-work/$name" "fuzz/corpus/$name" >"$logs/$name.log" 2>&1
  echo $? >"$logs/$name.rc"
}

echo "fuzz: ${#targets[@]} targets, ${seconds}s each, $jobs at a time"
running=0
for exe in "${targets[@]}"; do
  run_one "$exe" &
  running=$((running + 1))
  if ((running >= jobs)); then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-28s %12s %8s  %s\n' target executions corpus result
for exe in "${targets[@]}"; do
  name=$(basename "$exe")
  rc=$(cat "$logs/$name.rc" 2>/dev/null || echo 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$logs/$name.log" | tail -1)
  corpus=$(ls "fuzz/corpus-work/$name" | wc -l)
  if [[ "$rc" == 0 ]]; then
    result=ok
  else
    result="FAILED (rc $rc, log $logs/$name.log)"
    failed=$((failed + 1))
  fi
  printf '%-28s %12s %8s  %s\n' "$name" "${execs:-?}" "$corpus" "$result"
done
if ((failed)); then
  for exe in "${targets[@]}"; do
    name=$(basename "$exe")
    if [[ "$(cat "$logs/$name.rc" 2>/dev/null)" != 0 ]]; then
      echo "---- $name"
      grep -v '^#\|^INFO\|^MS:\|^stat::' "$logs/$name.log" | tail -40
    fi
  done
  echo "fuzz: $failed of ${#targets[@]} targets failed"
  exit 1
fi
echo "fuzz: all ${#targets[@]} targets clean"
