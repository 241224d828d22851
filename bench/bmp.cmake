lectoria_benchmark(bench_bmp SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_bmp.cpp DEPS lectoria_base_bmp PNG::PNG)
