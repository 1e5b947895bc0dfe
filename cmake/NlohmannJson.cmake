# Bandweave::nlohmann_json: the header-only JSON parser (Debian's nlohmann-json3-dev). The
# Windows build sees only its own folder, through a link in the build tree, never the rest of
# /usr/include.
if(TARGET Bandweave::nlohmann_json)
  return()
endif()
find_path(NLOHMANN_JSON_DIR nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NLOHMANN_JSON_DIR)
  set(_nlohmann_include ${CMAKE_BINARY_DIR}/header-only/nlohmann-json)
  file(MAKE_DIRECTORY ${_nlohmann_include})
  file(CREATE_LINK ${NLOHMANN_JSON_DIR}/nlohmann ${_nlohmann_include}/nlohmann SYMBOLIC)
  add_library(Bandweave::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(Bandweave::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_nlohmann_include})
endif()
