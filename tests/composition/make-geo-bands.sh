#!/usr/bin/env bash
# Georeferenced band files for the tests, made by GDAL at test time: 40 x 30 bands of 60 m
# pixels in WGS 84 / UTM zone 29N whose first pixel's outer corner is at 499980, 5900040,
#   gml/      B02, B03, B04 described by a GML box, as ESA describes its bands
#   geojp2/   the same three described by a GeoJP2 box only
#   elsewhere B02 of the same size with its corner 600 m further east
#   make-geo-bands.sh OUT-FOLDER
set -euo pipefail
out=$1
for tool in gdal_create gdal_translate; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/install-deps.sh installs GDAL"; exit 1; }
done
rm -rf "$out"
mkdir -p "$out/gml" "$out/geojp2" "$out/elsewhere"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

band() {  # band FILE VALUE LEFT GML GEOJP2
  local left=$3 top=5900040
  gdal_create -q -of GTiff -outsize 40 30 -bands 1 -ot UInt16 -burn "$2" -a_srs EPSG:32629 \
    -a_ullr "$left" "$top" $((left + 40 * 60)) $((top - 30 * 60)) "$work/band.tif"
  gdal_translate -q -of JP2OpenJPEG -co REVERSIBLE=YES -co "GMLJP2=$4" -co "GeoJP2=$5" "$work/band.tif" "$1"
}
for b in B02:1200 B03:2300 B04:3400; do
  band "$out/gml/GEO_${b%:*}.jp2" "${b#*:}" 499980 YES NO
  band "$out/geojp2/GEO_${b%:*}.jp2" "${b#*:}" 499980 NO YES
done
band "$out/elsewhere/GEO_B02.jp2" 1200 500580 YES NO
# GDAL's side files are not what is tested: only the boxes inside the bands count.
find "$out" -name '*.aux.xml' -delete
echo "georeferenced bands in $out"
