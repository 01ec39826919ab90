// The Dante firmware agent against its peers in the same run:
// - CRC-32 of a 24 MiB file, ours against zlib's crc32, and the whole
//   version-3 check of such a file (CRC-bound) against the same zlib pass;
// - one scheduling pass over 200 tasks against 200 no-op std::function
//   calls;
// - the agent's idle CPU over 2 s (with an empty socket set, and with idle
//   sockets) against the process idling without it: the counter
//   "idle_fraction" (1 - CPU time / wall time) is the throughput compared,
//   so a loop that spins shows as a ratio near 0.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_glue.h"
#include "dante/dfa/dfa_main.h"
#include "dante/dfa/dfa_service.h"
#include "dante/dfa/dfa_task.h"
#include "pbd/OSWRAP/oswrap.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr size_t kFileSize = 24u << 20;

void startOswrap()
{
    static const bool started = [] {
        oswrap_init();
        dfa_set_print_level(0);
        return true;
    }();
    (void)started;
}

const std::vector<uint8_t>& randomBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(kFileSize);
        std::mt19937 random(11);
        for (uint8_t& x : b)
            x = static_cast<uint8_t>(random());
        return b;
    }();
    return bytes;
}

void putBe32(uint8_t* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// A valid version-3 file of 24 MiB: one part (id 6) and one model.
const std::vector<uint8_t>& v3File()
{
    static const std::vector<uint8_t> file = [] {
        constexpr uint32_t header = 60 + 16 + 16;
        std::vector<uint8_t> f = randomBytes();
        std::memset(f.data(), 0, header);
        std::memcpy(f.data(), "AUDI", 4);
        putBe32(&f[4], header);
        putBe32(&f[8], 3);
        putBe32(&f[16], DNT_DEVICE_BKLYN2);
        std::memcpy(&f[28], "Valdor", 6);
        const uint32_t words[] = {60, 1, 16, 76, 1, 16};
        for (int i = 0; i < 6; ++i)
            putBe32(&f[36 + 4 * i], words[i]);
        putBe32(&f[60], 6);
        putBe32(&f[60 + 12], static_cast<uint32_t>(kFileSize - header));
        std::memcpy(&f[76], "BROX24", 6);
        putBe32(&f[76 + 12], 1);
        const uint8_t zero[4] = {};
        uLong crc = crc32(0, f.data(), 24);
        crc = crc32(crc, zero, 4);
        crc = crc32(crc, f.data() + 28, static_cast<uInt>(f.size() - 28));
        putBe32(&f[24], static_cast<uint32_t>(crc));
        return f;
    }();
    return file;
}

void BM_DfaCrc32(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = randomBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(dfa_crc32(0, bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_DfaCrc32);

void BM_ZlibCrc32(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = randomBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ZlibCrc32);

void BM_DntCheckV3(benchmark::State& state)
{
    dfa_set_print_level(0);
    const std::vector<uint8_t>& file = v3File();
    const auto info = std::make_unique<DntFileInfo>();
    for (auto _ : state) {
        if (dfa_dntchk_check(file.data(), file.size(), info.get()) != DFA_ERR_NOERR)
            state.SkipWithError("the check refused its file");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_DntCheckV3);

int noop(DfaTask*)
{
    return 0;
}

void BM_DfaTaskPass(benchmark::State& state)
{
    startOswrap();
    if (dfa_task_init() != DFA_OK) {
        state.SkipWithError("no task lists");
        return;
    }
    const int count = static_cast<int>(state.range(0));
    for (int i = 0; i < count; ++i)
        dfa_task_create(&noop, nullptr, DFA_KEY_REQUEST, "noop");
    for (auto _ : state)
        dfa_task_pass();
    state.SetItemsProcessed(state.iterations() * count);
    dfa_task_delete_all();
}
BENCHMARK(BM_DfaTaskPass)->Arg(200);

void BM_StdFunctionCalls(benchmark::State& state)
{
    std::vector<std::function<int()>> calls(static_cast<size_t>(state.range(0)), [] { return 0; });
    for (auto _ : state) {
        for (const auto& call : calls)
            benchmark::DoNotOptimize(call());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * calls.size()));
}
BENCHMARK(BM_StdFunctionCalls)->Arg(200);

// --- idle CPU ---------------------------------------------------------------

DfaStatus running(void*, const char16_t*, uint32_t* state)
{
    *state = DFA_SERVICE_RUNNING;
    return DFA_OK;
}

int g_socket = -1;

DfaStatus fillSocket(void*, aud_fdset* set)
{
    return aud_fdset_add(set, g_socket) == AUD_SUCCESS ? DFA_OK : dfa_reason(DFA_REASON_OS);
}

int processNothing(void*, const aud_fdset*, size_t)
{
    return 0;
}

DfaStatus conmonWithSocket(void*, aud_env*)
{
    return dfa_main_set_socket_hooks(1, &fillSocket, &processNothing, nullptr);
}

void callback(DfaResult, const DfaCallbackInfo*) { }

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Range 0: no agent (the baseline); 1: the agent with an empty socket set;
// 2: the agent with one idle socket.
void BM_AgentIdleCpu(benchmark::State& state)
{
    startOswrap();
    const int mode = static_cast<int>(state.range(0));
    const DfaServiceProbe probe{&running, nullptr};
    dfa_set_service_probe(&probe);
    DfaGlue glue = dfa_glue_stubs();
    if (mode == 2) {
        g_socket = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(g_socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        glue.conmon_init = &conmonWithSocket;
    }
    dfa_set_glue(&glue);
    uint16_t reqId = 0;
    if (mode != 0 && dfa_init(&callback, &reqId) != DFA_ERR_NOERR) {
        state.SkipWithError("the agent did not start");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        cpu += processCpuSeconds() - cpuBefore;
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    }
    if (mode != 0)
        dfa_terminate();
    if (g_socket >= 0) {
        close(g_socket);
        g_socket = -1;
    }
    dfa_set_glue(nullptr);
    dfa_set_service_probe(nullptr);
    state.counters["cpu_ms"] = cpu * 1000.0;
    state.counters["idle_fraction"] = 1.0 - cpu / wall;
}
BENCHMARK(BM_AgentIdleCpu)->Arg(0)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
