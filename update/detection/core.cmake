# Portable core of the Detection class: update page, version rule, date page.
# No Windows headers, so it builds natively (tests, fuzzing, benchmarks) and
# with MinGW for Update.dll.
add_library(korvane_update_core STATIC update_reply.cpp)
target_include_directories(korvane_update_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_features(korvane_update_core PUBLIC cxx_std_20)

korvane_add_gtest(update_reply_test
  SOURCES update_reply_test.cpp
  LIBS korvane_update_core)
if(TARGET update_reply_test AND TARGET korvane_http_core)
  # Also check the reply against the library's own escape decoding.
  target_link_libraries(update_reply_test PRIVATE korvane_http_core)
  target_compile_definitions(update_reply_test PRIVATE KORVANE_TEST_WITH_HTTP_CORE)
endif()

korvane_add_fuzzer(update_reply_fuzz
  SOURCES update_reply_fuzz.cpp
  LIBS korvane_update_core)

korvane_add_benchmark(update_reply_bench
  SOURCES update_reply_bench.cpp
  LIBS korvane_update_core)

# The reference update service and its own test: the embedded server
# (waitress), and nginx with the shipped site in front of gunicorn.
if(KORVANE_NATIVE_TESTS)
  add_test(NAME update_service_test
           COMMAND python3 ${PROJECT_SOURCE_DIR}/tools/update_service/update_service_test.py)
  set_tests_properties(update_service_test PROPERTIES TIMEOUT 180)
endif()
