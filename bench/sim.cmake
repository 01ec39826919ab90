# The simulated unit's sources are test code under tests/sim; the benchmark
# builds them in so that it does not need the test build.
quillon_bench(bench_e2e quillon_scp quillon_mms quillon_jsdp quillon_vcom)
target_sources(bench_e2e PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/sim/sim_memory.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/sim_unit.cpp
  ${PROJECT_SOURCE_DIR}/tests/sim/sim_client.cpp)
target_include_directories(bench_e2e PRIVATE ${PROJECT_SOURCE_DIR}/tests/sim)
target_compile_definitions(bench_e2e PRIVATE QUILLON_SIM_LAYOUT="${PROJECT_SOURCE_DIR}/tests/sim/layouts/sim400.xml")
