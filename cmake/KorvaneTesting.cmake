# Helpers for the three kinds of tests and for benchmarks.
#
#   korvane_add_gtest(name SOURCES a.cpp ... LIBS lib ...)
#       Native GoogleTest executable run by ctest (native builds only).
#   korvane_add_fuzzer(name SOURCES a.cpp ... LIBS lib ... [SECONDS n])
#       libFuzzer target, run for a bounded time by ctest (KORVANE_FUZZ builds).
#   korvane_add_benchmark(name SOURCES a.cpp ... LIBS lib ...)
#       Native benchmark that prints its figures (KORVANE_BENCH builds);
#       scripts/bench.sh runs every target in bench/.
#   korvane_add_wine_test(name [PARTS n] COMMAND cmd args...)
#       Integration test in the Windows build, run apart from the others
#       (scripts/wine-test.sh: own network namespace, prefix and display) in
#       the project's Wine environment (zh_CN locale, CJK font); exit code 77
#       means skipped. Labelled wine (scripts/test.sh runs such a test once
#       more when it fails, and reports a pass on that run as flaky). Label it
#       wine32 too when it needs Wine's 32-bit half in a 64-bit build folder.
#   korvane_add_skipped_test(name REASON text)
#       A test this configuration cannot run: ctest reports it as skipped.
#   korvane_add_test_tool(name SOURCES a.cpp ... [LIBS lib ...] [WMAIN])
#       Windows program that the Wine tests or the benchmark scripts run,
#       built into the test folder (testbin/) with testing/'s headers;
#       WMAIN for an entry point wmain (wide arguments).

set(KORVANE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
# Exit code of a test that did not run (SKIP_RETURN_CODE).
set(KORVANE_SKIP_CODE 77)
set(KORVANE_NATIVE_TESTS OFF)
if(NOT WIN32 AND NOT KORVANE_FUZZ AND NOT KORVANE_BENCH)
  set(KORVANE_NATIVE_TESTS ON)
  find_package(GTest REQUIRED)
endif()

function(korvane_add_gtest name)
  if(NOT KORVANE_NATIVE_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()

function(korvane_add_fuzzer name)
  if(NOT KORVANE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 15)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name}
           COMMAND ${name} -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048
                   -print_final_stats=1 ${corpus})
endfunction()

function(korvane_add_benchmark name)
  if(NOT KORVANE_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# Wine tests run side by side, each in its own network namespace, prefix and
# X display (scripts/wine-test.sh). Where no network namespace can be made,
# the tests that reach the loopback port the build was compiled for take
# turns instead: all of them hold the same resource lock.
if(WIN32 AND NOT DEFINED KORVANE_PRIVATE_NETWORK)
  execute_process(COMMAND unshare -n true RESULT_VARIABLE korvane_unshare_result
                  OUTPUT_QUIET ERROR_QUIET)
  if(korvane_unshare_result EQUAL 0)
    set(KORVANE_PRIVATE_NETWORK ON CACHE BOOL "Each Wine test runs in its own network namespace")
  else()
    set(KORVANE_PRIVATE_NETWORK OFF CACHE BOOL "Each Wine test runs in its own network namespace")
  endif()
endif()

# The 32-bit build's tests carry the suffix _x86: scripts/test.sh runs the
# tests of both builds in one pool, where each name must say which it is.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KORVANE_TEST_SUFFIX _x86)
endif()

function(korvane_add_wine_test name)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "" "PARTS" "COMMAND" ${ARGN})
  # A 32-bit build runs in a 32-bit prefix, as on 32-bit Windows.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(arch win32)
  else()
    set(arch win64)
  endif()
  # A long test may be registered as PARTS tests, which run its cases in
  # turn (KORVANE_TEST_PART, read by the kit's Suite) side by side.
  if(NOT ARG_PARTS)
    set(ARG_PARTS 1)
  endif()
  foreach(part RANGE 1 ${ARG_PARTS})
    set(test ${name}${KORVANE_TEST_SUFFIX})
    set(env "KORVANE_BUILD_DIR=${CMAKE_BINARY_DIR};KORVANE_BIN_DIR=${CMAKE_BINARY_DIR}/bin;KORVANE_TEST_BIN_DIR=${KORVANE_TEST_BIN_DIR};KORVANE_UPDATE_HOST=${KORVANE_UPDATE_HOST};WINEARCH=${arch}")
    if(ARG_PARTS GREATER 1)
      set(test ${name}_${part}${KORVANE_TEST_SUFFIX})
      string(APPEND env ";KORVANE_TEST_PART=${part}/${ARG_PARTS}")
    endif()
    add_test(NAME ${test} COMMAND ${KORVANE_ROOT}/scripts/wine-test.sh ${test} ${ARG_COMMAND})
    set_tests_properties(${test} PROPERTIES ENVIRONMENT "${env}"
                         SKIP_RETURN_CODE ${KORVANE_SKIP_CODE} TIMEOUT 600)
    if(NOT KORVANE_PRIVATE_NETWORK)
      set_tests_properties(${test} PROPERTIES RESOURCE_LOCK korvane_loopback_port)
    endif()
    # Once the directory is read, so that labels set there are kept: the
    # label wine, and a test labelled wine32 (one that makes a 32-bit prefix
    # of its own) is skipped where Wine's 32-bit half cannot run.
    cmake_language(EVAL CODE "cmake_language(DEFER CALL korvane_wine32_label_check [[${test}]])")
  endforeach()
endfunction()

function(korvane_wine32_label_check name)
  get_test_property(${name} LABELS labels)
  set_property(TEST ${name} APPEND PROPERTY LABELS wine)
  if("wine32" IN_LIST labels)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT KORVANE_WINE32=1)
  endif()
endfunction()

function(korvane_add_skipped_test name)
  cmake_parse_arguments(ARG "" "REASON" "" ${ARGN})
  add_test(NAME ${name} COMMAND sh -c "echo 'SKIP: $1'; exit ${KORVANE_SKIP_CODE}" sh ${ARG_REASON})
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE ${KORVANE_SKIP_CODE})
endfunction()

function(korvane_add_test_tool name)
  cmake_parse_arguments(ARG "WMAIN" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${KORVANE_ROOT}/testing)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  if(ARG_WMAIN)
    target_link_options(${name} PRIVATE -municode)
  endif()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${KORVANE_TEST_BIN_DIR})
endfunction()
