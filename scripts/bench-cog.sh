#!/usr/bin/env bash
# The cloud-optimised GeoTIFF and preview rows of the benchmark, against GDAL, on the same
# generated tile as scripts/bench.sh (which calls this at its end):
#   gdal-cog      gdalbuildvrt -separate + gdal_translate -of COG, DEFLATE with the predictor,
#                 all cores
#   cli-cog       bandweave-cli --cog natively
#   gdal-preview  gdal_translate of the same VRT to an 8-bit PNG at 1/8 of the size
#                 (-outsize, -ot Byte -scale 0 2500 1 255)
#   cli-preview   bandweave-cli --preview --reduce 3 natively
#   decode-bands  tools/decodebands over the three bands: the decoding alone, with every core,
#                 the floor under any composite of them with this decoder
# It prints wall seconds, peak memory and output size of each, the ratios to GDAL's run of the
# same kind and the targets with PASS or MISS: the COG in at most 0.5 x GDAL's time and
# 300 MiB, the preview in at most GDAL's time. The COG must also pass GDAL's validator.
#   BANDWEAVE_BENCH_RUNS selects runs (names above; when it names none of them, nothing runs),
#   BANDWEAVE_BENCH_SIZE another tile size, BANDWEAVE_NATIVE_BUILD another build tree than
#   build/bench-native.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench-lib.sh
source scripts/bench-lib.sh
bench_runs "gdal-cog cli-cog decode-bands gdal-preview cli-preview"
bench_tile
validator=/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py
work=$(mktemp -d "${TMPDIR:-/tmp}/bandweave-bench-cog.XXXXXX")
trap 'rm -rf "$work"' EXIT

bench_make_tile
bench_link_tile
if has cli- || has decode-; then bench_native decodebands; fi
if has gdal-; then
  gdalbuildvrt -q -separate "$work/rgb.vrt" "$work/tile/${stem}B04.jp2" "$work/tile/${stem}B03.jp2" \
    "$work/tile/${stem}B02.jp2"
fi

# timed NAME OUTPUT COMMAND...: wall time, GNU time's peak of the process and the output's size.
timed() {
  local name=$1 out=$2 note=-
  shift 2
  rm -f "$out"
  bench_time "$@" || true
  bench_written "$name" "$out" || return 0
  if [[ $name == *cog ]]; then
    /usr/bin/python3 "$validator" "$out" >"$work/valid" 2>&1 && ! grep -qi warning "$work/valid" && note=valid ||
      { note=INVALID; cat "$work/valid" >&2; }
  fi
  echo "$name $bench_wall $bench_kb $(stat -L -c %s "$out") $note" >>"$work/results"
  rm -f "$out" "$out.aux.xml"
}

small=$(((size + 7) / 8))
: >"$work/results"
for run in $runs; do
  echo "  $run ..." >&2
  case $run in
    gdal-cog)
      GDAL_NUM_THREADS=ALL_CPUS timed gdal-cog "$work/gdal.tif" gdal_translate -q -of COG -co COMPRESS=DEFLATE \
        -co PREDICTOR=2 -co NUM_THREADS=ALL_CPUS "$work/rgb.vrt" "$work/gdal.tif" ;;
    cli-cog) timed cli-cog "$work/tile/${stem}48.tif" "$cli" --cog "$dropped" ;;
    gdal-preview)
      timed gdal-preview "$work/gdal.png" gdal_translate -q -of PNG -outsize "$small" "$small" -ot Byte \
        -scale 0 2500 1 255 "$work/rgb.vrt" "$work/gdal.png" ;;
    decode-bands)
      # No output: the samples are thrown away.
      bench_time "$PWD/$nb/tools/decodebands/decodebands" "$work/tile/${stem}B04.jp2" "$work/tile/${stem}B03.jp2" \
        "$work/tile/${stem}B02.jp2" && echo "decode-bands $bench_wall $bench_kb 0 -" >>"$work/results" ||
        { echo "decode-bands: failed:" >&2; tail -5 "$work/err" >&2; } ;;
    cli-preview) timed cli-preview "$work/tile/${stem}48_ql.png" "$cli" --preview --reduce 3 "$dropped" ;;
  esac
done

echo
awk '
  { name[NR] = $1; ran[$1] = 1; wall[$1] = $2; kb[$1] = $3; bytes[$1] = $4; note[$1] = $5; n = NR }
  function base(r) { return r ~ /cog|decode/ ? "gdal-cog" : "gdal-preview" }
  function ratio(a, b) { return b > 0 ? sprintf("%6.2f", a / b) : "     -" }
  function check(ok, text) { printf "  %-4s  %s\n", ok ? "PASS" : "MISS", text }
  END {
    printf "%-12s %8s %9s %10s   %8s %8s %8s   %s\n", "run", "wall s", "peak MiB", "output MiB", "wall x", "peak x", "size x", "COG validator"
    for (i = 1; i <= n; i++) {
      r = name[i]; g = base(r)
      printf "%-12s %8.2f %9.0f %10.1f   %8s %8s %8s   %s\n", r, wall[r], kb[r] / 1024, bytes[r] / 1048576,
        ratio(wall[r], wall[g]), ratio(kb[r], kb[g]), ratio(bytes[r], bytes[g]), note[r] == "-" ? "" : note[r]
    }
    print ""
    print "Targets (COG and preview):"
    if (("cli-cog" in ran) && ("gdal-cog" in ran))
      check(wall["cli-cog"] <= 0.5 * wall["gdal-cog"], sprintf("%-11s wall %.2f x GDAL COG (at most 0.5)", "cli-cog", wall["cli-cog"] / wall["gdal-cog"]))
    if ("cli-cog" in ran) {
      check(kb["cli-cog"] <= 300 * 1024, sprintf("%-11s peak memory %.0f MiB (at most 300)", "cli-cog", kb["cli-cog"] / 1024))
      check(note["cli-cog"] == "valid", sprintf("%-11s GDAL validator: %s", "cli-cog", note["cli-cog"]))
    }
    if (("decode-bands" in ran) && ("gdal-cog" in ran))
      printf "  (decoding the three bands alone took %.2f x GDAL COG%s)\n", wall["decode-bands"] / wall["gdal-cog"],
        ("cli-cog" in ran) ? sprintf("; the COG took %.2f x the decoding alone", wall["cli-cog"] / wall["decode-bands"]) : ""
    if (("cli-preview" in ran) && ("gdal-preview" in ran))
      check(wall["cli-preview"] <= wall["gdal-preview"], sprintf("%-11s wall %.2f x GDAL preview (at most 1.0)", "cli-preview", wall["cli-preview"] / wall["gdal-preview"]))
  }' "$work/results"
