#!/usr/bin/env bash
# Compiles every ```cpp block of the README against an installed package:
# each block's #include lines at the top of a file of its own, the rest as
# the body of a function, after readme_host.h (what the examples take from
# the host program). All of them are linked into one program, so every
# function they call is one the shared library exports.
#   readme_examples.sh README.md WORK_DIR COMPILER_FLAGS...
set -euo pipefail
readme=$1
work=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work/readme"
awk -v dir="$work/readme" '
  /^```cpp[ \t]*$/ { inside = 1; n++; includes = dir "/" n ".inc"; body = dir "/" n ".body";
                     printf "" > includes; printf "" > body; next }
  /^```/ && inside { inside = 0; close(includes); close(body); next }
  inside && /^#include/ { print > includes; next }
  inside { print > body }
  END { print n > (dir "/count") }' "$readme"
count=$(cat "$work/readme/count")
[[ $count -gt 0 ]] || { echo "no C++ examples in $readme"; exit 1; }
objects=()
for ((i = 1; i <= count; i++)); do
  src="$work/readme/example$i.cpp"
  {
    cat "$work/readme/$i.inc"
    echo "#include \"readme_host.h\""
    echo "using namespace readme_host;"
    echo "void ReadmeExample$i() {"
    cat "$work/readme/$i.body"
    echo "}"
  } >"$src"
  if ! ${CXX:-c++} -std=c++17 -Wall -Wno-unused-variable -Wno-unused-but-set-variable -I"$here" -c "$src" \
      -o "$work/readme/example$i.o" "$@" 2>"$work/readme/example$i.log"; then
    echo "README C++ example $i does not compile against the installed package:"
    cat -n "$src"
    cat "$work/readme/example$i.log"
    exit 1
  fi
  objects+=("$work/readme/example$i.o")
done
printf 'int main() { return 0; }\n' >"$work/readme/main.cpp"
${CXX:-c++} -std=c++17 "$work/readme/main.cpp" "${objects[@]}" -o "$work/readme/examples" "$@"
echo "README C++ examples: $count compiled and linked"
