# Built from the protocol companions' own source, so the target needs no
# widget or application layer.
quillon_fuzz(fuzz_fwscp_reporter quillon_scp Qt5::Core)
target_sources(fuzz_fwscp_reporter PRIVATE
  ${PROJECT_SOURCE_DIR}/ui/fwupdate_ui/fw_scpprotocol.h
  ${PROJECT_SOURCE_DIR}/ui/fwupdate_ui/fw_scpprotocol.cpp)
target_include_directories(fuzz_fwscp_reporter PRIVATE ${PROJECT_SOURCE_DIR})
quillon_fuzz(fuzz_fw_texts quillon_ui_fwupdate)
# The window's update run: one job at a time, and it always ends.
quillon_fuzz(fuzz_fw_run quillon_ui_fwupdate quillon_dfu)
target_include_directories(fuzz_fw_run PRIVATE ${PROJECT_SOURCE_DIR})
