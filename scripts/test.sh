#!/usr/bin/env bash
# The whole test suite, in stages:
#   gcc       GCC build, warnings as errors, every test (X server tests under
#             Xvfb, the tool from an installed prefix, outside consumers)
#   asan      Clang build, warnings as errors, every test again under
#             AddressSanitizer + UndefinedBehaviorSanitizer (float-to-int
#             overflow included), every report fatal
#   tsan      every test that starts threads (the suites named *Threads:
#             one model, one instance, one preview from several threads, and
#             loads on two threads against an Xvfb of their own, the
#             status server and the frame grabber) under ThreadSanitizer
#   coverage  GCC coverage build, every test, gcovr line/branch summary
#   fuzz      each libFuzzer target for QUARVEL_FUZZ_SECONDS (default 40)
#   bench     builds the benchmarks and runs each once, briefly, with the
#             ratio report (bench/run.sh measures properly)
# Usage: scripts/test.sh [stage ...]   (default: all, in that order)
#
# A stage that fails is named at once; the stages after it still run. At
# the end each stage is listed as passed or failed (with the tests that
# failed), and the exit status is non-zero when any stage failed.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
stages=("$@")
[[ ${#stages[@]} -gt 0 ]] || stages=(gcc asan tsan coverage fuzz bench)
for stage in "${stages[@]}"; do
  [[ $stage =~ ^(gcc|asan|tsan|coverage|fuzz|bench)$ ]] ||
    { echo "test.sh: no stage '$stage' (stages: gcc asan tsan coverage fuzz bench)" >&2; exit 2; }
done
# What each stage's tests came to, written by run_ctest (stages run in
# subshells of their own).
tally=$(mktemp)
trap 'rm -f "$tally"' EXIT

configure() {  # dir, cmake args...
  local dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON "$@" >/dev/null
}

run_ctest() {  # dir [ctest arguments]
  local log dir=$1 total failed status=0
  shift
  log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log" || status=1
  # ctest's pipeline status is tee's; read ctest's own verdict.
  total=$(grep -o 'tests failed out of [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$' || echo 0)
  failed=$(grep -o '[0-9]* tests failed out of' "$log" | tail -n 1 | grep -o '^[0-9]*' || echo 0)
  grep -q '^100% tests passed' "$log" || status=1
  echo "tests $((total - failed)) $failed" >>"$tally"
  sed -n '/^The following tests FAILED:/,$p' "$log" | grep -E '^[[:space:]]+[0-9]+ - ' >>"$tally.failed" || true
  rm -f "$log"
  return "$status"
}

stage_gcc() {
  configure build/test-gcc -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
  cmake --build build/test-gcc -j "$jobs"
  run_ctest build/test-gcc
}

stage_asan() {
  configure build/test-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUARVEL_SANITIZE=address
  cmake --build build/test-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest build/test-asan
}

stage_tsan() {
  configure build/test-tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUARVEL_SANITIZE=thread
  cmake --build build/test-tsan -j "$jobs" --target quarvel_tests quarvel_x_server_tests quarvel_service_tests
  # Every suite whose tests start threads is named *Threads.
  TSAN_OPTIONS=halt_on_error=1:suppressions=$PWD/tests/sanitizers/tsan.supp run_ctest build/test-tsan -R 'Threads\.'
}

stage_coverage() {
  configure build/test-coverage -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DQUARVEL_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug
  cmake --build build/test-coverage -j "$jobs"
  find build/test-coverage -name '*.gcda' -delete
  run_ctest build/test-coverage
  echo "=== coverage of src/ and include/ ==="
  gcovr -r . --filter 'src/' --filter 'include/' --exclude-unreachable-branches --exclude-throw-branches \
    --print-summary --fail-under-line 90 --fail-under-branch 80 -o build/test-coverage/coverage.txt \
    build/test-coverage
}

stage_fuzz() {
  configure build/test-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUARVEL_FUZZ=ON -DQUARVEL_BUILD_TOOLS=OFF
  cmake --build build/test-fuzz -j "$jobs" --target reader_fuzz load_fuzz model_fuzz fit_fuzz paint_fuzz track_fuzz
  bash tests/fuzz/run.sh build/test-fuzz "${QUARVEL_FUZZ_SECONDS:-40}"
}

stage_bench() {
  bash bench/run.sh build/test-bench --benchmark_min_time=0.05
}

results=()
failures=0
for stage in "${stages[@]}"; do
  echo "=== stage: $stage ==="
  start=$SECONDS
  rm -f "$tally.failed"
  set +e
  (set -e; "stage_$stage")
  status=$?
  set -e
  if [[ $status -eq 0 ]]; then
    echo "=== stage $stage passed in $((SECONDS - start))s ==="
    results+=("passed  $stage ($((SECONDS - start)) s)")
  else
    failures=$((failures + 1))
    echo "=== stage $stage FAILED (exit $status) after $((SECONDS - start))s; going on with the others ==="
    results+=("FAILED  $stage ($((SECONDS - start)) s)")
    if [[ -s $tally.failed ]]; then
      while IFS= read -r line; do results+=("          $line"); done <"$tally.failed"
    fi
  fi
done
rm -f "$tally.failed"
passed=$(awk '$1 == "tests" { p += $2 } END { print p + 0 }' "$tally")
failed=$(awk '$1 == "tests" { f += $3 } END { print f + 0 }' "$tally")
echo
echo "=== summary ==="
printf '%s\n' "${results[@]}"
echo "tests: $passed passed, $failed failed"
if [[ $failures -gt 0 ]]; then
  echo "$failures of ${#stages[@]} stages failed"
  exit 1
fi
echo "all ${#stages[@]} stages passed"
