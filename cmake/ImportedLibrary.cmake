# One imported target for a compiled library both builds link: on Windows the static library in
# a prefix cross-built by a scripts/build-*-windows.sh, natively the header and library that
# find_path and find_library find. Without them nothing is defined; the caller checks the target.
#   bandweave_imported_library(TARGET
#     PREFIX <prefix> LIBRARY <file in it> INCLUDE <folder in it>
#     [DEFINITIONS <def>...] [LINK <library>...] [REQUIRES <file>...]   (Windows)
#     VAR <cache name stem> HEADER <header> NAMES <name>... [PATH_SUFFIXES <suffix>...])  (native)
# VAR names the native cache entries: <VAR>_INCLUDE_DIR and <VAR>_LIBRARY.
function(bandweave_imported_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PREFIX;LIBRARY;INCLUDE;VAR;HEADER"
    "DEFINITIONS;LINK;REQUIRES;NAMES;PATH_SUFFIXES")
  if(TARGET ${target})
    return()
  endif()
  if(WIN32)
    if(NOT arg_PREFIX)
      return()
    endif()
    foreach(file ${arg_PREFIX}/${arg_LIBRARY} ${arg_REQUIRES})
      if(NOT EXISTS ${file})
        return()
      endif()
    endforeach()
    add_library(${target} STATIC IMPORTED)
    set_target_properties(${target} PROPERTIES
      IMPORTED_LOCATION ${arg_PREFIX}/${arg_LIBRARY}
      INTERFACE_INCLUDE_DIRECTORIES ${arg_PREFIX}/${arg_INCLUDE})
    if(arg_DEFINITIONS)
      set_property(TARGET ${target} PROPERTY INTERFACE_COMPILE_DEFINITIONS ${arg_DEFINITIONS})
    endif()
    if(arg_LINK)
      set_property(TARGET ${target} PROPERTY INTERFACE_LINK_LIBRARIES ${arg_LINK})
    endif()
  else()
    find_path(${arg_VAR}_INCLUDE_DIR ${arg_HEADER} PATH_SUFFIXES ${arg_PATH_SUFFIXES})
    find_library(${arg_VAR}_LIBRARY NAMES ${arg_NAMES})
    if(${arg_VAR}_INCLUDE_DIR AND ${arg_VAR}_LIBRARY)
      add_library(${target} UNKNOWN IMPORTED)
      set_target_properties(${target} PROPERTIES
        IMPORTED_LOCATION ${${arg_VAR}_LIBRARY}
        INTERFACE_INCLUDE_DIRECTORIES ${${arg_VAR}_INCLUDE_DIR})
    endif()
  endif()
endfunction()
