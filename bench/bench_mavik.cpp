// The Mavik package and TFTP server against standard tools, in the same run:
//  - Decompress::extractAll of a 64 MiB archive (32 MiB of compressible
//    text-like members, 32 MiB of random ones) against `unzip -q`;
//  - the server sending a 16 MiB file over [::1] against in.tftpd (tftpd-hpa)
//    on [::1], both to the same `tftp -6` client (tftp-hpa).
//
// The program runs in its own network namespace (it needs root), so port 69
// is its own. The server runs on a Qt thread of its own with its event loop,
// as it runs on the update manager's thread in the program.
#include "bench/bench_budget.h"
#include "fwupdate/mavik/mavik_decompress.h"
#include "fwupdate/mavik/mavik_tftp.h"

#include <QCoreApplication>
#include <QThread>

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

namespace {

constexpr uint16_t kPeerPort = 6969;
constexpr int64_t kMember = 8 << 20;
constexpr int kMembersEach = 4; // compressible and random: 4 x 8 MiB each
constexpr int64_t kArchiveBytes = 2 * kMembersEach * kMember;
constexpr int64_t kTftpFile = 16 << 20;

struct Bed {
    std::string folder;
    std::string archive;
    pid_t peer = -1;
    QThread thread;
    TFTPServer_Mavik* server = nullptr; // lives on thread
    bool unzipReady = false;
    bool tftpReady = false;
};

Bed& bed()
{
    static Bed b;
    return b;
}

std::string compressible(int64_t size, int seed)
{
    std::string out;
    out.reserve(static_cast<size_t>(size));
    for (int64_t line = 0; static_cast<int64_t>(out.size()) < size; ++line)
        out += "<PARAM ID=\"" + std::to_string(line * 7 + seed) + "\" VALUE=\"" + std::to_string(line % 97) + "\"/>\n";
    out.resize(static_cast<size_t>(size));
    return out;
}

std::string random(int64_t size, unsigned seed)
{
    std::mt19937_64 rng(seed);
    std::string out(static_cast<size_t>(size), '\0');
    for (size_t i = 0; i + 8 <= out.size(); i += 8) {
        const uint64_t v = rng();
        std::memcpy(&out[i], &v, 8);
    }
    return out;
}

bool writeArchive(const std::string& path)
{
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (int i = 0; i < 2 * kMembersEach && ok; ++i) {
        const bool text = i % 2 == 0;
        const std::string name = (text ? "text/part" : "bin/part") + std::to_string(i) + (text ? ".xml" : ".bin");
        const std::string body = text ? compressible(kMember, i) : random(kMember, static_cast<unsigned>(i));
        zip_fileinfo info{};
        ok = zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 1)
                == ZIP_OK
            && zipWriteInFileInZip(zip, body.data(), static_cast<unsigned>(body.size())) == ZIP_OK
            && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

pid_t startPeer(const std::string& folder)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string address = "[::1]:" + std::to_string(kPeerPort);
        execlp("in.tftpd", "in.tftpd", "-6", "-L", "-a", address.c_str(), "-u", "root", "-s", folder.c_str(),
            static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

bool setUpNetwork()
{
    if (unshare(CLONE_NEWNET) != 0) {
        std::perror("unshare(CLONE_NEWNET) (run as root)");
        return false;
    }
    // tftp-hpa resolves "::1" with AI_ADDRCONFIG: it wants an IPv6 address
    // beside the loopback's.
    return std::system("ip link set lo up && ip link add qmav0 type veth peer name qmav1"
                       " && ip addr add fd51::1/64 dev qmav0 nodad && ip link set qmav0 up && ip link set qmav1 up")
        == 0;
}

void setUp()
{
    Bed& b = bed();
    char pattern[] = "/tmp/bench-mavik-XXXXXX";
    if (!mkdtemp(pattern))
        return;
    b.folder = pattern;
    b.archive = b.folder + "/package.zip";
    b.unzipReady = writeArchive(b.archive) && std::system("command -v unzip >/dev/null") == 0;

    const std::string served = b.folder + "/served";
    std::filesystem::create_directory(served);
    if (!setUpNetwork() || !writeFile(served + "/big.bin", random(kTftpFile, 99)))
        return;
    b.server = new TFTPServer_Mavik;
    if (!b.server->setFile(QString::fromStdString(served + "/big.bin"), QString(), QString::fromStdString(served))
        || !b.server->start(QHostAddress(QStringLiteral("::1")), nullptr))
        return;
    b.server->moveToThread(&b.thread);
    b.thread.start();
    b.peer = startPeer(served);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    b.tftpReady = b.peer > 0 && waitpid(b.peer, nullptr, WNOHANG) == 0;
}

void tearDown()
{
    Bed& b = bed();
    if (b.peer > 0) {
        kill(b.peer, SIGTERM);
        waitpid(b.peer, nullptr, 0);
    }
    if (b.server) {
        QMetaObject::invokeMethod(b.server, "deleteLater");
        b.thread.quit();
        b.thread.wait();
    }
    if (!b.folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(b.folder, ignored);
    }
}

void removeDest(benchmark::State& state, const std::string& dest)
{
    state.PauseTiming();
    std::error_code ignored;
    std::filesystem::remove_all(dest, ignored);
    state.ResumeTiming();
}

void BM_ExtractAllOurs(benchmark::State& state)
{
    if (!bed().unzipReady) {
        state.SkipWithError("no archive or no unzip");
        return;
    }
    const std::string dest = bed().folder + "/ours";
    for (auto _ : state) {
        removeDest(state, dest);
        Decompress decompress;
        QStringList files;
        if (!decompress.extractAll(QString::fromStdString(bed().archive), QString::fromStdString(dest + "/"), &files)) {
            state.SkipWithError(decompress.lastError().toStdString().c_str());
            return;
        }
        if (files.size() != 2 * kMembersEach) {
            state.SkipWithError("members missing");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kArchiveBytes);
}

void BM_ExtractAllUnzip(benchmark::State& state)
{
    if (!bed().unzipReady) {
        state.SkipWithError("no archive or no unzip");
        return;
    }
    const std::string dest = bed().folder + "/unzip";
    const std::string command = "unzip -q -o '" + bed().archive + "' -d '" + dest + "'";
    for (auto _ : state) {
        removeDest(state, dest);
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("unzip failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kArchiveBytes);
}

void fetch(benchmark::State& state, uint16_t port)
{
    if (!bed().tftpReady) {
        state.SkipWithError("no test bed (root, in.tftpd and tftp from tftp-hpa are needed)");
        return;
    }
    const std::string command
        = "tftp -6 -m binary ::1 " + std::to_string(port) + " -c get big.bin " + bed().folder + "/got.bin";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("a transfer failed");
            return;
        }
        state.PauseTiming();
        const bool whole = std::filesystem::file_size(bed().folder + "/got.bin") == static_cast<uintmax_t>(kTftpFile);
        state.ResumeTiming();
        if (!whole) {
            state.SkipWithError("a transfer came short");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kTftpFile);
}

void BM_TftpOurs(benchmark::State& state)
{
    fetch(state, bed().server ? bed().server->port() : 0);
}

void BM_TftpInTftpd(benchmark::State& state)
{
    fetch(state, kPeerPort);
}

BENCHMARK(BM_ExtractAllOurs)->Iterations(benchbudget::rounds(5))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractAllUnzip)->Iterations(benchbudget::rounds(5))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TftpOurs)->Iterations(benchbudget::rounds(5))->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TftpInTftpd)->Iterations(benchbudget::rounds(5))->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    setUp();
    if (!bed().unzipReady || !bed().tftpReady)
        std::fprintf(stderr, "Mavik bench: part of the test bed did not come up\n");
    benchmark::RunSpecifiedBenchmarks();
    tearDown();
    benchmark::Shutdown();
    return 0;
}
