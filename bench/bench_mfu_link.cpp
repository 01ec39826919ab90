// The model firmware command link's two hot paths against a peer in the
// same run.
//
// XMODEM-1k: our sender, stepped in a tight loop (a step when a byte is
// there, else after 100 ms, as the MFU task would), pushes a 4 MiB file
// into lrzsz's `rx -c` over loopback TCP; lrzsz's own `sx -k` pushes the
// same file into `rx -c` the same way. sx sleeps a second after the last
// ACK before it exits, so each side's fixed cost (start, that sleep, exit)
// is measured on a 1-byte file in the same run and taken off: the times are
// those of the bulk transfer.
//
// Reply lines: "OK BUSY SELF nn%" lines read and parsed by the link while
// writing, in 1460-byte reads, against a bare copy of the same bytes in the
// same reads.
#include "bench/bench_budget.h"
#include "bench/bench_lrzsz.h"
#include "fwupdate/mfu/mfu_protocol.h"
#include "fwupdate/mfu/mfu_xmodem.h"
#include "tests/fwupdate/mfu/mfu_fixture.h"
#include "tests/support/test_support.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

namespace {

using lrzsz::Clock;
constexpr size_t kFileSize = 4u << 20;

struct Files {
    std::unique_ptr<qtest::TempDir> dir;
    std::string big;
    std::string tiny;
    double oursFixed = -1;
    double sxFixed = -1;
};

Files& files()
{
    static Files f;
    return f;
}

// Seconds our sender takes from connect to the unit's last ACK; < 0 on failure.
double oursOnce(const std::string& path, size_t size)
{
    qtest::TempDir out;
    qtest::ChildProcess bridge(qtest::pythonPeer("xmodem_rx.py", {out.path(), "got.bin", "--crc"}));
    const uint16_t port = qtest::peerPort(bridge);
    if (port == 0)
        return -1;
    const auto start = Clock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    mfutest::SocketLink link(fd);
    TransferXModem xmodem(MFU_TRANSFER_XMODEM_1K);
    xmodem.setFilePath(path.c_str());
    xmodem.setCallback(&link);
    xmodem.start();
    const auto deadline = start + std::chrono::seconds(120);
    while (!xmodem.finished() && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 100);
        xmodem.step();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::shutdown(fd, SHUT_WR);
    const bool ok = xmodem.transferState() == TRANSFER_STATE_FINISHED && lrzsz::bridgeDone(bridge, size);
    ::close(fd);
    return ok ? seconds : -1;
}

bool setUp()
{
    Files& f = files();
    if (qtest::runCommand("command -v rx && command -v sx", nullptr) != 0)
        return false;
    f.dir = std::make_unique<qtest::TempDir>();
    f.big = f.dir->file("big.bin");
    f.tiny = f.dir->file("tiny.bin");
    std::string content(kFileSize, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 131 + (i >> 10));
    if (!qtest::writeFile(f.big, content) || !qtest::writeFile(f.tiny, "x"))
        return false;
    f.oursFixed = lrzsz::fixedCost(oursOnce, f.tiny);
    f.sxFixed = lrzsz::fixedCost(lrzsz::sxOnce, f.tiny);
    return f.oursFixed >= 0 && f.sxFixed >= 0;
}

template <class Run> void runTransfer(benchmark::State& state, Run run, double fixed)
{
    if (fixed < 0) {
        state.SkipWithError("no rx/sx (lrzsz) or the calibration failed");
        return;
    }
    for (auto _ : state) {
        const double seconds = run(files().big, kFileSize);
        if (seconds < 0) {
            state.SkipWithError("a transfer failed");
            return;
        }
        state.SetIterationTime(std::max(seconds - fixed, 1e-6));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_OurXModem1kIntoRx(benchmark::State& state)
{
    runTransfer(state, oursOnce, files().oursFixed);
}
void BM_SxXModem1kIntoRx(benchmark::State& state)
{
    runTransfer(state, lrzsz::sxOnce, files().sxFixed);
}

// --- Reply lines ---------------------------------------------------------------

constexpr size_t kLines = 20000;
constexpr size_t kRead = 1460;

std::string replyLines()
{
    std::string bytes;
    for (size_t i = 0; i < kLines; ++i)
        bytes += "OK BUSY SELF " + std::to_string(i % 100) + "%\r\n";
    return bytes;
}

void BM_LinkReplyLines(benchmark::State& state)
{
    const std::string bytes = replyLines();
    qtest::MemoryTransport unit;
    FirmwareUpdateProtocol link;
    link.setSocket(&unit);
    link.sendCommand(CMD_TYPE_START_WRITE);
    unit.queue("OK\r\n");
    link.receive();
    link.sendCommand(CMD_TYPE_GET_UPDATESTATE);
    for (auto _ : state) {
        unit.queue(bytes, kRead);
        while (unit.pending() > 0)
            link.receive();
    }
    if (link.unitUpdateState() != MFU_UNIT_BUSY_SELF || link.updateState() != UPDATE_STATE_WRITING)
        state.SkipWithError("the lines were not parsed");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLines));
}

void BM_BareCopyOfTheLines(benchmark::State& state)
{
    const std::string bytes = replyLines();
    char buffer[MFU_RECEIVE_BUFFER];
    for (auto _ : state) {
        for (size_t at = 0; at < bytes.size(); at += kRead) {
            const size_t n = std::min(kRead, bytes.size() - at);
            memcpy(buffer, bytes.data() + at, n);
            benchmark::DoNotOptimize(buffer);
            benchmark::ClobberMemory();
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kLines));
}

BENCHMARK(BM_OurXModem1kIntoRx)->UseManualTime()->Iterations(benchbudget::rounds(3))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SxXModem1kIntoRx)->UseManualTime()->Iterations(benchbudget::rounds(3))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LinkReplyLines)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareCopyOfTheLines)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!setUp())
        fprintf(stderr, "MFU bench: lrzsz's rx and sx are needed for the XMODEM rows\n");
    benchmark::RunSpecifiedBenchmarks();
    files().dir.reset();
    benchmark::Shutdown();
    return 0;
}
