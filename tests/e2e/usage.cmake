# --help and --version of the built program.
if(TARGET brzmqtt)
  brz_add_test(e2e_usage_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/e2e/UsageTest.cpp
    LIBS brz_app)
  add_dependencies(e2e_usage_tests brzmqtt)
endif()
