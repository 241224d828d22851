lectoria_benchmark(bench_sample_course SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_sample_course.cpp
  DEPS lectoria_ehdd)
target_compile_definitions(bench_sample_course PRIVATE
  LECTORIA_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
  LECTORIA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
foreach(tool course-draw ehdd-volume velarno-pack)
  if(TARGET ${tool})
    add_dependencies(bench_sample_course ${tool})
  endif()
endforeach()
