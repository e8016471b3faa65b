#!/usr/bin/env bash
# Builds the Release tree and renders FILE (the bundled demo by default) to a PNG:
#   ./run.sh [FILE] [-o OUT]
# OUT defaults to build/release/demo.png for the demo, and to FILE's name with .png in
# the current directory for a file of your own. Relative names are taken from the
# directory you run the script in.
set -euo pipefail
here="$(pwd)"
cd "$(dirname "$0")"

absolute() { case "$1" in /*) echo "$1" ;; *) echo "$here/$1" ;; esac; }

file=
out=
while [ $# -gt 0 ]; do
  case "$1" in
    -o) out="$(absolute "${2:?-o needs a file name}")"; shift 2 ;;
    -h|--help) echo "usage: ./run.sh [FILE] [-o OUT]"; exit 0 ;;
    *) file="$(absolute "$1")"; shift ;;
  esac
done
if [ -z "$file" ]; then
  file="$(pwd)/samples/demo.ntf"
  out="${out:-$(pwd)/build/release/demo.png}"
else
  name="$(basename "$file")"
  out="${out:-$here/${name%.*}.png}"
fi

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKVNTF_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target nitf >/dev/null

build/release/bin/nitf render "$file" -o "$out"
echo "run: the picture of $file is in $out"
