# Remote control made safe, against the built program: tokens, origins, server TLS, raw framing,
# masked secrets, operators that stop reading.
if(TARGET brz_app AND TARGET brzmqtt)
  brz_add_test(e2e_remote_tests
    SOURCES
      ${PROJECT_SOURCE_DIR}/tests/e2e/RemoteSafetyTest.cpp
      ${PROJECT_SOURCE_DIR}/tests/server/ServerTestSupport.cpp
      ${PROJECT_SOURCE_DIR}/tests/support/TestCerts.cpp
    LIBS brz_server)
  add_dependencies(e2e_remote_tests brzmqtt)
endif()

# The web console in headless Chromium driven by python3-selenium (runs as root in CI: --no-sandbox).
if(TARGET brzmqtt)
  add_test(NAME WebConsole.Browser
    COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/tests/e2e/WebConsoleBrowser.py $<TARGET_FILE:brzmqtt>)
  set_tests_properties(WebConsole.Browser PROPERTIES TIMEOUT 120)
endif()
