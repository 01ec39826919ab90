# The firmware-update connection against the scripted unit (a python peer).
if(TARGET quillon_ui_fwupdate)
  quillon_bench_with_bed(bench_fwscp quillon_ui_fwupdate)
endif()
# The window's update run: eight simulated units in one run against each
# alone.
if(TARGET quillon_ui_fwupdate)
  quillon_bench_gui(bench_fw_run quillon_ui_fwupdate)
  target_include_directories(bench_fw_run PRIVATE ${PROJECT_SOURCE_DIR})
endif()
# The window's analysis of a rack of nine unit processes (eight fit the
# package) against one unit alone, in a namespace bed of the program's own;
# the test tree's bed, unit helper and rack owner fixture built in.
if(TARGET quillon_ui_fwupdate AND TARGET quillon_ui_main AND TARGET simunit_child)
  find_package(GTest REQUIRED)
  quillon_bench(bench_fw_rack quillon_ui_fwupdate quillon_ui_main quillon_ui_skins Qt5::Test GTest::gtest)
  target_sources(bench_fw_rack PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/support/netns.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/unit_process.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/rack_fixture.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/gui/gui_support.cpp)
  target_include_directories(bench_fw_rack PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(bench_fw_rack PRIVATE QUILLON_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    QUILLON_PEERS_DIR="${PROJECT_SOURCE_DIR}/tests/peers"
    QUILLON_SIMUNIT_PROGRAM="$<TARGET_FILE:simunit_child>")
  add_dependencies(bench_fw_rack simunit_child)
endif()
