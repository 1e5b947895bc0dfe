# Bandweave::pugixml: the XML parser under the metadata and GML readers. Native: Debian's
# libpugixml-dev. Windows: the static prefix that scripts/build-pugixml-windows.sh cross-builds
# (BANDWEAVE_PUGIXML_PREFIX).
if(TARGET Bandweave::pugixml)
  return()
endif()
if(WIN32)
  set(BANDWEAVE_PUGIXML_PREFIX "" CACHE PATH "Prefix of the mingw-built static pugixml")
  if(BANDWEAVE_PUGIXML_PREFIX AND EXISTS ${BANDWEAVE_PUGIXML_PREFIX}/lib/libpugixml.a)
    add_library(Bandweave::pugixml STATIC IMPORTED)
    set_target_properties(Bandweave::pugixml PROPERTIES
      IMPORTED_LOCATION ${BANDWEAVE_PUGIXML_PREFIX}/lib/libpugixml.a
      INTERFACE_INCLUDE_DIRECTORIES ${BANDWEAVE_PUGIXML_PREFIX}/include)
  endif()
else()
  find_path(PUGIXML_INCLUDE_DIR pugixml.hpp)
  find_library(PUGIXML_LIBRARY NAMES pugixml)
  if(PUGIXML_INCLUDE_DIR AND PUGIXML_LIBRARY)
    add_library(Bandweave::pugixml UNKNOWN IMPORTED)
    set_target_properties(Bandweave::pugixml PROPERTIES
      IMPORTED_LOCATION ${PUGIXML_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${PUGIXML_INCLUDE_DIR})
  endif()
endif()
