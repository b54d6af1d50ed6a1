#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on a copy of its seed corpus in the build folder
# and prints how many inputs each ran. Build the targets first:
#   cmake --workflow --preset fuzz && tests/fuzz/run.sh [SECONDS]
# SECONDS per target (1 to 60) comes from the argument, else SK_FUZZ_SECONDS, else 30. The build
# folder is SK_FUZZ_BUILD, else build-fuzz. New inputs found and any crash stay in
# <build>/fuzz/<target>/; the seeds in tests/fuzz/corpus/ are only read.
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds="${1:-${SK_FUZZ_SECONDS:-30}}"
build="${SK_FUZZ_BUILD:-build-fuzz}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || ((seconds < 1 || seconds > 60)); then
  echo "run.sh: seconds per target must be 1 to 60, not '$seconds'" >&2
  exit 2
fi

status=0
for corpus in tests/fuzz/corpus/*/; do
  target="$(basename "$corpus")"
  fuzzer="$build/tests/fuzz/fuzz-$target"
  if [[ ! -x "$fuzzer" ]]; then
    echo "run.sh: no $fuzzer; build it with: cmake --workflow --preset fuzz" >&2
    exit 2
  fi
  work="$build/fuzz/$target"
  mkdir -p "$work/corpus" "$work/crashes"
  cp "$corpus"* "$work/corpus/"
  log="$work/log"
  echo "fuzz-$target: $seconds s ..."
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$work/corpus" </dev/null >"$log" 2>&1; then
    outcome="no finding"
  else
    outcome="FINDING, see $work/crashes/ and $log"
    status=1
    tail -n 40 "$log" >&2
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")"
  echo "fuzz-$target: ${runs:-?} executions in $seconds s, ${rate:-?} executions/s: $outcome"
done
exit "$status"
