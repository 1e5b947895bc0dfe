#!/usr/bin/env bash
# aoi-test.sh CLI REAL TESTS-DIR [RUNNER]: areas of interest (--bbox, --projwin, --aoi) from the
# console tool, end to end, judged by GDAL (run natively, whichever build is tested):
#  - generated bands of odd size whose code-stream tiles do not divide them, and the real 60 m
#    L2A bands: boxes over each corner of the tile, across an edge, inside, wholly outside; each
#    crop has the samples of gdal_translate -srcwin of the full composite and its grid moved to
#    the window's corner, under a name that carries the window;
#  - --aoi with a polygon with a hole and a MultiPolygon against gdal_rasterize;
#  - with --reduce, --cog (GDAL's validator), --preview, --world-file, --mask-clouds, --cloud-free;
#  - every bad area: exit 2 and the reason, before any band is read, nothing written;
#  - a batch over products of two tiles with one --aoi: the tile it meets cropped, the other
#    passed over as skipped with the reason.
# RUNNER (wine) runs a Windows build. Without the real data the real part fails when
# BANDWEAVE_REQUIRE_REAL_DATA is set, and is left out with a note otherwise.
set -uo pipefail
cli=$1 real=$2 tests=$3 runner=${4:-}
python=/usr/bin/python3
validator=/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py
"$python" -c 'from osgeo import gdal; import numpy' 2>/dev/null || { echo "skipped: no GDAL for Python"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }
ref() { "$python" "$tests/aoi-reference.py" "$@"; }
# tool ARGS...: the console tool; its status in $status, its streams in $work/out and $work/err
# without Windows' line ends.
tool() {
  $runner "$cli" "$@" >"$work/out.raw" 2>"$work/err.raw"
  status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" >"$work/err"
}
# full NAME ARGS...: a whole composite the crops are compared with; exactly one new file in
# $work/full-NAME, whose path is left in $full.
full() {
  local name=$1
  shift
  tool --out "$work/full-$name" "$@"
  full=$(find "$work/full-$name" -type f -newer "$work/stamp" 2>/dev/null | grep -Ev '\.aux\.xml$|\.(pgw|tfw|wld)$' | head -1)
  [ "$status" = 0 ] && [ -n "$full" ] || { fail "full composite $name: exit $status"; cat "$work/out" "$work/err"; }
  touch "$work/stamp"
}
# crop NAME FULL WINDOW ARGS...: the tool with an area must write into a fresh --out folder one
# output whose name is FULL's with _x<col>y<row>w<width>h<height> added (the window $named when
# set, else WINDOW), and beside it only the side files asked for (.aux.xml, world file, with
# $ql set the quicklook named after it); its grid and samples are those of gdal_translate
# -srcwin of FULL over WINDOW (masked by gdal_rasterize of $mask when set). $crop is its path.
mask="" named="" ql=""
crop() {
  local name=$1 whole=$2 window=$3 suffix outputs quick
  shift 3
  suffix=$(awk '{ printf "_x%dy%dw%dh%d", $1, $2, $3, $4 }' <<<"${named:-$window}")
  rm -rf "$work/crop"
  tool --out "$work/crop" "$@"
  crop=""
  [ "$status" = 0 ] || { fail "$name: exit $status"; cat "$work/out" "$work/err"; return; }
  outputs=$(cd "$work/crop" && ls -A | grep -Ev '\.aux\.xml$|\.(pgw|tfw|wld)$')
  if [ -n "$ql" ]; then
    quick=$(grep '_ql\.png$' <<<"$outputs")
    outputs=$(grep -v '_ql\.png$' <<<"$outputs")
    [ "$quick" = "${outputs%.*}_ql.png" ] || fail "$name: quicklook named \"$quick\" beside $outputs"
  fi
  if [ "$(wc -l <<<"$outputs")" != 1 ] || [[ $outputs != *"$suffix"* ]] ||
    [ "${outputs/$suffix/}" != "$(basename "$whole")" ]; then
    fail "$name: expected $(basename "$whole") with $suffix, wrote: $(ls -A "$work/crop" | tr '\n' ' ')"
    return
  fi
  crop=$work/crop/$outputs
  if ref compare "$crop" "$whole" $window ${mask:+"$mask"} >"$work/compare"; then
    echo "ok $name: $outputs, $(tr '\n' ' ' <"$work/compare")"
  else
    fail "$name: against GDAL"
    cat "$work/compare"
  fi
}
# outside NAME TILE ARGS...: an area that misses the tile: exit 1, the message, nothing written.
outside() {
  local name=$1 tile=$2
  shift 2
  rm -rf "$work/crop"
  mkdir "$work/crop"
  tool --out "$work/crop" "$@"
  [ "$status" = 1 ] || fail "$name: exit $status, expected 1"
  grep -q "The area of interest does not overlap tile $tile" "$work/out" "$work/err" ||
    { fail "$name: no message"; cat "$work/out" "$work/err"; }
  [ -z "$(ls -A "$work/crop")" ] || fail "$name: wrote $(ls -A "$work/crop")"
}
touch "$work/stamp"

