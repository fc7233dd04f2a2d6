# Real firmware with a BMC program (label bmc): ipmi_sim as the BMC, ipmitool over its LAN channel,
# bladecfg-mailbox for the images and scripts/bmc-lock.sh for the BMC's side of the lock. Included
# from tests/CMakeLists.txt. Like the firmware boots, they run in the plain host build only.
find_package(nlohmann_json 3.10 REQUIRED)
file(GLOB BmcSources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_executable(bmc_tests ${BmcSources})
target_include_directories(bmc_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bmc_tests PRIVATE firmware_runner nlohmann_json::nlohmann_json GTest::gtest_main)
target_compile_definitions(bmc_tests PRIVATE
  BLADECFG_MAILBOX_TOOL="$<TARGET_FILE:bladecfg-mailbox>"
  BLADECFG_BMC_LOCK_SCRIPT="${CMAKE_SOURCE_DIR}/scripts/bmc-lock.sh")
add_dependencies(bmc_tests bladecfg-mailbox)

# ipmi_sim's answers module is built beside the runner (firmware/CMakeLists.txt).
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  message(STATUS "BMC boots: not registered in this sanitizer build (the host build runs them)")
else()
  gtest_discover_tests(bmc_tests PROPERTIES LABELS bmc TIMEOUT 240 DISCOVERY_TIMEOUT 60)
endif()
