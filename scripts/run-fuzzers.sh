#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for the given seconds each, from its seed corpus when
# it has one, and prints how many executions each made and how many per second. A crash fails
# the run.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-15}
status=0
for target in $(find "$build/fuzz" -type f -name 'fuzz_*' -perm -u+x | sort); do
  name=$(basename "$target")
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$build/fuzz-seeds/$name" ] && seeds=("$build/fuzz-seeds/$name")
  echo "-- $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "${seeds[@]}" \
      >"$build/$name.log" 2>&1; then
    tail -n 40 "$build/$name.log"
    status=1
  else
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$name.log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$build/$name.log")
    echo "$name: ${runs:-?} executions, ${rate:-?} per second"
  fi
done
exit $status
