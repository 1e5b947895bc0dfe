#!/usr/bin/env bash
# Cross-builds a static FreeImage for x86_64-w64-mingw32, with the codecs it needs (zlib,
# libdeflate, libpng, libtiff, OpenJPEG; Imath headers), from Debian's own source packages,
# and prints the install prefix on stdout - nothing else. Usage:
#   cmake ... -DBANDWEAVE_FREEIMAGE_PREFIX="$(scripts/build-freeimage-windows.sh)"
# The prefix lives in $BANDWEAVE_CACHE (default ~/.cache/bandweave), named after the source
# versions and a hash of this recipe: a run with it present takes seconds, a changed recipe or
# a new Debian source version builds afresh. The build log is $BANDWEAVE_CACHE/freeimage-win64.log.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
recipe=$here/freeimage-windows
toolchain=$root/cmake/toolchain-mingw64.cmake
cache=${BANDWEAVE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bandweave}
log=$cache/freeimage-win64.log
triple=x86_64-w64-mingw32
jobs=${BANDWEAVE_JOBS:-2}
# Source packages, lowest first.
packages=(zlib libdeflate libpng1.6 tiff openjpeg2 imath freeimage)
srclist=/etc/apt/sources.list.d/bandweave-deb-src

mkdir -p "$cache"
exec 3>&1 4>&2 # 3: the prefix goes here; 4: progress notes
noted=0
note_once() { # the one progress line, printed when there is work to do
  if [ $noted -eq 0 ]; then
    echo "build-freeimage-windows: building static FreeImage for Windows (a few minutes; log: $log)" >&4
    noted=1
  fi
}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

# One build at a time per cache; a second caller waits and then finds the prefix ready.
exec 9>"$cache/.freeimage-win64.lock"
flock 9

# Source versions apt knows for a package, highest first; none without a deb-src index.
source_versions() {
  apt-cache showsrc --only-source "$1" 2>/dev/null | awk '/^Version:/ {print $2}' |
    sort -Vru || true
}

# Adds deb-src twins of the machine's own deb entries, in files of our own.
add_deb_src() {
  local tmp f
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    case $f in "$srclist".*) continue ;; esac
    awk 'BEGIN { RS = ""; ORS = "" }
      { n = split($0, L, "\n"); out = ""; deb = 0; off = 0
        for (i = 1; i <= n; i++) {
          if (L[i] ~ /^Types:/) { if (L[i] ~ /[ \t]deb([ \t]|$)/) deb = 1; L[i] = "Types: deb-src" }
          if (L[i] ~ /^Enabled:[ \t]*[Nn][Oo]/) off = 1
          out = out L[i] "\n" }
        if (deb && !off) print out "\n" }' "$f" >>"$tmp"
  done
  if [ -s "$tmp" ]; then $SUDO install -m 644 "$tmp" "$srclist.sources"; fi
  : >"$tmp"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] || continue
    case $f in "$srclist".*) continue ;; esac
    sed -n 's/^[ \t]*deb[ \t]/deb-src /p' "$f" >>"$tmp"
  done
  if [ -s "$tmp" ]; then $SUDO install -m 644 "$tmp" "$srclist.list"; fi
  rm -f "$tmp"
}

logging=0
start_log() { # everything from here on goes to the log
  if [ $logging -eq 0 ]; then exec >"$log" 2>&1; logging=1; fi
}

finish() {
  local rc=$?
  if [ $rc -ne 0 ] && [ $logging -eq 1 ]; then
    echo "build-freeimage-windows: failed (exit $rc); end of $log:" >&4
    tail -n 40 "$log" >&4 2>/dev/null || true
  elif [ $rc -ne 0 ]; then
    echo "build-freeimage-windows: failed (exit $rc)" >&4
  fi
}
trap finish EXIT

if [ -z "$(source_versions freeimage)" ]; then
  note_once
  start_log
  echo "adding Debian source entries and updating the package lists"
  add_deb_src
  $SUDO apt-get update
fi

