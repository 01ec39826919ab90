// Export and import of a function's image with 10^4 parameter elements with
// limits and steps (every imported value differs from the one in memory), in
// host order and in the other byte order, and the share of the MD5 digest;
// copying the image's bytes with memcpy is the floor.

#include "mms/mms_image.h"
#include "mms/mms_root.h"

#include "pbd/jlib/jlib_md5.h"
#include "pbd/jlib/jvariant.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

using namespace MMS;

namespace {

// 100 channels x (25 int16 + 25 uint32 + 25 bit + 25 int32) = 10^4 elements;
// the numbers carry limits and a step, so an import admits every value.
struct Memory {
    RootList list;
    Root* root = nullptr;
    uint32_t imageSize = 0;

    Memory()
    {
        list.define("bench", "Bench", 1, 4, 0);
        root = list.find("bench");
        uint32_t ch = 0, tag = 0;
        root->defineCollection(&ch, nullptr, 0, "ch", 100);
        const JLIB::JVariant lo(int32_t{-30000}), hi(int32_t{30000}), step(int32_t{2});
        const JLIB::JVariant ulo(uint32_t{0}), uhi(uint32_t{4000000000u}), ustep(uint32_t{2});
        const struct {
            const char* name;
            uint32_t type;
            bool limited;
            bool isSigned;
        } params[] = {{"gain", PARAM_INT16, true, true}, {"level", PARAM_UINT32, true, false},
            {"on", PARAM_BIT, false, false}, {"pan", PARAM_INT32, true, true}};
        for (const auto& p : params) {
            ParameterDefinition d;
            d.name = p.name;
            d.type = p.type;
            d.arraySize = 25;
            if (p.limited) {
                d.minimum = p.isSigned ? &lo : &ulo;
                d.maximum = p.isSigned ? &hi : &uhi;
                d.step = p.isSigned ? &step : &ustep;
            }
            root->defineParameter(&tag, &ch, 1, d);
        }
        root->activate(false);
        root->getImageSize(&imageSize, nullptr, 0);
    }

