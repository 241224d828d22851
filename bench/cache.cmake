lectoria_benchmark(bench_cache SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_cache.cpp DEPS lectoria_ehdd)
