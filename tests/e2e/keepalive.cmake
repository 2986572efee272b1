# The built program's watchdog against a broker that is stopped and started again.
if(TARGET brz_app AND TARGET brzmqtt)
  brz_add_test(e2e_watchdog_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/e2e/WatchDogTest.cpp
    LIBS brz_app)
  add_dependencies(e2e_watchdog_tests brzmqtt)
endif()
