#!/usr/bin/env bash
# Generates the band files the tests read (both builds read the same folder):
#   tile/   T33UUP_20250101T101021_B02/B03/B04/B08.jp2, 300 x 200, a complete tile
#   mixed/  the same names at mixed sizes: B04 300 x 200, B03 150 x 100, B02 320 x 240, B08 300 x 200
#   tiny/   all four bands at 3 x 2 pixels
#   large/  B02, B03, B04 at 4000 x 4000: a job of several seconds, for the window's responsiveness
# Sample values: tools/gensample/SampleValues.h. Idempotent: a second run with unchanged
# generator returns at once.
#   scripts/make-testdata.sh [DIR]   (default build/testdata)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/testdata}
mkdir -p "$out"
stamp=$(cat tools/gensample/gensample.cpp tools/gensample/SampleValues.h scripts/make-testdata.sh | sha256sum | cut -c1-16)
[ -f "$out/.stamp" ] && [ "$(cat "$out/.stamp")" = "$stamp" ] && exit 0

command -v opj_compress >/dev/null || { echo "make-testdata: opj_compress missing (package libopenjp2-tools)" >&2; exit 1; }
gen="$out/.gensample"
g++ -O2 -std=c++17 tools/gensample/gensample.cpp -o "$gen"
rm -rf "$out/tile" "$out/mixed" "$out/tiny" "$out/large"
mkdir -p "$out/tile" "$out/mixed" "$out/tiny" "$out/large"
"$gen" "$out/tile" 300 200 &
"$gen" "$out/tiny" 3 2 &
{ "$gen" "$out/mixed" 300 200 B04 B08 && "$gen" "$out/mixed" 150 100 B03 && "$gen" "$out/mixed" 320 240 B02; } &
for job in $(jobs -p); do wait "$job"; done
"$gen" "$out/large" 4000 4000 B02 B03 B04
echo "$stamp" > "$out/.stamp"
echo "Test data in $out"
