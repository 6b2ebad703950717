#!/usr/bin/env bash
# Builds the benchmarks (Release), runs them, and prints each ratio against
# its target. Usage: bench/run.sh [BUILD_DIR] [extra Google Benchmark flags]
# The default measures each benchmark 5 times and compares the medians.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build/bench}
shift || true
flags=("$@")
[[ ${#flags[@]} -gt 0 ]] || flags=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DQUARVEL_BENCH=ON -DQUARVEL_BUILD_TESTS=OFF \
  -DQUARVEL_BUILD_TOOLS=ON -DQUARVEL_PYTHON=OFF >/dev/null
cmake --build "$build_dir" -j "$(nproc 2>/dev/null || echo 2)" --target quarvel_bench >/dev/null

# The results as JSON (Google Benchmark's CSV reporter stops at the first
# run whose counters differ from the first run's), then as "name,items/s".
json="$build_dir/bench.json"
csv="$build_dir/bench.csv"
if ! "$build_dir/bench/quarvel_bench" --benchmark_out="$json" --benchmark_out_format=json "${flags[@]}" \
     >"$build_dir/bench.out" 2>"$build_dir/bench.err"; then
  echo "quarvel_bench failed after: $(grep '^BM_' "$build_dir/bench.out" | tail -n 1 | cut -d' ' -f1)" >&2
  tail -n 20 "$build_dir/bench.err" >&2
  exit 1
fi
python3 - "$json" >"$csv" <<'PY'
import json, sys
print("name,items_per_second")
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    print('"%s",%s' % (b["name"], b.get("items_per_second", 0)))
PY
grep -m1 -o 'avx512\|avx2' /proc/cpuinfo >/dev/null 2>&1 && \
  echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'), $(nproc) cores"

# items_per_second of each benchmark (the median where repetitions ran).
awk -F, '
  NR == 1 { for (i = 1; i <= NF; ++i) if ($i == "items_per_second") col = i; next }
  {
    name = $1; gsub(/"/, "", name)
    if (name ~ /_(mean|stddev|cv)$/) next
    sub(/_median$/, "", name)
    ips[name] = $col
  }
  function ratio(slow, fast) { return ips[fast] / ips[slow] }
  function report(label, value, target) {
    printf "%-62s %6.2fx  (target <= %.1fx) %s\n", label, value, target, value <= target ? "met" : "NOT MET"
  }
  END {
    sizes["640/480"] = 1000; sizes["1280/720"] = 400
    for (n in ips) printf "%-40s %14.3f M items/s\n", n, ips[n] / 1e6 | "sort"
    close("sort")
    print ""
    report("CorrectPoints (full chain) vs cv::perspectiveTransform, per point", \
           ratio("BM_CorrectPointsBatch", "BM_OpenCvPerspectiveTransform"), 1.0)
    report("CorrectPoints with a lens stage vs without it (same calibration)", \
           ratio("BM_CorrectPointsLensStage", "BM_CorrectPointsPlainSameCalibration"), 1.3)
    printf "%-62s %6.0f ms\n", "Lens stage tables, built once per load (1680x1050 camera)", \
           1000 / ips["BM_LensStageTable/iterations:3"]
    report("CorrectPoint one by one vs the batch scalar fallback", \
           ratio("BM_CorrectPointPerPoint", "BM_CorrectPointsScalarFallback"), 1.3)
    report("First painting of a 1680x1050 source vs cv::remap 1680x1050", \
           ratio("BM_PaintPreview/1680/1050", "BM_OpenCvRemap"), 1.5)
    report("Repeated painting (same calibration) vs cv::remap 1680x1050", \
           ratio("BM_PaintPreviewRepeat/1680/1050", "BM_OpenCvRemap"), 0.5)
    fps = ips["BM_LivePreview/1280/720"]
    printf "%-62s %6.0f fps (target >= 60 fps) %s\n", "Live preview of 1280x720 frames, one core", fps, (fps >= 60 ? "met" : "NOT MET")
    printf "%-62s %6.0f fps\n", "Filled (hole-free) preview, cached map", ips["BM_FilledPreviewRepeat"]
    ms = 1000 / ips["BM_FitCalibration/25"]
    printf "%-62s %6.1f ms (target <= 50 ms) %s\n", "Fitting a calibration to 25 pairs", ms, (ms <= 50 ? "met" : "NOT MET")
    for (size in sizes) {
      fps = ips["BM_TrackFrame/" size]
      printf "%-62s %6.0f fps (target >= %d fps) %s\n", "Tracking 10 fingers in " size " frames, one core", fps, sizes[size], (fps >= sizes[size] ? "met" : "NOT MET")
    }
    report("A frame of 1600 3x3 specks vs a clean frame (10 fingers, 640x480)", \
           ratio("BM_TrackSpeckStorm/640/480/1600/3", "BM_TrackFrame/640/480"), 3.0)
    report("A frame of 4800 single-pixel specks vs a clean frame", \
           ratio("BM_TrackSpeckStorm/640/480/4800/1", "BM_TrackFrame/640/480"), 3.0)
    us = 1e6 / ips["BM_FuseFourCameras"]
    printf "%-62s %6.1f us (target <= 100 us) %s\n", "Fusing 20 contacts from 4 cameras, one frame", us, (us <= 100 ? "met" : "NOT MET")
    printf "%-62s %6.0f loads/s\n", "ReadIniParam of the example file, with the load report", ips["BM_ReadIniParam"]
    split(",BM_LoadDisplayNamingNoServer,BM_LoadAgainstAGoneServer", loads, ",")
    split(",a DISPLAY naming no server,a killed X server (its socket left)", what, ",")
    for (i = 2; i <= 3; ++i) {
      ms = 1000 / ips[loads[i]]
      printf "%-62s %6.3f ms (target <= 2 ms) %s, %.1fx a load asking nothing\n", "A load with " what[i], ms, \
             (ms <= 2 ? "met" : "NOT MET"), ratio(loads[i], "BM_LoadWithHostDisplay")
    }
    if ("BM_CalibrateFrameProcess/1920/1080/iterations:3/real_time" in ips) {
      s = 1 / ips["BM_CalibrateFrameProcess/1920/1080/iterations:3/real_time"]
      printf "%-62s %6.2f s  (target <= 2 s) %s\n", "calibrate --frame on a 1920x1080 frame, whole process", s, (s <= 2 ? "met" : "NOT MET")
    }
    printf "%-62s %6.2fx\n", "The chain on Google Highway vs the hand-written kernel (time)", \
           ratio("BM_CorrectPointsBatchHighway", "BM_CorrectPointsBatchKernel")
    printf "%-62s %6.2fx\n", "Batch speed-up over CorrectPoint one by one", \
           ratio("BM_CorrectPointPerPoint", "BM_CorrectPointsBatch")
  }' "$csv"
