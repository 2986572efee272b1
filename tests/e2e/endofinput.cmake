# The program at the end of its input, against mosquitto and scripted peers (each case seconds).
if(TARGET brz_app AND TARGET brzmqtt)
  brz_add_test(endofinput_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/e2e/FaultPeers.cpp ${PROJECT_SOURCE_DIR}/tests/e2e/EndOfInputTest.cpp
            ${PROJECT_SOURCE_DIR}/tests/support/FakeWSPeer.cpp
    LIBS brz_app)
  add_dependencies(endofinput_tests brzmqtt)
endif()
