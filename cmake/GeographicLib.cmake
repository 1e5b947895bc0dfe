# Bandweave::geographiclib: the geodesy that carries longitude and latitude into a tile's UTM
# zone. Native: Debian's libgeographiclib-dev. Windows: the static prefix that
# scripts/build-geographiclib-windows.sh cross-builds (BANDWEAVE_GEOGRAPHICLIB_PREFIX).
if(TARGET Bandweave::geographiclib)
  return()
endif()
if(WIN32)
  set(BANDWEAVE_GEOGRAPHICLIB_PREFIX "" CACHE PATH "Prefix of the mingw-built static GeographicLib")
  if(BANDWEAVE_GEOGRAPHICLIB_PREFIX AND EXISTS ${BANDWEAVE_GEOGRAPHICLIB_PREFIX}/lib/libGeographicLib.a)
    add_library(Bandweave::geographiclib STATIC IMPORTED)
    set_target_properties(Bandweave::geographiclib PROPERTIES
      IMPORTED_LOCATION ${BANDWEAVE_GEOGRAPHICLIB_PREFIX}/lib/libGeographicLib.a
      INTERFACE_INCLUDE_DIRECTORIES ${BANDWEAVE_GEOGRAPHICLIB_PREFIX}/include)
  endif()
else()
  find_path(GEOGRAPHICLIB_INCLUDE_DIR GeographicLib/TransverseMercator.hpp)
  find_library(GEOGRAPHICLIB_LIBRARY NAMES GeographicLib)
  if(GEOGRAPHICLIB_INCLUDE_DIR AND GEOGRAPHICLIB_LIBRARY)
    add_library(Bandweave::geographiclib UNKNOWN IMPORTED)
    set_target_properties(Bandweave::geographiclib PROPERTIES
      IMPORTED_LOCATION ${GEOGRAPHICLIB_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${GEOGRAPHICLIB_INCLUDE_DIR})
  endif()
endif()
