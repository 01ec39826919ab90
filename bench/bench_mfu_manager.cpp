// A 4 MiB XMODEM-1k model firmware update of one simulated unit through the
// manager and its MFU task (start to the finished callback), against lrzsz's
// `sx -k` pushing the same file into `rx -c` in the same run. Each side's
// fixed cost (ours: the steps around the transfer and rx's start and exit;
// sx: its start and the second it sleeps at the end) is measured on a
// 1-byte file and taken off. Blocks that waited for the 100 ms tick instead
// of moving on the socket's wake-ups would cap ours near 10 KB/s.
//
// The program runs in its own network namespace (it needs root).
#include "bench/bench_lrzsz.h"
#include "fwupdate/mfu/mfu_manager.h"
#include "pbd/vsock/vsock.h"
#include "tests/fwupdate/mfu/mfu_driver.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include <sched.h>

namespace {

constexpr size_t kFileSize = 4u << 20;

struct Bed {
    std::unique_ptr<qtest::TempDir> dir;
    std::string big;
    std::string tiny;
    std::unique_ptr<mfutest::UnitPeer> units;
    double oursFixed = -1;
    double sxFixed = -1;
};

Bed& bed()
{
    static Bed b;
    return b;
}

class Finish : public MfuAppCallbackIF {
public:
    void mfuAppCallback(uint32_t code, uint32_t) override
    {
        if (code == MFU_APP_START_WAIT)
            waiting = true;
        if (code == MFU_APP_FINISHED || code == MFU_APP_ERROR) {
            failed = code == MFU_APP_ERROR;
            done = true;
        }
    }
    std::atomic<bool> waiting{false};
    std::atomic<bool> done{false};
    std::atomic<bool> failed{false};
};

// Seconds from the start of the update to its finished callback; < 0 on
// failure. The unit at `address` expects `path`.
double oursOnce(const std::string& path, size_t size)
{
    const char* address = size > 1 ? "127.0.0.2" : "127.0.0.3";
    Finish finish;
    FirmwareUpdateManager manager;
    manager.setAppCallback(&finish);
    if (!manager.started() || manager.addDevice(0, "127.0.0.1", address, path.c_str(), 7, "V2.00") != MFU_OK
        || manager.getReady(0) != MFU_OK || !qtest::waitFor([&] { return finish.waiting.load(); }, 10000))
        return -1;
    const auto start = lrzsz::Clock::now();
    manager.startUpdate(0);
    if (!qtest::waitFor([&] { return finish.done.load(); }, 120000) || finish.failed)
        return -1;
    return std::chrono::duration<double>(lrzsz::Clock::now() - start).count();
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
    b.dir = std::make_unique<qtest::TempDir>();
    b.big = b.dir->file("big.bin");
    b.tiny = b.dir->file("tiny.bin");
    std::string content(kFileSize, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 131 + (i >> 10));
    if (!qtest::writeFile(b.big, content) || !qtest::writeFile(b.tiny, "x"))
        return false;
    const std::string unit = ",name=BroxL-D2,version=V1.00,protocols=xmodem-1k,expect=";
    b.units = std::make_unique<mfutest::UnitPeer>(
        b.dir->path(), std::vector<std::string>{"127.0.0.2" + unit + b.big, "127.0.0.3" + unit + b.tiny});
    if (!b.units->ready())
        return false;
    b.oursFixed = lrzsz::fixedCost(oursOnce, b.tiny);
    b.sxFixed = lrzsz::fixedCost(lrzsz::sxOnce, b.tiny);
    return b.oursFixed >= 0 && b.sxFixed >= 0;
}

template <class Run> void runUpdate(benchmark::State& state, Run run, double fixed)
{
    if (fixed < 0) {
        state.SkipWithError("no test bed (root, python3, lrzsz) or the calibration failed");
        return;
    }
    for (auto _ : state) {
        const double seconds = run(bed().big, kFileSize);
        if (seconds < 0) {
            state.SkipWithError("an update failed");
            return;
        }
        state.SetIterationTime(std::max(seconds - fixed, 1e-6));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_MfuTaskXModem1kUpdate(benchmark::State& state)
{
    runUpdate(state, oursOnce, bed().oursFixed);
}
void BM_SxXModem1kIntoRx(benchmark::State& state)
{
    runUpdate(state, lrzsz::sxOnce, bed().sxFixed);
}

BENCHMARK(BM_MfuTaskXModem1kUpdate)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SxXModem1kIntoRx)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!setUp())
        fprintf(stderr, "MFU manager bench: the test bed did not come up\n");
    benchmark::RunSpecifiedBenchmarks();
    bed().units.reset();
    vsock_term();
    bed().dir.reset();
    benchmark::Shutdown();
    return 0;
}
