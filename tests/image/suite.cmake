# The image suite (label image), included from tests/CMakeLists.txt.
add_suite(image_tests image)

# Where the image preset puts the image; point it elsewhere to check another build of it.
set(BLADECFG_IMAGE_PATH ${CMAKE_SOURCE_DIR}/build/image/BladeCfgDxe.efi
    CACHE FILEPATH "BladeCfgDxe.efi read by the image tests")
target_compile_definitions(image_tests PRIVATE BLADECFG_IMAGE_PATH="${BLADECFG_IMAGE_PATH}"
                                              BLADECFG_EDK2_DIR="${CMAKE_SOURCE_DIR}/edk2")
if(NOT EXISTS ${BLADECFG_IMAGE_PATH})
  message(STATUS "No image at ${BLADECFG_IMAGE_PATH} yet: the image tests and the boots skip "
                 "themselves until cmake --workflow --preset image has built it")
endif()

# The image's memory routines, renamed so that the test binary keeps the C library's own.
set(ImageMemory ${CMAKE_SOURCE_DIR}/image/memory.cpp)
target_sources(image_tests PRIVATE ${ImageMemory})
set_source_files_properties(${ImageMemory} PROPERTIES COMPILE_DEFINITIONS
  "memset=ImageMemset;memcpy=ImageMemcpy;memmove=ImageMemmove;memcmp=ImageMemcmp")
