# The connection settings commands in the processor.
target_sources(app_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/app/ConnectionCommandsTest.cpp)
