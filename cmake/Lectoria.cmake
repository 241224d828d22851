# Helpers shared by every folder of the tree.

# lectoria_library(NAME SOURCES... [DEPS targets...])
# One static library per source folder; its folder is the include root of
# the whole tree, so headers are included as "base/OSAL.h".
function(lectoria_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# lectoria_test(NAME SOURCES... [DEPS targets...] [LABELS labels...])
# One GoogleTest binary; its cases are discovered by CTest when the tests run.
# Tests get LECTORIA_BIN_DIR (the tools) and LECTORIA_SOURCE_DIR.
function(lectoria_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    LECTORIA_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    LECTORIA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 120)
endfunction()

# lectoria_fuzzer(NAME SOURCES... [DEPS targets...] CORPUS dir)
# A harness defines LLVMFuzzerTestOneInput. With LECTORIA_FUZZ and clang it
# builds a libFuzzer program; always it builds a replay program that feeds
# every saved input of the corpus folder to the harness, run as a test.
# Harnesses get LECTORIA_SOURCE_DIR (for inputs they read from the tree,
# such as the sample course).
function(lectoria_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name}_replay ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(${name}_replay PRIVATE ${ARG_DEPS})
  target_compile_definitions(${name}_replay PRIVATE LECTORIA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME fuzz_replay.${name} COMMAND ${name}_replay ${ARG_CORPUS})
  set_tests_properties(fuzz_replay.${name} PROPERTIES TIMEOUT 300)
  if(LECTORIA_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    add_executable(${name}_fuzzer ${ARG_SOURCES})
    target_compile_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
    target_link_libraries(${name}_fuzzer PRIVATE ${ARG_DEPS})
    target_compile_definitions(${name}_fuzzer PRIVATE LECTORIA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  endif()
endfunction()

# lectoria_benchmark(NAME SOURCES... [DEPS targets...])
function(lectoria_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()
