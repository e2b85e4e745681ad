# A libFuzzer target over the meter code; clang only, since libFuzzer is
# clang's. It compiles the meter sources itself so that they carry the
# fuzzer's coverage instrumentation.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(fuzz_meter fuzz/fuzz_meter.cpp guardedmeter.h ${ZELMORA_METER_SOURCES})
  target_include_directories(fuzz_meter PRIVATE ${PROJECT_SOURCE_DIR}/meter ${CMAKE_CURRENT_SOURCE_DIR})
  set(fuzz_flags -fsanitize=fuzzer)
  if(NOT ZELMORA_SANITIZE)
    list(APPEND fuzz_flags -fsanitize=address,undefined -fno-omit-frame-pointer)
  endif()
  target_compile_options(fuzz_meter PRIVATE ${fuzz_flags})
  target_link_options(fuzz_meter PRIVATE ${fuzz_flags})
  target_link_libraries(fuzz_meter PRIVATE ${QT}::Core zelmora_virtualmeter zelmora_virtualclock)

  add_test(NAME fuzz_meter
    COMMAND ${CMAKE_COMMAND}
      -DFUZZER=$<TARGET_FILE:fuzz_meter>
      -DSEEDS=${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus
      -DWORK=${CMAKE_CURRENT_BINARY_DIR}/fuzz_meter_run
      -DSECONDS=20
      -P ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run_fuzz.cmake)
  set_tests_properties(fuzz_meter PROPERTIES
    LABELS fuzz
    TIMEOUT 120
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
