#!/bin/bash
# Runs every libFuzzer target of a fuzz build for the given number of seconds each.
set -uo pipefail
build="${1:-build-fuzz}"
seconds="${2:-30}"
status=0
shopt -s nullglob
for fuzzer in "$build"/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus="$build/fuzz-corpus/$name"
  log="$build/fuzz-corpus/$name.log"
  mkdir -p "$corpus"
  echo "== $name ($seconds s)"
  if "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$corpus" > "$log" 2>&1; then
    grep -E 'stat::number_of_executed_units' "$log"
  else
    echo "!! $name found a fault:"; grep -A20 -E 'ERROR|SUMMARY' "$log" | head -40
    status=1
  fi
done
exit $status
