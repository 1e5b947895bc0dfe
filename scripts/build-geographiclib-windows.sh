#!/usr/bin/env bash
# Cross-builds a static GeographicLib (the geodesy under areas of interest) for
# x86_64-w64-mingw32 from Debian's source package and prints its install prefix on stdout -
# nothing else:
#   cmake ... -DBANDWEAVE_GEOGRAPHICLIB_PREFIX="$(scripts/build-geographiclib-windows.sh)"
# The recipe is scripts/cross-build.sh's. Build log: $BANDWEAVE_CACHE/geographiclib-win64.log.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR source=cross-build.sh
source "$here/cross-build.sh"

# The static library and its headers only: no tools, no documentation, no examples.
cross_install() {
  cmake --build "$work/build" -j "$jobs" --target GeographicLib_STATIC
  mkdir -p "$stage/lib" "$stage/include/GeographicLib"
  cp "$work/build/lib/libGeographicLib.a" "$stage/lib/"
  cp "$work/geographiclib/include/GeographicLib/"*.hpp "$work/build/include/GeographicLib/Config.h" \
    "$stage/include/GeographicLib/"
}
cross_build geographiclib \
  "include/GeographicLib/TransverseMercator.hpp include/GeographicLib/Config.h lib/libGeographicLib.a" \
  -DBUILD_BOTH_LIBS=OFF -DBUILD_DOCUMENTATION=OFF -DBUILD_MANPAGES=OFF -DEXAMPLEDIR= \
  -DINCDIR=include -DLIBDIR=lib
