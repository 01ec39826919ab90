# The agent with its real clients against avahi and the fake services in
# network namespaces: the test bed's helpers are compiled in.
find_package(GTest QUIET)
if(GTest_FOUND)
  quillon_bench(bench_dante_agent quillon_dante_dfa GTest::gtest)
  target_sources(bench_dante_agent PRIVATE
    ${PROJECT_SOURCE_DIR}/tests/support/netns.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/test_support.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/avahi_daemon.cpp)
  target_include_directories(bench_dante_agent PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(bench_dante_agent PRIVATE
    QUILLON_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QUILLON_PEERS_DIR="${PROJECT_SOURCE_DIR}/tests/peers")
endif()
