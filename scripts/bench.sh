#!/usr/bin/env bash
# Full-tile benchmark of the composite job (not a test; minutes). On a generated tile of three
# 10980 x 10980 bands (cached in $BANDWEAVE_CACHE/bench-tile, about 130 MB each) it runs
# bandweave-cli natively and the Windows build under Wine, for TIFF and for PNG, and prints per
# stage wall seconds (load each band, save), peak memory and output size. As a reference it
# times OpenJPEG's own decoder (opj_decompress, all cores) on the same three bands: the floor
# for the loading stages.
#   BANDWEAVE_BENCH_RUNS="native-tiff native-png wine-tiff wine-png opj" selects runs;
#   BANDWEAVE_NATIVE_BUILD and BANDWEAVE_WINDOWS_BUILD name other build trees than build/native
#   and build/windows.
# Peak memory: natively GNU time's maximum resident set size. Under Wine, the peak resident
# set (VmHWM) of the process running bandweave-cli.exe, read from /proc every 0.2 s; VmHWM is
# the kernel's own high-water mark, so polling misses nothing but the last moments before exit
# (the composite is released before then). The wineserver's few MB are not counted.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
: "${BANDWEAVE_CACHE:=${XDG_CACHE_HOME:-$HOME/.cache}/bandweave}"
export BANDWEAVE_CACHE
runs=${BANDWEAVE_BENCH_RUNS:-native-tiff native-png wine-tiff wine-png opj}
size=${BANDWEAVE_BENCH_SIZE:-10980}
tile=$BANDWEAVE_CACHE/bench-tile-$size
stem=T33UUP_20250101T101021_
work=$(mktemp -d "${TMPDIR:-/tmp}/bandweave-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ ! -x /usr/bin/time ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y -qq time >/dev/null
fi
scripts/make-sample.sh "$tile" "$size" B02 B03 B04

# Runs a build step, showing its output only when it fails.
quiet() { "$@" >"$work/step.log" 2>&1 || { cat "$work/step.log" >&2; return 1; }; }

native_cli=""
if [[ " $runs " == *" native-"* ]]; then
  nb=${BANDWEAVE_NATIVE_BUILD:-build/native}
  # Configure every time: a layer added since the tree was made is picked up only then.
  quiet cmake -S . -B "$nb" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANDWEAVE_TEST_DATA="$top/build/testdata"
  quiet cmake --build "$nb" --target bandweave-cli
  native_cli=$top/$nb/src/cli/bandweave-cli
fi
wine_cli=""
if [[ " $runs " == *" wine-"* ]]; then
  prefix=$(scripts/build-freeimage-windows.sh)
  wb=${BANDWEAVE_WINDOWS_BUILD:-build/windows}
  quiet cmake -S . -B "$wb" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
    -DBANDWEAVE_FREEIMAGE_PREFIX="$prefix" -DBANDWEAVE_TEST_DATA="$top/build/testdata"
  quiet cmake --build "$wb" --target bandweave-cli
  wine_cli=$top/$wb/src/cli/bandweave-cli.exe
  . scripts/wine-env.sh
  wine_session_start
  trap 'wine_session_stop; rm -rf "$work"' EXIT
fi

cores=$(nproc)
echo "Tile: $tile ($size x $size, bands $(du -m "$tile"/${stem}B0[234].jp2 | awk '{s+=$1} END {print s}') MB), $cores cores, OPJ_NUM_THREADS=${OPJ_NUM_THREADS:-all cores}"
printf '\n%-12s %8s %8s %8s %8s %8s %9s %9s\n' run "red s" "green s" "blue s" "save s" "total s" "peak MB" "output MB"

# Stage seconds from the --times stamps on stderr: each stage runs until the next line.
stamp() { grep -F "] $2" "$1" | head -1 | sed 's/^\[ *\([0-9.]*\) s\].*/\1/'; }
report() {  # report NAME STDERR-FILE WALL PEAK-KB OUTPUT
  local err=$2 r g b s p
  r=$(stamp "$err" "Processing red"); g=$(stamp "$err" "Processing green"); b=$(stamp "$err" "Processing blue")
  s=$(stamp "$err" "Saving..."); p=$(stamp "$err" "Production of")
  if [ -z "$p" ] || [ ! -f "$5" ]; then
    echo "$1: the job did not write its output:"; cat "$err"; return 1
  fi
  awk -v n="$1" -v r="$r" -v g="$g" -v b="$b" -v s="$s" -v p="$p" -v w="$3" -v k="$4" -v o="$(stat -c %s "$5")" \
    'BEGIN { printf "%-12s %8.1f %8.1f %8.1f %8.1f %8.1f %9.0f %9.0f\n", n, g-r, b-g, s-b, p-s, w, k/1024, o/1048576 }'
  echo "$1 $(echo "$s - $r" | bc)" >>"$work/loads"
}

run_native() {  # run_native FORMAT
  local fmt=$1 out=$tile/${stem}48.${1/tiff/tif}
  rm -f "$out"
  local t0 t1; t0=$(date +%s.%N)
  /usr/bin/time -v -o "$work/time" "$native_cli" --times "--$fmt" "$tile/${stem}B03.jp2" >"$work/out" 2>"$work/err" || true
  t1=$(date +%s.%N)
  report "native-$fmt" "$work/err" "$(echo "$t1 - $t0" | bc)" "$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time")" "$out"
  rm -f "$out"
}

