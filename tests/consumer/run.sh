#!/usr/bin/env bash
# Installs the built library into a temporary prefix, then builds and runs
# programs outside the tree against it: a consumer through the CMake package
# and through pkg-config, and the shipped example host.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
examples_dir=$(cd "$source_dir/../../examples" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
unset DISPLAY WAYLAND_DISPLAY

cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
out=$("$work/cmake-build/consumer" "$work")
echo "find_package consumer: $out"
[[ $out == "14 8"* ]]

pcdir=$(dirname "$(find "$work/prefix" -name quarvel.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs quarvel)
libdir=$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir quarvel)

# Every public header is installed, and each compiles on its own.
include_dir=$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=includedir quarvel)/quarvel
for header in "$source_dir"/../../include/quarvel/*.h; do
  name=$(basename "$header")
  [[ -f $include_dir/$name ]] || { echo "public header $name is not installed"; exit 1; }
done
for header in "$include_dir"/*.h; do
  printf '#include <quarvel/%s>\n' "$(basename "$header")" >"$work/one-header.cpp"
  ${CXX:-c++} -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only "$work/one-header.cpp" $flags ||
    { echo "quarvel/$(basename "$header") does not compile on its own"; exit 1; }
done
echo "public headers: $(ls "$include_dir"/*.h | wc -l) installed, each compiles on its own"
"$source_dir/readme_examples.sh" "$source_dir/../../README.md" "$work" $flags
${CXX:-c++} -std=c++17 "$source_dir/main.cpp" $flags -o "$work/pc-consumer"
out=$(LD_LIBRARY_PATH="$libdir" "$work/pc-consumer" "$work")
echo "pkg-config consumer: $out"
[[ $out == "14 8"* ]]

cmake -S "$examples_dir/host" -B "$work/host-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/host-build" >/dev/null
out=$("$work/host-build/quarvel_host" "$examples_dir/calibration.ini" 640 360 0 0)
echo "example host: $out"
tool="$work/prefix/bin/quarvel"
if [[ -x $tool ]]; then
  expected=$("$tool" correct "$examples_dir/calibration.ini" 640,360 0,0)
  [[ $out == "640 360 -> $(sed -n 1p <<<"$expected")"$'\n'"0 0 -> $(sed -n 2p <<<"$expected")" ]]
fi

# The man page, and the Python module for Debian's interpreter.
[[ -f "$work/prefix/share/man/man1/quarvel.1" ]] || { echo "quarvel.1 not installed"; exit 1; }
module=$(find "$work/prefix" -name 'quarvel*.so' -path '*packages*' | head -n 1)
if [[ -n $module ]]; then
  out=$(cd / && PYTHONPATH=$(dirname "$module") /usr/bin/python3 -c \
    "import quarvel, numpy; q = quarvel.Quarvel('$examples_dir/calibration.ini'); print(q.correct_points(numpy.array([[640, 360]]))[0].tolist())")
  echo "installed python module: $out"
  [[ $out == "[$(sed -n 1p <<<"$expected" | tr ' ' ',' | sed 's/,/, /')]" ]]
fi
