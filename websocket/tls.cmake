# TLS of the client component: its handler comes from the transport's TLS handlers.
if(TARGET brz_websocket)
  target_sources(brz_websocket PRIVATE ${PROJECT_SOURCE_DIR}/websocket/TbrzWSClient_TLS.cpp)
  target_link_libraries(brz_websocket PUBLIC brz_tls)
endif()
