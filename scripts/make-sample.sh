#!/usr/bin/env bash
# Writes a generated Sentinel-2-like tile (T33UUP_20250101T101021_B02/B03/B04/B08.jp2) into DIR.
#   scripts/make-sample.sh [DIR [SIZE [BAND...]]]   defaults: sample/, 1024, all four bands
# Sample values: tools/gensample/SampleValues.h. Bands already there at the right size stay.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-sample}
size=${2:-1024}
shift $(( $# > 2 ? 2 : $# ))
bands=("$@")
[ ${#bands[@]} -eq 0 ] && bands=(B02 B03 B04 B08)
command -v opj_compress >/dev/null || { echo "make-sample: opj_compress missing (package libopenjp2-tools)" >&2; exit 1; }

# shellcheck source=lib.sh
source scripts/lib.sh
bandweave_cache
mkdir -p "$BANDWEAVE_CACHE" "$dir"
gen=$BANDWEAVE_CACHE/gensample
if [ ! -x "$gen" ] || [ tools/gensample/gensample.cpp -nt "$gen" ] || [ tools/gensample/SampleValues.h -nt "$gen" ]; then
  g++ -O2 -std=c++17 tools/gensample/gensample.cpp -o "$gen.new" && mv "$gen.new" "$gen"
fi

# A stamp per band records the size and generator it was made with.
version=$(cat tools/gensample/gensample.cpp tools/gensample/SampleValues.h | sha256sum | cut -c1-16)
todo=()
for band in "${bands[@]}"; do
  file=$dir/T33UUP_20250101T101021_$band.jp2
  [ -f "$file" ] && [ "$(cat "$file.stamp" 2>/dev/null)" = "$size $version" ] || todo+=("$band")
done
[ ${#todo[@]} -eq 0 ] && exit 0
echo "Generating ${todo[*]} at $size x $size in $dir" >&2
# Two encoders at a time: opj_compress uses one core.
pids=()
for band in "${todo[@]}"; do
  rm -f "$dir/T33UUP_20250101T101021_$band.jp2.stamp"
  ( "$gen" "$dir" "$size" "$size" "$band" && echo "$size $version" >"$dir/T33UUP_20250101T101021_$band.jp2.stamp" ) &
  pids+=($!)
  if [ ${#pids[@]} -ge 2 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
done
for pid in "${pids[@]}"; do wait "$pid"; done
