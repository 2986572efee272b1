brz_add_test(ws_extensions_tests
  SOURCES ${PROJECT_SOURCE_DIR}/tests/websocket/ExtensionsTest.cpp
          ${PROJECT_SOURCE_DIR}/tests/websocket/ExtensionInteropTest.cpp
  LIBS brz_ws_extensions
)
