# shellcheck shell=bash
# The recipe of the scripts that cross-build one static library for x86_64-w64-mingw32 from
# Debian's source package (build-libzip-windows.sh, build-pugixml-windows.sh,
# build-geographiclib-windows.sh). Sourced; the script then calls
#   cross_build PACKAGE 'FILE...' [CMAKE-OPTION...]
# which prints the install prefix on stdout - nothing else - once it holds every FILE. The prefix
# lives in $BANDWEAVE_CACHE (default ~/.cache/bandweave) beside FreeImage's, named after the
# source version and a hash of the recipe (the calling script, this file, the toolchain file and
# the files in cross_hashed): a run with it present takes a second. One build at a time per
# package and cache; the build log is $BANDWEAVE_CACHE/PACKAGE-win64.log.
# Set before the call, where the library needs them:
#   cross_hashed   more files whose content the build depends on
#   cross_root     a prefix the library's build searches besides mingw's own
#   cross_install  a function that builds and installs the configured tree ($work/build, the
#                  sources in $work/PACKAGE) into $stage; by default all of it, with cmake --install
cross_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cross_hashed=()
cross_root=
jobs=${BANDWEAVE_JOBS:-2}

cross_install() {
  cmake --build "$work/build" -j "$jobs"
  cmake --install "$work/build"
}

cross_build() {
  local package=$1 files=$2 name cache log toolchain version dsc recipe_hash prefix f
  shift 2
  name=$(basename "$0" .sh)
  toolchain=$(dirname "$cross_here")/cmake/toolchain-mingw64.cmake
  cache=${BANDWEAVE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bandweave}
  log=$cache/$package-win64.log

  mkdir -p "$cache/sources"
  exec 3>&1 4>&2 # 3: the prefix goes here; 4: progress notes
  exec 9>"$cache/.$package-win64.lock"
  flock 9
  _cross_name=$name _cross_log=$log
  trap _cross_finish EXIT

  # build-freeimage-windows.sh has added the deb-src entries this needs.
  version=$(apt-cache showsrc --only-source "$package" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -Vru | head -n1)
  [ -n "$version" ] || { echo "$name: apt knows no $package source package" >&4; exit 1; }
  dsc=$cache/sources/${package}_${version#*:}.dsc

  recipe_hash=$(cat "$0" "${BASH_SOURCE[0]}" "$toolchain" "${cross_hashed[@]}" | sha256sum | cut -c1-12)
  prefix=$cache/$package-win64-${version%%-*}-$recipe_hash
  if _cross_complete "$prefix" "$files"; then
    echo "$prefix" >&3
    exit 0
  fi

  echo "$name: building static $package for Windows (a minute; log: $log)" >&4
  exec >"$log" 2>&1
  date -u
  if [ ! -e "$dsc" ]; then
    # Into a folder of its own first, so that an interrupted download leaves no .dsc behind.
    rm -rf "$cache/sources/.$package-download"
    mkdir "$cache/sources/.$package-download"
    (cd "$cache/sources/.$package-download" && apt-get source --download-only "$package=$version")
    mv -f "$cache/sources/.$package-download"/* "$cache/sources/"
    rm -rf "$cache/sources/.$package-download"
  fi

  work=$cache/work-$package-$recipe_hash
  stage=$prefix.tmp
  rm -rf "$work" "$stage"
  mkdir -p "$work"
  dpkg-source --no-check -x "$dsc" "$work/$package"
  # The project's toolchain, no emulator (nothing here runs a Windows program).
  {
    echo "include(\"$toolchain\")"
    [ -z "$cross_root" ] || echo "list(APPEND CMAKE_FIND_ROOT_PATH \"$cross_root\")"
    echo "unset(CMAKE_CROSSCOMPILING_EMULATOR)"
  } >"$work/toolchain.cmake"
  cmake -S "$work/$package" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$stage" -DBUILD_SHARED_LIBS=OFF "$@"
  cross_install
  for f in $files; do
    [ -f "$stage/$f" ] || { echo "the build did not produce $f"; exit 1; }
  done
  # Done: make the prefix visible in one step, then drop the build tree.
  rm -rf "$prefix"
  mv "$stage" "$prefix"
  rm -rf "$work"
  date -u
  echo "$prefix" >&3
}

_cross_complete() { # PREFIX 'FILE...': whether the prefix holds every file
  local f
  for f in $2; do [ -f "$1/$f" ] || return 1; done
}

_cross_finish() {
  local rc=$?
  if [ $rc -ne 0 ]; then
    echo "$_cross_name: failed (exit $rc); end of $_cross_log:" >&4
    tail -n 30 "$_cross_log" >&4 2>/dev/null || true
  fi
}
