lectoria_benchmark(bench_anim SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_anim.cpp DEPS lectoria_media PNG::PNG)
