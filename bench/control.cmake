lectoria_benchmark(bench_control SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_control.cpp
  DEPS lectoria_player lectoria_platform_com)
target_compile_definitions(bench_control PRIVATE LECTORIA_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
foreach(tool ehdd-volume lectoria-audit lectoria)
  if(TARGET ${tool})
    add_dependencies(bench_control ${tool})
  endif()
endforeach()
