lectoria_benchmark(bench_volume SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_volume.cpp DEPS lectoria_ehdd)
target_compile_definitions(bench_volume PRIVATE LECTORIA_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
add_dependencies(bench_volume ehdd-volume)
