# The rack owner placing announced units; the announcements are built with
# the discovery tests' record helper.
quillon_bench(bench_rack_placing quillon_app)
target_include_directories(bench_rack_placing PRIVATE ${PROJECT_SOURCE_DIR})
