lectoria_benchmark(bench_audio SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_audio.cpp DEPS lectoria_media)
