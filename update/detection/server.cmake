# Update.dll: the in-process COM server with the Detection class, its type
# library, and its tests under Wine.

# widl needs Wine's .idl files for oaidl.idl and a stdole2.tlb to import.
find_path(KORVANE_WIDL_INCLUDE_DIR oaidl.idl
  PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
  NO_CMAKE_FIND_ROOT_PATH)
find_path(KORVANE_STDOLE2_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
        /usr/lib/i386-linux-gnu/wine/i386-windows
        "$ENV{SystemRoot}/System32"
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT KORVANE_WIDL OR NOT KORVANE_WIDL_INCLUDE_DIR OR NOT KORVANE_STDOLE2_DIR)
  message(FATAL_ERROR "Update.dll needs widl, the standard IDL files and stdole2.tlb "
                      "(on Debian: mingw-w64-tools, libwine-dev, wine64)")
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(korvane_widl_target --win64)
else()
  set(korvane_widl_target --win32)
endif()

set(korvane_idl ${CMAKE_CURRENT_SOURCE_DIR}/quorvel.idl)
set(korvane_tlb ${CMAKE_CURRENT_BINARY_DIR}/quorvel.tlb)
set(korvane_idl_header ${CMAKE_CURRENT_BINARY_DIR}/quorvel_h.h)
add_custom_command(
  OUTPUT ${korvane_tlb} ${korvane_idl_header}
  COMMAND ${KORVANE_WIDL} ${korvane_widl_target}
          -I ${KORVANE_WIDL_INCLUDE_DIR} -L ${KORVANE_STDOLE2_DIR}
          -t -o ${korvane_tlb} -h -H ${korvane_idl_header} ${korvane_idl}
  DEPENDS ${korvane_idl}
  COMMENT "Type library quorvel.tlb"
  VERBATIM)

add_library(Update SHARED
  exports.cpp
  class_factory.cpp
  registration.cpp
  lock_count.cpp
  module.cpp
  detection.cpp
  Update.rc
  Update.def
  ${korvane_idl_header}
  ${korvane_tlb})
set_source_files_properties(Update.rc PROPERTIES OBJECT_DEPENDS ${korvane_tlb})
set_target_properties(Update PROPERTIES OUTPUT_NAME Update PREFIX "")
target_include_directories(Update PRIVATE ${CMAKE_CURRENT_BINARY_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(Update PRIVATE
  "KORVANE_UPDATE_HOST=\"${KORVANE_UPDATE_HOST}\""
  "KORVANE_DATE_HOST=\"${KORVANE_DATE_HOST}\"")
target_link_libraries(Update PRIVATE korvane_update_core korvane_http korvane_common ole32 oleaut32 uuid)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The .def names the exports without their stdcall decoration.
  target_link_options(Update PRIVATE -Wl,--enable-stdcall-fixup)
endif()

# ---- Tests and benchmark under Wine ---------------------------------------

korvane_add_test_tool(detection_client_driver WMAIN SOURCES detection_client_driver.cpp
  LIBS korvane_common ole32 oleaut32 uuid user32 advapi32)
korvane_add_test_tool(detection_fetch_bench WMAIN SOURCES detection_fetch_bench.cpp
  LIBS ole32 oleaut32 uuid)

# The test runs the reference service in place of both hosts, so it needs a
# build whose two hosts are the same loopback address.
if(KORVANE_UPDATE_HOST STREQUAL KORVANE_DATE_HOST
   AND KORVANE_UPDATE_HOST MATCHES "^127\\.0\\.0\\.1:([0-9]+)$")
  find_program(KORVANE_PYTHON3 python3 NO_CMAKE_FIND_ROOT_PATH)
  korvane_add_wine_test(detection_wine
    COMMAND ${KORVANE_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/detection_wine_test.py
            --port ${CMAKE_MATCH_1}
            --dll $<TARGET_FILE:Update>
            --client $<TARGET_FILE:detection_client_driver>
            --service ${KORVANE_ROOT}/tools/update_service/update_service.py)
  # The same members through the production setup: nginx with the shipped
  # site on that address, in front of gunicorn.
  korvane_add_wine_test(update_service_wine
    COMMAND ${KORVANE_PYTHON3} ${KORVANE_ROOT}/tools/update_service/update_service_wine_test.py
            --port ${CMAKE_MATCH_1}
            --dll $<TARGET_FILE:Update>
            --client $<TARGET_FILE:detection_client_driver>)
else()
  korvane_add_skipped_test(detection_wine REASON "the hosts are not one 127.0.0.1:PORT")
  korvane_add_skipped_test(update_service_wine REASON "the hosts are not one 127.0.0.1:PORT")
endif()
