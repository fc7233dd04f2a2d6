# Benchmarks of the simulated platform pass and of the worst adapter boot. They report, they assert
# nothing: the ctest entry runs each benchmark briefly so that they keep building and running.
find_package(benchmark REQUIRED)
add_executable(bladecfg-bench ${CMAKE_CURRENT_LIST_DIR}/bench_main.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/platform_bench.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/ipmi_floor.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/adapter_bench.cpp)
target_include_directories(bladecfg-bench PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bladecfg-bench PRIVATE bladecfg_sim benchmark::benchmark)
add_test(NAME bladecfg-bench COMMAND bladecfg-bench --benchmark_min_time=0.001)
add_test(NAME bladecfg-bench.ipmi-floor COMMAND bladecfg-bench --ipmi-floor)
set_tests_properties(bladecfg-bench bladecfg-bench.ipmi-floor PROPERTIES LABELS bench)

# The platform pass in OVMF against the transport's floor (scripts/perf-report.sh runs it for 12
# and 32 commands). The ctest entry boots once, for 12, so that it keeps working; like the firmware
# boots it skips itself without an image build and is left to the plain host build.
add_executable(bladecfg-perf-boot ${CMAKE_CURRENT_LIST_DIR}/perf_boot.cpp)
target_include_directories(bladecfg-perf-boot PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bladecfg-perf-boot PRIVATE firmware_runner bladecfg_sim)
if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_test(NAME bladecfg-perf-boot COMMAND bladecfg-perf-boot 12)
  set_tests_properties(bladecfg-perf-boot PROPERTIES LABELS bench SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()

# The floor itself, on mailboxes small enough to count by hand.
add_executable(bench_floor_tests ${CMAKE_CURRENT_LIST_DIR}/ipmi_floor_test.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/ipmi_floor.cpp
                                 ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp)
target_include_directories(bench_floor_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bench_floor_tests PRIVATE bladecfg_sim GTest::gtest)
gtest_discover_tests(bench_floor_tests PROPERTIES LABELS bench DISCOVERY_TIMEOUT 60)
