# Helpers shared by every folder. Sources are picked up by glob so that adding a
# unit means adding its files, nothing else.

# tavra_library(<target> <folder> [DEPS ...] [PKG ...])
function(tavra_library target folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# tavra_test(<name> <folder> DEPS ...): one GoogleTest executable over the folder's *.cpp,
# linked with the shared test support (tests/support). Tests find their helper scripts
# and data through TAVRA_SOURCE_DIR.
function(tavra_test name folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} tavra_testsupport GTest::gtest GTest::gmock
                                        GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE TAVRA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                             TAVRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 600)
endfunction()

# tavra_link(<target> <deps...>): links whatever kind of library the target became.
function(tavra_link target)
  get_target_property(kind ${target} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${target} INTERFACE ${ARGN})
  else()
    target_link_libraries(${target} PUBLIC ${ARGN})
  endif()
endfunction()
