# Bandweave::geographiclib: the geodesy that carries longitude and latitude into a tile's UTM
# zone. Native: Debian's libgeographiclib-dev. Windows: the static prefix that
# scripts/build-geographiclib-windows.sh cross-builds (BANDWEAVE_GEOGRAPHICLIB_PREFIX).
include(ImportedLibrary)
set(BANDWEAVE_GEOGRAPHICLIB_PREFIX "" CACHE PATH "Prefix of the mingw-built static GeographicLib")
bandweave_imported_library(Bandweave::geographiclib
  PREFIX "${BANDWEAVE_GEOGRAPHICLIB_PREFIX}" LIBRARY lib/libGeographicLib.a INCLUDE include
  VAR GEOGRAPHICLIB HEADER GeographicLib/TransverseMercator.hpp NAMES GeographicLib)
