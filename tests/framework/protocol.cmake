# Protocol objects attached to a client component.
if(TARGET brz_protocol)
  brz_add_test(brz_protocol_tests
    SOURCES ${PROJECT_SOURCE_DIR}/tests/framework/ProtocolTest.cpp
    LIBS brz_protocol)
endif()
