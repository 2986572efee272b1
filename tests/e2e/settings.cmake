# The built program with the connection settings commands: verified TLS, TLS 1.3 and client
# certificates against mosquitto, proxies (microsocks, tinyproxy), handshake headers and compression
# at a python3-websockets peer.
if(TARGET brzmqtt)
  brz_add_test(e2e_settings_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/e2e/ConnectionSettingsTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/support/TestCerts.cpp
    LIBS brz_app)
  add_dependencies(e2e_settings_tests brzmqtt)
endif()
