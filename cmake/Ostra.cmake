# Helpers that give every folder the same shape: one library of the folder's .cpp files,
# and one test program per file in the folder's tests/ subfolder.

# ostra_library(<target> [DEPS <targets>...])
# Builds every .cpp of the current folder (not tests/) into a static library.
function(ostra_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  else()
    # A folder whose units are all header-only (or not written yet).
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# ostra_tests(<library> [DEPS <targets>...])
# One test program per tests/*.cpp of the current folder, linked with the library and GoogleTest.
# Shared test helpers live in tests/support/ and are linked into every test program of the folder.
function(ostra_tests lib)
  if(NOT OSTRA_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
  file(GLOB support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/support/*.cpp)
  # The folder's shared test helpers are compiled once into a library of their own, not once per
  # test program.
  set(support_lib)
  if(support)
    set(support_lib ${lib}_testhelpers)
    add_library(${support_lib} STATIC ${support})
    target_link_libraries(${support_lib} PUBLIC ${lib} ${ARG_DEPS} ostra_testsupport GTest::gtest GTest::gmock)
    set_target_properties(${support_lib} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  endif()
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    set(exe ${lib}_${name})
    add_executable(${exe} ${src})
    target_link_libraries(${exe} PRIVATE ${support_lib} ${lib} ${ARG_DEPS} ostra_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
    set_target_properties(${exe} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
    target_precompile_headers(${exe} REUSE_FROM ostra_test_pch)
    gtest_discover_tests(${exe} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
  endforeach()
endfunction()
