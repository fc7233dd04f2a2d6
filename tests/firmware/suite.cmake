# The firmware label, included from tests/CMakeLists.txt: host tests of the logic the stand-ins and
# the harness carry and of the runner's report reading, and the boots of the image in OVMF.

file(GLOB FirmwareUnitSources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp)
add_executable(firmware_unit_tests ${FirmwareUnitSources})
target_link_libraries(firmware_unit_tests PRIVATE firmware_logic firmware_runner GTest::gtest_main)
gtest_discover_tests(firmware_unit_tests NO_PRETTY_VALUES PROPERTIES LABELS firmware
                     DISCOVERY_TIMEOUT 60)

# The boots. Without an image build they are skipped (unless BLADECFG_REQUIRE_IMAGE is set). A
# sanitizer build runs the same QEMU boots as the plain host build and would only double the time,
# so scripts/test.sh runs them once, in the host build.
file(GLOB FirmwareBootSources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/boots/*.cpp)
add_executable(firmware_scenarios ${FirmwareBootSources})
target_include_directories(firmware_scenarios PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(firmware_scenarios PRIVATE firmware_runner GTest::gtest_main)
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  message(STATUS "Firmware boots: not registered in this sanitizer build (the host build runs "
                 "them)")
else()
  gtest_discover_tests(firmware_scenarios PROPERTIES LABELS firmware TIMEOUT 120
                       DISCOVERY_TIMEOUT 60)
endif()
