#!/usr/bin/env bash
# Builds build/coverage with gcc's --coverage (no sanitizers), runs every test and prints
# the line coverage of common/ and host/ (gcovr). The export test is left out: gcov's
# runtime adds exports of its own to the library. The per-file figures are in
# build/coverage/coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x scripts/install-deps.sh ] && scripts/install-deps.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build/coverage -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" \
  -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build build/coverage -j"$(nproc)" >/dev/null
find build/coverage -name '*.gcda' -delete
export GDAL_PAM_ENABLED=NO  # no NAME.aux.xml beside the samples
status=0
(cd build/coverage && ctest -j"$(nproc)" --timeout 900 -E ExportsOnlyTheApi >ctest.log 2>&1) ||
  status=$?
[ $status -eq 0 ] || { echo "coverage: some tests failed (build/coverage/ctest.log)" >&2; tail -n 30 build/coverage/ctest.log >&2; }
# Counters updated from several threads at once (the Python tests read on many) can come
# out negative, which gcov prints and gcovr cannot parse: such a line is skipped.
gcovr_flags=(-r . --object-directory build/coverage --gcov-ignore-parse-errors)
for part in common host; do
  printf '%-8s ' "$part/"
  # gcovr removes and recreates its output file, so it never writes to /dev/null.
  gcovr "${gcovr_flags[@]}" --filter "$part/" --exclude-unreachable-branches \
    --print-summary -o "build/coverage/$part.txt" 2>/dev/null | grep '^lines:'
done
printf '%-8s ' "both"
gcovr "${gcovr_flags[@]}" --filter common/ --filter host/ --print-summary \
  -o build/coverage/coverage.txt 2>/dev/null | grep '^lines:'
exit $status
