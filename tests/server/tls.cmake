# The server with TLS listening sockets against real TLS operators (python3-websockets, openssl
# s_client, python ssl). Certificates are made at test time.
brz_add_test(server_tls_tests
  SOURCES
    ${PROJECT_SOURCE_DIR}/tests/server/ServerTlsTest.cpp
    ${PROJECT_SOURCE_DIR}/tests/server/ServerTestSupport.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/TestCerts.cpp
  LIBS brz_server)