    // Every element a value of its own (on the step grid), shifted by seed so
    // that two seeds differ in every element.
    void fill(int seed)
    {
        for (uint32_t c = 0; c < 100; ++c) {
            for (uint32_t p = 0; p < 4; ++p) {
                for (uint32_t i = 0; i < 25; ++i) {
                    const int32_t n = static_cast<int32_t>(c * 25 + i) * 2 + seed * 2;
                    const uint32_t tags[] = {0, p};
                    const uint32_t indexes[] = {c, i};
                    JLIB::JVariant v;
                    if (p == 2)
                        v.setUInt32(static_cast<uint32_t>((c + i + seed) % 2));
                    else if (p == 1)
                        v.setUInt32(static_cast<uint32_t>(n) * 3u);
                    else
                        v.setInt32(n - 5000);
                    root->setValue(v, tags, indexes, 2, WriterOptions());
                }
            }
        }
    }
};

struct Fixture : Memory {
    int holds = -1; // which of the two import images memory holds now
    int foreign() const { return imageHostIsBigEndian() ? IMAGE_ORDER_LITTLE : IMAGE_ORDER_BIG; }
    int host() const { return imageHostIsBigEndian() ? IMAGE_ORDER_BIG : IMAGE_ORDER_LITTLE; }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void exportImage(benchmark::State& state, bool swapped)
{
    Fixture& f = fixture();
    std::vector<uint8_t> buffer(f.imageSize);
    uint32_t length = 0;
    for (auto _ : state) {
        f.root->exportImage(buffer.data(), &length, f.imageSize, nullptr, nullptr, 0, swapped ? f.foreign() : f.host());
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.imageSize);
}

// Two images of another memory of the same layout that differ from each
// other in every element; the rounds import them in turn, so each import
// stores every value through admission (no "already in memory" skip) and
// must report a change.
void importImage(benchmark::State& state, bool swapped)
{
    Fixture& f = fixture();
    Memory source;
    std::vector<uint8_t> images[2];
    uint32_t length = 0;
    for (int k = 0; k < 2; ++k) {
        source.fill(k + 1);
        images[k].resize(source.imageSize);
        source.root->exportImage(
            images[k].data(), &length, source.imageSize, nullptr, nullptr, 0, swapped ? f.foreign() : f.host());
    }
    std::vector<uint8_t> work(images[0].size());
    // The benchmark runs this more than once: start with the image memory
    // does not hold.
    int next = f.holds == 0 ? 1 : 0;
    for (auto _ : state) {
        // Each round converts a fresh copy, as the field's import-copy does.
        std::memcpy(work.data(), images[next].data(), work.size());
        const JResult r = f.root->importImage(work.data(), length, nullptr, 0, 0, WriterOptions());
        if (r < 0 || !(r & MMS_CHANGED)) {
            state.SkipWithError("the import did not store the new values");
            break;
        }
        f.holds = next;
        next ^= 1;
    }
    // The last image imported must stand in memory as exported.
    std::vector<uint8_t> check(f.imageSize);
    f.root->exportImage(check.data(), &length, f.imageSize, nullptr, nullptr, 0, swapped ? f.foreign() : f.host());
    if (std::memcmp(check.data() + IMAGE_HEADER_SIZE, images[next ^ 1].data() + IMAGE_HEADER_SIZE,
            check.size() - IMAGE_HEADER_SIZE)
        != 0)
        state.SkipWithError("imported values differ from the image");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.imageSize);
}

void BM_ExportHost(benchmark::State& state)
{
    exportImage(state, false);
}
void BM_ExportSwapped(benchmark::State& state)
{
    exportImage(state, true);
}
void BM_ImportHost(benchmark::State& state)
{
    importImage(state, false);
}
void BM_ImportSwapped(benchmark::State& state)
{
    importImage(state, true);
}

// The digest alone, over the definition block an export hashes.
void BM_DigestOfDefinition(benchmark::State& state)
{
    Fixture& f = fixture();
    const CollectionTagInfo& tag = f.root->tagInfo();
    char digest[IMAGE_DIGEST_SIZE];
    for (auto _ : state) {
        imageDigest(digest, tag.definition(), tag.definitionLength());
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * tag.definitionLength());
}

// The bare MD5 over the same bytes, without the hex text.
void BM_Md5OfDefinition(benchmark::State& state)
{
    Fixture& f = fixture();
    const CollectionTagInfo& tag = f.root->tagInfo();
    uint8_t digest[16];
    for (auto _ : state) {
        jlib_md5_ctx context;
        jlib_md5Init(&context);
        jlib_md5Update(&context, tag.definition(), tag.definitionLength());
        jlib_md5Final(digest, &context);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * tag.definitionLength());
}

// Byte-order conversion of both parts alone (checking included).
void BM_ConvertSwapped(benchmark::State& state)
{
    Fixture& f = fixture();
    const CollectionTagInfo& tag = f.root->tagInfo();
    std::vector<uint8_t> part1(tag.definition(), tag.definition() + tag.definitionLength());
    std::vector<uint8_t> part2(f.root->data(), f.root->data() + f.root->dataSize());
    for (auto _ : state) {
        // Export then import: two conversions, the parts end as they began.
        convertForExport(part1.data(), part1.size(), part2.data(), part2.size(), f.foreign());
        convertForImport(part1.data(), part1.size(), part2.data(), part2.size(), f.foreign());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * (part1.size() + part2.size()));
}

void BM_MemcpyImage(benchmark::State& state)
{
    Fixture& f = fixture();
    std::vector<uint8_t> source(f.imageSize, 0x5A), target(f.imageSize);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * f.imageSize);
}

} // namespace

BENCHMARK(BM_MemcpyImage);
BENCHMARK(BM_ExportHost);
BENCHMARK(BM_ExportSwapped);
BENCHMARK(BM_ImportHost);
BENCHMARK(BM_ImportSwapped);
BENCHMARK(BM_DigestOfDefinition);
BENCHMARK(BM_Md5OfDefinition);
BENCHMARK(BM_ConvertSwapped);
BENCHMARK_MAIN();
