// The Dante support layer's two hot paths, each against its peer in the same
// run (throughput: lines or calls per second, higher is better):
// - aud_snprintf against glibc snprintf on the library's own log formats;
// - an aud_log call that its level filters out against a call of an empty
//   function with the same arguments (the price of a disabled log line).
#include "dante/support/aud_log.h"
#include "dante/support/aud_printf.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

// One pass over typical lines of the clients; returns the bytes written.
template <typename Format> size_t formatLines(Format format, char* buffer, size_t size)
{
    size_t total = 0;
    total += size_t(
        format(buffer, size, "%s: resolve '%s' initiated using socket %d\n", "db_browse", "Brox-D3-0a1b2c", 17));
    total += size_t(format(buffer, size, "%s: UP=%u TX=%u RX=%u\n", "eth0", 1u, 1000u, 1000u));
    total += size_t(format(buffer, size, "[CMM   ]Version: %u.%u.%u\n", 4u, 2u, 31u));
    total += size_t(format(buffer, size, "%s: keepalive interval has expired, sending keepalive (seqnum=0x%04x)!\n",
        "dgcp2_client", 0x1234u));
    total += size_t(format(buffer, size, "%s: Error reading socket %d: %s", "conmon_client", 9,
        "connection refused: (0x0017=CONNREFUSED)"));
    total += size_t(format(buffer, size, "aud_log: network logging to %s (fd %d) failed: %s (%d)",
        "127.0.0.1:8700 (len=16)", 12, "system-specific error", 2));
    return total;
}

constexpr int kLinesPerPass = 6;

template <typename Format> void formatBench(benchmark::State& state, Format format)
{
    char buffer[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatLines(format, buffer, sizeof buffer));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLinesPerPass);
}

void BM_AudSnprintf(benchmark::State& state)
{
    formatBench(state, [](char* b, size_t n, const char* f, auto... a) { return aud_snprintf(b, n, f, a...); });
}
BENCHMARK(BM_AudSnprintf);

void BM_GlibcSnprintf(benchmark::State& state)
{
    formatBench(state, [](char* b, size_t n, const char* f, auto... a) { return snprintf(b, n, f, a...); });
}
BENCHMARK(BM_GlibcSnprintf);

__attribute__((noinline)) void emptyLog(aud_log_state* log, unsigned level, const char* format, ...)
{
    benchmark::DoNotOptimize(log);
    benchmark::DoNotOptimize(level);
    benchmark::DoNotOptimize(format);
}

void BM_AudLogFilteredOut(benchmark::State& state)
{
    aud_log_state* log = nullptr;
    aud_log_new(&log); // level 0: a debug line is filtered out
    for (auto _ : state)
        aud_log(log, AUD_LOG_DEBUG, "%s: UP=%u TX=%u RX=%u\n", "eth0", 1u, 1000u, 1000u);
    state.SetItemsProcessed(state.iterations());
    aud_log_free(log);
}
BENCHMARK(BM_AudLogFilteredOut);

void BM_EmptyCall(benchmark::State& state)
{
    aud_log_state* log = nullptr;
    aud_log_new(&log);
    for (auto _ : state)
        emptyLog(log, AUD_LOG_DEBUG, "%s: UP=%u TX=%u RX=%u\n", "eth0", 1u, 1000u, 1000u);
    state.SetItemsProcessed(state.iterations());
    aud_log_free(log);
}
BENCHMARK(BM_EmptyCall);

} // namespace

BENCHMARK_MAIN();
