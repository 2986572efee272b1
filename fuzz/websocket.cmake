# WebSocket: inflate of received messages, the frame readers and the client's handshake response reader.
if(TARGET brz_ws_extensions)
  brz_add_fuzzer(fuzz_ws_inflate SOURCE ${PROJECT_SOURCE_DIR}/fuzz/WSInflateFuzz.cpp LIBS brz_ws_extensions)
endif()
if(TARGET brz_ws_codec)
  brz_add_fuzzer(fuzz_ws_frame SOURCE ${PROJECT_SOURCE_DIR}/fuzz/WSFrameFuzz.cpp LIBS brz_ws_codec)
  brz_add_fuzzer(fuzz_ws_handshake_response SOURCE ${PROJECT_SOURCE_DIR}/fuzz/WSHandshakeResponseFuzz.cpp
                 LIBS brz_ws_codec)
endif()
