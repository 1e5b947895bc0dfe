#!/usr/bin/env bash
# Configures and builds both targets: build/native and build/windows, and the sanitizer build
# build/native-asan.
#   scripts/build.sh [native|asan|windows|all]   (asan: the portable core under ASan + UBSan)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
which=${1:-all}
# shellcheck source=lib.sh
source scripts/lib.sh
bandweave_cache
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
  # Always configure: the FreeImage prefix changes when its recipe or sources do.
  configure_windows build/windows >/dev/null
  cmake --build build/windows
fi
