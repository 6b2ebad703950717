#!/usr/bin/env bash
# Builds Quarvel with GCC and with Clang, warnings as errors, and runs the
# whole test suite (X server tests included) for each.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {
  local name=$1 cxx=$2
  local dir=build/test-$name
  echo "=== $name: configure and build ==="
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$cxx" \
    -DQUARVEL_WERROR=ON >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "=== $name: tests ==="
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_suite gcc g++
run_suite clang clang++
