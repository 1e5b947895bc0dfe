# Sourced by the scripts: what more than one of them needs, written once.
#   bandweave_cache              sets and exports BANDWEAVE_CACHE (default ~/.cache/bandweave)
#   configure_windows DIR [OPT]  configures the Windows build tree DIR (Release, cross-built
#                                FreeImage, libzip, pugixml and GeographicLib, generated test data), cmake options OPT added
_bw_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bandweave_cache() {
  : "${BANDWEAVE_CACHE:=${XDG_CACHE_HOME:-$HOME/.cache}/bandweave}"
  export BANDWEAVE_CACHE
}

configure_windows() {
  local dir=$1 prefix zip_prefix pugixml_prefix geographiclib_prefix
  shift
  prefix=$("$_bw_root/scripts/build-freeimage-windows.sh")
  zip_prefix=$("$_bw_root/scripts/build-libzip-windows.sh" "$prefix")
  pugixml_prefix=$("$_bw_root/scripts/build-pugixml-windows.sh")
  geographiclib_prefix=$("$_bw_root/scripts/build-geographiclib-windows.sh")
  cmake -S "$_bw_root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$_bw_root/cmake/toolchain-mingw64.cmake" -DBANDWEAVE_FREEIMAGE_PREFIX="$prefix" \
    -DBANDWEAVE_LIBZIP_PREFIX="$zip_prefix" -DBANDWEAVE_PUGIXML_PREFIX="$pugixml_prefix" \
    -DBANDWEAVE_GEOGRAPHICLIB_PREFIX="$geographiclib_prefix" \
    -DBANDWEAVE_TEST_DATA="$_bw_root/build/testdata" "$@"
}
