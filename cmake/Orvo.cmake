# Shared helpers for the project's libraries and test programs.

# A static library from every source file in the calling folder (and the
# extra folders given), with the repository root on the include path.
function(orvo_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;LIBS" ${ARGN})
  set(globs "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  foreach(dir IN LISTS ARG_DIRS)
    list(APPEND globs "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp")
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${globs})
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# One test program per folder: every .cpp in the calling folder, the shared
# test kit and GoogleTest, each test registered with CTest by name.
function(orvo_test_program name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(NOT sources)
    return()
  endif()
  foreach(lib IN LISTS ARG_LIBS)
    if(NOT TARGET ${lib})
      message(STATUS "${name}: skipped until ${lib} exists")
      return()
    endif()
  endforeach()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE orvo_testkit ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}." PROPERTIES TIMEOUT ${ARG_TIMEOUT})
endfunction()
