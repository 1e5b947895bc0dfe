#!/usr/bin/env bash
# bandweave-cli CLI DATA REAL: the cloud-optimised TIFF (--cog), the preview alone (--preview)
# and the composite at a reduced resolution (--reduce without --preview), judged by GDAL: its
# COG validator, gdalinfo's overviews and checksums, and the bands' own reduced resolutions.
# Exits 77 (skipped) without GDAL or its validator; the real-data part is skipped without them.
set -uo pipefail
cli=$1 data=$2 real=$3
validator=/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py
command -v gdalinfo >/dev/null && [ -f "$validator" ] || { echo "skipped: no GDAL or COG validator"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
stem=T33UUP_20250101T101021_
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
run() {  # run NAME ARGS...: the tool must succeed
  local name=$1
  shift
  "$cli" "$@" >"$work/out" 2>"$work/err" || { fail "$name: exit $?"; cat "$work/out" "$work/err"; }
}
checksums() { gdalinfo -checksum "$1" 2>/dev/null | grep -E '^  Checksum=|Overviews checksum'; }
band_checksums() { gdalinfo -checksum "$1" 2>/dev/null | grep -E '^  Checksum='; }
links() {  # links DIR SOURCE-DIR: the three true-colour bands of the generated tile, linked
  mkdir -p "$1"
  for b in B02 B03 B04; do ln -s "$2/$stem$b.jp2" "$1/$stem$b.jp2"; done
}

# --cog: a valid COG with its overviews, under the plain TIFF's name, with its samples.
links "$work/cog" "$data/large"
run plain --tiff "$work/cog/${stem}B03.jp2"
mv "$work/cog/${stem}48.tif" "$work/plain.tif"
run cog --cog "$work/cog/${stem}B03.jp2"
[ "$(cat "$work/out")" = "Production of 48-bit TIF  complete!" ] || { fail "cog: stdout"; cat "$work/out"; }
/usr/bin/python3 "$validator" "$work/cog/${stem}48.tif" >"$work/valid" 2>&1 && ! grep -qi warning "$work/valid" ||
  { fail "cog: GDAL's validator"; cat "$work/valid"; }
info=$(gdalinfo "$work/cog/${stem}48.tif")
grep -q "^  Overviews: 2000x2000, 1000x1000, 500x500$" <<<"$info" || fail "cog: overviews $(grep Overviews <<<"$info" | head -1)"
grep -q "LAYOUT=COG" <<<"$info" || fail "cog: GDAL does not see the COG layout"
grep -q "Contains modified Copernicus Sentinel data" <<<"$info" || fail "cog: no attribution"
[ "$(band_checksums "$work/cog/${stem}48.tif")" = "$(band_checksums "$work/plain.tif")" ] ||
  fail "cog: the samples differ from the plain TIFF's"
ls -A "$work/cog" | grep -q '^\.bw-' && fail "cog: temporary files left: $(ls -A "$work/cog")"

# --preview: today's quicklook at the same reduction, and nothing else.
links "$work/pv" "$data/tile"
for n in 0 1 2; do
  run "quicklook $n" --tiff --quicklook --reduce "$n" "$work/pv/${stem}B03.jp2"
  mv "$work/pv/${stem}48_ql.png" "$work/ql-$n.png"
  rm "$work/pv/${stem}48.tif"
  reduce=(--reduce "$n")
  [ "$n" = 0 ] && reduce=()
  run "preview $n" --preview "${reduce[@]}" "$work/pv/${stem}B03.jp2"
  [ "$(checksums "$work/pv/${stem}48_ql.png")" = "$(checksums "$work/ql-$n.png")" ] &&
    [ -n "$(checksums "$work/ql-$n.png")" ] || fail "preview $n: not the quicklook's samples"
  [ "$(cat "$work/out")" = "$work/pv/${stem}48_ql.png" ] || { fail "preview $n: stdout"; cat "$work/out"; }
  ls "$work/pv" | grep -q "48\.tif\|48\.png\|_r[0-9]" && fail "preview $n: a composite was written: $(ls "$work/pv")"
done
"$cli" --preview "$work/pv/${stem}B01.jp2" >/dev/null 2>&1
[ $? = 2 ] || fail "preview of a missing file: not exit 2"
"$cli" --preview --reduce 9 "$work/pv/${stem}B03.jp2" >/dev/null 2>&1
[ $? = 1 ] || fail "preview beyond the resolution levels: not exit 1"

# --reduce without --preview: the composite at a resolution level of its own name; the samples
# are the decoder's at that level, which GDAL shows as the band's overviews.
run "reduced" --reduce 1 "$work/pv/${stem}B03.jp2"
reduced=$work/pv/${stem}48_r1.tif
[ -s "$reduced" ] || fail "reduced: no ${stem}48_r1.tif"
[ -e "$work/pv/${stem}48.tif" ] && fail "reduced: wrote the full composite's name"
grep -q "^Size is 150, 100$" <(gdalinfo "$reduced") || fail "reduced: not half size"
red=$(gdalinfo -checksum "$data/tile/${stem}B04.jp2" | sed -n 's/^  Overviews checksum: \([0-9]*\).*/\1/p')
[ "$(band_checksums "$reduced" | head -1)" = "  Checksum=$red" ] || fail "reduced: red is not the band's first overview"

# In a batch, resume tells the outputs of these options apart by what each output records:
# a COG does not satisfy a plain TIFF job nor the reverse, nor one reduction another.
links "$work/batch/set" "$data/tile"
batch() {  # batch EXPECTED-FIRST-WORD ARGS...: one job over the folder, written or skipped
  local want=$1
  shift
  "$cli" "$@" "$work/batch" >"$work/out" 2>"$work/err"
  [ "$(cut -f1 "$work/out")" = "$want" ] || { fail "batch $*: expected $want"; cat "$work/out" "$work/err"; }
}
batch written --cog
batch skipped --cog
batch written --tiff
batch skipped --tiff
batch written --cog
batch written --preview --reduce 1
batch skipped --preview --reduce 1
batch written --preview --reduce 2
batch written --reduce 1
batch skipped --reduce 1
grep -q "${stem}48_r1.tif$" "$work/out" || fail "batch --reduce 1: not the reduced composite's name"
batch written --reduce 2

# On real bands with GML georeferencing: the reduced composite keeps the origin, doubles the
# pixel size, and the COG carries the plain TIFF's grid.
unmodified=$real/l2a_T29UNU_20221005_unmodified
if [ -d "$unmodified" ]; then
  mkdir "$work/real"
  for b in B02 B03 B04; do ln -s "$unmodified/T29UNU_20221005T115411_${b}_60m.jp2" "$work/real/x_${b}.jp2"; done
  run "real reduced" --reduce 2 "$work/real/x_B04.jp2"
  info=$(gdalinfo "$work/real/x_48_r2.tif")
  grep -q "^Size is 458, 458$" <<<"$info" || fail "real reduced: size"
  grep -q "^Pixel Size = (240.0*,-240.0*)$" <<<"$info" || fail "real reduced: pixel size"
  grep -q "^Origin = (499980.0*,5900040.0*)$" <<<"$info" || fail "real reduced: origin"
  grep -q 'ID\["EPSG",32629\]' <<<"$info" || fail "real reduced: coordinate system"
  run "real cog" --cog "$work/real/x_B04.jp2"
  info=$(gdalinfo "$work/real/x_48.tif")
  grep -q "^Pixel Size = (60.0*,-60.0*)$" <<<"$info" || fail "real cog: pixel size"
  grep -q "^Origin = (499980.0*,5900040.0*)$" <<<"$info" || fail "real cog: origin"
  grep -q "NoData Value=0" <<<"$info" || fail "real cog: no nodata value"
  grep -q "^  Overviews: 915x915, 458x458$" <<<"$info" || fail "real cog: overviews"
else
  echo "note: no real data, the georeferencing checks skipped"
fi

[ "$fails" = 0 ] && echo "all COG, preview and reduced-composite checks passed"
exit $((fails > 0))
