# GoogleTest from Debian's source package, built with the same compiler as the code
# (natively and with mingw alike), and a helper that registers one test program.
if(NOT BANDWEAVE_TESTS OR BANDWEAVE_FUZZ)
  return()
endif()
set(BANDWEAVE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${BANDWEAVE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# bandweave_add_test(NAME <name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# Registers one GoogleTest program as one CTest test. Under the Windows build CTest
# runs it through Wine (CMAKE_CROSSCOMPILING_EMULATOR). BANDWEAVE_TEST_DATA points at
# the generated sample tiles; BANDWEAVE_REAL_DATA at the real ESA files (may be absent).
set(BANDWEAVE_TEST_DATA ${CMAKE_BINARY_DIR}/testdata CACHE PATH "Generated test data")
get_filename_component(_real ${CMAKE_SOURCE_DIR}/../shared/data/s2-real ABSOLUTE)
set(BANDWEAVE_REAL_DATA ${_real} CACHE PATH "Real Sentinel-2 band files (optional)")
function(bandweave_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
  if(WIN32)
    set_target_properties(${T_NAME} PROPERTIES SUFFIX .exe)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "BANDWEAVE_TEST_DATA=${BANDWEAVE_TEST_DATA};BANDWEAVE_REAL_DATA=${BANDWEAVE_REAL_DATA}")
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
