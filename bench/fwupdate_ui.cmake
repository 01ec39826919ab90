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
