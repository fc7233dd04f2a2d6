# Runs a fuzz target once on every file of the INPUTS folders (files, not folders, so that libFuzzer
# only executes them and writes nothing back). Fails with the target's output when one input fails.
set(Files)
foreach(Folder ${INPUTS})
  file(GLOB Found LIST_DIRECTORIES false ${Folder}/*)
  list(FILTER Found EXCLUDE REGEX "/README[^/]*$")
  list(APPEND Files ${Found})
endforeach()
list(LENGTH Files Count)
if(Count EQUAL 0)
  message(FATAL_ERROR "no inputs in ${INPUTS}")
endif()
execute_process(COMMAND ${TARGET} -timeout=30 ${Files} RESULT_VARIABLE Result OUTPUT_VARIABLE Out
                ERROR_VARIABLE Out)
if(NOT Result EQUAL 0)
  message(FATAL_ERROR "${TARGET} failed on one of ${Count} inputs:\n${Out}")
endif()
message(STATUS "${Count} inputs replayed")
