quillon_bench(bench_setup_file quillon_app)
target_compile_definitions(bench_setup_file PRIVATE QUILLON_PEERS_DIR="${PROJECT_SOURCE_DIR}/tests/peers")
