# A bounded libFuzzer run of one target (cmake -P):
#   -DFUZZER=<target> -DSEEDS=<corpus dir> -DSCRATCH=<work dir> -DARTIFACTS=<dir> -DSECONDS=<n>
# The seeds are copied into a fresh scratch folder, which libFuzzer may add to,
# so the committed corpus never changes. A crash, a sanitizer report, a time-out
# of one input or a failed check makes the run (and the test) fail; the input is
# written under ARTIFACTS.
foreach(var FUZZER SEEDS SCRATCH ARTIFACTS SECONDS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_bounded.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}" "${ARTIFACTS}")
file(GLOB seeds "${SEEDS}/*")
if(NOT seeds)
  message(FATAL_ERROR "no seed inputs in ${SEEDS}")
endif()
file(COPY ${seeds} DESTINATION "${SCRATCH}")

execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048
          -print_final_stats=1 -artifact_prefix=${ARTIFACTS}/ "${SCRATCH}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}); the failing input is in ${ARTIFACTS}")
endif()
