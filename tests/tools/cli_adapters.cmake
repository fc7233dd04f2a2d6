# The tools with adapters (label tools), included from cli.cmake: what bladecfg-sim reports about
# each adapter example, and bladecfg-mailbox with mailboxes of other FRU devices and files of FRU
# areas.

# The main job shows the adapters: one arrival waits, the later ones run at once; the commands are
# filtered by port, widened and translated for 0x8086, renumbered for 0x14E4.
add_tool_test(bladecfg-sim.default.adapters 0
  "Adapter arrivals: 6 \\(1 wait, 5 run now\\).*Mailbox: FRU device 4.*0x0406  0x0500 +done, read in 4 adapter passes.*branch: wait.*wait: 1\\.500000 s.*slowed down: cpu0 0x12.*ran on 3 APs.*sent: SET AddressOrigin=DHCP.*not sent: for port 2; the adapter served is port 1.*sent: Set BootEnable=iSCSI.*sent: SET Permanentaddress=FFFFFFFFFFFF.*PendingMask8086: 0x0000003C -> 0x00000000.*nothing pending for vendor 0x8086.*sent: SET NETPORT1 OEMTAL_BOOTENABLE=DISABLE.*sent: Set Netport1 OEMTAL_MULTIFUNCTIONMODE=SF"
  -- $<TARGET_FILE:bladecfg-sim>)
add_tool_test(bladecfg-sim.default.adapters.json 0
  "\"steps\": \\[.*\"arrival\": {.*\"branch\": \"wait\".*\"length_us\": 1500000.*\"sent\": {[^}]*\"text\": \"SET BootEnable=ENABLE\".*\"not_sent\": \"for port 2; the adapter served is port 1\""
  -- $<TARGET_FILE:bladecfg-sim> --json)

add_tool_test(bladecfg-sim.adapter-restore 0
  "Completion signal: not reached \\(the boot had ended\\).*branch: default restore \\(adapter-ready input 0, NparRestoreMask 0x0000000C\\).*restore: set netport1 OEMTAL_MULTIFUNCTIONMODE=NPAR -> 0x0500 done.*restore: exit -> 0x0500.*NparRestoreMask: 0x0000000C -> 0x00000008.*ResetSystem EfiResetCold"
  -- $<TARGET_FILE:bladecfg-sim> ${Examples}/adapter-restore.json)
add_tool_test(bladecfg-sim.adapter-onboard-wait 0
  "0x0102  0x0500 +done.*slowed down: cpu0 0x1A.*ran on 7 APs.*restored: cpu0 0x00.*adapter 02:00.0.*left locked.*not sent: a platform setting: the host takes it itself.*sent: SET OEMTAL_BOOTPROTOCOL=PXE.*sent: Set BootLUN=3.*AdapterReadyWait: 1 -> 0.*Serial: \"\" -> \"SN-ONBOARD-7\""
  -- $<TARGET_FILE:bladecfg-sim> ${Examples}/adapter-onboard-wait.json)
add_tool_test(bladecfg-sim.adapter-failures 0
  "wait ends \\[02 00 00 42 32\\] -> EFI_DEVICE_ERROR \\(completion 0xC0\\).*the wait ends message failed.*no MP services.*started at 1\\.600000 s.*FRU device 0x50.*-> 0x0102 failed.*Execute returned EFI_DEVICE_ERROR.*no record: the run stopped.*command failure report.*TalBladeData.AdapterReadyWait: 0 -> 1"
  -- $<TARGET_FILE:bladecfg-sim> ${Examples}/adapter-failures.json)
add_tool_test(bladecfg-sim.adapter-eight-lists 0
  "slot row 18, pending bit 0x00010000, port 1.*list 7: more than 32 commands.*slot row 22, pending bit 0x00040000, port 3.*sent: Set AddressOrigin=DHCP.*slot row 23, pending bit 0x00080000, port 4.*sent: SET EXPANSIONROMMENU=Enabled"
  -- $<TARGET_FILE:bladecfg-sim> ${Examples}/adapter-eight-lists.json)
add_tool_test(bladecfg-sim.hang-adapter-ready 1
  "branch: wait.*wait: never ended \\(7200 reads of the adapter-ready input\\).*the adapter-ready input never rose.*hung \\(the boot ran"
  -- $<TARGET_FILE:bladecfg-sim> ${Examples}/hang-adapter-ready.json)

# A file of FRU areas as QEMU's BMC takes it, filled device by device, and read back by device.
add_test(NAME bladecfg-mailbox.fru-areas
  COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:bladecfg-mailbox> -DEXAMPLES=${Examples}
          -DWORK=${CMAKE_CURRENT_BINARY_DIR}/fru-areas
          -P ${CMAKE_CURRENT_LIST_DIR}/mailbox_areas.cmake)
set_tests_properties(bladecfg-mailbox.fru-areas PROPERTIES LABELS tools)
add_tool_test(bladecfg-mailbox.bad-fru 1 ""
  -- $<TARGET_FILE:bladecfg-mailbox> build ${Examples}/eight-lists-mailbox.json -o unused.bin --fru 0x1FF)
