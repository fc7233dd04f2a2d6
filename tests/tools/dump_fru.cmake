# bladecfg-sim --dump-fru writes the FRU devices as the boot left them, and bladecfg-mailbox decode
# reads the records the host wrote from the dump.
#   cmake -DSIM=... -DMAILBOX=... -DWORK=... -P dump_fru.cmake
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${SIM} --dump-fru ${WORK} RESULT_VARIABLE Status OUTPUT_QUIET)
if(NOT Status EQUAL 0)
  message(FATAL_ERROR "bladecfg-sim --dump-fru ended with ${Status}")
endif()
execute_process(COMMAND ${MAILBOX} decode ${WORK}/fru1.bin RESULT_VARIABLE Status
                OUTPUT_VARIABLE Out ERROR_VARIABLE Err)
if(NOT Status EQUAL 0)
  message(FATAL_ERROR "decoding the dump failed: ${Err}")
endif()
# The default blade's sixth command is refused, its seventh (an adapter line) gets no record, and
# the completion signal cleared the host's flag.
foreach(Expected "record 5: id 0x0106 status 0x0000F502 Refused"
                 "record 8: id 0x0109 status 0x0000FD02 BadKeyword"
                 "LockTurn 1, BmcLockFlag 0, HostLockFlag 0")
  string(FIND "${Out}" "${Expected}" At)
  if(At EQUAL -1)
    message(FATAL_ERROR "the decoded dump lacks \"${Expected}\":\n${Out}")
  endif()
endforeach()
string(FIND "${Out}" "record 6:" At)
if(NOT At EQUAL -1)
  message(FATAL_ERROR "the adapter line got a record:\n${Out}")
endif()
