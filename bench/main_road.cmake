# The whole program with 24 unit processes in a namespace bed of its own,
# offscreen; the test tree's bed, unit helper and modal driver built in, the
# simulated unit program and bench_e2e (the bare floor) run as children.
if(TARGET quillon_ui_main AND TARGET simunit_child)
  find_package(GTest REQUIRED)
  quillon_bench(bench_main_road quillon_ui_main quillon_ui_skins Qt5::Test GTest::gtest)
  target_sources(bench_main_road PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/support/netns.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/unit_process.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/gui/gui_support.cpp)
  target_include_directories(bench_main_road PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(bench_main_road PRIVATE QUILLON_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUILLON_PEERS_DIR="${PROJECT_SOURCE_DIR}/tests/peers"
    QUILLON_SIMUNIT_PROGRAM="$<TARGET_FILE:simunit_child>"
    BENCH_E2E_PROGRAM="$<TARGET_FILE:bench_e2e>")
  add_dependencies(bench_main_road simunit_child bench_e2e)
endif()
