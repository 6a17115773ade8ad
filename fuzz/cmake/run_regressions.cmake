# Runs one target once over every input of its regressions folder and of its
# edges folder (cmake -P):
#   -DFUZZER=<target> -DINPUTS=<regressions folder> [-DEDGES=<edges folder>]
# Each regression input once broke the target; each edge input is a case too
# slow to fuzz from. The run fails if any of them fails. Files are passed one
# by one (a folder would start fuzzing instead); README files are not inputs.
foreach(var FUZZER INPUTS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_regressions.cmake: ${var} is not set")
  endif()
endforeach()

set(inputs)
foreach(folder "${INPUTS}" "${EDGES}")
  if(folder)
    file(GLOB found LIST_DIRECTORIES false "${folder}/*")
    list(APPEND inputs ${found})
  endif()
endforeach()
list(FILTER inputs EXCLUDE REGEX "/README[^/]*$")
if(NOT inputs)
  message(STATUS "no regression or edge inputs for ${FUZZER}")
  return()
endif()
list(LENGTH inputs count)
message(STATUS "running ${count} regression and edge input(s)")
execute_process(COMMAND "${FUZZER}" -timeout=30 -rss_limit_mb=2048 ${inputs} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}) on one of its regression or edge inputs")
endif()
