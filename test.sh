#!/usr/bin/env bash
# Builds the Debug tree with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test, then the threads test in a ThreadSanitizer tree of its own (build/tsan).
# With CI set (as in CI) it then runs each fuzz harness for a minute, all at once so
# the run takes one minute of the CI's time, and a regression a fuzzer finds fails the
# build.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
# ccache, where installed, makes rebuilds of unchanged sources nearly free.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build/debug -DCMAKE_BUILD_TYPE=Debug -DKVNTF_SANITIZE=ON "${launcher[@]}" >/dev/null
cmake --build build/debug -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
# Fontconfig's first font lookup keeps a little memory until exit; see the file.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# GDAL, the tests' oracle, must not leave NAME.aux.xml files beside the samples.
export GDAL_PAM_ENABLED=NO
(cd build/debug && ctest --output-on-failure -j"$(nproc)" --timeout 900)
# Documents on many threads, in a tree of their own built with ThreadSanitizer: the two
# libraries and the one test only. A report fails the run.
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DKVNTF_TSAN=ON -DKVNTF_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build build/tsan -j"$(nproc)" --target kvntfu_threads
TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:suppressions=$PWD/tests/tsan.supp} build/tsan/bin/kvntfu_threads
# The install, the Debian package and applications built against them outside the tree.
scripts/check_package.sh
if [ -n "${CI:-}" ]; then
  KVNTF_FUZZ_PARALLEL=${KVNTF_FUZZ_PARALLEL:-1} scripts/fuzz.sh "${KVNTF_CI_FUZZ_SECONDS:-60}"
fi
