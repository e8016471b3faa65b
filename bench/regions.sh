#!/usr/bin/env bash
# Benchmarks of regions, overviews and tiles (not tests), ours beside GDAL in one run, on
# the 16384-pixel files (nitf-make-bench DIR --large):
#   bench/regions.sh [RUNS]      RUNS timed runs per figure (3 by default), the best kept
#   KVNTF_BENCH_FILES="c8_16384_rgb"  a subset of the files
# Figures: wall time and peak resident memory (/usr/bin/time -v) of
#   overview   nitf render --size 1024x1024        gdal_translate -outsize 1024 1024
#   region     nitf render --region (2048² at 4096,4096)   gdal_translate -srcwin
#   tile fine  a 256² region at full resolution    gdal_translate -srcwin 256²
#   tile top   the whole picture as one 256² tile  gdal_translate -outsize 256 256
#   pyramid    nitf tiles --tile 256               gdal2tiles.py (one process; RUNS=1;
#              KVNTF_BENCH_PYRAMID=1)
#   whole      nitf render -o (C8 only)            gdal_translate -of PNM
# The machine is shared: the fastest of RUNS runs is the one least disturbed.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKVNTF_TESTS=OFF -DKVNTF_BENCH=ON >/dev/null
cmake --build build/release -j2 --target nitf nitf-make-bench >/dev/null
out=build/release/bench
mkdir -p "$out/tmp"
build/release/bin/nitf-make-bench "$out" --large >/dev/null
nitf=build/release/bin/nitf
export GDAL_PAM_ENABLED=NO

# best COMMAND...: the fastest of RUNS runs (seconds) and the largest peak (MiB).
best() {
  local t0 t1 ms kb
  time_best=999999 peak=0
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    /usr/bin/time -v -o "$out/tmp/time.txt" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    [ "$ms" -lt "$time_best" ] && time_best=$ms
    kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$out/tmp/time.txt")
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  time_best=$(awk -v v="$time_best" 'BEGIN {printf "%.2f", v / 1000}')
  peak=$(( peak / 1024 ))
}

row() {  # NAME OURS... -- GDAL...
  local name=$1 ours=() gdal=()
  shift
  while [ "$1" != -- ]; do ours+=("$1"); shift; done
  shift
  gdal=("$@")
  best "${ours[@]}"
  local t=$time_best p=$peak
  best "${gdal[@]}"
  printf '| %s | %s | %s | %s | %s | %s |\n' "$name" "$t" "$p" "$time_best" "$peak" \
    "$(awk -v a="$t" -v b="$time_best" 'BEGIN {printf "%.2f", a / b}')"
}

echo "Regions benchmark: best of $runs runs, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "| figure | ours s | ours peak MiB | GDAL s | GDAL peak MiB | ours / GDAL |"
echo "|---|---|---|---|---|---|"
for name in ${KVNTF_BENCH_FILES:-c3_16384_rgb_512 c8_16384_rgb nc_16384_mono16}; do
  f=$out/$name.ntf
  g=(gdal_translate -q -of PNM)
  row "$name overview 1024²" "$nitf" render "$f" --size 1024x1024 -o "$out/tmp/o.ppm" -- \
    "${g[@]}" -outsize 1024 1024 "$f" "$out/tmp/g.pnm"
  row "$name region 2048²" "$nitf" render "$f" --region 4096,4096,2048,2048 -o "$out/tmp/r.ppm" -- \
    "${g[@]}" -srcwin 4096 4096 2048 2048 "$f" "$out/tmp/g.pnm"
  row "$name tile, finest" "$nitf" render "$f" --region 8192,8192,256,256 -o "$out/tmp/t.ppm" -- \
    "${g[@]}" -srcwin 8192 8192 256 256 "$f" "$out/tmp/g.pnm"
  row "$name tile, coarsest" "$nitf" render "$f" --size 256x256 -o "$out/tmp/t.ppm" -- \
    "${g[@]}" -outsize 256 256 "$f" "$out/tmp/g.pnm"
  if [ "$name" = c8_16384_rgb ]; then
    row "$name whole render" "$nitf" render "$f" -o "$out/tmp/w.ppm" -- "${g[@]}" "$f" "$out/tmp/g.pnm"
  fi
  if [ -n "${KVNTF_BENCH_PYRAMID:-}" ]; then
    rm -rf "$out/tmp/tiles" "$out/tmp/gtiles"
    runs_saved=$runs runs=1
    # gdal2tiles takes 8-bit data only: a 16-bit file goes through a scaled VRT, timed too.
    row "$name pyramid" "$nitf" tiles "$f" "$out/tmp/tiles" --tile 256 -- \
      bash -c 'src=$1; if [ "$(gdalinfo "$1" | grep -c "Type=Byte")" = 0 ]; then
          gdal_translate -q -of VRT -ot Byte -scale "$1" "$2.vrt"; src=$2.vrt; fi
        gdal2tiles.py -q -p raster -r near --processes=1 "$src" "$2"' - "$f" "$out/tmp/gtiles"
    runs=$runs_saved
  fi
  rm -f "$out/tmp/"*.p?m
done
