# The program as a full MQTT client: mosquitto, python paho and a scripted broker as peers.
if(TARGET brz_app AND TARGET brzmqtt)
  brz_add_test(e2e_client_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/e2e/ClientFeaturesTest.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/SessionFaultTest.cpp
            ${PROJECT_SOURCE_DIR}/tests/support/FakeBroker.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/FaultPeers.cpp
    LIBS brz_app)
  add_dependencies(e2e_client_tests brzmqtt)
endif()
