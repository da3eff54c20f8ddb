# Windows only: the system code page and the XMLHTTP fetches, and their test
# under Wine against a local server.
add_library(korvane_http STATIC code_page_win.cpp xmlhttp.cpp)
target_link_libraries(korvane_http PUBLIC korvane_http_core korvane_common ole32 oleaut32 uuid)

korvane_add_test_tool(xmlhttp_wine_test WMAIN SOURCES xmlhttp_wine_test.cpp
  LIBS korvane_http user32)
korvane_add_wine_test(xmlhttp_wine_test
  COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/xmlhttp_wine_test.py
          $<TARGET_FILE:xmlhttp_wine_test>)
