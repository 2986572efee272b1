# Engine tests: the protocol core with a recording link, and the engine on the real client component
# against a scripted broker and a real broker on loopback.
if(TARGET brz_mqtt_core)
  brz_add_test(mqtt_engine_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/mqtt/EngineCoreTest.cpp
    LIBS brz_mqtt_core)
endif()
