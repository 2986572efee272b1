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
  # Times of sanitized programs say nothing about speed.
  if(BRZ_SANITIZE)
    target_compile_definitions(e2e_remote_tests PRIVATE BRZ_TEST_SANITIZED)
  endif()
endif()
