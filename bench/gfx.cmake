lectoria_benchmark(bench_gfx SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_gfx.cpp DEPS lectoria_base)
