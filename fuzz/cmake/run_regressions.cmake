# Runs one target once over every input of the given folders (cmake -P):
#   -DFUZZER=<target> -DFOLDERS=<folder>|<folder>|...
# The folders are the target's seed corpus, its regression inputs (each once
# broke the target) and its edge inputs (cases too slow to fuzz from); missing
# ones are skipped. The run fails if any input fails, or if there is none.
# Files are passed one by one (a folder would start fuzzing instead); README
# files are not inputs.
foreach(var FUZZER FOLDERS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_regressions.cmake: ${var} is not set")
  endif()
endforeach()

string(REPLACE "|" ";" folders "${FOLDERS}")
set(inputs)
foreach(folder IN LISTS folders)
  file(GLOB found LIST_DIRECTORIES false "${folder}/*")
  list(APPEND inputs ${found})
endforeach()
list(FILTER inputs EXCLUDE REGEX "/README[^/]*$")
if(NOT inputs)
  message(FATAL_ERROR "no inputs for ${FUZZER} in ${FOLDERS}")
endif()
list(LENGTH inputs count)
message(STATUS "running ${count} seed, regression and edge input(s)")
execute_process(COMMAND "${FUZZER}" -timeout=30 -rss_limit_mb=2048 ${inputs} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${result}) on one of its inputs")
endif()
