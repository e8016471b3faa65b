#!/usr/bin/env bash
# Benchmarks (not tests): builds the Release tree, writes the benchmark files (once) and
# times `nitf render` on each, beside GDAL's gdal_translate -of PNM on the same files
# and the limits the hardware and the codecs set, measured in the same run:
#   bench/run.sh [RUNS]        (RUNS timed runs per figure, 5 by default)
# KVNTF_BENCH_BIN=DIR times the nitf in DIR instead (a copy of an older build, with its
# libraries in DIR/../lib), for a before-and-after comparison in one sitting.
# Every figure is the median of RUNS wall-clock times, with the fastest and slowest run;
# peak memory is the largest "Maximum resident set size" /usr/bin/time -v reports.
# Files and outputs stay in build/release/bench. Timings on a shared machine are noisy:
# compare figures taken in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
scripts/install-deps.sh
as_root() { [ "$(id -u)" -eq 0 ]; }
install_if_missing() {  # COMMAND PACKAGE
  command -v "$1" >/dev/null 2>&1 && return 0
  as_root || return 1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$2" \
    >/tmp/kvntfu-bench-apt.log 2>&1 || return 1
}
install_if_missing /usr/bin/time time || { echo "bench: /usr/bin/time is needed (apt-get install time)" >&2; exit 1; }
gdal=yes
install_if_missing gdal_translate gdal-bin || gdal=
djpeg=yes
install_if_missing djpeg libjpeg-turbo-progs || djpeg=

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKVNTF_TESTS=OFF -DKVNTF_BENCH=ON >/dev/null
cmake --build build/release -j"$(nproc)" --target nitf nitf-make-bench nitf-jpeg-blocks >/dev/null
out=build/release/bench
mkdir -p "$out/tmp"
build/release/bin/nitf-make-bench "$out" >/dev/null
tools=build/release/bin
bin=${KVNTF_BENCH_BIN:-$tools}

# measure NAME COMMAND...: RUNS timed runs; sets median, low, high (seconds) and peak (MiB).
measure() {
  local name=$1 times=() t0 t1 kb
  peak=0
  shift
  "$@" >/dev/null 2>&1 || { echo "bench: $name failed: $*" >&2; return 1; }  # warm-up
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    /usr/bin/time -v -o "$out/tmp/time.txt" "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=("$(( (t1 - t0) / 1000000 ))")
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$out/tmp/time.txt")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  mapfile -t sorted < <(printf '%s\n' "${times[@]}" | sort -n)
  median=$(awk -v v="${sorted[$(( ${#sorted[@]} / 2 ))]}" 'BEGIN {printf "%.3f", v / 1000}')
  low=$(awk -v v="${sorted[0]}" 'BEGIN {printf "%.3f", v / 1000}')
  high=$(awk -v v="${sorted[-1]}" 'BEGIN {printf "%.3f", v / 1000}')
  peak=$(( peak / 1024 ))
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }

files=(nc_8192_mono nc_8192_rgb_b512 nc_8192_rgb_p512 c3_8192_rgb_512 c8_4096_rgb nc_4096_mono16)
rows=()
for name in "${files[@]}"; do
  f="$out/$name.ntf"
  case "$name" in
    *mono*) bpp=8 ext=pgm bytes=1 ;;
    *) bpp=24 ext=ppm bytes=3 ;;
  esac
  size=$("$bin/nitf" render "$f" --discard --bpp "$bpp" | sed -n 's/.*(\([0-9]*\) x \([0-9]*\)).*/\1 \2/p')
  canvas=$(awk -v s="$size" -v b="$bytes" 'BEGIN {split(s, d, " "); printf "%.0f", d[1] * b * d[2] / 1048576}')

  measure discard "$bin/nitf" render "$f" --discard --bpp "$bpp"
  discard=$median discard_spread="$low-$high" discard_peak=$peak
  measure output "$bin/nitf" render "$f" --bpp "$bpp" -o "$out/tmp/ours.$ext"
  write=$median write_spread="$low-$high" write_peak=$peak
  gdal_time=- gdal_spread=- gdal_ratio=-
  if [ -n "$gdal" ]; then
    measure gdal gdal_translate -q -of PNM "$f" "$out/tmp/gdal.$ext"
    gdal_time=$median gdal_spread="$low-$high" gdal_ratio=$(ratio "$write" "$gdal_time")
    rm -f "$out/tmp/gdal.$ext" "$out/tmp/gdal.$ext.aux.xml"
  fi
  rm -f "$out/tmp/ours.$ext"
  # The limit: the file's bytes from a warm cache; for the JPEG file, libjpeg-turbo
  # decoding the same blocks in one process (and djpeg run once per block).
  measure cat cat "$f"
  limit=$median limit_what="cat $limit"
  if [ "$name" = c3_8192_rgb_512 ]; then
    decode=()
    for _ in $(seq "$runs"); do decode+=("$("$tools/nitf-jpeg-blocks" "$f")"); done
    limit=$(printf '%s\n' "${decode[@]}" | sort -n | sed -n "$(( runs / 2 + 1 ))p")
    limit_what="libjpeg $limit"
    if [ -n "$djpeg" ]; then
      rm -rf "$out/c3_blocks" && mkdir -p "$out/c3_blocks"
      "$tools/nitf-jpeg-blocks" "$f" "$out/c3_blocks" >/dev/null
      measure djpeg sh -c "for b in '$out'/c3_blocks/*.jpg; do djpeg -outfile /dev/null \"\$b\"; done"
      limit_what="$limit_what, djpeg $median"
    fi
  fi
  rows+=("$(printf '%-17s %6s | %6s %-13s %6s %-13s | %6s %-13s %5s | %5s %5s | %-27s %5s' \
    "$name" "$canvas" "$discard" "($discard_spread)" "$write" "($write_spread)" \
    "$gdal_time" "($gdal_spread)" "$gdal_ratio" "$discard_peak" "$(ratio "$discard_peak" "$canvas")" \
    "$limit_what" "$(ratio "$discard" "$limit")")")
done

echo "Kvntfu render benchmark: $runs runs per figure, median (fastest-slowest) in seconds, $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')"
[ -n "$gdal" ] && echo "GDAL: $(gdal_translate --version)"
printf '%-17s %6s | %6s %-13s %6s %-13s | %6s %-13s %5s | %5s %5s | %-27s %5s\n' \
  file canvas discard "" "-o pnm" "" gdal "" ratio peak "xcnv" "limit (s)" "x lim"
printf '%-17s %6s | %6s %-13s %6s %-13s | %6s %-13s %5s | %5s %5s | %-27s %5s\n' \
  "" MiB s "" s "" s "" "ours/" MiB "" "" "disc/"
printf '%s\n' "${rows[@]}"
echo "ratio: nitf render -o (PPM/PGM) over gdal_translate -of PNM; peak: of --discard;"
echo "x lim: --discard over the limit (cat of the file from a warm cache; for C3, libjpeg-turbo"
echo "decoding the file's 256 blocks in one process)."
