# Shared helpers for the project's libraries and test programs.

# The one set of warnings every target of ours compiles with; ORVO_WERROR
# (on in CI) makes them errors. clang also checks the lock annotations.
add_library(orvo_warnings INTERFACE)
target_compile_options(orvo_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                       $<$<CXX_COMPILER_ID:Clang>:-Wthread-safety>
                       $<$<BOOL:${ORVO_WERROR}>:-Werror>)

# Stops the configuration when a target that `who` needs is not defined: a
# missing library is a mistake to see, never a reason to build less.
function(orvo_require_targets who)
  foreach(lib IN LISTS ARGN)
    if(NOT TARGET ${lib})
      message(FATAL_ERROR "${who} needs ${lib}, which is not defined (add its folder first)")
    endif()
  endforeach()
endfunction()

# A static library from every source file in the calling folder (and the
# extra folders given), with the repository root on the include path.
function(orvo_library name)
  cmake_parse_arguments(ARG "" "" "DIRS;LIBS" ${ARGN})
  orvo_require_targets(${name} ${ARG_LIBS})
  set(globs "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  foreach(dir IN LISTS ARG_DIRS)
    list(APPEND globs "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp")
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${globs})
  if(NOT sources)
    message(FATAL_ERROR "${name}: no source files in ${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE orvo_warnings)
endfunction()

# One test program per folder: every .cpp in the calling folder, the shared
# test kit and GoogleTest, each test registered with CTest by name.
function(orvo_test_program name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS" ${ARGN})
  orvo_require_targets(${name} ${ARG_LIBS})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(NOT sources)
    message(FATAL_ERROR "${name}: no test sources in ${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE orvo_testkit ${ARG_LIBS} GTest::gtest GTest::gtest_main orvo_warnings)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # A module's trial may take long on a busy machine under a sanitizer; a
  # test that wants a hang found sooner says so itself.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "${name}."
                       PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "ORVO_MODULE_TRIAL_SECONDS=60")
endfunction()

# Writes the registry manifest of a component module beside it: an XML
# property list naming its codes, flags and the module file.
function(orvo_component_manifest target)
  cmake_parse_arguments(ARG "" "NAME;TYPE;SUBTYPE;MANUFACTURER;FLAGS;VERSION;FUNCTION;MANIFEST" "" ${ARGN})
  if(NOT ARG_FLAGS)
    set(ARG_FLAGS 0)
  endif()
  if(NOT ARG_VERSION)
    set(ARG_VERSION 1)
  endif()
  if(NOT ARG_FUNCTION)
    set(ARG_FUNCTION AUPrincipalClassFactory)
  endif()
  if(NOT ARG_MANIFEST)
    set(ARG_MANIFEST ${target})
  endif()
  file(GENERATE OUTPUT "$<TARGET_FILE_DIR:${target}>/${ARG_MANIFEST}.plist" CONTENT
"<?xml version=\"1.0\" encoding=\"UTF-8\"?>
<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">
<plist version=\"1.0\">
<dict>
\t<key>factoryFunction</key>
\t<string>${ARG_FUNCTION}</string>
\t<key>flags</key>
\t<integer>${ARG_FLAGS}</integer>
\t<key>manufacturer</key>
\t<string>${ARG_MANUFACTURER}</string>
\t<key>name</key>
\t<string>${ARG_NAME}</string>
\t<key>path</key>
\t<string>$<TARGET_FILE_NAME:${target}></string>
\t<key>subtype</key>
\t<string>${ARG_SUBTYPE}</string>
\t<key>type</key>
\t<string>${ARG_TYPE}</string>
\t<key>version</key>
\t<integer>${ARG_VERSION}</integer>
</dict>
</plist>
")
endfunction()
