#!/usr/bin/env bash
# Builds the Release tree and runs the main job on FILE (the bundled demo by default):
#   ./run.sh [FILE] [-o OUT]
set -euo pipefail
cd "$(dirname "$0")"

file=samples/demo.ntf
out=
while [ $# -gt 0 ]; do
  case "$1" in
    -o) out="${2:?-o needs a file name}"; shift 2 ;;
    -h|--help) echo "usage: ./run.sh [FILE] [-o OUT]"; exit 0 ;;
    *) file="$1"; shift ;;
  esac
done

scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKVNTF_TESTS=OFF >/dev/null
cmake --build build/release -j"$(nproc)" --target nitf >/dev/null

# Until rendering exists, the main job shows what the file holds.
if [ -n "$out" ]; then
  build/release/bin/nitf info "$file" >"$out"
  echo "run: wrote the file header of $file to $out"
else
  build/release/bin/nitf info "$file"
fi
