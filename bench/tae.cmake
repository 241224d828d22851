lectoria_benchmark(bench_tae SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_tae.cpp DEPS lectoria_player)