run_wine() {  # run_wine FORMAT
  local fmt=$1 out=$tile/${stem}48.${1/tiff/tif} peak=0 pid hwm
  rm -f "$out"
  local t0 t1; t0=$(date +%s.%N)
  "$WINE_BIN" "$wine_cli" --times "--$fmt" "Z:${tile//\//\\}\\${stem}B03.jp2" >"$work/out" 2>"$work/err" &
  local wine_pid=$!
  while kill -0 "$wine_pid" 2>/dev/null; do
    for pid in $(pgrep -f 'bandweave-cli\.exe' || true); do
      hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || true)
      [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    done
    sleep 0.2
  done
  wait "$wine_pid" || true
  t1=$(date +%s.%N)
  report "wine-$fmt" "$work/err" "$(echo "$t1 - $t0" | bc)" "$peak" "$out"
  rm -f "$out"
}

run_opj() {
  local total=0 peak=0 band t0 t1 kb secs=()
  for band in B04 B03 B02; do
    t0=$(date +%s.%N)
    /usr/bin/time -v -o "$work/time" opj_decompress -threads ALL_CPUS -i "$tile/${stem}$band.jp2" -o "$work/band.pgm" >/dev/null 2>&1
    t1=$(date +%s.%N)
    secs+=("$(echo "$t1 - $t0" | bc)")
    kb=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time")
    [ "$kb" -gt "$peak" ] && peak=$kb
    rm -f "$work/band.pgm"
  done
  awk -v r="${secs[0]}" -v g="${secs[1]}" -v b="${secs[2]}" -v k="$peak" \
    'BEGIN { printf "%-12s %8.1f %8.1f %8.1f %8s %8.1f %9.0f %9s\n", "opj-decode", r, g, b, "-", r+g+b, k/1024, "-" }'
  echo "${secs[0]} + ${secs[1]} + ${secs[2]}" | bc >"$work/opj"
}

for run in $runs; do
  case $run in
    native-tiff) run_native tiff ;;
    native-png) run_native png ;;
    wine-tiff) run_wine tiff ;;
    wine-png) run_wine png ;;
    opj) run_opj ;;
    *) echo "unknown run $run" >&2 ;;
  esac
done
echo
echo "opj-decode: OpenJPEG's decoder alone, one band at a time to a PGM, all cores (peak = the largest band)."
if [ -s "$work/opj" ] && [ -s "$work/loads" ]; then
  # Loading the three bands (decode, conversion, merge) against decoding them alone.
  while read -r name load; do
    awk -v n="$name" -v l="$load" -v o="$(cat "$work/opj")" \
      'BEGIN { printf "%-12s loading %.1f s = %.2f x the decoder alone\n", n, l, l/o }'
  done <"$work/loads"
fi
