// The Dante front as the TFTP server's parent: tftp-hpa fetches an 8 MiB
// file from the server the front made, while the front relays every block
// event to a window stand-in that hands it to another thread (as the
// window's queued signals do) and reads the sender's byte count there.
// Against: the same server with an empty parent, in the same run. The ratio
// is the price of the relay; it should stay above 0.95.
//
// The program runs in its own network namespace (it needs root), so the
// fixed ports 1999-2032 never meet another program's. The agent runs on the
// tests' fake glue (the front needs it for its .dnt settings).
#include "fwupdate/dfu/dfu.h"
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"
#include "tests/dante/dfa/core/dfa_fixture.h"
#include "tests/support/test_support.h"

#include "app/app_log.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <sched.h>

namespace bench_dfu {

constexpr uint16_t kPort = 1999;
constexpr int64_t kSize = 8 << 20;

// The window stand-in: transfer events are queued to its own thread.
class Window : public IDfuAppCallback {
public:
    Window()
        : m_thread([this] { run(); })
    {
    }
    ~Window()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    // Event 6 ends the interface chain: the agent is up.
    void dfuAppCallback(uint32_t event) override
    {
        if (event == DFU_EVENT_DANTE_IF)
            started = true;
    }
    void dfuAppErrorCallback(const DfuErrorInfo&) override { }
    void dfuAppDeviceErrorCallback(const DfuErrorInfo&, const char*) override { }
    void dfuSendDataCallback(uint16_t childId, uint32_t state) override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_queue.emplace_back(childId, state);
        }
        m_wake.notify_one();
    }
    DanteFirmwareUpdateModule* front = nullptr;
    uint64_t blocks = 0;
    std::atomic<bool> started{false};

private:
    void run()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [&] { return m_stop || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            const auto event = m_queue.front();
            m_queue.pop_front();
            guard.unlock();
            if (event.second == TFTP_EVENT_BLOCK_SENT && front != nullptr) {
                benchmark::DoNotOptimize(front->getTftpChildBytes(event.first));
                ++blocks;
            }
            guard.lock();
        }
    }
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::pair<uint16_t, uint32_t>> m_queue;
    bool m_stop = false;
    std::thread m_thread;
};

class EmptyParent : public TFTPParentCallbackIF {
public:
    int32_t transferEvent(uint16_t, uint32_t) override { return 0; }
};

const uint8_t kMac[6] = {2, 0, 0, 0, 0, 1};

struct Bed {
    std::unique_ptr<qtest::TempDir> folder;
    dfatest::FakeProbe probe;
    dfatest::FakeGlue glue;
    bool ready = false;
};

Bed& bed()
{
    static Bed b;
    return b;
}

bool setUp()
{
    Bed& b = bed();
    if (unshare(CLONE_NEWNET) != 0) {
        perror("unshare(CLONE_NEWNET) (run as root)");
        return false;
    }
    if (system("ip link set lo up") != 0 || oswrap_init() != OSWRAP_OK || vsock_init() != VSOCK_OK)
        return false;
    appLogSetPath("");
    const DfaServiceProbe probe = b.probe.probe();
    dfa_set_service_probe(&probe);
    // Asked for its own interface, the fake says it is set already.
    std::memcpy(b.glue.interfaces[0].mac, kMac, sizeof kMac);
    b.glue.reasons[DFA_REQ_SET_DANTE_IF] = dfa_reason(DFA_REASON_RANGE);
    const DfaGlue glue = b.glue.glue();
    dfa_set_glue(&glue);
    dfa_set_print_level(0);
    b.folder = std::make_unique<qtest::TempDir>();
    const std::string dir = b.folder->path();
    std::string chunk(1 << 16, '\0');
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>(i * 7 % 256);
    std::string file;
    while (static_cast<int64_t>(file.size()) < kSize)
        file += chunk;
    b.ready = qtest::writeFile(dir + "/big.bin", file)
        && qtest::runCommand("python3 " + qtest::peerPath("dnt_gen.py") + " " + dir
               + " --only v3_wildcard >/dev/null && mv " + dir + "/v3_wildcard.dnt " + dir + "/module.dnt")
            == 0;
    return b.ready;
}

bool fetch()
{
    return system(
               ("tftp -m binary 127.0.0.1 " + std::to_string(kPort) + " -c get big.bin /dev/null 2>/dev/null").c_str())
        == 0;
}

void run(benchmark::State& state)
{
    for (auto _ : state) {
        if (!fetch()) {
            state.SkipWithError("a transfer failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kSize);
}

void BM_FrontRelay(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no test bed (root, tftp-hpa and python3 are needed)");
        return;
    }
    Window window;
    {
        DanteFirmwareUpdateModule front;
        window.front = &front;
        const uint8_t loopback[4] = {127, 0, 0, 1};
        std::u16string path;
        for (const char c : bed().folder->file("module.dnt"))
            path += static_cast<char16_t>(c);
        char16_t p0[DFU_PATH_CHARS] = {};
        char16_t p1[DFU_PATH_CHARS] = {};
        path.copy(p0, DFU_PATH_CHARS - 1);
        const bool up = front.InitializeDfa(&window, kMac) == DFU_OK;
        for (int i = 0; up && i < 500 && !window.started; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!up || front.InitializeTftp(loopback, kPort, p0, p1) != DFU_OK) {
            state.SkipWithError("the front did not start");
            return;
        }
        run(state);
        window.front = nullptr;
    }
    state.counters["blocks"] = static_cast<double>(window.blocks);
}

void BM_EmptyParent(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no test bed (root, tftp-hpa and python3 are needed)");
        return;
    }
    EmptyParent parent;
    TFTPServer server;
    const std::string root = bed().folder->path() + "/";
    if (server.setup("127.0.0.1", kPort, root.c_str(), &parent) != TFTP_OK || server.start() != TFTP_OK) {
        state.SkipWithError("the server did not start");
        return;
    }
    run(state);
}

BENCHMARK(BM_FrontRelay)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmptyParent)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace bench_dfu

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!bench_dfu::setUp())
        fprintf(stderr, "Dante front bench: the test bed did not come up\n");
    benchmark::RunSpecifiedBenchmarks();
    bench_dfu::bed().folder.reset();
    vsock_term();
    benchmark::Shutdown();
    return 0;
}
