# SPDX-License-Identifier: MIT
# Parts of the build that need more than the library does.
#
# The library and the sicvm command need a C++20 compiler, CMake and SQLite.
# The tests, their oracles and the benchmarks need more (GoogleTest, Python
# with numpy and fluids, Google Benchmark, Lua 5.4). Each of those parts asks
# for its dependency with sicvm_optional(): when the dependency is missing,
# the part is left out and sicvm_report_skipped(), at the end of the
# configure, lists everything that was left out and why. With
# SICVM_REQUIRE_ALL (on in the presets, and so in CI) a missing dependency
# stops the configure instead, so that no check is dropped silently.
#
# Every dependency is found through find_package, so that a packager (or the
# package check) can hide one with -DCMAKE_DISABLE_FIND_PACKAGE_<Package>=ON.
option(SICVM_REQUIRE_ALL "Stop the configure when a dependency of a test or a benchmark is missing" OFF)

# sicvm_optional(FOUND PART DEPENDENCY): FOUND is the name of a variable that
# is true when DEPENDENCY (a package, as a user would install it) is there;
# PART names what needs it.
function(sicvm_optional found part dependency)
  if(${found})
    return()
  endif()
  if(SICVM_REQUIRE_ALL)
    message(FATAL_ERROR "${dependency} not found; it is needed for ${part} (SICVM_REQUIRE_ALL is on: "
                        "configure with -DSICVM_REQUIRE_ALL=OFF to build without them)")
  endif()
  set_property(GLOBAL APPEND PROPERTY SICVM_SKIPPED "${part}: ${dependency} not found")
endfunction()

# sicvm_python_module(VAR MODULE): VAR is true when Python3_EXECUTABLE imports MODULE.
function(sicvm_python_module var module)
  set(${var} FALSE PARENT_SCOPE)
  if(Python3_Interpreter_FOUND)
    execute_process(COMMAND ${Python3_EXECUTABLE} -c "import ${module}"
      RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
    if(status EQUAL 0)
      set(${var} TRUE PARENT_SCOPE)
    endif()
  endif()
endfunction()

# Debian's Python is the one whose packages (python3-numpy, python3-fluids)
# the tests import; a python3 found earlier on PATH may not see them. A
# Python3_EXECUTABLE given on the command line is kept.
macro(sicvm_find_python)
  if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Python interpreter of the tests' oracles")
  endif()
  find_package(Python3 COMPONENTS Interpreter)
endmacro()

function(sicvm_report_skipped)
  get_property(skipped GLOBAL PROPERTY SICVM_SKIPPED)
  if(NOT skipped)
    return()
  endif()
  list(JOIN skipped "\n   " lines)
  message(NOTICE "-- sicvm: not built, for want of their dependencies (install them to build these too):\n   ${lines}")
endfunction()
