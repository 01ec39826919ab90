# The product's device link against a simulated unit; the unit's sources are
# test code under tests/sim, built in so that it does not need the test build.
quillon_bench(bench_e2e quillon_device)
target_sources(bench_e2e PRIVATE
  ${QUILLON_SIM_SOURCES})
target_include_directories(bench_e2e PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_e2e PRIVATE QUILLON_BROX_LAYOUT="${PROJECT_SOURCE_DIR}/tests/sim/layouts/brox.xml")
