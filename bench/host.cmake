# The host program: start-up to first paint (beside a bare Qt window), one
# Timer1 tick (beside its reads) and one level of the course map (beside
# decoding its pictures).
find_package(Qt6 REQUIRED COMPONENTS Widgets)
add_executable(bench_host_bare ${CMAKE_CURRENT_LIST_DIR}/bench_host_bare.cpp)
target_link_libraries(bench_host_bare PRIVATE Qt6::Widgets)
lectoria_benchmark(bench_host
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_host.cpp ${PROJECT_SOURCE_DIR}/tests/window/ProgramFolder.cpp
  DEPS velarno_window)
target_compile_definitions(bench_host PRIVATE
  LECTORIA_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
  LECTORIA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_dependencies(bench_host velarno bench_host_bare velarno-pack ehdd-volume)
