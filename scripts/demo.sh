#!/usr/bin/env bash
# The main job on a generated sample tile: builds the console tool, makes sample/ (1024 x 1024)
# and merges its true-colour bands, dropping the green band's file as a user would.
set -euo pipefail
cd "$(dirname "$0")/.."
nb=${BANDWEAVE_NATIVE_BUILD:-build/native}
# Configure every time: a layer added since the tree was made is picked up only then.
cmake -S . -B "$nb" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANDWEAVE_TEST_DATA="$PWD/build/testdata" >/dev/null
cmake --build "$nb" --target bandweave-cli
scripts/make-sample.sh sample 1024
band=sample/T33UUP_20250101T101021_B03.jp2
echo "== bandweave-cli --tiff $band"
"$nb/src/cli/bandweave-cli" --tiff --times "$band"
out=sample/T33UUP_20250101T101021_48.tif
echo "The composite went to $PWD/$out ($(stat -c %s "$out") bytes)."
