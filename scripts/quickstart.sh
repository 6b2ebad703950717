#!/usr/bin/env bash
# The first hour in one command: installs the dependencies (Debian 12 or 13,
# Ubuntu 24.04; sudo when not root), builds Quarvel, its tool and its Python
# module, then runs the whole loop on shipped files, no camera needed:
#   1. calibrate by looking: a camera frame of the calibration pattern;
#   2. correct points through the calibration it wrote;
#   3. track touches: a short infrared clip of fingers on a surface;
#   4. the same library from Python, straight from the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=build/quickstart
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUARVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"
tool=$build/tools/quarvel
python=/usr/bin/python3

echo
echo "== 1. calibrate by looking: examples/camera-frame.png, a 1280 x 720 camera frame of the pattern on a 1920 x 1080 display =="
"$tool" calibrate --frame examples/camera-frame.png --display 1920x1080 -o "$build/projector.ini" \
  --report "$build/camera-report.jpg"

echo
echo "== 2. camera pixels through it to display pixels =="
points=(0,0 640,360 1279,719)
paste -d' ' <(printf '%s ->\n' "${points[@]}") \
  <("$tool" correct --display 1920x1080 "$build/projector.ini" "${points[@]}")

echo
echo "== 3. track touches: examples/touch-clip.avi, 2 s of an infrared camera with three fingers =="
"$tool" track examples/touch-surface.ini --video examples/touch-clip.avi --json >"$build/touches.json"
# The first frame of each finger, and the last frame (where every contact lifts).
awk '/"state": "down"/ || /"state": "up"/' "$build/touches.json" | cut -c1-240
echo "(every frame is in $build/touches.json)"

echo
echo "== 4. the same from Python, without installing =="
PYTHONPATH=$build/python "$python" - "$build/projector.ini" <<'PY'
import sys
import quarvel
q = quarvel.Quarvel()
q.set_display_size(1920, 1080)
q.read_ini_param(sys.argv[1])
print("quarvel", quarvel.__version__, "- camera (640, 360) ->", q.correct_point((640, 360)))
PY

cat <<TEXT

Where things are:
  the tool        $build/tools/quarvel   (put it on your PATH: export PATH="\$PWD/$build/tools:\$PATH")
  its manual      man $build/tools/quarvel.1
  Python          PYTHONPATH=$build/python $python -c 'import quarvel'
  the calibration $build/projector.ini, its report $build/camera-report.jpg
Install system-wide with: sudo cmake --install $build && sudo ldconfig
TEXT