# Generated bands: 1100 x 700 pixels of 20 m in zone 33N, code-stream tiles of 256 x 256.
stem=T33UUP_20250101T101021_
gen=$work/gen
ref bands "$gen" "$stem" 1100 700 32633 300000 5600040 20 256 || fail "generating the bands"
full gen "$gen/${stem}B03.jp2"
gfull=$full
check_projwin() {  # check_projwin NAME ULX ULY LRX LRY [OPTIONS...]
  local name=$1 box="$2,$3,$4,$5"
  shift 5
  crop "generated, $name" "$gfull" "$(ref projwin "$gfull" ${box//,/ })" --projwin "$box" "$@" "$gen/${stem}B03.jp2"
}
check_projwin "north-west corner" 299500 5600500 300510 5599030
check_projwin "north-east corner" 321490 5600100 322600 5599500
check_projwin "south-west corner" 299000 5586500 300333 5585000
check_projwin "south-east corner" 321777 5586222 323000 5585000
check_projwin "across the east edge" 321000 5593333 325000 5592000
check_projwin "over four code-stream tiles" 304990 5594930 310630 5589790
check_projwin "one pixel" 302000 5598040 302020 5598020
[ "$(basename "$crop")" = "${stem}48_x100y100w1h1.tif" ] || fail "one pixel: named $(basename "$crop")"
box="12.25,50.45,12.30,50.48"
crop "generated, --bbox" "$gfull" "$(ref bbox "$gfull" ${box//,/ })" --bbox "$box" "$gen/${stem}B03.jp2"
outside "generated, east of the tile" T33UUP --projwin 330000,5590000,331000,5589000 "$gen/${stem}B03.jp2"
outside "generated, --bbox elsewhere" T33UUP --bbox -8.4,52.7,-8.3,52.8 "$gen/${stem}B03.jp2"

