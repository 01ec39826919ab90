# One Brox unit's link against the simulated unit on loopback; the simulated
# unit's sources are test code, built in here.
quillon_bench(bench_device_connection quillon_device)
target_sources(bench_device_connection PRIVATE
  ${QUILLON_SIM_SOURCES})
target_include_directories(bench_device_connection PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_device_connection PRIVATE
  QUILLON_BROX_LAYOUT="${PROJECT_SOURCE_DIR}/tests/sim/layouts/brox.xml")
