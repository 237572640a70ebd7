# Shared build helpers.
#
# Each platform area lives in platform/src/<area>/ with its own CMakeLists.txt that calls
# vt_add_area(). An area is a static library vt_<area>; the public API headers
# (platform/include) are visible to everyone, the internals (platform/src) only to platform
# libraries, tools, fuzzers, benchmarks and tests - never to the application.

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

set(VT_PUBLIC_INCLUDE ${CMAKE_SOURCE_DIR}/platform/include)
set(VT_INTERNAL_INCLUDE ${CMAKE_SOURCE_DIR}/platform/src)
set(VT_FIXTURE_DIR ${CMAKE_BINARY_DIR}/fixtures)

# vt_add_area(NAME name SOURCES ... [DEPENDS vt_x ...] [LIBS ...])
function(vt_add_area)
  cmake_parse_arguments(A "" "NAME" "SOURCES;DEPENDS;LIBS" ${ARGN})
  add_library(vt_${A_NAME} STATIC ${A_SOURCES})
  target_include_directories(vt_${A_NAME} PUBLIC ${VT_PUBLIC_INCLUDE} PRIVATE ${VT_INTERNAL_INCLUDE})
  target_link_libraries(vt_${A_NAME} PUBLIC ${A_DEPENDS} ${A_LIBS})
  set_target_properties(vt_${A_NAME} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# vt_internal(target): lets a tool, test, fuzzer or benchmark see platform internals.
function(vt_internal target)
  target_include_directories(${target} PRIVATE ${VT_PUBLIC_INCLUDE} ${VT_INTERNAL_INCLUDE}
                             ${CMAKE_SOURCE_DIR}/tests/support)
endfunction()

# vt_add_gtest(NAME name SOURCES ... LIBS ...): a GoogleTest executable registered with CTest.
function(vt_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  find_package(GTest REQUIRED)
  add_executable(${T_NAME} ${T_SOURCES})
  vt_internal(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} vt_testsupport GTest::gtest GTest::gtest_main)
  target_compile_definitions(${T_NAME} PRIVATE
    VT_FIXTURE_DIR="${VT_FIXTURE_DIR}" VT_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    VT_BINARY_DIR="${CMAKE_BINARY_DIR}")
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "VANTREL_HEADLESS=1;SDL_AUDIODRIVER=dummy;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config")
endfunction()

# vt_tsan_test(NAME name TARGET gtest-target FILTER gtest-filter): in a ThreadSanitizer build,
# runs the named gtest cases of a test program as a test labelled tsan (`make test-tsan`).
function(vt_tsan_test)
  cmake_parse_arguments(T "" "NAME;TARGET;FILTER" "" ${ARGN})
  if(NOT VANTREL_TSAN)
    return()
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_TARGET} --gtest_filter=${T_FILTER})
  set_tests_properties(${T_NAME} PROPERTIES LABELS tsan TIMEOUT 600
    ENVIRONMENT "VANTREL_HEADLESS=1;SDL_AUDIODRIVER=dummy;TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config")
endfunction()

# Adds every <dir>/<child>/CMakeLists.txt, so areas can be added without touching shared files.
function(vt_add_children dir)
  file(GLOB children RELATIVE ${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_SOURCE_DIR}/${dir}/*/CMakeLists.txt)
  list(SORT children)
  foreach(child ${children})
    get_filename_component(sub ${child} DIRECTORY)
    add_subdirectory(${CMAKE_SOURCE_DIR}/${dir}/${sub} ${CMAKE_BINARY_DIR}/${dir}/${sub})
  endforeach()
endfunction()
