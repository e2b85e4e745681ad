# Runs the fuzzer for a bounded time over a fresh copy of the seed corpus, so
# that what it discovers never lands in the source tree.
#   cmake -DFUZZER=<exe> -DSEEDS=<dir> -DWORK=<dir> -DSECONDS=<n> -P run_fuzz.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/artifacts")
file(GLOB seeds "${SEEDS}/*")
file(COPY ${seeds} DESTINATION "${WORK}/corpus")
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -max_len=4096 -timeout=10
          "-artifact_prefix=${WORK}/artifacts/" "${WORK}/corpus"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the fuzzer found a failing input (exit ${result}); see ${WORK}/artifacts")
endif()
