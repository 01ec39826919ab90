quillon_bench(bench_startup quillon_ui_main quillon_ui_skins)
# The peer: a bare Qt program, run by bench_startup.
add_executable(startup_bare_peer ${CMAKE_CURRENT_SOURCE_DIR}/startup_bare_peer.cpp)
target_link_libraries(startup_bare_peer PRIVATE Qt5::Widgets)
add_dependencies(bench_startup startup_bare_peer)
target_compile_definitions(bench_startup PRIVATE STARTUP_BARE_PEER="$<TARGET_FILE:startup_bare_peer>")
