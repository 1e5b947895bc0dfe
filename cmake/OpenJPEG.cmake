# Provides the imported target OpenJPEG::openjp2, the JPEG 2000 codec the band decoder uses.
# Native: Debian's libopenjp2-7-dev. Windows: the static libopenjp2.a that
# scripts/build-freeimage-windows.sh builds into the FreeImage prefix for FreeImage itself.
if(TARGET OpenJPEG::openjp2)
  return()
endif()
if(WIN32)
  if(BANDWEAVE_FREEIMAGE_PREFIX AND EXISTS ${BANDWEAVE_FREEIMAGE_PREFIX}/lib/libopenjp2.a)
    add_library(OpenJPEG::openjp2 STATIC IMPORTED)
    set_target_properties(OpenJPEG::openjp2 PROPERTIES
      IMPORTED_LOCATION ${BANDWEAVE_FREEIMAGE_PREFIX}/lib/libopenjp2.a
      INTERFACE_INCLUDE_DIRECTORIES ${BANDWEAVE_FREEIMAGE_PREFIX}/include/openjpeg-2.5
      INTERFACE_COMPILE_DEFINITIONS OPJ_STATIC)
  endif()
else()
  find_path(OPENJPEG_INCLUDE_DIR openjpeg.h PATH_SUFFIXES openjpeg-2.5)
  find_library(OPENJPEG_LIBRARY NAMES openjp2)
  if(OPENJPEG_INCLUDE_DIR AND OPENJPEG_LIBRARY)
    add_library(OpenJPEG::openjp2 UNKNOWN IMPORTED)
    set_target_properties(OpenJPEG::openjp2 PROPERTIES
      IMPORTED_LOCATION ${OPENJPEG_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${OPENJPEG_INCLUDE_DIR})
  endif()
endif()
