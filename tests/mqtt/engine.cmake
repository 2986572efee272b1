# Engine tests: the protocol core with a recording link, and the engine on the real client component
# against a scripted broker and a real broker on loopback.
if(TARGET brz_mqtt AND TARGET brz_websocket)
  brz_add_test(mqtt_engine_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/mqtt/EngineCoreTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/mqtt/EngineComponentTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/mqtt/EngineBrokerTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/support/FakeBroker.cpp
    LIBS brz_mqtt brz_websocket)
elseif(TARGET brz_mqtt_core)
  brz_add_test(mqtt_engine_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/mqtt/EngineCoreTest.cpp
    LIBS brz_mqtt_core)
endif()
