// Our TFTP server against tftpd-hpa (in.tftpd in the foreground on a
// loopback port), both serving the same files to the same tftp-hpa client
// in the same run: an 8 MiB file, a file just under the 16-bit block wrap
// (65535 blocks), and eight clients at once fetching the 8 MiB file. Each
// block of ours leaves when its ACK wakes the TFTP task; a block that waited
// for the 100 ms tick would show as a ratio far below 1.
//
// The program runs in its own network namespace (it needs root), so the
// fixed ports 1999-2032 never meet another program's.
#include "fwupdate/tftp/tftp.h"
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vsock/vsock.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uint16_t kOurPort = 1999;
constexpr uint16_t kPeerPort = 1969;
constexpr int64_t kSmall = 8 << 20;
constexpr int64_t kWrap = 65535 * 512 - 1; // last block short, no wrap

struct Bed {
    std::string folder;
    std::unique_ptr<TFTPServer> server;
    pid_t peer = -1;
    bool ready = false;
};

Bed& bed()
{
    static Bed b;
    return b;
}

bool writeFile(const std::string& path, int64_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::string chunk(1 << 16, '\0');
    for (size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<char>(i * 7 % 256);
    for (int64_t done = 0; done < size;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(chunk.size()), size - done));
        fwrite(chunk.data(), 1, n, f);
        done += static_cast<int64_t>(n);
    }
    chmod(path.c_str(), 0644);
    return fclose(f) == 0;
}

pid_t startPeer(const std::string& folder)
{
    const pid_t pid = fork();
    if (pid == 0) {
        // in.tftpd refuses a literal address here; in our own namespace the
        // any address is the loopback alone.
        const std::string address = ":" + std::to_string(kPeerPort);
        const std::string user = getuid() == 0 ? "root" : "nobody";
        execlp("in.tftpd", "in.tftpd", "-4", "-L", "-a", address.c_str(), "-u", user.c_str(), "-s", folder.c_str(),
            static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

bool setUp()
{
    Bed& b = bed();
    if (unshare(CLONE_NEWNET) != 0) {
        perror("unshare(CLONE_NEWNET) (run as root)");
        return false;
    }
    if (system("ip link set lo up") != 0)
        return false;
    if (oswrap_init() != OSWRAP_OK || vsock_init() != VSOCK_OK)
        return false;
    char pattern[] = "/tmp/bench-tftp-XXXXXX";
    if (!mkdtemp(pattern))
        return false;
    b.folder = pattern;
    chmod(b.folder.c_str(), 0755);
    if (!writeFile(b.folder + "/small.bin", kSmall) || !writeFile(b.folder + "/wrap.bin", kWrap))
        return false;
    b.server = std::make_unique<TFTPServer>();
    if (b.server->setup("127.0.0.1", kOurPort, (b.folder + "/").c_str(), nullptr) != TFTP_OK
        || b.server->start() != TFTP_OK)
        return false;
    b.peer = startPeer(b.folder);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    b.ready = b.peer > 0 && waitpid(b.peer, nullptr, WNOHANG) == 0;
    return b.ready;
}

void tearDown()
{
    Bed& b = bed();
    if (b.peer > 0) {
        kill(b.peer, SIGTERM);
        waitpid(b.peer, nullptr, 0);
    }
    b.server.reset();
    vsock_term();
    if (!b.folder.empty())
        system(("rm -rf " + b.folder).c_str());
}

// `clients` tftp-hpa processes fetch the file at once; true when all did.
bool fetch(uint16_t port, const char* name, int clients)
{
    std::string command = "(";
    for (int i = 0; i < clients; ++i) {
        command += "tftp -m binary 127.0.0.1 " + std::to_string(port) + " -c get " + name + " /dev/null & ";
    }
    command += "wait) 2>/dev/null";
    return system(command.c_str()) == 0;
}

void run(benchmark::State& state, uint16_t port, const char* name, int64_t size, int clients)
{
    if (!bed().ready) {
        state.SkipWithError("no test bed (root, in.tftpd and tftp from tftp-hpa are needed)");
        return;
    }
    for (auto _ : state) {
        if (!fetch(port, name, clients)) {
            state.SkipWithError("a transfer failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * size * clients);
}

void BM_Ours(benchmark::State& state)
{
    const bool wrap = state.range(0) != 0;
    run(state, kOurPort, wrap ? "wrap.bin" : "small.bin", wrap ? kWrap : kSmall, 1);
}
void BM_TftpdHpa(benchmark::State& state)
{
    const bool wrap = state.range(0) != 0;
    run(state, kPeerPort, wrap ? "wrap.bin" : "small.bin", wrap ? kWrap : kSmall, 1);
}
void BM_OursEightClients(benchmark::State& state)
{
    run(state, kOurPort, "small.bin", kSmall, 8);
}
void BM_TftpdHpaEightClients(benchmark::State& state)
{
    run(state, kPeerPort, "small.bin", kSmall, 8);
}

// Argument 0: the 8 MiB file; 1: the file just under the block wrap.
BENCHMARK(BM_Ours)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TftpdHpa)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OursEightClients)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TftpdHpaEightClients)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (!setUp())
        fprintf(stderr, "TFTP bench: the test bed did not come up\n");
    benchmark::RunSpecifiedBenchmarks();
    tearDown();
    benchmark::Shutdown();
    return 0;
}
