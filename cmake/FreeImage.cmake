# Provides the imported target FreeImage::FreeImage.
# Native: Debian's libfreeimage-dev. Windows: the static prefix that
# scripts/build-freeimage-windows.sh cross-builds (BANDWEAVE_FREEIMAGE_PREFIX).
if(TARGET FreeImage::FreeImage)
  return()
endif()
if(WIN32)
  set(BANDWEAVE_FREEIMAGE_PREFIX "" CACHE PATH "Prefix of the mingw-built static FreeImage")
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/FreeImageWindows.cmake)
    include(${CMAKE_CURRENT_LIST_DIR}/FreeImageWindows.cmake)
  endif()
else()
  find_path(FREEIMAGE_INCLUDE_DIR FreeImage.h REQUIRED)
  find_library(FREEIMAGE_LIBRARY NAMES freeimage REQUIRED)
  add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
  set_target_properties(FreeImage::FreeImage PROPERTIES
    IMPORTED_LOCATION ${FREEIMAGE_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${FREEIMAGE_INCLUDE_DIR})
endif()
