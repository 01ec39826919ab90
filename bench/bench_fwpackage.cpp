// Opening a 32 MiB firmware package (four 8 MiB files in "data", deflated at
// level 6) with the package reader, against the bare container calls the
// reader wraps: ArchiveFile::open and extractAll of the same file into a
// fresh folder, in the same run. Each iteration of both sides removes the
// tree it unpacked before (the reader does so when it opens the next
// package). Two contents: random bytes (incompressible) and log text.
#include "fwupdate/package/fwpkg_filemanager.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

using namespace FILECACHE;

namespace {

constexpr int kFiles = 4;
constexpr size_t kFileSize = 8u << 20;
constexpr int kLevel = 6;

enum Content { Random = 0, Text = 1 };

std::string makeContent(Content kind, int seed)
{
    std::mt19937 random(seed);
    std::string data;
    data.reserve(kFileSize + 128);
    while (data.size() < kFileSize) {
        if (kind == Random) {
            data.push_back(static_cast<char>(random()));
        } else {
            data += "2026-12-10 12:00:" + std::to_string(random() % 60) + " block " + std::to_string(random() % 4096)
                + " written, crc " + std::to_string(random()) + "\n";
        }
    }
    data.resize(kFileSize);
    return data;
}

struct Fixture {
    std::string root;
    std::string packages[2];

    Fixture()
    {
        char folder[] = "/tmp/bench_fwpackage.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        root = folder;
        const std::string home = root + "/home";
        makeDirectory(home.c_str());
        makeDirectory((root + "/config").c_str());
        FILE* dirs = std::fopen((root + "/config/user-dirs.dirs").c_str(), "w");
        std::fprintf(dirs, "XDG_DOCUMENTS_DIR=\"%s\"\n", home.c_str());
        std::fclose(dirs);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        for (int kind : {Random, Text})
            packages[kind] = pack(static_cast<Content>(kind));
    }
    ~Fixture() { fcache_removePath(root.c_str()); }

    std::string pack(Content kind)
    {
        const std::string source = root + "/src" + std::to_string(kind);
        makeDirectory((source + "/data").c_str());
        MBDF container(16);
        // Field: 'V', 1, 23, 'a' (the text stops before the zero letter byte).
        if (container.setTop(MBDF_ARCHIVE_KIND, "QuilBroxL-D", "V\x01\x17", "bench", 5) < 0)
            std::abort();
        ArchiveFile::FileBlockBridge bridge;
        MBDFFileBlock folder;
        if (folder.setFromFile("bench", true, source.c_str(), "data", false, kLevel, 0) < 0
            || bridge.insertBlock(container, folder) < 0)
            std::abort();
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = "data/fw" + std::to_string(i) + (i == 0 ? ".BIN" : ".img");
            const std::string data = makeContent(kind, 7 + i);
            FILE* f = std::fopen((source + "/" + name).c_str(), "wb");
            std::fwrite(data.data(), 1, data.size(), f);
            std::fclose(f);
            MBDFFileBlock block;
            if (block.setFromFile("bench", false, source.c_str(), name.c_str(), false, kLevel, 0x21) < 0
                || bridge.insertBlock(container, block) < 0)
                std::abort();
        }
        const std::string path = root + "/package" + std::to_string(kind) + ".bin";
        if (container.write(path.c_str(), nullptr, nullptr) < 0)
            std::abort();
        fcache_removePath(source.c_str());
        return path;
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

// The reader prints its base folders on every open; keep them off the
// benchmark's report.
class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        m_saved = ::dup(1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        ::dup2(m_saved, 1);
        ::close(m_saved);
    }

private:
    int m_saved = -1;
};

void BM_OpenPackage(benchmark::State& state)
{
    const QString path = QString::fromStdString(fixture().packages[state.range(0)]);
    {
        QuietStdout quiet;
        FirmUpdateUIFileManager reader;
        for (auto _ : state) {
            QStringList versions;
            if (reader.openPackage(path, nullptr, nullptr, nullptr, &versions) < 0) {
                state.SkipWithError("openPackage failed");
                break;
            }
            benchmark::DoNotOptimize(versions);
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFiles * int64_t(kFileSize));
}

void BM_BareExtract(benchmark::State& state)
{
    const std::string& path = fixture().packages[state.range(0)];
    const std::string folder = path.substr(0, path.rfind('/'));
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string dest = fixture().root + "/home/bare";
    for (auto _ : state) {
        ArchiveFile archive(16);
        fcache_removePath(dest.c_str());
        if (archive.open(folder.c_str(), name.c_str(), nullptr) < 0
            || archive.extractAll(dest.c_str(), nullptr, nullptr) < 0) {
            state.SkipWithError("extraction failed");
            break;
        }
    }
    fcache_removePath(dest.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * kFiles * int64_t(kFileSize));
}

} // namespace

BENCHMARK(BM_OpenPackage)->ArgName("text")->Arg(Random)->Arg(Text)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BareExtract)->ArgName("text")->Arg(Random)->Arg(Text)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
