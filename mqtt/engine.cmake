# The MQTT client engine: the protocol core (needs only the codec) and the sub-protocol object that
# sits on the client component.
if(TARGET brz_mqtt_codec)
  add_library(brz_mqtt_core
    ${PROJECT_SOURCE_DIR}/mqtt/TbrzWSProtocol_MQTT_ClientCore.cpp
  )
  target_include_directories(brz_mqtt_core PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(brz_mqtt_core PUBLIC brz_mqtt_codec brz_common)
endif()
