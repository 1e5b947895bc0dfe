#!/usr/bin/env bash
# The area-of-interest rows of the benchmark, against GDAL, on the same generated tile as
# scripts/bench.sh (which calls this at its end), given a grid (WGS 84 / UTM 33N, 10 m, a GML
# box in a copy of each band):
#   gdal-crop   gdalbuildvrt -separate + gdal_translate -projwin of a 5 x 5 km window near the
#               tile's centre that meets four code-stream tiles, DEFLATE, GDAL_NUM_THREADS=ALL_CPUS
#   cli-crop    bandweave-cli --projwin of the same window natively
#   cli-whole    bandweave-cli of the whole tile natively, TIFF (the job the crop is spared)
# The crops run three times each and count with their median. It prints wall seconds, peak
# memory and output size of each, the ratios to GDAL's crop and the targets with PASS or MISS:
# the crop in at most 1/20 of the whole job's time, at most 1.0 x GDAL's crop and under
# 100 MiB. The two crops must hold the same samples.
#   BANDWEAVE_BENCH_RUNS selects runs (names above; when it names none of them, nothing runs),
#   BANDWEAVE_BENCH_SIZE another tile size, BANDWEAVE_NATIVE_BUILD another build tree than
#   build/bench-native.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench-lib.sh
source scripts/bench-lib.sh
bench_runs "gdal-crop cli-crop cli-whole"
bench_tile
work=$(mktemp -d "${TMPDIR:-/tmp}/bandweave-bench-aoi.XXXXXX")
trap 'rm -rf "$work"' EXIT

bench_make_tile
# The generated bands carry no grid: copies with a GML box as ESA writes it, the first pixel's
# corner at 300000, 5600040 in zone 33N.
left=300000 top_y=5600040 pixel=10
mkdir "$work/tile"
for band in B02 B03 B04; do
  cp "$tile/$stem$band.jp2" "$work/tile/"
  /usr/bin/python3 tests/cli/with-gml.py "$work/tile/$stem$band.jp2" 32633 $((left + pixel / 2)) $((top_y - pixel / 2)) "$pixel"
done
dropped=$work/tile/${stem}B03.jp2
# 500 x 500 pixels (5 km) around the code-stream tiles' corner nearest the centre: four tiles.
corner=$((size / 2 / 1024 * 1024))
[ "$corner" -gt 0 ] || corner=$((size / 2))
side=$((size / 2 < 500 ? size / 2 : 500))
col=$((corner - side / 2))
ulx=$((left + col * pixel)) uly=$((top_y - col * pixel))
lrx=$((ulx + side * pixel)) lry=$((uly - side * pixel))
crop_name=${stem}48_x${col}y${col}w${side}h${side}.tif

if has cli-; then bench_native; fi

# timed NAME OUTPUT COMMAND...: wall time, GNU time's peak of the process and the output's size,
# appended to $work/NAME.runs; the output is kept as $work/NAME.out.
timed() {
  local name=$1 out=$2
  shift 2
  rm -f "$out"
  bench_time "$@" || true
  bench_written "$name" "$out" || return 0
  echo "$bench_wall $bench_kb $(stat -L -c %s "$out")" >>"$work/$name.runs"
  mv "$out" "$work/$name.out"
  rm -f "$out.aux.xml"
}
gdal_crop() {  # GDAL's job as bench.sh times it: the VRT of the three bands, then the crop
  gdalbuildvrt -q -separate "$work/rgb.vrt" "$work/tile/${stem}B04.jp2" "$work/tile/${stem}B03.jp2" \
    "$work/tile/${stem}B02.jp2" &&
    GDAL_NUM_THREADS=ALL_CPUS gdal_translate -q -projwin "$ulx" "$uly" "$lrx" "$lry" -co COMPRESS=DEFLATE \
      -co NUM_THREADS=ALL_CPUS "$work/rgb.vrt" "$work/gdal.tif"
}
export -f gdal_crop
export work stem ulx uly lrx lry

echo "Window: --projwin $ulx,$uly,$lrx,$lry (pixels $col..$((col + side)) of $size, code-stream tiles of 1024)"
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for run in $runs; do
  echo "  $run ..." >&2
  case $run in
    gdal-crop) for i in 1 2 3; do timed gdal-crop "$work/gdal.tif" bash -c gdal_crop; done ;;
    cli-crop) for i in 1 2 3; do timed cli-crop "$work/tile/$crop_name" "$cli" --tiff --projwin "$ulx,$uly,$lrx,$lry" "$dropped"; done ;;
    cli-whole) timed cli-whole "$work/tile/${stem}48.tif" "$cli" --tiff "$dropped" ;;
  esac
done
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
: >"$work/results"
for run in $runs; do
  # The median run of each (by wall time).
  [ -s "$work/$run.runs" ] && echo "$run $(sort -n "$work/$run.runs" | awk '{ l[NR] = $0 } END { print l[int((NR + 1) / 2)] }')" \
    >>"$work/results"
done
same=-
if [ -s "$work/gdal-crop.out" ] && [ -s "$work/cli-crop.out" ]; then
  checksums() { gdalinfo -checksum "$1" 2>/dev/null | grep -E '^  Checksum='; }
  [ "$(checksums "$work/gdal-crop.out")" = "$(checksums "$work/cli-crop.out")" ] && same=yes || same=no
fi

echo
awk -v same="$same" '
  { name[NR] = $1; ran[$1] = 1; wall[$1] = $2; kb[$1] = $3; bytes[$1] = $4; n = NR }
  function ratio(a, b) { return b > 0 ? sprintf("%6.2f", a / b) : "     -" }
  function check(ok, text) { printf "  %-4s  %s\n", ok ? "PASS" : "MISS", text }
  END {
    printf "%-12s %8s %9s %10s   %8s %8s %8s\n", "run", "wall s", "peak MiB", "output MiB", "wall x", "peak x", "size x"
    for (i = 1; i <= n; i++) {
      r = name[i]
      printf "%-12s %8.2f %9.0f %10.2f   %8s %8s %8s\n", r, wall[r], kb[r] / 1024, bytes[r] / 1048576,
        ratio(wall[r], wall["gdal-crop"]), ratio(kb[r], kb["gdal-crop"]), ratio(bytes[r], bytes["gdal-crop"])
    }
    print "(x = / GDAL crop; crops: the median of three runs)"
    print ""
    print "Targets (area of interest):"
    if (("cli-crop" in ran) && ("cli-whole" in ran))
      check(wall["cli-crop"] <= wall["cli-whole"] / 20, sprintf("%-11s wall 1/%.0f of the whole tile'"'"'s TIFF job (at most 1/20)", "cli-crop", wall["cli-whole"] / wall["cli-crop"]))
    if (("cli-crop" in ran) && ("gdal-crop" in ran))
      check(wall["cli-crop"] <= wall["gdal-crop"], sprintf("%-11s wall %.2f x GDAL crop (at most 1.0)", "cli-crop", wall["cli-crop"] / wall["gdal-crop"]))
    if ("cli-crop" in ran)
      check(kb["cli-crop"] < 100 * 1024, sprintf("%-11s peak memory %.0f MiB (under 100)", "cli-crop", kb["cli-crop"] / 1024))
    if (same != "-")
      check(same == "yes", sprintf("%-11s the same samples as GDAL'"'"'s crop: %s", "cli-crop", same))
  }' "$work/results"
