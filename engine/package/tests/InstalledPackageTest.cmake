# The installed runtime package as another project sees it (run with cmake -P by CTest):
#   1. installs the package's component into a throwaway prefix in the build tree and checks
#      that every installed header finds the headers it includes there;
#   2. configures and builds tests/app, a project of its own, with that prefix as its only way to
#      the engine, and checks that no include path of its compile commands points into the
#      source tree (outside the prefix, which may lie in a build tree inside it);
#   3. runs the program twice: every check passes, the engine's code comes from the installed
#      library, and the two runs draw different random numbers (the package entry seeded the
#      generator when the library was loaded).
# The work folder is removed when everything passed.
# Arguments (-D): BUILD_DIR, WORK_DIR, APP_SOURCE_DIR, GENERATOR, CXX_COMPILER, BUILD_TYPE.
cmake_minimum_required(VERSION 3.25)

get_filename_component(source_root "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(prefix "${WORK_DIR}/prefix")
set(app_build "${WORK_DIR}/app")
file(REMOVE_RECURSE "${WORK_DIR}")

# Runs a command; a failure ends the test with its output. OUT holds what it printed.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(OUT "${out}" PARENT_SCOPE)
endfunction()

run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --component orq14rd6 --prefix "${prefix}")

# Every installed header finds what it includes among the installed headers.
set(include_root "${prefix}/include/ostra")
file(GLOB_RECURSE installed_headers "${include_root}/*.h")
if(NOT installed_headers)
  message(FATAL_ERROR "no headers installed under ${include_root}")
endif()
foreach(header IN LISTS installed_headers)
  file(STRINGS "${header}" lines REGEX "^#include \"")
  get_filename_component(folder "${header}" DIRECTORY)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" name "${line}")
    if(NOT EXISTS "${include_root}/${name}" AND NOT EXISTS "${folder}/${name}")
      message(FATAL_ERROR "${header} includes ${name}, which the package does not install")
    endif()
  endforeach()
endforeach()

run("${CMAKE_COMMAND}" -S "${APP_SOURCE_DIR}" -B "${app_build}" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
    "-DCMAKE_PREFIX_PATH=${prefix}" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
file(READ "${app_build}/compile_commands.json" commands)
string(REGEX MATCHALL "(-I|-isystem )[^ \"]*" includes "${commands}")
foreach(include IN LISTS includes)
  string(REGEX REPLACE "^(-I|-isystem )" "" folder "${include}")
  cmake_path(IS_PREFIX prefix "${folder}" NORMALIZE in_prefix)
  cmake_path(IS_PREFIX source_root "${folder}" NORMALIZE in_source)
  if(in_source AND NOT in_prefix)
    message(FATAL_ERROR "the program includes from the source tree: ${include}")
  endif()
endforeach()
run("${CMAKE_COMMAND}" --build "${app_build}")

foreach(attempt 1 2)
  run("${app_build}/PackageUser")
  message(STATUS "run ${attempt}:\n${OUT}")
  if(NOT OUT MATCHES "engine: ${prefix}/[^\n]*liborq14rd6\\.so")
    message(FATAL_ERROR "the engine was not loaded from the installed package")
  endif()
  string(REGEX MATCH "random: [0-9]+" draw_${attempt} "${OUT}")
endforeach()
if(draw_1 STREQUAL "" OR draw_1 STREQUAL draw_2)
  message(FATAL_ERROR "two runs drew the same number (${draw_1}): the generator was not seeded")
endif()

# Passed: the install and the program's build go (a copy of the library each); a failure keeps
# them for a look.
file(REMOVE_RECURSE "${WORK_DIR}")
