#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer), makes their seed corpora and runs each for SECONDS
# (default 60), one after another. Prints executions, executions per second and coverage
# per harness, copies every crash, leak, timeout or out-of-memory input to
# fuzz/out/findings/ and exits 1 when a run found one. A unit is a timeout after 30 s:
# the harnesses may share two cores with other work, and a normal unit takes milliseconds.
#
#   scripts/fuzz.sh [SECONDS]
#   KVNTF_FUZZ_PARALLEL=1     run the harnesses at the same time (one process each)
#   KVNTF_FUZZ_TARGETS="document cgm"   a subset of: document info load render region cgm tre roundtrip append
#   KVNTF_FUZZ_BUILD=DIR      the build tree (default build/fuzz)
#   KVNTF_FUZZ_JOBS=N         build parallelism (default 2)
#
# The growing corpora stay in fuzz/out/corpus/HARNESS (git-ignored), so a later run
# starts where the last one ended.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-60}
targets=${KVNTF_FUZZ_TARGETS:-document info load render region cgm tre roundtrip append}
build=${KVNTF_FUZZ_BUILD:-build/fuzz}
jobs=${KVNTF_FUZZ_JOBS:-2}
samples=${NITF_SAMPLES:-$root/../shared/samples}
more_samples=$(dirname "$samples")/more-samples
out=$root/fuzz/out
# Seeds above this size make every execution slow; the small samples cover the same
# readers.
max_len=131072

# clang and its sanitizer and libFuzzer runtimes.
need=()
command -v clang++ >/dev/null || need+=(clang)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q 'install ok installed' ||
  need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "fuzz: missing packages: ${need[*]} (run as root or apt-get install -y ${need[*]})" >&2
    exit 1
  fi
  echo "fuzz: installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${need[@]}"; } \
    >/tmp/kvntfu-fuzz-apt.log 2>&1; then
    echo "fuzz: apt-get could not install ${need[*]} (log: /tmp/kvntfu-fuzz-apt.log)" >&2
    exit 1
  fi
fi
scripts/install-deps.sh

echo "fuzz: building $build" >&2
mkdir -p "$out/logs"
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVNTF_FUZZ=ON \
  -DKVNTF_TESTS=OFF >"$out/logs/build.log" 2>&1 || {
  tail -n 30 "$out/logs/build.log" >&2
  exit 1
}
targets_to_build=()
for t in $targets; do targets_to_build+=("fuzz_$t"); done
cmake --build "$build" -j"$jobs" --target "${targets_to_build[@]}" >>"$out/logs/build.log" 2>&1 || {
  tail -n 30 "$out/logs/build.log" >&2
  exit 1
}

# Seeds: the real samples and the demo file (small ones), every file kept in
# tests/corpus, for the CGM reader the data of every graphic segment among them, and
# for the TRE dictionary every TRE among them (tag and data).
rm -rf "$out/seeds"
mkdir -p "$out/seeds/nitf" "$out/seeds/cgm" "$out/seeds/tre" "$out/seeds/edit" "$out/findings"
nitf_files=()
if [ -d "$samples" ]; then
  while IFS= read -r f; do nitf_files+=("$f"); done < <(find "$samples" "$more_samples" -type f \
    \( -iname '*.ntf' -o -iname '*.nitf' -o -iname '*.nsf' -o -iname '*.on?' -o -iname '*.toc' \) -size -"$((max_len / 1024))"k | sort)
else
  echo "fuzz: no samples at $samples (set NITF_SAMPLES); seeding from the demo file only" >&2
