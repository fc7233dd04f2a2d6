# The stand-in drivers and the harness application, built by the image preset next to
# BladeCfgDxe.efi with the same toolchain and freestanding switches (cmake/freestanding.cmake).
# They land in <image build>/firmware/, where the firmware tests of the host build look for them.
set(FirmwareImageDir ${CMAKE_BINARY_DIR}/firmware)

# Compiled once, linked into the images that need them.
add_library(FirmwareMemory OBJECT ${PROJECT_SOURCE_DIR}/image/memory.cpp)
add_library(FirmwareKcs OBJECT
  ${CMAKE_CURRENT_SOURCE_DIR}/common/kcs.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/common/ipmi_kcs.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/common/port_io_x86.cpp)
foreach(Objects FirmwareMemory FirmwareKcs)
  target_link_libraries(${Objects} PRIVATE efi_freestanding)
endforeach()

# Name: output file name without .efi; Kind: efi_boot_service_driver or efi_application.
function(add_firmware_image Name Kind Entry)
  add_efi_image(${Name} ${Kind} ${Entry} ${FirmwareImageDir} ${ARGN}
                $<TARGET_OBJECTS:FirmwareMemory>)
endfunction()

add_firmware_image(IpmiTransportDxe efi_boot_service_driver DriverEntry
  ${CMAKE_CURRENT_SOURCE_DIR}/standins/ipmi_transport_dxe.cpp $<TARGET_OBJECTS:FirmwareKcs>)
add_firmware_image(PlatformInfoDxe efi_boot_service_driver DriverEntry
  ${CMAKE_CURRENT_SOURCE_DIR}/standins/platform_info_dxe.cpp)
add_firmware_image(SmbiosEditDxe efi_boot_service_driver DriverEntry
  ${CMAKE_CURRENT_SOURCE_DIR}/standins/smbios_edit_dxe.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/common/smbios_record.cpp)
add_firmware_image(AdapterClpDxe efi_boot_service_driver DriverEntry
  ${CMAKE_CURRENT_SOURCE_DIR}/standins/adapter_clp_dxe.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/standins/adapter_book.cpp)
add_firmware_image(FirmwareHarness efi_application HarnessMain
  ${CMAKE_CURRENT_SOURCE_DIR}/harness/harness.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/harness/harness_context.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/harness/adapters.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/harness/inputs.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/harness/processors.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/harness/scenario.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/harness/report_writer.cpp ${PROJECT_SOURCE_DIR}/hw/x86.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/common/smbios_record.cpp
  $<TARGET_OBJECTS:FirmwareKcs>)
