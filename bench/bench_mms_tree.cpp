// Values by resolved tag path against values by name path, and the walk to
// the next changed element, over a tree of about 10^4 parameter elements.
#include "mms/mms_dirty.h"
#include "mms/mms_tree.h"
#include "mms/mms_wrap.h"
#include "pbd/jlib/jvariant.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <deque>
#include <random>
#include <vector>

using namespace MMS;
using JLIB::JVariant;

namespace {

// fn { master:int16, ch[80] { level:uint8[8], eq[16] { gain:int16, freq:uint16,
// q:float, on:bit, type:uint8, mute:bit[2] } } }: 1 + 80 * (8 + 16 * 7) elements.
class BenchTree {
public:
    BenchTree()
    {
        m_collections.emplace_back();
        root = &m_collections.back();
        root->construct("fn", 1);
        param({}, "master", PARAM_INT16, 1);
        collection({}, "ch", 80);
        param({1}, "level", PARAM_UINT8, 8);
        collection({1}, "eq", 16);
        param({1, 1}, "gain", PARAM_INT16, 1);
        param({1, 1}, "freq", PARAM_UINT16, 1);
        param({1, 1}, "q", PARAM_FLOAT, 1);
        param({1, 1}, "on", PARAM_BIT, 1);
        param({1, 1}, "type", PARAM_UINT8, 1);
        param({1, 1}, "mute", PARAM_BIT, 2);
        root->layout(&totals);
        data.assign(totals.dataSize, 0);
        sources.assign(totals.changeCount, 0);
        page.assign((totals.changeCount + 7) / 8, 0);
    }
    ~BenchTree() { root->releaseTables(&wrapper); }

    TreeData tree() { return TreeData{data.data(), totals.dataSize, nullptr, sources.data()}; }