fi
nitf_files+=("$root/samples/demo.ntf")
for f in "${nitf_files[@]}"; do cp "$f" "$out/seeds/nitf/$(basename "$(dirname "$f")")_$(basename "$f")"; done
for f in tests/corpus/*; do
  case "$f" in
    *.cgm) cp "$f" "$out/seeds/cgm/" ;;
    *.ntf) cp "$f" "$out/seeds/nitf/" ;;
  esac
done
python3 fuzz/extract_cgm.py "$out/seeds/cgm" "${nitf_files[@]}" >/dev/null
python3 fuzz/extract_tres.py "$out/seeds/tre" "${nitf_files[@]}" >/dev/null
# For the edit harness every NITF seed behind edit scripts of a fixed random choice (the
# first byte: extended reading and the script's length), and scripts on a new document.
python3 - "$out/seeds/nitf" "$out/seeds/edit" <<'PY'
import os, random, sys
source, target = sys.argv[1:]
rng = random.Random(7)
def script(n):
    return bytes([rng.randrange(2) | n << 1]) + bytes(rng.randrange(256) for _ in range(n))
for name in sorted(os.listdir(source)):
    data = open(os.path.join(source, name), 'rb').read()
    for k in range(3):
        open(os.path.join(target, '%s.%d' % (name, k)), 'wb').write(script(rng.randrange(8, 128)) + data)
for k in range(16):
    open(os.path.join(target, 'new.%d' % k), 'wb').write(script(rng.randrange(8, 128)))
PY

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local t=$1 seeds=$out/seeds/nitf
  [ "$t" = cgm ] && seeds=$out/seeds/cgm
  [ "$t" = tre ] && seeds=$out/seeds/tre
  [ "$t" = append ] && seeds=$out/seeds/edit
  mkdir -p "$out/corpus/$t" "$out/artifacts/$t"
  "$build/bin/fuzz_$t" "$out/corpus/$t" "$seeds" -dict="$root/fuzz/nitf.dict" \
    -max_total_time="$seconds" -max_len=$max_len -timeout=30 -report_slow_units=30 \
    -rss_limit_mb=2560 \
    -artifact_prefix="$out/artifacts/$t/" -print_final_stats=1 \
    >"$out/logs/$t.log" 2>&1
}

marker=$(mktemp)
declare -A status
if [ "${KVNTF_FUZZ_PARALLEL:-0}" = 1 ]; then
  declare -A pids
  for t in $targets; do
    echo "fuzz: $t for ${seconds}s (log fuzz/out/logs/$t.log)" >&2
    run_one "$t" &
    pids[$t]=$!
  done
  for t in $targets; do
    if wait "${pids[$t]}"; then status[$t]=0; else status[$t]=$?; fi
  done
else
  for t in $targets; do
    echo "fuzz: $t for ${seconds}s (log fuzz/out/logs/$t.log)" >&2
    if run_one "$t"; then status[$t]=0; else status[$t]=$?; fi
  done
fi

# The summary and the findings of this run.
failed=0
printf '\n%-10s %12s %10s %8s %8s %8s  %s\n' harness executions 'exec/s' cov ft corpus result
for t in $targets; do
  log=$out/logs/$t.log
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+' "$log" | grep -E ' cov: ' | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corp=$(sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p' <<<"$last")
  result=ok
  found=()
  while IFS= read -r a; do found+=("$a"); done < <(find "$out/artifacts/$t" -type f -newer "$marker" ! -name 'slow-unit-*')
  if [ ${#found[@]} -gt 0 ] || [ "${status[$t]}" -ne 0 ]; then
    result="FOUND (exit ${status[$t]})"
    failed=1
    for a in "${found[@]}"; do
      cp "$a" "$out/findings/${t}-$(basename "$a")"
      result+=" fuzz/out/findings/${t}-$(basename "$a")"
    done
  fi
  printf '%-10s %12s %10s %8s %8s %8s  %s\n' "$t" "${execs:-?}" "${rate:-?}" "${cov:-?}" \
    "${ft:-?}" "${corp:-?}" "$result"
done
rm -f "$marker"
if [ $failed -ne 0 ]; then
  echo "fuzz: findings above; the logs are in fuzz/out/logs/" >&2
  exit 1
fi
