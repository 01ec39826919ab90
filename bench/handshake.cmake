# The summary dialog's memory handshake over a real rack owner and a
# connected simulated unit; the unit and the rack fixture are test code,
# built in here (with the main window's answers to its questions).
if(TARGET quillon_ui_main)
  quillon_bench(bench_handshake quillon_ui_main Qt5::Test)
  target_sources(bench_handshake PRIVATE
    ${QUILLON_SIM_SOURCES}
    ${PROJECT_SOURCE_DIR}/tests/support/rack_fixture.cpp)
  target_include_directories(bench_handshake PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(bench_handshake PRIVATE
    QUILLON_BROX_LAYOUT="${PROJECT_SOURCE_DIR}/tests/sim/layouts/brox.xml")
endif()
