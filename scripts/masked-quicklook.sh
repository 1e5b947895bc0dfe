#!/usr/bin/env bash
# Makes docs/masked-quicklook.png, the masked quicklook the README shows: the console tool's
# --preview --mask-clouds of the real cloudy L2A scene T29UNU at 1/4 of its 60 m size, clouds,
# shadows and no data transparent.
#   scripts/masked-quicklook.sh [out.png]
#   BANDWEAVE_REAL_DATA: the real band files (default ../shared/data/s2-real beside the project).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
out=${1:-docs/masked-quicklook.png}
scene=${BANDWEAVE_REAL_DATA:-$top/../shared/data/s2-real}/l2a_T29UNU_20221005_unmodified
[ -f "$scene/T29UNU_20221005T115411_B04_60m.jp2" ] ||
  { echo "masked-quicklook: no real L2A scene in $scene" >&2; exit 1; }
# Only the console tool is needed.
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANDWEAVE_TEST_DATA="$top/build/testdata" >/dev/null
cmake --build build/native --target bandweave-cli >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/native/src/cli/bandweave-cli --preview --mask-clouds --reduce 2 --out "$work" \
  "$scene/T29UNU_20221005T115411_B04_60m.jp2" >/dev/null
mkdir -p "$(dirname "$out")"
cp "$work/T29UNU_20221005T115411_48_60m_masked_ql.png" "$out"
echo "$out: $(stat -c %s "$out") bytes"
