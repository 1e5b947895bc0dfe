#!/usr/bin/env bash
# Cross-builds a static libzip for x86_64-w64-mingw32 from Debian's source package, against the
# zlib of the FreeImage prefix, and prints its install prefix on stdout - nothing else:
#   cmake ... -DBANDWEAVE_LIBZIP_PREFIX="$(scripts/build-libzip-windows.sh "$freeimage_prefix")"
# The prefix lives in $BANDWEAVE_CACHE (default ~/.cache/bandweave) beside FreeImage's but apart
# from it, named after the source version and a hash of this recipe and of the zlib it uses:
# a run with it present takes a second. Build log: $BANDWEAVE_CACHE/libzip-win64.log.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
toolchain=$root/cmake/toolchain-mingw64.cmake
zlib_prefix=${1:-$("$here/build-freeimage-windows.sh")}
cache=${BANDWEAVE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bandweave}
log=$cache/libzip-win64.log
triple=x86_64-w64-mingw32
jobs=${BANDWEAVE_JOBS:-2}
[ -f "$zlib_prefix/lib/libz.a" ] || { echo "build-libzip-windows: no zlib in $zlib_prefix" >&2; exit 1; }

mkdir -p "$cache/sources"
exec 3>&1 4>&2
exec 9>"$cache/.libzip-win64.lock"
flock 9

finish() {
  local rc=$?
  if [ $rc -ne 0 ]; then
    echo "build-libzip-windows: failed (exit $rc); end of $log:" >&4
    tail -n 30 "$log" >&4 2>/dev/null || true
  fi
}
trap finish EXIT

# build-freeimage-windows.sh has added the deb-src entries this needs.
version=$(apt-cache showsrc --only-source libzip 2>/dev/null | awk '/^Version:/ {print $2}' | sort -Vru | head -n1)
[ -n "$version" ] || { echo "build-libzip-windows: apt knows no libzip source package" >&4; exit 1; }
dsc=$cache/sources/libzip_${version#*:}.dsc

recipe_hash=$(cat "${BASH_SOURCE[0]}" "$toolchain" "$zlib_prefix/lib/libz.a" | sha256sum | cut -c1-12)
prefix=$cache/libzip-win64-${version%%-*}-$recipe_hash
if [ -f "$prefix/lib/libzip.a" ]; then
  echo "$prefix" >&3
  exit 0
fi

echo "build-libzip-windows: building static libzip for Windows (a minute; log: $log)" >&4
exec >"$log" 2>&1
date -u
if [ ! -e "$dsc" ]; then
  rm -rf "$cache/sources/.libzip-download"
  mkdir "$cache/sources/.libzip-download"
  (cd "$cache/sources/.libzip-download" && apt-get source --download-only "libzip=$version")
  mv -f "$cache/sources/.libzip-download"/* "$cache/sources/"
  rm -rf "$cache/sources/.libzip-download"
fi

work=$cache/work-libzip-$recipe_hash
stage=$prefix.tmp
rm -rf "$work" "$stage"
mkdir -p "$work"
dpkg-source --no-check -x "$dsc" "$work/libzip"
cat >"$work/toolchain.cmake" <<EOF
include("$toolchain")
list(APPEND CMAKE_FIND_ROOT_PATH "$zlib_prefix")
unset(CMAKE_CROSSCOMPILING_EMULATOR)
EOF
# Deflate and stored entries only: no other compressors, no encryption, no tools.
CC=$triple-gcc-posix cmake -S "$work/libzip" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$stage" -DBUILD_SHARED_LIBS=OFF \
  -DZLIB_INCLUDE_DIR="$zlib_prefix/include" -DZLIB_LIBRARY="$zlib_prefix/lib/libz.a" \
  -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_COMMONCRYPTO=OFF \
  -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
cmake --build "$work/build" -j "$jobs"
cmake --install "$work/build"
for f in include/zip.h include/zipconf.h lib/libzip.a; do
  [ -f "$stage/$f" ] || { echo "the build did not produce $f"; exit 1; }
done
rm -rf "$prefix"
mv "$stage" "$prefix"
rm -rf "$work"
date -u
echo "$prefix" >&3
