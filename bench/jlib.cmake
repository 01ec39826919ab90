quillon_bench(bench_md5 quillon_jlib)
quillon_bench(bench_variant quillon_jlib)
# libcrypto's MD5 in the same process is the fairest peer; the benchmark
# falls back to the openssl command alone when the headers are missing.
find_package(OpenSSL QUIET COMPONENTS Crypto)
if(OpenSSL_FOUND)
  target_link_libraries(bench_md5 PRIVATE OpenSSL::Crypto)
  target_compile_definitions(bench_md5 PRIVATE QUILLON_BENCH_LIBCRYPTO=1)
endif()
