lectoria_benchmark(bench_transport SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_transport.cpp DEPS lectoria_ehdd)
target_compile_definitions(bench_transport PRIVATE LECTORIA_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
add_dependencies(bench_transport ehdd-server)
