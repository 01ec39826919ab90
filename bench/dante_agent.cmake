# The agent with its real clients against avahi and the fake services in
# network namespaces.
quillon_bench_with_bed(bench_dante_agent quillon_dante_dfa)
