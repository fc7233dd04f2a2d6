# Builds a FRU image from a description, decodes it back into a description, builds that, and
# checks that both images are the same bytes. Run with -DTOOL=... -DDESCRIPTION=... -DWORK=...
file(MAKE_DIRECTORY ${WORK})
foreach(Step
    "build;${DESCRIPTION};-o;${WORK}/first.bin"
    "decode;${WORK}/first.bin;--json"
    "build;${WORK}/decoded.json;-o;${WORK}/second.bin")
  if(Step MATCHES "^decode")
    execute_process(COMMAND ${TOOL} ${Step} OUTPUT_FILE ${WORK}/decoded.json RESULT_VARIABLE Failed)
  else()
    execute_process(COMMAND ${TOOL} ${Step} RESULT_VARIABLE Failed)
  endif()
  if(Failed)
    message(FATAL_ERROR "bladecfg-mailbox ${Step} failed")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/first.bin ${WORK}/second.bin
                RESULT_VARIABLE Differ)
if(Differ)
  message(FATAL_ERROR "the decoded description builds different bytes")
endif()