# The real 60 m L2A bands of T29UNU, with their classification and cloud mask beside them.
scene=$real/l2a_T29UNU_20221005_unmodified
if [ -d "$scene" ]; then
  mkdir "$work/real"
  for f in "$scene"/*.jp2 "$scene"/*.xml; do ln -s "$f" "$work/real/"; done
  band=$work/real/T29UNU_20221005T115411_B03_60m.jp2
  full real "$band"
  rfull=$full
  [ "$(basename "$rfull")" = T29UNU_20221005T115411_48_60m.tif ] || fail "real: full composite named $rfull"
  check_bbox() {  # check_bbox NAME FULL W,S,E,N [OPTIONS...]
    local name=$1 whole=$2 box=$3
    shift 3
    crop "real, $name" "$whole" "$(ref bbox "$whole" ${box//,/ })" --bbox "$box" "$@" "$band"
  }
  check_bbox "north-west corner" "$rfull" -9.05,53.22,-8.97,53.30
  check_bbox "north-east corner" "$rfull" -7.40,53.20,-7.30,53.30
  check_bbox "south-west corner" "$rfull" -9.04,52.24,-8.95,52.29
  check_bbox "south-east corner" "$rfull" -7.42,52.22,-7.35,52.28
  check_bbox "across the south edge" "$rfull" -8.25,52.23,-8.15,52.30
  check_bbox "inside" "$rfull" -8.40,52.70,-8.30,52.78
  # gdalinfo's grid of the crop: the full composite's, its corner moved to the window's.
  read -r col row _ _ <<<"$(ref bbox "$rfull" -8.40 52.70 -8.30 52.78)"
  origin=$(gdalinfo "$crop" | sed -n 's/^Origin = (\(.*\))$/\1/p')
  want=$(awk -v c="$col" -v r="$row" 'BEGIN { printf "%.15f,%.15f", 499980 + 60 * c, 5900040 - 60 * r }')
  [ "$origin" = "$want" ] || fail "real, inside: gdalinfo says origin $origin, expected $want"
  gdalinfo "$crop" | grep -q 'ID\["EPSG",32629\]' || fail "real, inside: not in EPSG:32629"
  # The southern hemisphere, and a band of one code-stream tile (decoded whole, then cropped).
  south=$real/l2a_T22HBD_20210122_R10m_downsampled_100px
  mkdir "$work/south"
  for b in B02 B03 B04; do ln -s "$south/T22HBD_20210122T133229_${b}_10m.jp2" "$work/south/"; done
  full south "$work/south/T22HBD_20210122T133229_B03_10m.jp2"
  sfull=$full
  for box in -54.0,-37.6,-53.6,-37.2 -54.5,-37.1,-54.3,-36.9; do
    crop "real south, --bbox $box" "$sfull" "$(ref bbox "$sfull" ${box//,/ })" --bbox "$box" \
      "$work/south/T22HBD_20210122T133229_B03_10m.jp2"
  done
  outside "real, west of the tile" T29UNU --bbox -10.5,52.5,-10.3,52.6 "$band"
  outside "real, --projwin south of the tile" T29UNU --projwin 520000,5780000,530000,5770000 "$band"

  # --aoi: only the polygons' pixels, by their centres, as gdal_rasterize burns them: a field
  # with a pond, and a MultiPolygon of two lakes and a thin strip.
  cat >"$work/hole.geojson" <<'EOF'
{"type":"Feature","properties":{},"geometry":{"type":"Polygon","coordinates":[
  [[-8.31,52.92],[-8.12,52.95],[-8.15,53.06],[-8.27,53.09],[-8.36,53.00],[-8.31,52.92]],
  [[-8.25,52.98],[-8.19,52.985],[-8.22,53.03],[-8.25,52.98]]]}}
EOF
  cat >"$work/multipolygon.geojson" <<'EOF'
{"type":"MultiPolygon","coordinates":[
  [[[-8.90,53.10],[-8.80,53.12],[-8.85,53.19],[-8.90,53.10]]],
  [[[-8.70,53.00],[-8.60,53.00],[-8.60,53.06],[-8.64,53.03],[-8.70,53.06],[-8.70,53.00]]],
  [[[-8.75,53.15],[-8.62,53.151],[-8.62,53.153],[-8.75,53.15]]]]}
EOF
  for area in hole multipolygon; do
    geojson=$work/$area.geojson
    mask=$geojson crop "real, --aoi $area" "$rfull" "$(ref aoi "$rfull" "$geojson")" --aoi "$geojson" "$band"
    grep -q "inside the polygons" "$work/compare" || fail "real, --aoi $area: no mask compared"
  done

  # --reduce: the window on the reduced grid, the samples of the reduced composite.
  full real-r1 --reduce 1 "$band"
  check_bbox "--reduce 1" "$full" -8.40,52.70,-8.30,52.78 --reduce 1
  # --cog: a valid COG with the crop's samples.
  check_bbox "--cog" "$rfull" -8.60,52.60,-8.10,52.95 --cog
  if [ -n "$crop" ]; then
    /usr/bin/python3 "$validator" "$crop" >"$work/valid" 2>&1 && ! grep -qi warning "$work/valid" ||
      { fail "real, --cog: GDAL's validator"; cat "$work/valid"; }
    gdalinfo "$crop" | grep -q "LAYOUT=COG" || fail "real, --cog: GDAL does not see the COG layout"
  fi
  # --preview with its world file: the full preview's pixels over the window on the reduced
  # grid; its name carries the window of the full-resolution composite it belongs to.
  rreduced=$work/full-real-r1/T29UNU_20221005T115411_48_60m_r1.tif
  full real-preview --preview --world-file --reduce 1 "$band"
  box="-8.40 52.70 -8.30 52.78"
  named=$(ref bbox "$rfull" $box) crop "real, --preview" "$full" "$(ref bbox "$rreduced" $box)" \
    --preview --world-file --reduce 1 --bbox "${box// /,}" "$band"
  [ -n "$crop" ] && { ls "$work/crop" | grep -q '\.pgw$' || fail "real, --preview: no world file"; }
  # --quicklook beside the crop, of the crop's size.
  window=$(ref bbox "$rfull" $box)
  ql=1 crop "real, --quicklook" "$rfull" "$window" --quicklook --bbox "${box// /,}" "$band"
  if [ -n "$crop" ]; then
    read -r _ _ width height <<<"$window"
    gdalinfo "${crop%.*}_ql.png" | grep -qx "Size is $width, $height" || fail "real, --quicklook: not the window's size"
  fi
  # --mask-clouds: the classification read over the same window.
  full real-masked --mask-clouds "$band"
  check_bbox "--mask-clouds" "$full" -8.40,52.70,-8.30,52.78 --mask-clouds

  # --cloud-free: several generated dates of T29UNU (300 x 300 pixels of 60 m, code-stream tiles
  # of 128) over one window.
  "$python" "$tests/make-dates.py" "$work/dates" T29UNU 300 20220905 20221005 20221015 >/dev/null || fail "make-dates"
  full cloud-free --cloud-free "$work/dates"
  box="-8.95,53.15,-8.80,53.23"
  crop "generated dates, --cloud-free" "$full" "$(ref bbox "$full" ${box//,/ })" --cloud-free --bbox "$box" "$work/dates"
else
  [ -n "${BANDWEAVE_REQUIRE_REAL_DATA:-}" ] && [ "${BANDWEAVE_REQUIRE_REAL_DATA}" != 0 ] &&
    fail "the real data is required but absent: $scene"
  echo "note: no real data, the real bands' checks left out"
fi

# Bad areas: exit 2 and the reason on stderr before any band is read (the bands here are not
# even JPEG 2000, which would be a reason of its own), nothing written.
mkdir "$work/junk" "$work/bad"
for b in B02 B03 B04; do echo "not a picture" >"$work/junk/${stem}$b.jp2"; done
bad() {  # bad NAME REASON ARGS...
  local name=$1 reason=$2
  shift 2
  tool --out "$work/bad" "$@" "$work/junk/${stem}B03.jp2"
  [ "$status" = 2 ] || fail "bad $name: exit $status, expected 2"
  grep -qF -- "$reason" "$work/err" || { fail "bad $name: expected \"$reason\" on stderr"; cat "$work/out" "$work/err"; }
  [ -z "$(ls -A "$work/bad")" ] || fail "bad $name: wrote $(ls -A "$work/bad")"
}
area() {  # area NAME TEXT: an area file
  printf '%s' "$2" >"$work/$1.geojson"
  echo "$work/$1.geojson"
}
ring='[[-8.3,53.5],[-8.1,53.5],[-8.1,53.6],[-8.3,53.5]]'
bad "bbox, three numbers" "--bbox takes four numbers" --bbox -8.5,53.1,-8.4
bad "bbox, not numbers" "--bbox takes four numbers" --bbox west,53.1,-8.4,53.2
bad "bbox, west beyond -180" "outside longitude -180..180" --bbox -181,53.1,-8.4,53.2
bad "bbox, north beyond 90" "outside longitude -180..180" --bbox -8.5,53.1,-8.4,90.5
bad "bbox, west not less than east" "is not less than east" --bbox -8.4,53.1,-8.5,53.2
bad "bbox, zero height" "is not less than north" --bbox -8.5,53.1,-8.4,53.1
bad "projwin, upside down" "the window is empty" --projwin 500000,5800000,510000,5810000
bad "projwin, zero width" "the window is empty" --projwin 500000,5800000,500000,5790000
bad "aoi, not JSON" "is not valid JSON" --aoi "$(area notjson '{"type":"Polygon","coordinates":[[[-8.3,53.5],')"
bad "aoi, not GeoJSON" "no \"type\"" --aoi "$(area notgeojson '{"coordinates":[]}')"
bad "aoi, a point" "only Polygon and MultiPolygon" --aoi "$(area point '{"type":"Point","coordinates":[-8.3,53.5]}')"
bad "aoi, three positions" "a ring needs at least 4" \
  --aoi "$(area three '{"type":"Polygon","coordinates":[[[-8.3,53.5],[-8.1,53.5],[-8.3,53.5]]]}')"
bad "aoi, ring not closed" "not closed" \
  --aoi "$(area open '{"type":"Polygon","coordinates":[[[-8.3,53.5],[-8.1,53.5],[-8.1,53.6],[-8.2,53.6]]]}')"
bad "aoi, latitude beyond 90" "outside longitude -180..180" \
  --aoi "$(area lat '{"type":"Polygon","coordinates":[[[-8.3,53.5],[-8.1,93.5],[-8.1,53.6],[-8.3,53.5]]]}')"
bad "aoi, across the antimeridian" "antimeridian" \
  --aoi "$(area dateline '{"type":"Polygon","coordinates":[[[179.5,-17],[-179.5,-17],[-179.5,-16],[179.5,-16],[179.5,-17]]]}')"
bad "aoi, a MultiPolygon across the antimeridian" "antimeridian" --aoi "$(area dateline2 \
  '{"type":"MultiPolygon","coordinates":[[[[179.5,-17],[179.9,-17],[179.9,-16],[179.5,-17]]],[[[-179.9,-17],[-179.5,-17],[-179.5,-16],[-179.9,-17]]]]}')"
truncate -s 300M "$work/huge.geojson"
bad "aoi, hundreds of megabytes" "an area file may have at most" --aoi "$work/huge.geojson"
bad "aoi, missing" "cannot read the area file" --aoi "$work/nothing.geojson"
bad "two areas at once" "choose one of --bbox, --projwin and --aoi" --bbox -8.5,53.1,-8.4,53.2 --aoi "$(area ok "{\"type\":\"Polygon\",\"coordinates\":[$ring]}")"

# A batch over an archive of two tiles with one area: the tile it meets is cropped, the other
# passed over as skipped with the reason, and a second run skips both.
if [ -d "$scene" ] && [ -d "$real/l1c_T19UDP_20170729_aws_layout" ]; then
  mkdir -p "$work/archive/t29unu" "$work/archive/t19udp"
  for b in B02 B03 B04; do
    ln -s "$scene/T29UNU_20221005T115411_${b}_60m.jp2" "$work/archive/t29unu/"
    # T19UDP's real samples and grid, as ESA ships them: JPEG 2000 with a GML box.
    gdal_translate -q -of JP2OpenJPEG -co REVERSIBLE=YES -co QUALITY=100 -co GMLJP2=YES -co GeoJP2=NO \
      "$real/l1c_T19UDP_20170729_aws_layout/$b.jp2" "$work/archive/t19udp/T19UDP_20170729T153141_$b.jp2" ||
      fail "batch: converting T19UDP's $b"
  done
  rm -f "$work"/archive/t19udp/*.aux.xml
  field=$work/hole.geojson
  tool --aoi "$field" --out "$work/batch" "$work/archive"
  [ "$status" = 0 ] || fail "batch: exit $status"
  window=$(ref aoi "$rfull" "$field")
  read -r col row width height <<<"$window"
  grep -qx "written	.*T29UNU_20221005T115411_48_60m_x${col}y${row}w${width}h${height}\.tif" "$work/out" ||
    { fail "batch: T29UNU not written as its crop"; cat "$work/out" "$work/err"; }
  grep -q "^skipped	.*	The area of interest does not overlap tile T19UDP$" "$work/out" ||
    { fail "batch: T19UDP not passed over"; cat "$work/out" "$work/err"; }
  [ "$(wc -l <"$work/out")" = 2 ] || { fail "batch: not one line a job"; cat "$work/out"; }
  [ "$(ls "$work/batch")" = "T29UNU_20221005T115411_48_60m_x${col}y${row}w${width}h${height}.tif" ] ||
    fail "batch: wrote $(ls "$work/batch")"
  tool --aoi "$field" --out "$work/batch" "$work/archive"
  [ "$status" = 0 ] && [ "$(cut -f1 "$work/out" | sort | uniq -c | tr -s ' ')" = " 2 skipped" ] ||
    { fail "batch again: not both skipped"; cat "$work/out" "$work/err"; }
  # Resume tells a crop from the full composite, and from a crop of other polygons over the same
  # window (the field without its pond), which takes the same name.
  batch_status() {  # batch_status EXPECTED ARGS...: the first words of the lines, sorted
    local want=$1
    shift
    tool --out "$work/batch" "$@" "$work/archive"
    [ "$(cut -f1 "$work/out" | sort | tr '\n' ' ')" = "$want" ] ||
      { fail "batch $*: expected $want"; cat "$work/out" "$work/err"; }
  }
  cat >"$work/no-pond.geojson" <<'EOF'
{"type":"Polygon","coordinates":[
  [[-8.31,52.92],[-8.12,52.95],[-8.15,53.06],[-8.27,53.09],[-8.36,53.00],[-8.31,52.92]]]}
EOF
  [ "$(ref aoi "$rfull" "$work/no-pond.geojson")" = "$window" ] || fail "batch: the field without its pond has another window"
  batch_status "written written "
  batch_status "skipped written " --aoi "$work/no-pond.geojson"
  # Same name, other polygons: the field's crop is made again, and then is up to date.
  batch_status "skipped written " --aoi "$field"
  batch_status "skipped skipped " --aoi "$field"
fi

[ $fails = 0 ] && echo "areas of interest: all passed"
exit $((fails > 0))
