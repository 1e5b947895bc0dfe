# Header-only libraries from Debian (CLI11, nlohmann-json) for both builds. The Windows build
# must not see the rest of /usr/include, so each library's own folder is linked into a folder
# of the build tree and only that folder goes on the include path.
#   bandweave_header_only(TARGET FOLDER HEADER)  e.g. (Bandweave::cli11 CLI CLI.hpp)
set(BANDWEAVE_HEADER_ROOT /usr/include CACHE PATH "Where the header-only libraries are installed")

function(bandweave_header_only target folder header)
  if(TARGET ${target})
    return()
  endif()
  if(NOT EXISTS ${BANDWEAVE_HEADER_ROOT}/${folder}/${header})
    message(FATAL_ERROR "${BANDWEAVE_HEADER_ROOT}/${folder}/${header} not found (scripts/install-deps.sh)")
  endif()
  set(root ${CMAKE_BINARY_DIR}/header-only/${folder})
  file(MAKE_DIRECTORY ${root})
  if(NOT EXISTS ${root}/${folder})
    file(CREATE_LINK ${BANDWEAVE_HEADER_ROOT}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE ${root})
endfunction()
