# The tools from the command line (label tools), included from tests/CMakeLists.txt. Each run's exit
# status is checked as well as its output (run_and_check.cmake).
set(RunAndCheck ${CMAKE_CURRENT_LIST_DIR}/run_and_check.cmake)
set(Examples ${CMAKE_SOURCE_DIR}/tools/examples)

# Name, expected exit status, output pattern (empty: any), then the command after "--".
function(add_tool_test Name Exit Match)
  set(Checks -DEXIT=${Exit} "-DREJECT=simulated blade:")
  if(NOT Match STREQUAL "")
    list(APPEND Checks "-DMATCH=${Match}")
  endif()
  add_test(NAME ${Name} COMMAND ${CMAKE_COMMAND} ${Checks} -P ${RunAndCheck} ${ARGN})
  set_tests_properties(${Name} PROPERTIES LABELS tools)
endfunction()

# The main job: the default blade runs its platform commands (a done, a refused and a bad keyword
# among them) and the completion signal releases the mailbox.
add_tool_test(bladecfg-sim.default 0
  "DriverEntry: returned EFI_SUCCESS.*lock at the end: +LockTurn 1, BmcLockFlag 0, HostLockFlag 0.*0x0E00 +Done.*0xF502 +Refused.*0xFD02 +BadKeyword"
  -- $<TARGET_FILE:bladecfg-sim>)
add_tool_test(bladecfg-sim.json 0 "\"meaning\": \"Refused, retried 2 times\".*\"busy_retried\": 0"
  -- $<TARGET_FILE:bladecfg-sim> --json)
# CLI11 answers an unknown option with its own exit status; a file that cannot be read is 2.
add_tool_test(bladecfg-sim.usage 109 "" -- $<TARGET_FILE:bladecfg-sim> --bogus)
add_tool_test(bladecfg-sim.missing-file 2 "" -- $<TARGET_FILE:bladecfg-sim> no-such-scenario.json)

add_test(NAME bladecfg-sim.dump-fru
  COMMAND ${CMAKE_COMMAND} -DSIM=$<TARGET_FILE:bladecfg-sim> -DMAILBOX=$<TARGET_FILE:bladecfg-mailbox>
          -DWORK=${CMAKE_CURRENT_BINARY_DIR}/dump-fru -P ${CMAKE_CURRENT_LIST_DIR}/dump_fru.cmake)
set_tests_properties(bladecfg-sim.dump-fru PROPERTIES LABELS tools)

# Every example scenario runs clean: the boot ends, nothing goes wrong in the simulated blade. The
# examples named hang-* show a boot that never ends: they report the hang and exit with 1.
file(GLOB ExampleFiles CONFIGURE_DEPENDS ${Examples}/*.json)
foreach(Example ${ExampleFiles})
  get_filename_component(Name ${Example} NAME_WE)
  file(READ ${Example} Text)
  if(Text MATCHES "\"fru_devices\"" AND Name MATCHES "^hang-")
    add_tool_test(bladecfg-sim.example.${Name} 1 "DriverEntry: .*hung \\("
      -- $<TARGET_FILE:bladecfg-sim> ${Example})
    add_tool_test(bladecfg-sim.example.${Name}.json 1 "\"hang\": true"
      -- $<TARGET_FILE:bladecfg-sim> ${Example} --json)
  elseif(Text MATCHES "\"fru_devices\"")
    add_tool_test(bladecfg-sim.example.${Name} 0 "DriverEntry: "
      -- $<TARGET_FILE:bladecfg-sim> ${Example})
    add_tool_test(bladecfg-sim.example.${Name}.json 0 "\"entry\": {"
      -- $<TARGET_FILE:bladecfg-sim> ${Example} --json)
  else()
    add_test(NAME bladecfg-mailbox.round-trip.${Name}
      COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:bladecfg-mailbox> -DDESCRIPTION=${Example}
              -DWORK=${CMAKE_CURRENT_BINARY_DIR}/round-trip-${Name}
              -P ${CMAKE_CURRENT_LIST_DIR}/mailbox_round_trip.cmake)
    set_tests_properties(bladecfg-mailbox.round-trip.${Name} PROPERTIES LABELS tools)
  endif()
endforeach()

# docs/reference holds the command reference as the driver's tables give it now; after a change of
# the tables, cmake --build --preset host --target command-reference writes it again.
add_test(NAME command-reference-current
  COMMAND bladecfg-reference check ${CMAKE_SOURCE_DIR}/docs/reference)
set_tests_properties(command-reference-current PROPERTIES LABELS tools)

# bladecfg-mailbox check: exit status 1 exactly when something will fail.
add_tool_test(bladecfg-mailbox.check.adapter-mailbox 0
  "vendor 0x8086: row 6 [^\n]* receives \"SET BootEnable=ENABLE\".*nothing will fail"
  -- $<TARGET_FILE:bladecfg-mailbox> check ${Examples}/adapter-mailbox.json --fru 5)
add_tool_test(bladecfg-mailbox.check.refused 1 "will fail: always refused"
  -- $<TARGET_FILE:bladecfg-mailbox> check ${Examples}/platform-mailbox.json)
add_tool_test(bladecfg-mailbox.check.json 1 "\"kind\": \"platform keyword\".*\"will_fail\": true"
  -- $<TARGET_FILE:bladecfg-mailbox> check ${Examples}/platform-mailbox.json --json)
add_tool_test(bladecfg-mailbox.check.scenario 0 "FRU device 1, 8192 bytes.*nothing will fail"
  -- $<TARGET_FILE:bladecfg-mailbox> check ${Examples}/full-list.json)
string(REPEAT "X" 280 LongValue)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/too-long.json
  "{\"lists\": [[{\"id\": 1, \"text\": \"SET B1 OEMTAL_SERIAL=${LongValue}\"}]]}\n")
add_tool_test(bladecfg-mailbox.check.too-long 1 "a command holds at most 255"
  -- $<TARGET_FILE:bladecfg-mailbox> check ${CMAKE_CURRENT_BINARY_DIR}/too-long.json)

include(${CMAKE_CURRENT_LIST_DIR}/cli_adapters.cmake)
