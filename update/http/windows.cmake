# Windows only: the system code page and the XMLHTTP fetches, and their test
# under Wine against a local server.
add_library(korvane_http STATIC code_page_win.cpp xmlhttp.cpp)
target_link_libraries(korvane_http PUBLIC korvane_http_core korvane_common ole32 oleaut32 uuid)

add_executable(xmlhttp_wine_test xmlhttp_wine_test.cpp)
target_link_libraries(xmlhttp_wine_test PRIVATE korvane_http user32)
# wmain: wide command-line arguments.
target_link_options(xmlhttp_wine_test PRIVATE -municode)
set_target_properties(xmlhttp_wine_test PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${KORVANE_TEST_BIN_DIR})
korvane_add_wine_test(xmlhttp_wine_test
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/xmlhttp_wine_test.py
          $<TARGET_FILE:xmlhttp_wine_test>)
