// Name paths and index arrays from the fuzzer against a fixed small tree:
// resolve, build back, get, set and walk. The path text lies in a heap block
// of exactly its size, so any read past the given length is reported.
#include "mms/mms_tree.h"
#include "mms/mms_wrap.h"
#include "pbd/jlib/jvariant.h"

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

using namespace MMS;

namespace {

struct FixedTree {
    FixedTree()
    {
        collections.emplace_back();
        root = &collections.back();
        root->construct("fn", 1);
        param({}, "gain", PARAM_INT16, 1);
        collection({}, "in", 3);
        param({1}, "level", PARAM_UINT8, 4);
        param({1}, "name", PARAM_STRING, 2, 8);
        collection({1}, "eq", 2);
        param({1, 2}, "freq", PARAM_FLOAT, 2);
        param({1, 2}, "on", PARAM_BIT, 3);
        param({}, "mute", PARAM_BIT, 1);
        root->layout(&totals);
        data.assign(totals.dataSize, 0);
        sources.assign(totals.changeCount, 0);
        page.assign((totals.changeCount + 7) / 8, 0);
    }
    // Child tables hold offsets, not pointers, so leak checkers can't see
    // them: give them back explicitly.
    ~FixedTree() { root->releaseTables(&wrapper); }
    void collection(std::vector<uint32_t> parent, const char* name, uint32_t n)
    {
        collections.emplace_back();
        collections.back().construct(name, n);
        uint32_t tag;
        root->defineCollection(
            &wrapper, parent.data(), static_cast<uint32_t>(parent.size()), &collections.back(), &tag);
    }
    void param(std::vector<uint32_t> parent, const char* name, uint32_t type, uint32_t n, uint32_t max = 0)
    {
        parameters.emplace_back();
        JLIB::JVariant maximum(max);
        parameters.back().construct(
            name, n, type, nullptr, max ? &maximum : nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 0);
        uint32_t tag;
        root->defineParameter(&wrapper, parent.data(), static_cast<uint32_t>(parent.size()), &parameters.back(), &tag);
    }
    SharedMemWrapper wrapper;
    std::deque<CollectionNode> collections;
    std::deque<ParameterNode> parameters;
    CollectionNode* root;
    LayoutTotals totals;
    std::vector<uint8_t> data, sources, page;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FixedTree t;
    if (size < 2)
        return 0;
    // Byte 0: operation and flags; byte 1: index count (0..7); then the
    // indexes (one byte each, so they hit the boundaries), then the path.
    const uint8_t op = data[0];
    const uint32_t indexCount = data[1] % 8;
    if (size < 2 + indexCount)
        return 0;
    uint32_t indexes[8] = {};
    for (uint32_t i = 0; i < indexCount; ++i)
        indexes[i] = data[2 + i] % 6;
    const size_t length = size - 2 - indexCount;
    std::unique_ptr<char[]> path(new char[length ? length : 1]);
    std::memcpy(path.get(), data + 2 + indexCount, length);

    uint32_t tags[MMS_MAX_DEPTH];
    uint32_t count = 0;
    const uint32_t maxTags = (op >> 4) % (MMS_MAX_DEPTH + 1);
    if (t.root->resolveNamePath(path.get(), static_cast<uint32_t>(length), tags, maxTags, &count) < 0)
        return 0;
    if (count > maxTags)
        __builtin_trap();

    // Building the text back gives the path as given (without a leading "/",
    // up to a NUL).
    char built[MMS_MAX_DEPTH * 24 + 2];
    if (t.root->buildNamePath(tags, count, built, sizeof built, false) < 0)
        __builtin_trap();
    std::string given(path.get(), length);
    given = given.substr(0, given.find('\0'));
    if (!given.empty() && given[0] == '/')
        given.erase(0, 1);
    if (given != built)
        __builtin_trap();

    const TreeData tree{t.data.data(), t.totals.dataSize, nullptr, t.sources.data()};
    const uint32_t depth = count <= indexCount ? count : indexCount;
    JLIB::JVariant value;
    switch (op & 3) {
    case 0:
        t.root->getValue(tree, tags, indexes, depth, &value, nullptr, t.page.data(), (op & 4) != 0);
        break;
    case 1: {
        JLIB::JVariant in(static_cast<int32_t>(op) - 128);
        WriteContext context;
        context.flags = (op >> 3) & 7;
        t.root->setValue(tree, tags, indexes, depth, in, context);
        break;
    }
    case 2: {
        mms_setBits(t.page.data(), 0, t.totals.changeCount);
        uint32_t outTags[MMS_MAX_DEPTH], outIndexes[MMS_MAX_DEPTH], outCount = 0;
        if (t.root->findNext(
                t.page.data(), 0, tags, indexes, depth, (op & 4) != 0, outTags, outIndexes, maxTags, &outCount)
                == 0
            && outCount > maxTags)
            __builtin_trap();
        break;
    }
    default: {
        bool changed = false;
        t.root->isChanged(tags, indexes, depth, t.page.data(), (op & 4) != 0, &changed);
        break;
    }
    }
    return 0;
}
