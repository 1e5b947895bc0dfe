#!/usr/bin/env bash
# Configures and builds both targets: build/native and build/windows.
#   scripts/build.sh [native|windows|all]
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
which=${1:-all}
: "${BANDWEAVE_CACHE:=${XDG_CACHE_HOME:-$HOME/.cache}/bandweave}"
export BANDWEAVE_CACHE
testdata=$top/build/testdata

if [ "$which" = native ] || [ "$which" = all ]; then
  [ -f build/native/build.ninja ] || cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBANDWEAVE_TEST_DATA="$testdata" >/dev/null
  cmake --build build/native
fi
if [ "$which" = windows ] || [ "$which" = all ]; then
  prefix=$(scripts/build-freeimage-windows.sh)
  # Always configure: the FreeImage prefix changes when its recipe or sources do.
  cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DBANDWEAVE_FREEIMAGE_PREFIX="$prefix" \
    -DBANDWEAVE_TEST_DATA="$testdata" >/dev/null
  cmake --build build/windows
fi
