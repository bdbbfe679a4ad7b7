# Helpers shared by the subsystem folders.

# velnor_module(NAME SOURCES ... DEPS ...): a static library velnor_NAME whose
# headers are included as "folder/file.h" from the repository root.
function(velnor_module name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(velnor_${name} STATIC ${ARG_SOURCES})
  target_include_directories(velnor_${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(velnor_${name} PUBLIC ${ARG_DEPS})
endfunction()

# velnor_test(NAME SOURCES ... DEPS ...): a GoogleTest executable NAME whose
# tests are registered with CTest. Tests run from the build folder and find
# the repository through VELNOR_SOURCE_DIR.
function(velnor_test name)
  if(NOT VELNOR_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VELNOR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELNOR_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "VELNOR_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()
