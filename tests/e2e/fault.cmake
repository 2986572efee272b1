# Hostile peers against the built program (loopback only, each case bounded to seconds).
if(TARGET brz_app AND TARGET brzmqtt)
  brz_add_test(fault_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/e2e/FaultPeers.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/FaultBrokerTest.cpp
            ${PROJECT_SOURCE_DIR}/tests/e2e/FaultServerTest.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/FaultRestartTest.cpp
    LIBS brz_app)
  add_dependencies(fault_tests brzmqtt)
endif()
