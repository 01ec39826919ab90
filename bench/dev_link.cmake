# The device link at a full rack: simulated units (test code, built in) and
# their links in one process on loopback.
quillon_bench(bench_dev_link quillon_device)
target_sources(bench_dev_link PRIVATE
  ${QUILLON_SIM_SOURCES})
target_include_directories(bench_dev_link PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_dev_link PRIVATE QUILLON_SIM_LAYOUTS="${PROJECT_SOURCE_DIR}/tests/sim/layouts")

# Finding a full rack: unit processes in a namespace bed of the program's
# own, with the test tree's bed, unit helper and simulated unit program.
add_executable(simunit_child ${PROJECT_SOURCE_DIR}/tests/sim/sim_main.cpp
  ${QUILLON_SIM_SOURCES})
target_include_directories(simunit_child PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(simunit_child PRIVATE quillon_scp quillon_mms quillon_jsdp quillon_vcom)
find_package(GTest REQUIRED)
quillon_bench(bench_dev_link_find quillon_device GTest::gtest)
target_sources(bench_dev_link_find PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/support/netns.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/unit_process.cpp)
target_include_directories(bench_dev_link_find PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(bench_dev_link_find PRIVATE QUILLON_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  QUILLON_PEERS_DIR="${PROJECT_SOURCE_DIR}/tests/peers"
  QUILLON_SIMUNIT_PROGRAM="$<TARGET_FILE:simunit_child>")
add_dependencies(bench_dev_link_find simunit_child)
