quillon_bench_with_bed(bench_mavik_update quillon_mavik_manager)
if(TARGET bench_mavik_update)
  target_include_directories(bench_mavik_update PRIVATE ${PROJECT_SOURCE_DIR})
endif()
