# The built program over TLS against mosquitto's TLS listeners and refusing peers.
if(TARGET brzmqtt)
  brz_add_test(e2e_tls_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/e2e/TlsE2ETest.cpp
      ${PROJECT_SOURCE_DIR}/tests/support/TestCerts.cpp
    LIBS brz_app)
  add_dependencies(e2e_tls_tests brzmqtt)
endif()
