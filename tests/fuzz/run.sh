#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from its checked-in seeds, with
# AddressSanitizer and UndefinedBehaviorSanitizer; any crash, leak,
# sanitizer report or broken oracle fails. Prints each target's executions
# and executions per second. Usage: run.sh BUILD_DIR [SECONDS]
set -euo pipefail
build_dir=$1
seconds=${2:-40}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for target in reader_fuzz load_fuzz model_fuzz fit_fuzz paint_fuzz track_fuzz; do
  seeds="$here/seeds/${target%_fuzz}"
  mkdir -p "$work/$target"
  log="$work/$target.log"
  echo "=== fuzzing $target for ${seconds}s ==="
  if ! "$build_dir/tests/fuzz/$target" "$work/$target" "$seeds" \
      -dict="$here/quarvel.dict" -max_total_time="$seconds" -max_len=4096 -timeout=20 \
      -print_final_stats=1 -artifact_prefix="$work/" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz target $target failed"
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  rate=$((runs / seconds))
  note=""
  [[ $rate -ge 1000 ]] || note=" (below 1000 executions a second)"
  echo "$target: $runs executions, $rate/s$note, $cov, no finding"
done
