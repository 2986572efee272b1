find_package(benchmark REQUIRED)
add_executable(bench_ws_compression ${PROJECT_SOURCE_DIR}/bench/CompressionBench.cpp)
target_link_libraries(bench_ws_compression PRIVATE brz_ws_extensions benchmark::benchmark)