# Each package's newest source that the archive serves, downloaded into the cache (apt checks
# it against the signed archive). A mirror may list a version it does not carry (a security
# update missing from it): such a version is remembered as unavailable and the next one used.
sources=$cache/sources
mkdir -p "$sources"
declare -A version
for p in "${packages[@]}"; do
  for v in $(source_versions "$p"); do
    dsc=$sources/${p}_${v#*:}.dsc
    [ -e "$dsc.unavailable" ] && continue
    if [ ! -e "$dsc" ]; then
      note_once
      start_log
      echo "downloading the $p $v sources"
      # Into a folder of its own first, so that an interrupted download leaves no .dsc behind.
      rm -rf "$sources/.download"
      mkdir "$sources/.download"
      if ! (cd "$sources/.download" && apt-get source --download-only "$p=$v") >"$sources/apt.out" 2>&1; then
        cat "$sources/apt.out"
        grep -q '404 *Not Found' "$sources/apt.out" || exit 1
        touch "$dsc.unavailable"
        continue
      fi
      cat "$sources/apt.out"
      mv -f "$sources/.download"/* "$sources/"
      rm -rf "$sources/.download"
    fi
    version[$p]=$v
    break
  done
  [ -n "${version[$p]:-}" ] || { start_log; echo "no source package for $p"; exit 1; }
done

# The key: every source version plus a hash of the recipe (this script, our FreeImage
# CMake list and placeholders, the toolchain file).
recipe_hash=$(cat "${BASH_SOURCE[0]}" "$toolchain" "$recipe"/* | sha256sum | cut -c1-12)
ids=""
for p in "${packages[@]}"; do ids+="$p=${version[$p]};"; done
key=$(printf '%s%s' "$ids" "$recipe_hash" | sha256sum | cut -c1-16)
fiv=${version[freeimage]%%+*}
prefix=$cache/freeimage-win64-$fiv-$key
if [ -f "$prefix/lib/libfreeimage.a" ]; then
  echo "$prefix" >&3
  exit 0
fi

note_once
start_log
echo "sources: $ids recipe $recipe_hash"
date -u

work=$cache/work-$key
stage=$prefix.tmp
rm -rf "$work" "$stage"
mkdir -p "$work" "$stage" "$cache/sources"

declare -A dir
for p in "${packages[@]}"; do
  dir[$p]=$work/$p
  dpkg-source --no-check -x "$sources/${p}_${version[$p]#*:}.dsc" "${dir[$p]}"
done

export CC=$triple-gcc-posix CXX=$triple-g++-posix AR=$triple-ar RANLIB=$triple-ranlib
# CMake toolchain: the project's, plus the stage as a search root so that each library finds
# the ones built before it, and no emulator (nothing here runs a Windows program).
cat >"$work/toolchain.cmake" <<EOF
include("$toolchain")
list(APPEND CMAKE_FIND_ROOT_PATH "$stage")
unset(CMAKE_CROSSCOMPILING_EMULATOR)
EOF
cmake_build() { # <source dir> <cmake options...>
  local src=$1
  shift
  cmake -S "$src" -B "$src/_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$stage" -DBUILD_SHARED_LIBS=OFF "$@"
  cmake --build "$src/_build" -j "$jobs"
  cmake --install "$src/_build"
}

echo "=== zlib"
(cd "${dir[zlib]}" && CHOST=$triple ./configure --static --prefix="$stage" && make -j"$jobs" libz.a &&
  make install)

echo "=== libdeflate"
(cd "${dir[libdeflate]}" && make -j"$jobs" CC="$CC" AR="$AR" libdeflatestatic.lib)
install -m 644 "${dir[libdeflate]}/libdeflatestatic.lib" "$stage/lib/libdeflate.a"
install -m 644 "${dir[libdeflate]}/libdeflate.h" "$stage/include/libdeflate.h"

echo "=== libpng"
cmake_build "${dir[libpng1.6]}" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
  -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON

echo "=== libtiff"
cmake_build "${dir[tiff]}" -Dzlib=ON -Dlibdeflate=ON -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF \
  -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dcxx=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF \
  -Dtiff-contrib=OFF -Dtiff-docs=OFF
grep -q '^#define LIBDEFLATE_SUPPORT' "$stage/include/tiffconf.h" ||
  { echo "libtiff was configured without libdeflate"; exit 1; }

echo "=== openjpeg"
# Without the Threads package OpenJPEG takes Win32 threads (no winpthread dependency).
cmake_build "${dir[openjpeg2]}" -DBUILD_CODEC=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_TESTING=OFF \
  -DBUILD_DOC=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Threads=ON

echo "=== imath (headers)"
# Without the lookup table half.h converts inline, so no Imath library is needed.
cmake_build "${dir[imath]}" -DIMATH_HALF_USE_LOOKUP_TABLE=OFF -DBUILD_TESTING=OFF \
  -DPYTHON=OFF -DIMATH_INSTALL_PKG_CONFIG=OFF

echo "=== freeimage"
cp "$recipe"/CMakeLists.txt "$recipe"/*.cpp "${dir[freeimage]}/"
cmake_build "${dir[freeimage]}"

for f in include/FreeImage.h lib/libfreeimage.a lib/libopenjp2.a lib/libtiff.a lib/libpng16.a \
  lib/libdeflate.a lib/libz.a; do
  [ -f "$stage/$f" ] || { echo "the build did not produce $f"; exit 1; }
done
# Done: make the prefix visible in one step, then drop the build tree.
rm -rf "$prefix"
mv "$stage" "$prefix"
rm -rf "$work"
date -u
echo "$prefix" >&3
