# Heartbeat, heartbeat-timeout check and watchdog of the client component (loopback peers), also
# with the MQTT engine attached.
if(TARGET brz_websocket)
  brz_add_test(ws_keepalive_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/websocket/KeepAliveTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/support/FakeWSPeer.cpp
    LIBS brz_websocket)
  if(TARGET brz_mqtt)
    target_sources(ws_keepalive_tests PRIVATE
      ${PROJECT_SOURCE_DIR}/tests/websocket/KeepAliveMQTTTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/support/FakeBroker.cpp)
    target_link_libraries(ws_keepalive_tests PRIVATE brz_mqtt)
  endif()
endif()
