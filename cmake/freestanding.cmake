# How the image build compiles and links every EFI image: BladeCfgDxe.efi (image/) and the
# real-firmware test images (firmware/images.cmake).
#
# Firmware gives an image no C++ runtime, no standard library and no unwinder; its stack is
# whatever the caller left, so no red zone and no stack probes. Nothing runs global constructors or
# destructors in an image either: a global that needs one would silently stay zero, so such globals
# are errors here.
add_library(efi_freestanding INTERFACE)
target_include_directories(efi_freestanding INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(efi_freestanding INTERFACE
  -O2 -ffreestanding -fno-exceptions -fno-rtti -mno-red-zone -fshort-wchar
  -mno-stack-arg-probe -fno-stack-protector -Wall -Werror -Wglobal-constructors
  -Wexit-time-destructors)

# Makes Target an EFI image named Target.efi in OutputDirectory. Kind: efi_boot_service_driver or
# efi_application. -dynamicbase keeps base relocations so that the loader can place the image
# anywhere; signing for secure boot expects NX_COMPAT (and 4 KiB sections, lld-link's own
# alignment: saying -align:4096 only adds a warning meant for kernel drivers).
function(add_efi_image Target Kind Entry OutputDirectory)
  add_executable(${Target} ${ARGN})
  set_target_properties(${Target} PROPERTIES
    SUFFIX .efi
    RUNTIME_OUTPUT_DIRECTORY ${OutputDirectory})
  target_link_libraries(${Target} PRIVATE efi_freestanding)
  target_link_options(${Target} PRIVATE
    -subsystem:${Kind} -entry:${Entry} -nodefaultlib -nxcompat -dynamicbase)
endfunction()
