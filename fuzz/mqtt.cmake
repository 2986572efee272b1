# MQTT codec: decoding, TCP reassembly and the inbound property sets.
if(TARGET brz_mqtt_codec)
  brz_add_fuzzer(fuzz_mqtt_read SOURCE ${PROJECT_SOURCE_DIR}/fuzz/MQTTReadFuzz.cpp LIBS brz_mqtt_codec)
  brz_add_fuzzer(fuzz_mqtt_read_tcp SOURCE ${PROJECT_SOURCE_DIR}/fuzz/MQTTReadTCPFuzz.cpp LIBS brz_mqtt_codec)
  brz_add_fuzzer(fuzz_mqtt_properties SOURCE ${PROJECT_SOURCE_DIR}/fuzz/MQTTPropertiesFuzz.cpp LIBS brz_mqtt_codec)
endif()
