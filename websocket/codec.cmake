# WebSocket client handshake, frame codec and the socket-bound connection.
add_library(brz_ws_codec
  ${PROJECT_SOURCE_DIR}/websocket/TbrzWSHandshake.cpp
  ${PROJECT_SOURCE_DIR}/websocket/TbrzWSMsg.cpp
  ${PROJECT_SOURCE_DIR}/websocket/TbrzWSFrame.cpp
  ${PROJECT_SOURCE_DIR}/websocket/TbrzWSConnectionCore.cpp
)
target_include_directories(brz_ws_codec PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(brz_ws_codec PUBLIC brz_common)
if(TARGET brz_transport)
  target_link_libraries(brz_ws_codec PUBLIC brz_transport)
endif()
# The client connection builds on the client component's connection classes and is what the
# component creates, so it lives in the component's library.
if(TARGET brz_websocket)
  target_sources(brz_websocket PRIVATE ${PROJECT_SOURCE_DIR}/websocket/TbrzWSConnectionRFC6455.cpp)
  target_link_libraries(brz_websocket PUBLIC brz_ws_codec)
endif()
# The extensions target is defined by a file included after this one; the name resolves at generate time.
if(TARGET brz_ws_extensions OR EXISTS ${PROJECT_SOURCE_DIR}/websocket/extensions.cmake)
  target_link_libraries(brz_ws_codec PUBLIC brz_ws_extensions)
endif()
