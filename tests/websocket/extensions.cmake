brz_add_test(ws_extensions_tests
  SOURCES ${PROJECT_SOURCE_DIR}/tests/websocket/ExtensionsTest.cpp
  LIBS brz_ws_extensions
)
