# Shared build helpers.
#
# Each platform area lives in platform/src/<area>/ with its own CMakeLists.txt that calls
# vt_add_area(). An area is a static library vt_<area>. The public API headers (platform/include)
# are visible to everyone; an area's internal headers ("<area>/x.h") only to the area itself and
# to the targets that link it, so an include of an area not listed as a dependency fails to
# compile. The application sees the public API only.

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

set(VT_PUBLIC_INCLUDE ${CMAKE_SOURCE_DIR}/platform/include)
set(VT_FIXTURE_DIR ${CMAKE_BINARY_DIR}/fixtures)

# vt_add_area(NAME name SOURCES ... [DEPENDS vt_x ...] [PUBLIC_DEPENDS vt_y ...] [LIBS ...])
#   DEPENDS         the areas it uses
#   PUBLIC_DEPENDS  the areas its own headers include: whoever links it sees those too
#   LIBS            third-party libraries, private to the area
# The include root is a folder of its own in the build tree holding one link, <folder> -> the
# area's source folder; only the area and its users get it on their include path.
function(vt_add_area)
  cmake_parse_arguments(A "" "NAME" "SOURCES;DEPENDS;PUBLIC_DEPENDS;LIBS" ${ARGN})
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(root ${CMAKE_BINARY_DIR}/area-include/${A_NAME})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  add_library(vt_${A_NAME} STATIC ${A_SOURCES})
  target_include_directories(vt_${A_NAME} PUBLIC ${VT_PUBLIC_INCLUDE} ${root})
  # Private dependencies of a static library are still linked after it, in order.
  target_link_libraries(vt_${A_NAME} PUBLIC ${A_PUBLIC_DEPENDS} PRIVATE ${A_DEPENDS} ${A_LIBS})
  set_target_properties(vt_${A_NAME} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  set_property(GLOBAL APPEND PROPERTY VT_AREAS vt_${A_NAME})
endfunction()

# vt_internal(target): a tool, test, fuzzer or benchmark; it sees the public API, the test
# support and the internals of the areas it links.
function(vt_internal target)
  target_include_directories(${target} PRIVATE ${VT_PUBLIC_INCLUDE}
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

# vt_add_fuzzer(NAME name SOURCE target.cpp LIBS ... [MUTATIONS n] [TIMEOUT s] [TEST name]
#               [ENVIRONMENT ...] [DEFINITIONS ...]): the fuzz target fuzz_<name>. With clang it is a
# libFuzzer binary; otherwise the target's source is linked with its replay_main.cpp (its seeds)
# and the shared replay driver, and, where testing is enabled and MUTATIONS is given, a bounded
# run of that many mutations is a test (named TEST, default fuzz_<name>_mutations).
function(vt_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;SOURCE;MUTATIONS;TIMEOUT;TEST" "LIBS;ENVIRONMENT;DEFINITIONS"
                        ${ARGN})
  set(target fuzz_${F_NAME})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(${target} ${F_SOURCE})
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${target} ${F_SOURCE} replay_main.cpp
                   ${CMAKE_SOURCE_DIR}/fuzz/common/replay_driver.cpp)
  endif()
  vt_internal(${target})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/common)
  target_link_libraries(${target} PRIVATE ${F_LIBS})
  if(F_DEFINITIONS)
    target_compile_definitions(${target} PRIVATE ${F_DEFINITIONS})
  endif()
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT VANTREL_BUILD_TESTS OR NOT F_MUTATIONS)
    return()
  endif()
  if(NOT F_TEST)
    set(F_TEST ${target}_mutations)
  endif()
  if(NOT F_TIMEOUT)
    set(F_TIMEOUT 120)
  endif()
  add_test(NAME ${F_TEST} COMMAND ${target} --memory-limit-mb 2048 --mutate ${F_MUTATIONS})
  set_tests_properties(${F_TEST} PROPERTIES TIMEOUT ${F_TIMEOUT})
  if(F_ENVIRONMENT)
    set_tests_properties(${F_TEST} PROPERTIES ENVIRONMENT "${F_ENVIRONMENT}")
  endif()
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
