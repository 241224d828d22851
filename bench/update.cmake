lectoria_benchmark(bench_update SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_update.cpp DEPS velarno_host)
