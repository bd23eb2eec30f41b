# Helpers shared by every folder's CMakeLists.txt.

# tarsa_library(NAME SOURCES... [DEPS lib...])
# One static library per source folder, headers included as "folder/file.h"
# from the repository's src/ directory.
function(tarsa_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE tarsa_warnings)
endfunction()

# tarsa_test(NAME SOURCES... [DEPS lib...] [LABELS label...] [TIMEOUT seconds])
# One GoogleTest executable; every TEST in it becomes one CTest test. The
# label "variant" marks tests that the digital-sensor build runs too.
function(tarsa_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}
                                             ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main
                                        tarsa_warnings)
  set(labels ${ARG_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${labels}")
endfunction()
