# Bandweave::zip: libzip. Native: Debian's libzip-dev (not libzip's own CMake package: Debian's
# names the tools of another package, libzip-tools). Windows: the static prefix that
# scripts/build-libzip-windows.sh cross-builds (BANDWEAVE_LIBZIP_PREFIX), against the zlib of
# the FreeImage prefix.
include(ImportedLibrary)
set(BANDWEAVE_LIBZIP_PREFIX "" CACHE PATH "Prefix of the mingw-built static libzip")
bandweave_imported_library(Bandweave::zip
  PREFIX "${BANDWEAVE_LIBZIP_PREFIX}" LIBRARY lib/libzip.a INCLUDE include
  DEFINITIONS ZIP_STATIC LINK "${BANDWEAVE_FREEIMAGE_PREFIX}/lib/libz.a" advapi32
  REQUIRES "${BANDWEAVE_FREEIMAGE_PREFIX}/lib/libz.a"
  VAR LIBZIP HEADER zip.h NAMES zip)
