#!/usr/bin/env bash
# Configures and builds both targets: build/native and build/windows, and the sanitizer build
# build/native-asan.
#   scripts/build.sh [native|asan|windows|all]   (asan: the portable core under ASan + UBSan)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
which=${1:-all}
: "${BANDWEAVE_CACHE:=${XDG_CACHE_HOME:-$HOME/.cache}/bandweave}"
export BANDWEAVE_CACHE
testdata=$top/build/testdata

if [ "$which" = native ] || [ "$which" = all ]; then
  # Configure every time: a layer or test folder added since the tree was made shows up only then.
  cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBANDWEAVE_TEST_DATA="$testdata" >/dev/null
  cmake --build build/native
fi
if [ "$which" = asan ] || [ "$which" = all ]; then
  # The portable core once more under AddressSanitizer and UndefinedBehaviorSanitizer.
  cmake -S . -B build/native-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DBANDWEAVE_SANITIZE=ON -DBANDWEAVE_TEST_DATA="$testdata" >/dev/null
  cmake --build build/native-asan
fi
if [ "$which" = windows ] || [ "$which" = all ]; then
  prefix=$(scripts/build-freeimage-windows.sh)
  zip_prefix=$(scripts/build-libzip-windows.sh "$prefix")
  # Always configure: the FreeImage prefix changes when its recipe or sources do.
  cmake -S . -B build/windows -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DBANDWEAVE_FREEIMAGE_PREFIX="$prefix" \
    -DBANDWEAVE_LIBZIP_PREFIX="$zip_prefix" \
    -DBANDWEAVE_TEST_DATA="$testdata" >/dev/null
  cmake --build build/windows
fi
