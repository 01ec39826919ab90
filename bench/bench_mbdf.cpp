// Packing and extracting a 10 MiB archive of mixed files. Packing reads ten
// files, deflates each as its own stream at level 6 and writes one file that
// is flushed to the disk; its peers do the same: python's zlib module (timed
// inside the interpreter) and pigz -z -6 on one core (-p 1: one stream per
// file, written to a file and synced), with pigz's process start-up measured
// in the same iteration and taken off, as ours has none. pigz on two cores
// is reported beside it, labelled, not as the peer. Extraction inflates the
// ten streams and writes each file through a temporary file that is synced
// and renamed; its peer does exactly that in python.
// Counters: "ratio" is compressed size / original size.
#include "pbd/FileCache/fcache_MBDFFileBlock.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace FILECACHE;

namespace {

constexpr int kLevel = 6;

struct Fixture {
    std::string root;
    std::string source;
    std::vector<std::string> names;
    uint64_t bytes = 0;

    Fixture()
    {
        char folder[] = "/tmp/bench_mbdf.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        root = folder;
        source = root + "/src";
        makeDirectory(source.c_str());
        std::mt19937 random(42);
        // Ten 1 MiB files: log text, random bytes, zeros, and mixtures.
        for (int i = 0; i < 10; ++i) {
            std::string data;
            data.reserve(1 << 20);
            while (data.size() < (1u << 20)) {
                switch (i % 4) {
                case 0:
                    data += "2026-12-10 12:00:" + std::to_string(random() % 60) + " unit "
                        + std::to_string(random() % 64) + " gain changed to " + std::to_string(random() % 100)
                        + " dB\n";
                    break;
                case 1:
                    data.push_back(static_cast<char>(random()));
                    break;
                case 2:
                    data.push_back('\0');
                    break;
                default:
                    data.push_back(static_cast<char>(random() % 16));
                    break;
                }
            }
            data.resize(1 << 20);
            const std::string name = "file" + std::to_string(i) + ".bin";
            FILE* f = std::fopen((source + "/" + name).c_str(), "wb");
            std::fwrite(data.data(), 1, data.size(), f);
            std::fclose(f);
            names.push_back(name);
            bytes += data.size();
        }
    }
    ~Fixture() { fcache_removePath(root.c_str()); }

    std::string archive() const { return root + "/bench.mbdf"; }

    // The source files as quoted shell arguments, each after a space.
    std::string fileArguments() const
    {
        std::string files;
        for (const std::string& name : names)
            files += " '" + source + "/" + name + "'";
        return files;
    }

