# FreeImage::FreeImage for the Windows build: the static FreeImage and the codec libraries
# that scripts/build-freeimage-windows.sh installs into BANDWEAVE_FREEIMAGE_PREFIX, e.g.
#   -DBANDWEAVE_FREEIMAGE_PREFIX="$(scripts/build-freeimage-windows.sh)"
# Without a complete prefix nothing is defined: the build guards on if(TARGET FreeImage::FreeImage).
if(NOT BANDWEAVE_FREEIMAGE_PREFIX)
  return()
endif()
# Link order: each library before the ones it uses.
set(_bw_fi_libs)
foreach(_lib freeimage openjp2 tiff png16 deflate z)
  set(_file ${BANDWEAVE_FREEIMAGE_PREFIX}/lib/lib${_lib}.a)
  if(NOT EXISTS ${_file})
    message(WARNING "BANDWEAVE_FREEIMAGE_PREFIX=${BANDWEAVE_FREEIMAGE_PREFIX} lacks ${_file}; "
      "building without FreeImage (run scripts/build-freeimage-windows.sh)")
    return()
  endif()
  list(APPEND _bw_fi_libs ${_file})
endforeach()
list(POP_FRONT _bw_fi_libs _bw_fi_main)
add_library(FreeImage::FreeImage STATIC IMPORTED)
set_target_properties(FreeImage::FreeImage PROPERTIES
  IMPORTED_LOCATION ${_bw_fi_main}
  IMPORTED_LINK_INTERFACE_LANGUAGES CXX
  INTERFACE_INCLUDE_DIRECTORIES ${BANDWEAVE_FREEIMAGE_PREFIX}/include
  INTERFACE_COMPILE_DEFINITIONS "FREEIMAGE_LIB;OPJ_STATIC"
  INTERFACE_LINK_LIBRARIES "${_bw_fi_libs}")
