lectoria_benchmark(bench_remote_unit SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_remote_unit.cpp)
target_compile_definitions(bench_remote_unit PRIVATE
  LECTORIA_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
  LECTORIA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
foreach(tool course-draw ehdd-volume velarno-pack ehdd-server lectoria-drive lectoria)
  if(TARGET ${tool})
    add_dependencies(bench_remote_unit ${tool})
  endif()
endforeach()
target_include_directories(bench_remote_unit PRIVATE ${PROJECT_SOURCE_DIR})
