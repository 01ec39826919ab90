find_package(ZLIB REQUIRED)
quillon_bench(bench_dante_dfa quillon_dante_dfa ZLIB::ZLIB)
