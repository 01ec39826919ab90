// One third-generation unit's model firmware update (erase, TFTP pull of a
// 16 MiB file, state check, write, disconnect) through the sequence, from
// the start to its end event, against tftp-hpa fetching the same file from
// in.tftpd in the same run: the ratio shows what the sequence adds on top
// of the unit's own fetch (steps advance on the 100 ms tick).
//
// The unit is mfu_unit.py; the program runs in its own network namespace
// (it needs root), so port 1999 and the unit's address are its own.
#include "fwupdate/mfu/mfu_sequence.h"
#include "pbd/vsock/vsock.h"
#include "tests/fwupdate/mfu/mfu_driver.h"
#include "tests/support/test_support.h"

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr size_t kFileSize = 16u << 20;
constexpr uint16_t kPeerPort = 1969;
constexpr const char* kUnit = "127.0.0.2";

struct Bed {
    std::unique_ptr<qtest::TempDir> dir;
    std::string file;
    std::unique_ptr<mfutest::UnitPeer> unit;
    pid_t tftpd = -1;
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
    b.dir = std::make_unique<qtest::TempDir>();
    chmod(b.dir->path().c_str(), 0755);
    b.file = b.dir->file("fw.bin");
    std::string content(kFileSize, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + (i >> 12));
    if (!qtest::writeFile(b.file, content))
        return false;
    chmod(b.file.c_str(), 0644);
    b.tftpd = fork();
    if (b.tftpd == 0) {
        const std::string address = ":" + std::to_string(kPeerPort);
        execlp("in.tftpd", "in.tftpd", "-4", "-L", "-a", address.c_str(), "-u", getuid() == 0 ? "root" : "nobody", "-s",
            b.dir->path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    b.unit = std::make_unique<mfutest::UnitPeer>(
        b.dir->path(), std::vector<std::string>{std::string(kUnit) + ",name=BroxL-D3,protocols=tftp,expect=" + b.file});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    b.ready = b.unit->ready() && b.tftpd > 0 && waitpid(b.tftpd, nullptr, WNOHANG) == 0;
    return b.ready;
}

void tearDown()
{
    Bed& b = bed();
    if (b.tftpd > 0) {
        kill(b.tftpd, SIGTERM);
        waitpid(b.tftpd, nullptr, 0);
    }
    b.unit.reset();
    vsock_term();
    b.dir.reset();
}

void BM_SequenceTftpPull16MiB(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no test bed (root, python3, in.tftpd and tftp are needed)");
        return;
    }
    for (auto _ : state) {
        mfutest::TaskDriver driver;
        QuilMfuSequence sequence;
        driver.sequence = &sequence;
        sequence.initialize(&driver, 0, "127.0.0.1", kUnit, bed().file.c_str(), 8, "V2.00");
        sequence.getReady();
        driver.run([&] { return !sequence.running(); });
        const auto start = std::chrono::steady_clock::now();
        if (sequence.startUpdate() != MFU_OK || !driver.run([&] { return !sequence.running(); }, 120000)
            || sequence.errorType() != MFU_SEQUENCE_ERR_NONE) {
            state.SkipWithError("the update failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_TftpHpaFetchFromInTftpd(benchmark::State& state)
{
    if (!bed().ready) {
        state.SkipWithError("no test bed");
        return;
    }
    const std::string out = bed().dir->file("peer.bin");
    const std::string command
        = "tftp -m binary 127.0.0.1 " + std::to_string(kPeerPort) + " -c get fw.bin " + out + " 2>/dev/null";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (system(command.c_str()) != 0) {
            state.SkipWithError("tftp failed");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

BENCHMARK(BM_SequenceTftpPull16MiB)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TftpHpaFetchFromInTftpd)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!setUp())
        fprintf(stderr, "MFU sequence bench: the test bed did not come up\n");
    benchmark::RunSpecifiedBenchmarks();
    tearDown();
    benchmark::Shutdown();
    return 0;
}
