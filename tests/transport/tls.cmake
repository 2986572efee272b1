# Component tests of the TLS handlers over real loopback sockets (peers: our own handlers and the
# openssl command line). Certificates are made at test time.
if(TARGET brz_tls)
  brz_add_test(tls_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/transport/TlsOptionsTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/transport/TlsOpenSSLTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/transport/TlsSChannelTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/support/TestCerts.cpp
    LIBS brz_tls)
endif()
