# Handshake, frame codec and connection of the WebSocket client.
if(TARGET brz_ws_codec)
  brz_add_test(ws_codec_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/websocket/CodecFrameTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/websocket/HandshakeTest.cpp
    LIBS brz_ws_codec)
  if(TARGET brz_websocket)
    target_link_libraries(ws_codec_tests PRIVATE brz_websocket)
  endif()
  if(TARGET brz_websocket)
    target_sources(ws_codec_tests PRIVATE
      ${PROJECT_SOURCE_DIR}/tests/websocket/CodecClientTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/websocket/CodecInteropTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/support/FakeWSPeer.cpp)
  endif()
endif()
