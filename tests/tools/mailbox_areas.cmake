# bladecfg-mailbox with a file of FRU areas (QEMU's frudatafile: device N at N x area size): two
# devices built into one file, each decoded from its area, one of them round-tripped through its
# JSON description; areas without a mailbox or past the file are refused.
# Run with -DTOOL=... -DEXAMPLES=... -DWORK=...
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# Runs the tool with ARGN; its exit status must be Exit and its output match Match.
function(expect Exit Match)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE Status OUTPUT_VARIABLE Out
                  ERROR_VARIABLE Err)
  if(NOT Status STREQUAL "${Exit}" OR NOT "${Out}${Err}" MATCHES "${Match}")
    message(FATAL_ERROR "bladecfg-mailbox ${ARGN}: exit ${Status}, expected ${Exit}, output "
                        "expected to match ${Match}:\n${Out}${Err}")
  endif()
endfunction()

set(Areas --area-size 8192)
expect(0 "in the area of FRU device 82 at 0x0A4000.*FRU device 0x52: the mailbox of slot rows 18 to 23: bridge 41:08.0 functions 0 to 3, bridge 41:09.0 functions 0 and 1"
  build ${EXAMPLES}/eight-lists-mailbox.json -o ${WORK}/blade.fru --fru 0x52 ${Areas})
expect(0 "in the area of FRU device 1 at 0x002000.*FRU device 1: the platform's mailbox"
  build ${EXAMPLES}/platform-mailbox.json -o ${WORK}/blade.fru --fru 1 ${Areas})
file(SIZE ${WORK}/blade.fru Size)
math(EXPR Want "83 * 8192")
if(NOT Size EQUAL Want)
  message(FATAL_ERROR "the file of areas holds ${Size} bytes, expected 83 areas of 8192")
endif()

# Both areas decode; the second build kept the first device's area.
expect(0 "FRU device 0x52: .*List 0 at 0x[0-9A-F]+: 4 commands.*List 5 at 0x[0-9A-F]+: 2 commands.*List 7 at 0x[0-9A-F]+: 33 commands.*beyond the 32 the host carries out"
  decode ${WORK}/blade.fru --fru 0x52 ${Areas})
execute_process(COMMAND ${TOOL} decode ${WORK}/blade.fru --fru 0x52 ${Areas} OUTPUT_VARIABLE Out)
if(Out MATCHES "List 6")
  message(FATAL_ERROR "list 6 has no offset in the header and is no list:\n${Out}")
endif()
expect(0 "FRU device 1: the platform's mailbox.*SET BOOTCFGSETTING1"
  decode ${WORK}/blade.fru --fru 1 ${Areas})

# The area's description builds the same bytes as the description it was built from.
execute_process(COMMAND ${TOOL} decode ${WORK}/blade.fru --fru 0x52 ${Areas} --json
                OUTPUT_FILE ${WORK}/area.json RESULT_VARIABLE Failed)
file(READ ${WORK}/area.json Described)
if(Failed OR NOT Described MATCHES "\"fru\": 82")
  message(FATAL_ERROR "decode --json of the area failed or does not name its device")
endif()
expect(0 "" build ${WORK}/area.json -o ${WORK}/again.bin)
expect(0 "" build ${EXAMPLES}/eight-lists-mailbox.json -o ${WORK}/direct.bin)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/again.bin ${WORK}/direct.bin
                RESULT_VARIABLE Differ)
if(Differ)
  message(FATAL_ERROR "the area's description builds other bytes than the original")
endif()

expect(1 "no \"\\$FIP\"|no mailbox|signature" decode ${WORK}/blade.fru --fru 3 ${Areas})
expect(1 "hold no area for FRU device 96" decode ${WORK}/blade.fru --fru 0x60 ${Areas})
expect(1 "does not fit an area of 4096"
  build ${EXAMPLES}/eight-lists-mailbox.json -o ${WORK}/small.fru --fru 4 --area-size 4096)
expect(1 "--area-size: give --fru too" decode ${WORK}/blade.fru ${Areas})
