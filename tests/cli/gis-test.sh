#!/usr/bin/env bash
# bandweave-cli CLI REAL: on the real band files, GDAL sees in each output the coordinate system,
# origin and pixel size it sees in the red band; side files appear only when asked for.
# Exits 77 (skipped) without gdalinfo or without the real data (1 when BANDWEAVE_REQUIRE_REAL_DATA is set).
set -uo pipefail
cli=$1 real=$2
command -v gdalinfo >/dev/null || { echo "skipped: no gdalinfo"; exit 77; }
if [ ! -d "$real/l2a_T29UNU_20221005_unmodified" ]; then
  # A run that requires the real data (CI) fails without it instead of skipping.
  [ "${BANDWEAVE_REQUIRE_REAL_DATA:-0}" != 0 ] && { echo "FAIL: the real data is required but absent: $real"; exit 1; }
  echo "skipped: no real data"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }

# The grid as GDAL reports it: the coordinate system's name and EPSG code, origin, pixel size.
grid() {
  gdalinfo "$1" 2>/dev/null | awk '
    /^PROJCRS\[/ { print } /^    ID\["EPSG",/ { print } /^Origin =|^Pixel Size =|^Size is/ { print }'
}
# Links with the names the job derives, so the band files stay where they are.
set_up() {  # set_up DIR SOURCE-DIR PREFIX SUFFIX
  mkdir -p "$1"
  for b in B02 B03 B04; do ln -s "$2/$3${b}$4.jp2" "$1/x_${b}.jp2"; done
}
expect_grid() {  # expect_grid NAME OUTPUT RED-BAND
  local want got
  want=$(grid "$3") got=$(grid "$2")
  [ -n "$want" ] && [ "$got" = "$want" ] || { fail "$1: GDAL reads another grid"; diff <(echo "$want") <(echo "$got"); }
}

unmodified=$real/l2a_T29UNU_20221005_unmodified
resampled=$real/l2a_T22HBD_20210122_R10m_downsampled_100px
# The product's layout: the metadata file four folders above the 60 m bands.
safe=$work/S2A_MSIL2A.SAFE
gml=$safe/GRANULE/L2A_T29UNU/IMG_DATA/R60m
set_up "$gml" "$unmodified" T29UNU_20221005T115411_ _60m
cp "$unmodified/MTD_MSIL2A.xml" "$safe/"
set_up "$work/both" "$resampled" T22HBD_20210122T133229_ _10m
# Files such as other tools write them: a GeoJP2 box and no GML.
mkdir -p "$work/geojp2"
for b in B02 B03 B04; do
  gdal_translate -q -of JP2OpenJPEG -co GMLJP2=NO -co GeoJP2=YES -co REVERSIBLE=YES -co QUALITY=100 \
    "$resampled/T22HBD_20210122T133229_${b}_10m.jp2" "$work/geojp2/x_${b}.jp2" || fail "gdal_translate $b"
done
rm -f "$work"/geojp2/*.aux.xml

for dir in "$gml" "$work/both" "$work/geojp2"; do
  set=$(basename "$dir")
  "$cli" --tiff "$dir/x_B04.jp2" >/dev/null 2>"$work/err" || { fail "$set tiff: exit $?"; cat "$work/err"; }
  expect_grid "$set tiff" "$dir/x_48.tif" "$dir/x_B04.jp2"
  info=$(gdalinfo "$dir/x_48.tif")
  grep -q "NoData Value=0" <<<"$info" || fail "$set tiff: no nodata value 0"
  grep -q "Contains modified Copernicus Sentinel data" <<<"$info" || fail "$set tiff: no attribution"

  "$cli" --png "$dir/x_B04.jp2" >/dev/null 2>&1 || fail "$set png: exit $?"
  ls "$dir" | grep -qE '\.pgw$|\.aux\.xml$' && fail "$set png: side files written unasked"
  "$cli" --png --world-file "$dir/x_B04.jp2" >/dev/null 2>&1 || fail "$set png --world-file: exit $?"
  expect_grid "$set png" "$dir/x_48.png" "$dir/x_B04.jp2"
done

# The quicklook at half resolution: its own grid, and the attribution.
dir=$gml
"$cli" --tiff --quicklook --reduce 1 --world-file "$dir/x_B03.jp2" >/dev/null 2>"$work/err" ||
  { fail "quicklook: exit $?"; cat "$work/err"; }
grep -q "offset -1000 for x_B04.jp2" "$work/err" || { fail "quicklook: offset not reported"; cat "$work/err"; }
info=$(gdalinfo "$dir/x_48_ql.png")
grep -q "^Size is 915, 915" <<<"$info" || fail "quicklook: not half size"
grep -q "^Pixel Size = (120.0*,-120.0*)" <<<"$info" || fail "quicklook: pixel size"
grep -q "^Origin = (499980.0*,5900040.0*)" <<<"$info" || fail "quicklook: origin"
grep -q "Description=Contains modified Copernicus Sentinel data" <<<"$info" || fail "quicklook: no attribution"
[ "$(gdalinfo "$dir/x_48_ql.png" | grep -c 'Type=Byte')" = 3 ] || fail "quicklook: not 8-bit RGB"

# No product metadata near the bands: offset 0, said so.
mkdir -p "$work/bare"
cp "$work"/geojp2/x_B0[234].jp2 "$work/bare/"
"$cli" --tiff --quicklook "$work/bare/x_B02.jp2" >/dev/null 2>"$work/err" || fail "bare quicklook: exit $?"
grep -q "offset taken as 0" "$work/err" || { fail "bare quicklook: offset 0 not said"; cat "$work/err"; }

# Bands that disagree about their grid (blue moved by one pixel): the picture without
# georeferencing, no world file, and no error.
mkdir -p "$work/moved"
cp "$work"/geojp2/x_B0[34].jp2 "$work/moved/"
gdal_translate -q -of JP2OpenJPEG -co GMLJP2=NO -co GeoJP2=YES -co REVERSIBLE=YES -co QUALITY=100 \
  -a_ullr 201078 5900020 310878 5790220 "$resampled/T22HBD_20210122T133229_B02_10m.jp2" "$work/moved/x_B02.jp2"
rm -f "$work"/moved/*.aux.xml
touch "$work/moved/x_48_ql.pgw"  # left by an earlier run
"$cli" --tiff --world-file --quicklook "$work/moved/x_B04.jp2" >/dev/null 2>"$work/err" || fail "moved: exit $?"
grid "$work/moved/x_48.tif" | grep -q Origin && fail "moved: georeferenced anyway"
grep -q "no common georeferencing" "$work/err" || fail "moved: not said"
ls "$work/moved" | grep -qE '\.pgw$' && fail "moved: world file written"

[ $fails = 0 ] && echo "bandweave-cli georeferencing: all checks passed"
exit $((fails > 0))
