#!/usr/bin/env bash
# Saving alone, in one run on one tile: the console tool's TIFF and PNG saves (from its --times
# lines) on every core and on one core, against gdal_translate writing the same composite
# (read from an uncompressed copy in the page cache) as DEFLATE TIFF and PNG ZLEVEL=1.
#   scripts/bench-save.sh CLI TILE-DIR        (TILE-DIR: scripts/make-sample.sh output)
# BENCH_REPEAT=N takes the best of N runs of each (default 1), for a busy machine.
set -euo pipefail
# shellcheck source=bench-lib.sh
source "$(dirname "$0")/bench-lib.sh"
cli=$(realpath "$1") tile=$(realpath "$2")
command -v gdal_translate >/dev/null || { echo "bench-save: gdal_translate missing (gdal-bin)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
band=$(ls "$tile"/*B03.jp2 | head -1)
cp -s "$tile"/*B0[234].jp2 "$work/"
band="$work/$(basename "$band")"

repeat=${BENCH_REPEAT:-1}
best() { sort -n | head -1; }
# save_seconds FORMAT [PREFIX...]: the seconds between "Saving..." and "... complete!".
save_seconds() {
  local format=$1; shift
  for _ in $(seq "$repeat"); do
    "$@" "$cli" --times --"$format" "$band" >/dev/null 2>"$work/err"
    awk '/Saving\.\.\./ { s = $2 } /complete!/ { e = $2 } END { printf "%.2f\n", e - s }' "$work/err"
  done | best
}
# gdal_seconds ARGS...: gdal_translate's wall time.
gdal_seconds() {
  for _ in $(seq "$repeat"); do
    local start=$(now)
    GDAL_NUM_THREADS=ALL_CPUS gdal_translate -q "$@"
    echo "$(now) - $start" | bc
  done | best
}
tiff=$(save_seconds tiff)
out=$(ls "$work"/*48.tif)
tiff_size=$(stat -c %s "$out")
png=$(save_seconds png)
png_size=$(stat -c %s "$(ls "$work"/*48.png)")
tiff1=$(save_seconds tiff taskset -c 0)
png1=$(save_seconds png taskset -c 0)

gdal_translate -q -co COMPRESS=NONE "$out" "$work/plain.tif"
cat "$work/plain.tif" >/dev/null
gtiff=$(gdal_seconds -co COMPRESS=DEFLATE -co NUM_THREADS=ALL_CPUS "$work/plain.tif" "$work/gdal.tif")
gpng=$(gdal_seconds -of PNG -co ZLEVEL=1 "$work/plain.tif" "$work/gdal.png")

ratio() { echo "scale=2; $1 / $2" | bc; }
printf '%-34s %8s %10s %8s\n' run seconds MB "x GDAL"
printf '%-34s %8.2f %10.1f %8s\n' "GDAL TIFF DEFLATE, all cores" "$gtiff" "$(echo "$(stat -c %s "$work/gdal.tif") / 1000000" | bc -l)" 1.00
printf '%-34s %8.2f %10.1f %8s\n' "bandweave TIFF, all cores" "$tiff" "$(echo "$tiff_size / 1000000" | bc -l)" "$(ratio "$tiff" "$gtiff")"
printf '%-34s %8.2f %10s %8s\n' "bandweave TIFF, one core" "$tiff1" - "$(ratio "$tiff1" "$gtiff")"
printf '%-34s %8.2f %10.1f %8s\n' "GDAL PNG ZLEVEL=1" "$gpng" "$(echo "$(stat -c %s "$work/gdal.png") / 1000000" | bc -l)" 1.00
printf '%-34s %8.2f %10.1f %8s\n' "bandweave PNG, all cores" "$png" "$(echo "$png_size / 1000000" | bc -l)" "$(ratio "$png" "$gpng")"
printf '%-34s %8.2f %10s %8s\n' "bandweave PNG, one core" "$png1" - "$(ratio "$png1" "$gpng")"
echo "one core / all cores: TIFF $(ratio "$tiff1" "$tiff"), PNG $(ratio "$png1" "$png")"
