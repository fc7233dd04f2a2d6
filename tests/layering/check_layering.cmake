# The driver's folders depend one way: each may include only the folders beneath it, so that the
# driver core can be read, built and tested without the subsystems above it. Run as
#   cmake -DSOURCE_DIR=<repository> -P check_layering.cmake
# Fails with every include that points upward.
cmake_minimum_required(VERSION 3.25)
set(Beneath_uefi uefi)
set(Beneath_hw uefi hw)
set(Beneath_core uefi hw core)
set(Beneath_platform uefi hw core platform)
set(Beneath_mailbox uefi hw core platform mailbox)
set(Beneath_adapter uefi hw core platform mailbox adapter)

set(Upward "")
foreach(Folder uefi hw core platform mailbox adapter)
  file(GLOB Sources ${SOURCE_DIR}/${Folder}/*.h ${SOURCE_DIR}/${Folder}/*.cpp)
  foreach(Source ${Sources})
    file(STRINGS ${Source} Includes REGEX "^#include \"[a-z_]+/")
    foreach(Line ${Includes})
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" Target "${Line}")
      if(NOT Target IN_LIST Beneath_${Folder})
        file(RELATIVE_PATH Name ${SOURCE_DIR} ${Source})
        string(APPEND Upward "\n  ${Name}: ${Line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(Upward)
  message(FATAL_ERROR "includes that point above their folder:${Upward}")
endif()
message(STATUS "every driver folder includes only the folders beneath it")
