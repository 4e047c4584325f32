# Helpers shared by every folder's CMakeLists.txt.

# Warnings as errors for our own code only; third-party headers come in as
# SYSTEM includes through their imported targets.
function(varnholt_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wno-unused-parameter -Werror)
  # g++ 12 at -O3 reports overlaps inside std::string's own operator+ and
  # append that cannot happen (GCC bugs 105329 and 105651), which would stop
  # every Release build.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()

# A module that the program loads at run time: lib<Name>.so beside the
# executables. Only its C entry points are visible: symbols are hidden by
# default, and an exports.map beside the module's CMakeLists.txt, when there
# is one, also keeps the static libraries it links private. Every symbol must
# resolve at link time, except in sanitizer builds, whose runtimes come from
# the executable.
function(varnholt_module target)
  set_target_properties(${target} PROPERTIES PREFIX "lib" OUTPUT_NAME ${target}
                                             CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  set(exports_map ${CMAKE_CURRENT_SOURCE_DIR}/exports.map)
  if(EXISTS ${exports_map})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${exports_map})
    target_link_options(${target} PRIVATE "-Wl,--version-script=${exports_map}" "-Wl,--exclude-libs,ALL")
  endif()
  if(NOT VARNHOLT_ASAN AND NOT VARNHOLT_TSAN)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  # The vptr check looks up the type information of every class it sees, and
  # the program's own classes (a packet it lends the module) keep theirs
  # inside the program.
  if(VARNHOLT_ASAN)
    target_compile_options(${target} PRIVATE -fno-sanitize=vptr)
  endif()
  varnholt_warnings(${target})
endfunction()

# An executable that exports the program's C entry points
# (NewPackageDispatcher, FreePackageDispatcher) to the modules it loads.
function(varnholt_program_exports target)
  target_link_options(${target} PRIVATE
    "-Wl,--dynamic-list=${CMAKE_SOURCE_DIR}/cmake/program-exports.list")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/cmake/program-exports.list)
endfunction()

# A GoogleTest binary registered with ctest. LABELS "concurrency" marks the
# tests that make test-tsan runs under ThreadSanitizer.
function(varnholt_test target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  varnholt_warnings(${target})
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
endfunction()
