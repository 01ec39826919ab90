# The firmware-update connection against the scripted unit (a python peer).
if(TARGET quillon_ui_fwupdate)
  quillon_bench_with_bed(bench_fwscp quillon_ui_fwupdate)
endif()
