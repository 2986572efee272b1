# Heartbeat, heartbeat-timeout check and watchdog of the client component.
if(TARGET brz_websocket)
  target_sources(brz_websocket PRIVATE ${PROJECT_SOURCE_DIR}/websocket/TbrzWSClient_KeepAlive.cpp)
endif()