    CollectionNode* root;
    LayoutTotals totals;
    std::vector<uint8_t> data, sources, page;

private:
    void collection(std::vector<uint32_t> parent, const char* name, uint32_t n)
    {
        m_collections.emplace_back();
        m_collections.back().construct(name, n);
        uint32_t tag;
        root->defineCollection(
            &wrapper, parent.data(), static_cast<uint32_t>(parent.size()), &m_collections.back(), &tag);
    }
    void param(std::vector<uint32_t> parent, const char* name, uint32_t type, uint32_t n)
    {
        m_parameters.emplace_back();
        m_parameters.back().construct(name, n, type, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0);
        uint32_t tag;
        root->defineParameter(
            &wrapper, parent.data(), static_cast<uint32_t>(parent.size()), &m_parameters.back(), &tag);
    }
    SharedMemWrapper wrapper;
    std::deque<CollectionNode> m_collections;
    std::deque<ParameterNode> m_parameters;
};

struct PageMarker : IDirtyFlagHolder {
    uint8_t* page;
    explicit PageMarker(uint8_t* p)
        : page(p)
    {
    }
    void markChange(uint32_t bit) override { mms_setBit(page, bit); }
    void markImportFlag(uint32_t) override { }
    void markImportSearch(uint32_t) override { }
};

const char GAIN_PATH[] = "ch/eq/gain";

void BM_SetValueByTagPath(benchmark::State& state)
{
    BenchTree t;
    PageMarker marker(t.page.data());
    WriteContext context;
    context.dirty = &marker;
    const uint32_t tags[3] = {1, 1, 0};
    uint32_t i = 0;
    for (auto _ : state) {
        const uint32_t indexes[3] = {i % 80, (i / 80) % 16, 0};
        benchmark::DoNotOptimize(t.root->setValue(t.tree(), tags, indexes, 3, JVariant(int32_t(i & 0x7FFF)), context));
        ++i;
    }
}
BENCHMARK(BM_SetValueByTagPath);

void BM_SetValueByNamePath(benchmark::State& state)
{
    BenchTree t;
    PageMarker marker(t.page.data());
    WriteContext context;
    context.dirty = &marker;
    uint32_t i = 0;
    for (auto _ : state) {
        uint32_t tags[5], count;
        t.root->resolveNamePath(GAIN_PATH, sizeof GAIN_PATH - 1, tags, 5, &count);
        const uint32_t indexes[3] = {i % 80, (i / 80) % 16, 0};
        benchmark::DoNotOptimize(
            t.root->setValue(t.tree(), tags, indexes, count, JVariant(int32_t(i & 0x7FFF)), context));
        ++i;
    }
}
BENCHMARK(BM_SetValueByNamePath);

void BM_GetValueByTagPath(benchmark::State& state)
{
    BenchTree t;
    const uint32_t tags[3] = {1, 1, 0};
    JVariant out;
    uint32_t i = 0;
    for (auto _ : state) {
        const uint32_t indexes[3] = {i % 80, (i / 80) % 16, 0};
        benchmark::DoNotOptimize(t.root->getValue(t.tree(), tags, indexes, 3, &out));
        ++i;
    }
}
BENCHMARK(BM_GetValueByTagPath);

void BM_GetValueByNamePath(benchmark::State& state)
{
    BenchTree t;
    JVariant out;
    uint32_t i = 0;
    for (auto _ : state) {
        uint32_t tags[5], count;
        t.root->resolveNamePath(GAIN_PATH, sizeof GAIN_PATH - 1, tags, 5, &count);
        const uint32_t indexes[3] = {i % 80, (i / 80) % 16, 0};
        benchmark::DoNotOptimize(t.root->getValue(t.tree(), tags, indexes, count, &out));
        ++i;
    }
}
BENCHMARK(BM_GetValueByNamePath);

// A full pull over a page with the given percentage of elements marked (set
// through the tree, so collection bits are marked as they are in use); the
// time is reported per findNext call.
void markPercent(BenchTree& t, uint32_t percent)
{
    PageMarker marker(t.page.data());
    WriteContext context;
    context.dirty = &marker;
    std::mt19937 random(7);
    for (uint32_t n = 0; n < t.totals.elementCount; ++n) {
        if (random() % 100 >= percent)
            continue;
        uint32_t tags[5], indexes[5], count;
        t.root->pathFromElementNumber(n, tags, indexes, 5, &count);
        JVariant v;
        t.root->getValue(t.tree(), tags, indexes, count, &v);
        // Any write that changes the element marks it.
        const uint32_t old = v.type() == JLIB::JVARIANT_FLOAT ? 0 : v.toInteger();
        JVariant changed;
        if (v.type() == JLIB::JVARIANT_FLOAT)
            changed = 1.0f;
        else if (v.type() == JLIB::JVARIANT_INT32)
            changed.setInt32(static_cast<int32_t>(old) + 1);
        else
            changed.setUInt32(old ? 0 : 1);
        t.root->setValue(t.tree(), tags, indexes, count, changed, context);
    }
}

void BM_NextChangedWalk(benchmark::State& state)
{
    BenchTree t;
    markPercent(t, static_cast<uint32_t>(state.range(0)));
    uint64_t calls = 0;
    for (auto _ : state) {
        uint32_t prevTags[5] = {}, prevIndexes[5] = {}, prevCount = 0;
        for (;;) {
            uint32_t tags[5], indexes[5], count;
            ++calls;
            if (t.root->findNext(t.page.data(), 0, prevTags, prevIndexes, prevCount, false, tags, indexes, 5, &count)
                < 0)
                break;
            for (uint32_t k = 0; k < count; ++k) {
                prevTags[k] = tags[k];
                prevIndexes[k] = indexes[k];
            }
            prevCount = count;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(calls));
    state.counters["ns_per_call"]
        = benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_NextChangedWalk)->Arg(1)->Arg(100);

// The floor of the walk: the same marked page scanned for its set bits a
// word at a time, one step per bit found (plus the final miss).
void BM_BitScanFloor(benchmark::State& state)
{
    BenchTree t;
    markPercent(t, static_cast<uint32_t>(state.range(0)));
    std::vector<uint64_t> words((t.page.size() + 7) / 8, 0);
    std::memcpy(words.data(), t.page.data(), t.page.size());
    uint64_t calls = 0;
    for (auto _ : state) {
        for (size_t w = 0; w < words.size(); ++w) {
            for (uint64_t bits = words[w]; bits; bits &= bits - 1) {
                benchmark::DoNotOptimize(w * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
                ++calls;
            }
        }
        ++calls;
    }
    state.SetItemsProcessed(static_cast<int64_t>(calls));
    state.counters["ns_per_call"]
        = benchmark::Counter(static_cast<double>(calls), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BitScanFloor)->Arg(1)->Arg(100);

} // namespace

BENCHMARK_MAIN();
