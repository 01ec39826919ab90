# The device link at a full rack: simulated units (test code, built in) and
# their links in one process on loopback.
quillon_bench(bench_dev_link quillon_device)
target_sources(bench_dev_link PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/sim/sim_memory.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/sim_unit.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/sim_client.cpp)
target_include_directories(bench_dev_link PRIVATE ${PROJECT_SOURCE_DIR}/tests/sim)
target_compile_definitions(bench_dev_link PRIVATE QUILLON_SIM_LAYOUTS="${PROJECT_SOURCE_DIR}/tests/sim/layouts")
