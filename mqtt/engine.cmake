# The MQTT client engine: the protocol core (needs only the codec) and the sub-protocol object that
# sits on the client component.
if(TARGET brz_mqtt_codec)
  add_library(brz_mqtt_core
    ${PROJECT_SOURCE_DIR}/mqtt/TbrzWSProtocol_MQTT_ClientCore.cpp
    ${PROJECT_SOURCE_DIR}/mqtt/TbrzWSMQTTOutbox.cpp
  )
  target_include_directories(brz_mqtt_core PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(brz_mqtt_core PUBLIC brz_mqtt_codec brz_transport brz_common)
endif()

# brz_protocol is defined by framework/protocol.cmake, which is read after this folder.
if(TARGET brz_mqtt_core AND EXISTS ${PROJECT_SOURCE_DIR}/framework/CMakeLists.txt)
  add_library(brz_mqtt
    ${PROJECT_SOURCE_DIR}/mqtt/TbrzWSProtocol_MQTT_Client.cpp
  )
  target_include_directories(brz_mqtt PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(brz_mqtt PUBLIC brz_mqtt_core brz_mqtt_codec brz_protocol)
endif()
