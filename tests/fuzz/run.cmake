# Runs one fuzz target for a bounded time on a copy of its seed corpus and prints how many inputs
# it ran; a finding fails. The test of each target in tests/fuzz/CMakeLists.txt calls it:
#   cmake -DFUZZER=<program> -DSEEDS=<seed folder> -DWORK=<folder> -DSECONDS=<n> -P run.cmake
# The seeds are copied into WORK/corpus and only read where they are; new inputs found stay in
# WORK/corpus, a crashing input in WORK/crashes/, libFuzzer's output in WORK/log.
foreach(variable FUZZER SEEDS WORK SECONDS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "run.cmake: -D${variable}=... is missing")
  endif()
endforeach()
if(NOT SECONDS MATCHES "^[0-9]+$" OR SECONDS LESS 1)
  message(FATAL_ERROR "run.cmake: SECONDS must be a whole number of at least 1, not '${SECONDS}'")
endif()

get_filename_component(name "${FUZZER}" NAME)
file(MAKE_DIRECTORY "${WORK}/corpus" "${WORK}/crashes")
file(GLOB seeds "${SEEDS}/*")
file(COPY ${seeds} DESTINATION "${WORK}/corpus")
set(log "${WORK}/log")
execute_process(
  COMMAND "${FUZZER}" -max_total_time=${SECONDS} -timeout=10 -print_final_stats=1
          "-artifact_prefix=${WORK}/crashes/" "${WORK}/corpus"
  INPUT_FILE /dev/null OUTPUT_FILE "${log}" ERROR_FILE "${log}"
  RESULT_VARIABLE status)

file(STRINGS "${log}" stats REGEX "^stat::")
set(runs "?")
set(rate "?")
foreach(line IN LISTS stats)
  if(line MATCHES "^stat::number_of_executed_units: *([0-9]+)")
    set(runs "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^stat::average_exec_per_sec: *([0-9]+)")
    set(rate "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(status STREQUAL "0")
  message("${name}: ${runs} executions in ${SECONDS} s, ${rate} executions/s: no finding")
else()
  # The end of the log: libFuzzer's report of the finding and the input that caused it.
  file(SIZE "${log}" size)
  set(offset 0)
  if(size GREATER 6000)
    math(EXPR offset "${size} - 6000")
  endif()
  file(READ "${log}" tail OFFSET ${offset})
  message("${tail}")
  message(FATAL_ERROR "${name}: FINDING (status ${status}) after ${runs} executions: see "
                      "${WORK}/crashes/ and ${log}")
endif()
