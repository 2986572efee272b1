# The remote-control intake of the built program: WebSocket, Hixie-76 and raw TCP operators.
if(TARGET brz_app AND TARGET brzmqtt)
  brz_add_test(e2e_server_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/e2e/ServerTest.cpp ${PROJECT_SOURCE_DIR}/tests/server/ServerTestSupport.cpp
    LIBS brz_server)
  add_dependencies(e2e_server_tests brzmqtt)
endif()
