# Benchmarks of the simulated platform pass. They report, they assert nothing: the ctest entry runs
# each benchmark briefly so that they keep building and running.
find_package(benchmark REQUIRED)
add_executable(bladecfg-bench ${CMAKE_CURRENT_LIST_DIR}/platform_bench.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/ipmi_floor.cpp)
target_include_directories(bladecfg-bench PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(bladecfg-bench PRIVATE bladecfg_sim benchmark::benchmark)
add_test(NAME bladecfg-bench COMMAND bladecfg-bench --benchmark_min_time=0.001)
add_test(NAME bladecfg-bench.ipmi-floor COMMAND bladecfg-bench --ipmi-floor)
set_tests_properties(bladecfg-bench bladecfg-bench.ipmi-floor PROPERTIES LABELS bench)
