# Compression wired into the client, the frame codec and the server: interoperability with a real
# permessage-deflate peer (Debian's python3-websockets) and the wire rules at a scripted peer.
if(TARGET brz_server)
  brz_add_test(ws_compression_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/websocket/CompressionTest.cpp
            ${PROJECT_SOURCE_DIR}/tests/support/FakeWSPeer.cpp
    LIBS brz_server brz_websocket ZLIB::ZLIB)
endif()
