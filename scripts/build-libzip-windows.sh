#!/usr/bin/env bash
# Cross-builds a static libzip for x86_64-w64-mingw32 from Debian's source package, against the
# zlib of the FreeImage prefix, and prints its install prefix on stdout - nothing else:
#   cmake ... -DBANDWEAVE_LIBZIP_PREFIX="$(scripts/build-libzip-windows.sh "$freeimage_prefix")"
# The recipe is scripts/cross-build.sh's; the prefix's name also hashes the zlib it uses.
# Build log: $BANDWEAVE_CACHE/libzip-win64.log.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR source=cross-build.sh
source "$here/cross-build.sh"

zlib_prefix=${1:-$("$here/build-freeimage-windows.sh")}
[ -f "$zlib_prefix/lib/libz.a" ] || { echo "build-libzip-windows: no zlib in $zlib_prefix" >&2; exit 1; }
cross_hashed=("$zlib_prefix/lib/libz.a")
cross_root=$zlib_prefix
# Deflate and stored entries only: no other compressors, no encryption, no tools.
cross_build libzip "include/zip.h include/zipconf.h lib/libzip.a" \
  -DZLIB_INCLUDE_DIR="$zlib_prefix/include" -DZLIB_LIBRARY="$zlib_prefix/lib/libz.a" \
  -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_COMMONCRYPTO=OFF \
  -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF \
  -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
