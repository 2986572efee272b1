# Remote-control server: the upgrade request and the server handshake.
if(TARGET brz_server)
  brz_add_fuzzer(fuzz_server_handshake SOURCE ${PROJECT_SOURCE_DIR}/fuzz/ServerHandshakeFuzz.cpp LIBS brz_server)
  brz_add_fuzzer(fuzz_server_classify SOURCE ${PROJECT_SOURCE_DIR}/fuzz/ServerClassifyFuzz.cpp LIBS brz_server)
endif()
