# The client component with TLS (TLS peers on loopback, certificates made at test time).
if(TARGET brz_websocket_tests)
  target_sources(brz_websocket_tests PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/websocket/ClientTLSTest.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/TestCerts.cpp)
endif()
