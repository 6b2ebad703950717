#!/usr/bin/env bash
# Installs the built library into a temporary prefix, then builds and runs a
# program outside the tree against it twice: through the CMake package and
# through pkg-config.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
unset DISPLAY

cmake -S "$source_dir" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
out=$("$work/cmake-build/consumer" "$work")
echo "find_package consumer: $out"
[[ $out == "14 8"* ]]

pcdir=$(dirname "$(find "$work/prefix" -name quarvel.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs quarvel)
libdir=$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir quarvel)
${CXX:-c++} -std=c++17 "$source_dir/main.cpp" $flags -o "$work/pc-consumer"
out=$(LD_LIBRARY_PATH="$libdir" "$work/pc-consumer" "$work")
echo "pkg-config consumer: $out"
[[ $out == "14 8"* ]]