    uint64_t pack() const
    {
        MBDF m(16);
        m.setTop(MBDF_ARCHIVE_KIND, "bench", "1", "x", 1);
        ArchiveFile::FileBlockBridge bridge;
        for (const std::string& name : names) {
            MBDFFileBlock b;
            if (b.setFromFile("bench", false, source.c_str(), name.c_str(), false, kLevel, 0x5A) < 0
                || bridge.insertBlock(m, b) < 0)
                std::abort();
        }
        if (m.write(archive().c_str(), nullptr, nullptr) < 0)
            std::abort();
        return m.blockOffset(m.end()) + MBDF_HEADER_SIZE;
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_PackArchive(benchmark::State& state)
{
    Fixture& f = fixture();
    uint64_t size = 0;
    for (auto _ : state)
        size = f.pack();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
    state.counters["ratio"] = static_cast<double>(size) / f.bytes;
}
BENCHMARK(BM_PackArchive)->Unit(benchmark::kMillisecond);

void BM_ExtractArchive(benchmark::State& state)
{
    Fixture& f = fixture();
    f.pack();
    const std::string out = f.root + "/out";
    for (auto _ : state) {
        ArchiveFile a;
        if (a.open(nullptr, f.archive().c_str(), "bench") < 0 || a.extractAll(out.c_str(), nullptr, nullptr) < 0)
            std::abort();
        state.PauseTiming();
        fcache_removePath(out.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}
BENCHMARK(BM_ExtractArchive)->Unit(benchmark::kMillisecond);

// Runs a command and returns its standard output.
std::string run(const std::string& command)
{
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return out;
    char chunk[256];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0)
        out.append(chunk, n);
    ::pclose(p);
    return out;
}

// python's zlib over the same files; the script times the compression
// itself, without the interpreter's start-up.
void BM_PythonZlib(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string files = f.fileArguments();
    const std::string script = "import sys,time,zlib\n"
                               "data=[open(p,'rb').read() for p in sys.argv[1:]]\n"
                               "t=time.perf_counter()\n"
                               "n=sum(len(zlib.compress(d,"
        + std::to_string(kLevel)
        + ")) for d in data)\n"
          "print(time.perf_counter()-t, n)\n";
    double compressed = 0;
    for (auto _ : state) {
        const std::string out = run("python3 -c \"" + script + "\"" + files);
        double seconds = 0;
        if (std::sscanf(out.c_str(), "%lf %lf", &seconds, &compressed) != 2)
            std::abort();
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
    state.counters["ratio"] = compressed / f.bytes;
}
BENCHMARK(BM_PythonZlib)->UseManualTime()->Unit(benchmark::kMillisecond);

// python's zlib inflating the same files, compressed beforehand outside the
// timed part: the peer of extraction.
void BM_PythonZlibDecompress(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string files = f.fileArguments();
    const std::string script = "import sys,time,zlib\n"
                               "data=[zlib.compress(open(p,'rb').read(),"
        + std::to_string(kLevel)
        + ") for p in sys.argv[1:]]\n"
          "t=time.perf_counter()\n"
          "n=sum(len(zlib.decompress(d)) for d in data)\n"
          "print(time.perf_counter()-t, n)\n";
    for (auto _ : state) {
        const std::string out = run("python3 -c \"" + script + "\"" + files);
        double seconds = 0, inflated = 0;
        if (std::sscanf(out.c_str(), "%lf %lf", &seconds, &inflated) != 2 || inflated != static_cast<double>(f.bytes))
            std::abort();
        state.SetIterationTime(seconds);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}
BENCHMARK(BM_PythonZlibDecompress)->UseManualTime()->Unit(benchmark::kMillisecond);

// Seconds a shell command takes, from start to end.
double timed(const std::string& command, std::string* out = nullptr)
{
    const auto start = std::chrono::steady_clock::now();
    const std::string text = run(command);
    const auto stop = std::chrono::steady_clock::now();
    if (out)
        *out = text;
    return std::chrono::duration<double>(stop - start).count();
}

// pigz -z over the same files with the given thread count, writing the
// streams to a file that is synced. The same command on no input runs in the
// same iteration and its time is taken off: what is left is the work.
void pigzPack(benchmark::State& state, int threads)
{
    Fixture& f = fixture();
    if (run("command -v pigz").empty()) {
        state.SkipWithError("pigz not installed");
        return;
    }
    const std::string files = f.fileArguments();
    const std::string out = f.root + "/pigz.out";
    const std::string pigz = "pigz -p " + std::to_string(threads) + " -z -" + std::to_string(kLevel) + " -c";
    const std::string work = pigz + files + " > '" + out + "' && sync '" + out + "' && stat -c %s '" + out + "'";
    const std::string empty = pigz + " < /dev/null > '" + out + "' && sync '" + out + "'";
    double compressed = 0;
    for (auto _ : state) {
        std::string size;
        const double whole = timed(work, &size);
        const double startUp = timed(empty);
        compressed = std::atof(size.c_str());
        state.SetIterationTime(whole > startUp ? whole - startUp : whole);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
    state.counters["ratio"] = compressed / f.bytes;
}

void BM_PigzOneCore(benchmark::State& state)
{
    pigzPack(state, 1);
}
BENCHMARK(BM_PigzOneCore)->UseManualTime()->Unit(benchmark::kMillisecond);

// Not the peer: pigz's threads against our single-threaded packing.
void BM_PigzTwoThreads(benchmark::State& state)
{
    pigzPack(state, 2);
}
BENCHMARK(BM_PigzTwoThreads)->UseManualTime()->Unit(benchmark::kMillisecond);

// The peer of extraction: inflate each stream and write its file through a
// temporary file that is synced and renamed, timed inside the interpreter.
void BM_PythonExtract(benchmark::State& state)
{
    Fixture& f = fixture();
    const std::string files = f.fileArguments();
    const std::string outDir = f.root + "/pyout";
    const std::string script = "import os,sys,time,zlib\n"
                               "out=sys.argv[1]\n"
                               "data=[(os.path.basename(p),zlib.compress(open(p,'rb').read(),"
        + std::to_string(kLevel)
        + ")) for p in sys.argv[2:]]\n"
          "os.makedirs(out,exist_ok=True)\n"
          "t=time.perf_counter()\n"
          "n=0\n"
          "for name,d in data:\n"
          "    b=zlib.decompress(d)\n"
          "    tmp=os.path.join(out,name+'.tmp')\n"
          "    with open(tmp,'wb') as f:\n"
          "        f.write(b)\n"
          "        f.flush()\n"
          "        os.fsync(f.fileno())\n"
          "    os.rename(tmp,os.path.join(out,name))\n"
          "    n+=len(b)\n"
          "print(time.perf_counter()-t, n)\n";
    for (auto _ : state) {
        const std::string out = run("python3 -c \"" + script + "\" '" + outDir + "'" + files);
        double seconds = 0, inflated = 0;
        if (std::sscanf(out.c_str(), "%lf %lf", &seconds, &inflated) != 2 || inflated != static_cast<double>(f.bytes))
            std::abort();
        state.SetIterationTime(seconds);
        state.PauseTiming();
        fcache_removePath(outDir.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * f.bytes));
}
BENCHMARK(BM_PythonExtract)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
