#!/usr/bin/env bash
# Cross-builds a static GeographicLib (the geodesy under areas of interest) for x86_64-w64-mingw32
# from Debian's source package and prints
# its install prefix on stdout - nothing else:
#   cmake ... -DBANDWEAVE_PUGIXML_PREFIX="$(scripts/build-geographiclib-windows.sh)"
# The prefix lives in $BANDWEAVE_CACHE (default ~/.cache/bandweave) beside FreeImage's, named
# after the source version and a hash of this recipe: a run with it present takes a second.
# Build log: $BANDWEAVE_CACHE/geographiclib-win64.log.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
toolchain=$root/cmake/toolchain-mingw64.cmake
cache=${BANDWEAVE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bandweave}
log=$cache/geographiclib-win64.log
triple=x86_64-w64-mingw32
jobs=${BANDWEAVE_JOBS:-2}

mkdir -p "$cache/sources"
exec 3>&1 4>&2
exec 9>"$cache/.geographiclib-win64.lock"
flock 9

finish() {
  local rc=$?
  if [ $rc -ne 0 ]; then
    echo "build-geographiclib-windows: failed (exit $rc); end of $log:" >&4
    tail -n 30 "$log" >&4 2>/dev/null || true
  fi
}
trap finish EXIT

# build-freeimage-windows.sh has added the deb-src entries this needs.
version=$(apt-cache showsrc --only-source geographiclib 2>/dev/null | awk '/^Version:/ {print $2}' | sort -Vru | head -n1)
[ -n "$version" ] || { echo "build-geographiclib-windows: apt knows no geographiclib source package" >&4; exit 1; }
dsc=$cache/sources/geographiclib_${version#*:}.dsc

recipe_hash=$(cat "${BASH_SOURCE[0]}" "$toolchain" | sha256sum | cut -c1-12)
prefix=$cache/geographiclib-win64-${version%%-*}-$recipe_hash
if [ -f "$prefix/lib/libGeographicLib.a" ]; then
  echo "$prefix" >&3
  exit 0
fi

echo "build-geographiclib-windows: building static geographiclib for Windows (a minute; log: $log)" >&4
exec >"$log" 2>&1
date -u
if [ ! -e "$dsc" ]; then
  rm -rf "$cache/sources/.geographiclib-download"
  mkdir "$cache/sources/.geographiclib-download"
  (cd "$cache/sources/.geographiclib-download" && apt-get source --download-only "geographiclib=$version")
  mv -f "$cache/sources/.geographiclib-download"/* "$cache/sources/"
  rm -rf "$cache/sources/.geographiclib-download"
fi

work=$cache/work-geographiclib-$recipe_hash
stage=$prefix.tmp
rm -rf "$work" "$stage"
mkdir -p "$work"
dpkg-source --no-check -x "$dsc" "$work/geographiclib"
cat >"$work/toolchain.cmake" <<EOT
include("$toolchain")
unset(CMAKE_CROSSCOMPILING_EMULATOR)
EOT
# The library alone, as Debian configures it (no wide-character mode, XPath kept).
# The static library and its headers only: no tools, no documentation, no examples.
CXX=$triple-g++-posix cmake -S "$work/geographiclib" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$stage" -DBUILD_SHARED_LIBS=OFF -DBUILD_BOTH_LIBS=OFF \
  -DBUILD_DOCUMENTATION=OFF -DBUILD_MANPAGES=OFF -DEXAMPLEDIR= -DINCDIR=include -DLIBDIR=lib
cmake --build "$work/build" -j "$jobs" --target GeographicLib_STATIC
mkdir -p "$stage/lib" "$stage/include/GeographicLib"
cp "$work/build/lib/libGeographicLib.a" "$stage/lib/"
cp "$work/geographiclib/include/GeographicLib/"*.hpp "$work/build/include/GeographicLib/Config.h" "$stage/include/GeographicLib/"
for f in include/GeographicLib/TransverseMercator.hpp include/GeographicLib/Config.h lib/libGeographicLib.a; do
  [ -f "$stage/$f" ] || { echo "the build did not produce $f"; exit 1; }
done
rm -rf "$prefix"
mv "$stage" "$prefix"
rm -rf "$work"
date -u
echo "$prefix" >&3
