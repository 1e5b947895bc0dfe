# Bandweave::zip: libzip. Native: Debian's libzip-dev. Windows: the static prefix that
# scripts/build-libzip-windows.sh cross-builds (BANDWEAVE_LIBZIP_PREFIX), against the zlib of
# the FreeImage prefix.
if(TARGET Bandweave::zip)
  return()
endif()
if(WIN32)
  set(BANDWEAVE_LIBZIP_PREFIX "" CACHE PATH "Prefix of the mingw-built static libzip")
  if(BANDWEAVE_LIBZIP_PREFIX AND EXISTS ${BANDWEAVE_LIBZIP_PREFIX}/lib/libzip.a
     AND EXISTS ${BANDWEAVE_FREEIMAGE_PREFIX}/lib/libz.a)
    add_library(Bandweave::zip STATIC IMPORTED)
    set_target_properties(Bandweave::zip PROPERTIES
      IMPORTED_LOCATION ${BANDWEAVE_LIBZIP_PREFIX}/lib/libzip.a
      INTERFACE_INCLUDE_DIRECTORIES ${BANDWEAVE_LIBZIP_PREFIX}/include
      INTERFACE_COMPILE_DEFINITIONS ZIP_STATIC
      INTERFACE_LINK_LIBRARIES "${BANDWEAVE_FREEIMAGE_PREFIX}/lib/libz.a;advapi32")
  endif()
else()
  # Not libzip's own CMake package: Debian's names the tools of another package (libzip-tools).
  find_path(LIBZIP_INCLUDE_DIR zip.h)
  find_library(LIBZIP_LIBRARY NAMES zip)
  if(LIBZIP_INCLUDE_DIR AND LIBZIP_LIBRARY)
    add_library(Bandweave::zip UNKNOWN IMPORTED)
    set_target_properties(Bandweave::zip PROPERTIES
      IMPORTED_LOCATION ${LIBZIP_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${LIBZIP_INCLUDE_DIR})
  endif()
endif()
