// The definition tree: definition rules, packed layout, tag and name paths,
// numbers, values by path, change walks and imports.
#include "mms/mms_dirty.h"
#include "mms/mms_tree.h"
#include "mms/mms_wrap.h"
#include "pbd/jlib/jvariant.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

using namespace MMS;
using JLIB::JVariant;
using JLIB::JVariantArray;

namespace {

using Path = std::vector<uint32_t>;

// Marks changes into one page, as a listener's page would get them.
struct PageMarker : IDirtyFlagHolder {
    std::vector<uint8_t>* page;
    explicit PageMarker(std::vector<uint8_t>* p)
        : page(p)
    {
    }
    void markChange(uint32_t bit) override { mms_setBit(page->data(), bit); }
    void markImportFlag(uint32_t) override { }
    void markImportSearch(uint32_t) override { }
};

// A tree with its nodes in stable storage, laid out on demand.
class TestTree {
public:
    explicit TestTree(const char* name = "fn")
    {
        m_collections.emplace_back();
        root = &m_collections.back();
        EXPECT_EQ(root->construct(name, 1), 0);
        EXPECT_EQ(pool.create(&wrapper, 256), 0);
    }
    ~TestTree()
    {
        root->releaseTables(&wrapper);
        pool.release(&wrapper);
    }
    TestTree(const TestTree&) = delete;
    TestTree& operator=(const TestTree&) = delete;

    JResult collection(const Path& parent, const char* name, uint32_t arraySize, uint32_t* tag = nullptr)
    {
        m_collections.emplace_back();
        CollectionNode* node = &m_collections.back();
        JResult r = node->construct(name, arraySize);
        uint32_t t = 0;
        if (r >= 0)
            r = root->defineCollection(&wrapper, parent.data(), static_cast<uint32_t>(parent.size()), node, &t);
        if (tag)
            *tag = t;
        return r;
    }

    JResult parameter(const Path& parent, const char* name, uint32_t type, uint32_t arraySize = 1,
        const JVariant* defaultValue = nullptr, const JVariant* maximum = nullptr, uint32_t* tag = nullptr)
    {
        m_parameters.emplace_back();
        ParameterNode* node = &m_parameters.back();
        JResult r
            = node->construct(name, arraySize, type, nullptr, maximum, defaultValue, nullptr, nullptr, 0, 0, 0, 0);
        uint32_t t = 0;
        if (r >= 0)
            r = root->defineParameter(&wrapper, parent.data(), static_cast<uint32_t>(parent.size()), node, &t);
        if (tag)
            *tag = t;
        return r;
    }

    void layout()
    {
        ASSERT_EQ(root->layout(&totals), 0);
        data.assign(totals.dataSize, 0);
        sources.assign(totals.changeCount, 0);
        page.assign((totals.changeCount + 7) / 8, 0);
    }

    TreeData tree() { return TreeData{data.data(), totals.dataSize, &pool, sources.data()}; }

    TreePosition at(const Path& tags, const Path& indexes)
    {
        TreePosition p;
        EXPECT_EQ(root->locate(tags.data(), indexes.data(), static_cast<uint32_t>(tags.size()), &p), 0);
        return p;
    }

    JResult set(const Path& tags, const Path& indexes, const JVariant& v, IDirtyFlagHolder* dirty = nullptr)
    {
        WriteContext c;
        c.dirty = dirty;
        return root->setValue(tree(), tags.data(), indexes.data(), static_cast<uint32_t>(tags.size()), v, c);
    }

    uint32_t get(const Path& tags, const Path& indexes)
    {
        JVariant v;
        EXPECT_EQ(root->getValue(tree(), tags.data(), indexes.data(), static_cast<uint32_t>(tags.size()), &v), 0);
        return v.toInteger();
    }

    SharedMemWrapper wrapper;
    CollectionNode* root = nullptr;
    StringMemoryFactory pool;
    LayoutTotals totals;
    std::vector<uint8_t> data, sources, page;

private:
    std::deque<CollectionNode> m_collections;
    std::deque<ParameterNode> m_parameters;
};

// gain:int16, in[2]{ level:uint8[4], eq[3]{ freq:uint16 } }, mute:bit
void buildMixer(TestTree& t)
{
    ASSERT_EQ(t.parameter({}, "gain", PARAM_INT16), 0);
    ASSERT_EQ(t.collection({}, "in", 2), 0);
    ASSERT_EQ(t.parameter({1}, "level", PARAM_UINT8, 4), 0);
    ASSERT_EQ(t.collection({1}, "eq", 3), 0);
    ASSERT_EQ(t.parameter({1, 1}, "freq", PARAM_UINT16), 0);
    ASSERT_EQ(t.parameter({}, "mute", PARAM_BIT), 0); // moves "in" to tag 2
    t.layout();
}

} // namespace

TEST(TreeLayout, PacksBitsAndPlacesEveryParameter)
{
    struct Item {
        uint32_t type, count, offset, bitOffset;
    };
    const JVariant max0 = JVariant(uint32_t(0));
    const struct {
        const char* what;
        std::vector<Item> items;
        uint32_t size;
    } cases[] = {
        {"bits around bytes",
            {{PARAM_BIT, 3, 0, 0}, {PARAM_UINT8, 1, 1, 0}, {PARAM_BIT, 10, 2, 0}, {PARAM_UINT16, 1, 4, 0}}, 6},
        {"runs of bits share bytes",
            {{PARAM_BIT, 3, 0, 0}, {PARAM_BIT, 7, 0, 3}, {PARAM_BIT, 6, 1, 2}, {PARAM_INT8, 1, 2, 0}}, 3},
        {"a text without maximum takes nothing",
            {{PARAM_STRING, 1, 0, 0}, {PARAM_BIT, 1, 0, 0}, {PARAM_FLOAT, 2, 1, 0}}, 9},
        {"trailing bits complete their byte", {{PARAM_UINT16, 1, 0, 0}, {PARAM_BIT, 1, 2, 0}}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestTree t;
        for (size_t i = 0; i < c.items.size(); ++i) {
            const std::string name = "p" + std::to_string(i);
            ASSERT_EQ(t.parameter({}, name.c_str(), c.items[i].type, c.items[i].count), 0);
        }
        t.layout();
        EXPECT_EQ(t.totals.dataSize, c.size);
        for (uint32_t i = 0; i < c.items.size(); ++i) {
            const ParameterNode* p = t.root->parameterAt(i);
            EXPECT_EQ(p->data.base, c.items[i].offset) << i;
            EXPECT_EQ(p->bitOffset, c.items[i].bitOffset) << i;
        }
    }
}

TEST(TreeLayout, DataThatWouldPass32BitsIsRefused)
{
    // Each text takes 0xFFFF x 0xFFFF bytes; the last parameter's extent is
    // what sets the size, and it must not wrap.
    const JVariant maximum = JVariant(uint32_t(0xFFFF));
    for (const bool inCollection : {false, true}) {
        SCOPED_TRACE(inCollection ? "in a collection" : "at the function level");
        TestTree t;
        Path parent;
        if (inCollection) {
            ASSERT_EQ(t.collection({}, "c", 1), 0);
            parent = {0};
        }
        ASSERT_EQ(t.parameter(parent, "s", PARAM_STRING, 0xFFFF, nullptr, &maximum), 0);
        ASSERT_EQ(t.parameter(parent, "t", PARAM_STRING, 0xFFFF, nullptr, &maximum), 0);
        LayoutTotals totals;
        EXPECT_EQ(t.root->layout(&totals), MMS_E_ARG);
    }
}

TEST(TreeLayout, CollectionArraysStridesAndChangeIndexes)
{
    TestTree t;
    ASSERT_EQ(t.collection({}, "ch", 4), 0);
    ASSERT_EQ(t.parameter({0}, "v", PARAM_UINT16, 2), 0);
    t.layout();
    const CollectionNode* ch = t.root->collectionAt(0);
    EXPECT_EQ(ch->data.stride, 4u);
    EXPECT_EQ(t.totals.dataSize, 16u);
    EXPECT_EQ(ch->changes.stride, 3u); // its own and two
    EXPECT_EQ(t.totals.changeCount, 1u + 12u);
    EXPECT_EQ(t.totals.collectionElements, 1u + 4u);
    EXPECT_EQ(t.totals.imageSize, 48u + 48u + 32u);
    const TreePosition p = t.at({0, 0}, {3, 1});
    const ElementPlace place = p.place(t.data.data());
    EXPECT_EQ(place.data + p.elementIndex * 2 - t.data.data(), 14);
    EXPECT_EQ(place.elementNumber + p.elementIndex, 7u);
    EXPECT_EQ(place.changeIndex + p.elementIndex, 1u + 3 * 3 + 1 + 1);
}

TEST(TreeLayout, ParametersLieBeforeChildCollectionsWhateverTheOrder)
{
    TestTree t;
    uint32_t tag = 99;
    ASSERT_EQ(t.collection({}, "c", 1, &tag), 0);
    EXPECT_EQ(tag, 0u);
    ASSERT_EQ(t.parameter({0}, "x", PARAM_UINT8), 0);
    ASSERT_EQ(t.parameter({}, "late", PARAM_UINT16, 1, nullptr, nullptr, &tag), 0);
    EXPECT_EQ(tag, 0u); // the collection's tag moved up to 1
    t.layout();
    EXPECT_EQ(t.root->parameterAt(0)->data.base, 0u);
    EXPECT_EQ(t.root->collectionAt(0)->data.base, 2u);
    EXPECT_EQ(std::string(t.root->childName(1)), "c");
}

TEST(TreeDefinition, DepthNamesAndKinds)
{
    TestTree t;
    Path parent;
    for (int level = 0; level < 5; ++level) {
        ASSERT_EQ(t.collection(parent, "c", 1), 0) << level;
        parent.push_back(0);
    }
    EXPECT_EQ(t.collection(parent, "deep", 1), MMS_E_DEPTH);
    EXPECT_EQ(t.parameter(parent, "deep", PARAM_UINT8), MMS_E_DEPTH);
    EXPECT_EQ(t.parameter({0, 0, 0, 0}, "p", PARAM_UINT8), 0); // a 5-entry tag path
    EXPECT_EQ(t.parameter({0}, "c", PARAM_UINT8), MMS_E_EXISTS);
    EXPECT_EQ(t.collection({0}, "c", 1), MMS_E_EXISTS);
    EXPECT_EQ(t.parameter({7}, "q", PARAM_UINT8), MMS_E_PATH);
    ASSERT_EQ(t.parameter({}, "leaf", PARAM_UINT8), 0);
    EXPECT_EQ(t.parameter({0}, "under", PARAM_UINT8), MMS_E_PATH); // tag 0 is now the parameter
    EXPECT_EQ(t.root->subtreeDepth(), 6u);
    t.layout();
    EXPECT_EQ(t.totals.collectionCount, 6u);
}

TEST(TreePaths, NamePathsResolveAndBuild)
{
    TestTree t;
    buildMixer(t);
    const std::string tooLong(24, 'a');
    const struct {
        std::string path;
        JResult result;
        Path tags;
    } cases[] = {
        {"gain", 0, {0}},
        {"/gain", 0, {0}},
        {"in/level", 0, {2, 0}},
        {"in/eq/freq", 0, {2, 1, 0}},
        {"in", 0, {2}},
        {"", 0, {}},
        {std::string("mute\0junk", 9), 0, {1}},
        {"nope", MMS_E_NO_MATCH, {}},
        {"in//level", MMS_E_NO_MATCH, {}},
        {"in/", MMS_E_NO_MATCH, {}},
        {"IN/level", MMS_E_NO_MATCH, {}},
        {"gai", MMS_E_NO_MATCH, {}},
        {tooLong, MMS_E_NO_MATCH, {}},
        {"gain/x", MMS_E_PATH, {}},
        {"in/eq/freq/x", MMS_E_PATH, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        uint32_t tags[5] = {};
        uint32_t count = 99;
        EXPECT_EQ(
            t.root->resolveNamePath(c.path.data(), static_cast<uint32_t>(c.path.size()), tags, 5, &count), c.result);
        if (c.result == 0) {
            EXPECT_EQ(Path(tags, tags + count), c.tags);
        }
    }
    uint32_t tags[2], count;
    EXPECT_EQ(t.root->resolveNamePath("in/eq/freq", 10, tags, 2, &count), MMS_E_ARG); // caller's array too small

    char text[32];
    const uint32_t path[3] = {2, 1, 0};
    uint32_t length = 0;
    ASSERT_EQ(t.root->buildNamePath(path, 3, text, sizeof text, false, &length), 0);
    EXPECT_STREQ(text, "in/eq/freq");
    EXPECT_EQ(length, 10u);
    ASSERT_EQ(t.root->buildNamePath(path, 3, text, sizeof text, true), 0);
    EXPECT_STREQ(text, "/in/eq/freq");
    EXPECT_EQ(t.root->buildNamePath(path, 3, text, 11, true), MMS_E_ARG);
    const uint32_t bad[2] = {0, 0};
    EXPECT_EQ(t.root->buildNamePath(bad, 2, text, sizeof text, false), MMS_E_PATH);
}

TEST(TreePaths, TagPathsAndIndexArraysAreChecked)
{
    TestTree t;
    buildMixer(t);
    TreePosition p;
    const struct {
        Path tags, indexes;
        JResult result;
    } cases[] = {
        {{2, 0}, {1, 3}, 0}, {{2, 1, 0}, {1, 2, 0}, 0}, {{2, 0}, {2, 0}, MMS_E_PATH}, // collection index past its array
        {{2, 0}, {0, 4}, MMS_E_PATH}, // parameter index past its array
        {{3}, {0}, MMS_E_PATH}, // tag past the children
        {{0, 0}, {0, 0}, MMS_E_PATH}, // a parameter before the last level
        {{2, 1, 0, 0, 0, 0}, {0}, MMS_E_PATH}, // deeper than 5
    };
    for (const auto& c : cases) {
        Path indexes = c.indexes;
        indexes.resize(c.tags.size());
        EXPECT_EQ(t.root->locate(c.tags.data(), indexes.data(), static_cast<uint32_t>(c.tags.size()), &p), c.result);
    }
}

TEST(TreeNumbers, ElementAndDefinitionNumbersRoundTrip)
{
    TestTree t;
    buildMixer(t);
    EXPECT_EQ(t.totals.elementCount, 1u + 2 * (4 + 3) + 1);
    EXPECT_EQ(t.totals.definitionCount, 7u);
    for (uint32_t n = 0; n < t.totals.elementCount; ++n) {
        uint32_t tags[5], indexes[5], count = 0;
        ASSERT_EQ(t.root->pathFromElementNumber(n, tags, indexes, 5, &count), 0) << n;
        const TreePosition p = t.at(Path(tags, tags + count), Path(indexes, indexes + count));
        ASSERT_NE(p.parameter, nullptr);
        EXPECT_EQ(p.place(nullptr).elementNumber + p.elementIndex, n);
    }
    uint32_t tags[5], indexes[5], count;
    EXPECT_EQ(t.root->pathFromElementNumber(t.totals.elementCount, tags, indexes, 5, &count), MMS_E_NO_MATCH);
    EXPECT_EQ(t.root->pathFromElementNumber(5, tags, indexes, 1, &count), MMS_E_ARG);

    // Definition numbers: root 0, gain 1, mute 2, in 3, level 4, eq 5, freq 6.
    const struct {
        Path tags;
        uint32_t number;
    } numbers[] = {{{}, 0}, {{0}, 1}, {{1}, 2}, {{2}, 3}, {{2, 0}, 4}, {{2, 1}, 5}, {{2, 1, 0}, 6}};
    for (const auto& d : numbers) {
        uint32_t number = 99;
        ASSERT_EQ(t.root->definitionNumber(d.tags.data(), static_cast<uint32_t>(d.tags.size()), &number), 0);
        EXPECT_EQ(number, d.number);
        ASSERT_EQ(t.root->pathFromDefinitionNumber(d.number, tags, 5, &count), 0);
        EXPECT_EQ(Path(tags, tags + count), d.tags);
    }
    EXPECT_EQ(t.root->pathFromDefinitionNumber(7, tags, 5, &count), MMS_E_NO_MATCH);
}

TEST(TreeValues, SetMarksTheElementAndEveryCollectionOnItsPath)
{
    TestTree t;
    buildMixer(t);
    PageMarker marker(&t.page);
    EXPECT_EQ(t.set({2, 1, 0}, {1, 2, 0}, JVariant(uint32_t(440)), &marker), MMS_CHANGED);
    EXPECT_EQ(t.get({2, 1, 0}, {1, 2, 0}), 440u);
    EXPECT_EQ(t.get({2, 1, 0}, {1, 1, 0}), 0u);
    const TreePosition p = t.at({2, 1, 0}, {1, 2, 0});
    std::vector<uint32_t> set;
    for (uint32_t n = 0; n < t.totals.changeCount; ++n)
        if (mms_testBit(t.page.data(), n))
            set.push_back(n);
    EXPECT_EQ(set, (std::vector<uint32_t>{0, p.levelChange[1], p.levelChange[2], p.place(nullptr).changeIndex}));
    EXPECT_EQ(t.set({2, 1, 0}, {1, 2, 0}, JVariant(uint32_t(440)), &marker), 0);
    EXPECT_EQ(t.set({2}, {0}, JVariant(uint32_t(1))), MMS_E_PATH); // a collection holds no value
    TreeData shortData = t.tree();
    --shortData.dataSize; // a data image smaller than the layout is never used
    JVariant v;
    const uint32_t gain[1] = {0}, zero[1] = {0};
    EXPECT_EQ(t.root->getValue(shortData, gain, zero, 1, &v), MMS_E_ARG);
    EXPECT_EQ(t.root->setValue(shortData, gain, zero, 1, JVariant(int32_t(1)), {}), MMS_E_ARG);
}

TEST(TreeValues, BoxesAreWrittenWholeOrNotAtAll)
{
    TestTree t;
    buildMixer(t);
    const uint32_t tags[2] = {2, 0}, first[2] = {0, 1}, last[2] = {1, 2};
    JVariantArray values(JLIB::JVARIANT_UINT32, 4, 4);
    for (uint32_t i = 0; i < 4; ++i)
        values.set(i, JVariant(uint32_t(10 + i)));
    WriteContext context;
    ASSERT_EQ(t.root->setValues(t.tree(), tags, first, last, 2, values, false, context), MMS_CHANGED);
    EXPECT_EQ(t.get({2, 0}, {0, 1}), 10u);
    EXPECT_EQ(t.get({2, 0}, {0, 2}), 11u);
    EXPECT_EQ(t.get({2, 0}, {1, 1}), 12u);
    EXPECT_EQ(t.get({2, 0}, {1, 2}), 13u);
    EXPECT_EQ(t.get({2, 0}, {1, 3}), 0u);

    context.flags = ADMIT_REFUSE_LOW;
    JVariantArray signedValues(JLIB::JVARIANT_INT32, 4, 4);
    for (uint32_t i = 0; i < 4; ++i)
        signedValues.set(i, JVariant(int32_t(i == 3 ? -1 : 50)));
    EXPECT_EQ(t.root->setValues(t.tree(), tags, first, last, 2, signedValues, false, context), MMS_E_REFUSED);
    EXPECT_EQ(t.get({2, 0}, {0, 1}), 10u); // nothing written

    JVariantArray three(JLIB::JVARIANT_UINT32, 4, 3);
    EXPECT_EQ(t.root->setValues(t.tree(), tags, first, last, 2, three, false, {}), MMS_E_ARG);

    JVariantArray out(JLIB::JVARIANT_UINT32, 1, 4);
    uint8_t got[4];
    ASSERT_EQ(t.root->readBox(t.tree(), tags, first, last, 2, &out, got, nullptr, false), 0);
    JVariant v;
    out.get(&v, 3);
    EXPECT_EQ(v.toInteger(), 13u);
}

TEST(TreeValues, DefaultsAndReadWithClear)
{
    TestTree t;
    const JVariant d5(int32_t(5)), d7(uint32_t(7));
    ASSERT_EQ(t.parameter({}, "a", PARAM_INT16, 1, &d5), 0);
    ASSERT_EQ(t.collection({}, "c", 3), 0);
    ASSERT_EQ(t.parameter({1}, "b", PARAM_UINT8, 2, &d7), 0);
    ASSERT_EQ(t.parameter({1}, "n", PARAM_UINT8, 1), 0); // no default: left alone
    t.layout();
    PageMarker marker(&t.page);
    WriteContext context;
    context.dirty = &marker;
    context.source = 3;
    EXPECT_EQ(t.root->writeDefaults(t.tree(), context, true), MMS_CHANGED);
    EXPECT_EQ(t.get({0}, {0}), 5u);
    for (uint32_t e = 0; e < 3; ++e)
        for (uint32_t i = 0; i < 2; ++i)
            EXPECT_EQ(t.get({1, 0}, {e, i}), 7u);
    // Every default and every collection element got marked; "n" did not.
    const TreePosition n0 = t.at({1, 1}, {0, 0});
    EXPECT_FALSE(mms_testBit(t.page.data(), n0.place(nullptr).changeIndex));
    EXPECT_TRUE(mms_testBit(t.page.data(), 0));
    EXPECT_EQ(t.root->writeDefaults(t.tree(), context, true), 0);

    // Reading with clear: a collection element's bit goes once nothing is
    // left set inside it; the function level's bit goes last.
    uint8_t source = 0;
    JVariant v;
    auto readClear = [&](const Path& tags, const Path& indexes) {
        return t.root->getValue(t.tree(), tags.data(), indexes.data(), static_cast<uint32_t>(tags.size()), &v, &source,
            t.page.data(), true);
    };
    const TreePosition c1 = t.at({1}, {1});
    EXPECT_EQ(readClear({1, 0}, {1, 0}), MMS_CHANGED);
    EXPECT_EQ(source, 3);
    EXPECT_TRUE(mms_testBit(t.page.data(), c1.changeIndex));
    EXPECT_EQ(readClear({1, 0}, {1, 1}), MMS_CHANGED);
    EXPECT_FALSE(mms_testBit(t.page.data(), c1.changeIndex));
    EXPECT_EQ(readClear({1, 0}, {1, 1}), 0);
    EXPECT_TRUE(mms_testBit(t.page.data(), 0));
    for (const Path& idx : {Path{0, 0}, Path{0, 1}, Path{2, 0}, Path{2, 1}})
        readClear({1, 0}, idx);
    readClear({0}, {0});
    for (uint8_t b : t.page)
        EXPECT_EQ(b, 0);

    // A collection element's whole range is cleared at once.
    EXPECT_EQ(t.root->writeDefaults(t.tree(), context, false), 0);
    mms_setBits(t.page.data(), 0, t.totals.changeCount);
    bool changed = false;
    const uint32_t c2[1] = {1}, i2[1] = {2};
    EXPECT_EQ(t.root->isChanged(c2, i2, 1, t.page.data(), true, &changed), MMS_CHANGED);
    EXPECT_TRUE(changed);
    const TreePosition c2p = t.at({1}, {2});
    EXPECT_FALSE(mms_anyBit(t.page.data(), c2p.changeIndex, c2p.endCollection->changes.stride));
    EXPECT_TRUE(mms_testBit(t.page.data(), 0));
}

TEST(TreeValues, StringDefaultsMissingFromThePoolAreReported)
{
    TestTree t;
    const JVariant offset(uint32_t(200)), max(uint32_t(4)); // past the pool's used part
    ASSERT_EQ(t.parameter({}, "s", PARAM_STRING, 1, &offset, &max), 0);
    t.layout();
    EXPECT_EQ(t.root->writeDefaults(t.tree(), {}, false), MMS_E_UNDEFINED);
}

TEST(TreeWalk, NextChangedVisitsEachMarkedElementOnceInTreeOrder)
{
    TestTree t;
    buildMixer(t);
    PageMarker marker(&t.page);
    // Marked out of order; the walk gives tree order.
    t.set({2, 1, 0}, {1, 2, 0}, JVariant(uint32_t(1)), &marker);
    t.set({0}, {0}, JVariant(int32_t(1)), &marker);
    t.set({2, 0}, {0, 3}, JVariant(uint32_t(1)), &marker);
    t.set({2, 0}, {1, 0}, JVariant(uint32_t(1)), &marker);

    std::vector<std::string> seen;
    uint32_t prevTags[5] = {}, prevIdx[5] = {}, prevCount = 0;
    JResult r = 0;
    for (int guard = 0; guard < 10; ++guard) {
        uint32_t tags[5], idx[5], count = 0;
        r = t.root->findNext(t.page.data(), 0, prevTags, prevIdx, prevCount, true, tags, idx, 5, &count);
        if (r < 0)
            break;
        char text[32];
        t.root->buildNamePath(tags, count, text, sizeof text, false);
        seen.push_back(std::string(text) + "@" + std::to_string(idx[count - 1]) + "/" + std::to_string(idx[0]));
        std::memcpy(prevTags, tags, sizeof tags);
        std::memcpy(prevIdx, idx, sizeof idx);
        prevCount = count;
    }
    EXPECT_EQ(r, MMS_E_NO_MATCH);
    EXPECT_EQ(seen, (std::vector<std::string>{"gain@0/0", "in/level@3/0", "in/level@0/1", "in/eq/freq@0/1"}));
    for (uint8_t b : t.page)
        EXPECT_EQ(b, 0);
    uint32_t tags[5], idx[5], count;
    EXPECT_EQ(t.root->findNext(t.page.data(), 0, nullptr, nullptr, 0, true, tags, idx, 5, &count), MMS_E_NO_MATCH);
}

TEST(TreeWalk, UnmarkedCollectionElementsAreSkippedWithTheirSubtree)
{
    TestTree t;
    buildMixer(t);
    const TreePosition level = t.at({2, 0}, {1, 2});
    mms_setBit(t.page.data(), 0);
    mms_setBit(t.page.data(), level.place(nullptr).changeIndex + 2); // its collection element is not marked
    uint32_t tags[5], idx[5], count;
    EXPECT_EQ(t.root->findNext(t.page.data(), 0, nullptr, nullptr, 0, false, tags, idx, 5, &count), MMS_E_NO_MATCH);
    mms_setBit(t.page.data(), level.changeIndex);
    ASSERT_EQ(t.root->findNext(t.page.data(), 0, nullptr, nullptr, 0, false, tags, idx, 5, &count), 0);
    EXPECT_EQ(Path(idx, idx + count), (Path{1, 2}));
    EXPECT_EQ(t.root->findNext(t.page.data(), 0, nullptr, nullptr, 0, false, tags, idx, 1, &count), MMS_E_ARG);
}

TEST(TreeWalk, WithoutBitsEveryElementComesOnce)
{
    TestTree t;
    buildMixer(t);
    uint32_t prevTags[5] = {}, prevIdx[5] = {}, prevCount = 0, seen = 0;
    std::vector<uint32_t> numbers;
    for (uint32_t guard = 0; guard < 100; ++guard) {
        uint32_t tags[5], idx[5], count;
        if (t.root->findNext(nullptr, 0, prevTags, prevIdx, prevCount, false, tags, idx, 5, &count) < 0)
            break;
        const TreePosition p = t.at(Path(tags, tags + count), Path(idx, idx + count));
        numbers.push_back(p.place(nullptr).elementNumber + p.elementIndex);
        std::memcpy(prevTags, tags, sizeof tags);
        std::memcpy(prevIdx, idx, sizeof idx);
        prevCount = count;
        ++seen;
    }
    // Tree order is element-number order.
    ASSERT_EQ(seen, t.totals.elementCount);
    for (uint32_t i = 0; i < seen; ++i)
        EXPECT_EQ(numbers[i], i);
    const uint32_t badTags[1] = {9}, badIdx[1] = {0};
    uint32_t tags[5], idx[5], count;
    EXPECT_EQ(t.root->findNext(nullptr, 0, badTags, badIdx, 1, false, tags, idx, 5, &count), MMS_E_PATH);
}

namespace {

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    std::memcpy(&b[at], &v, 4);
}

std::vector<uint8_t> colRecord(const char* name, uint32_t paramBytes, uint32_t childBytes, uint32_t offset,
    uint32_t elementSize, uint32_t arraySize)
{
    std::vector<uint8_t> r(48, 0);
    std::memcpy(&r[0], "COL", 3);
    r[3] = 48;
    std::strncpy(reinterpret_cast<char*>(&r[4]), name, 23);
    put32(r, 28, paramBytes);
    put32(r, 32, childBytes);
    put32(r, 36, offset);
    put32(r, 40, elementSize);
    put32(r, 44, arraySize);
    return r;
}

std::vector<uint8_t> prRecord(const char* name, uint8_t swapClass, uint16_t width, uint16_t count)
{
    std::vector<uint8_t> r(32, 0);
    std::memcpy(&r[0], "PR", 2);
    r[2] = 32;
    r[3] = swapClass;
    std::memcpy(&r[4], &width, 2);
    std::memcpy(&r[6], &count, 2);
    std::strncpy(reinterpret_cast<char*>(&r[8]), name, 23);
    return r;
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

// Records of a laid-out subtree, as an exporter writes them.
std::vector<uint8_t> recordsOf(const CollectionNode& c, uint32_t offset)
{
    std::vector<uint8_t> params, children;
    for (uint32_t i = 0; i < c.parameterCount(); ++i) {
        const ParameterNode& p = *c.parameterAt(i);
        const uint8_t cls = paramTypeSigned(p.type()) ? 1
            : paramTypeUnsigned(p.type())             ? 2
            : p.type() == PARAM_FLOAT                 ? 3
                                                      : 0;
        append(params,
            prRecord(p.name(), cls, static_cast<uint16_t>(p.elementWidth()), static_cast<uint16_t>(p.arraySize())));
    }
    for (uint32_t i = 0; i < c.collectionCount(); ++i)
        append(children, recordsOf(*c.collectionAt(i), c.collectionAt(i)->data.base));
    std::vector<uint8_t> r = colRecord(c.name(), static_cast<uint32_t>(params.size()),
        static_cast<uint32_t>(children.size()), offset, c.data.stride, c.arraySize());
    append(r, params);
    append(r, children);
    return r;
}

} // namespace

TEST(TreeImport, SameDefinitionRoundTrip)
{
    TestTree source, target;
    buildMixer(source);
    buildMixer(target);
    for (uint32_t e = 0; e < 2; ++e)
        for (uint32_t i = 0; i < 4; ++i)
            source.set({2, 0}, {e, i}, JVariant(uint32_t(e * 10 + i + 1)));
    source.set({2, 1, 0}, {1, 2, 0}, JVariant(uint32_t(9000)));
    source.set({0}, {0}, JVariant(int32_t(-300)));
    source.set({1}, {0}, JVariant(uint32_t(1)));
    const std::vector<uint8_t> part1 = recordsOf(*source.root, 0);
    ASSERT_EQ(part1.size(), source.totals.imageSize);

    PageMarker marker(&target.page);
    WriteContext context;
    context.dirty = &marker;
    EXPECT_EQ(target.root->importImage(target.tree(), part1.data(), static_cast<uint32_t>(part1.size()),
                  source.data.data(), static_cast<uint32_t>(source.data.size()), true, nullptr, context),
        MMS_CHANGED);
    EXPECT_EQ(target.data, source.data);
    // Changed collection elements got their own bits: in[0], in[1], in[1].eq[2].
    EXPECT_TRUE(mms_testBit(target.page.data(), target.at({2}, {1}).changeIndex));
    EXPECT_TRUE(mms_testBit(target.page.data(), target.at({2, 1}, {1, 2}).changeIndex));
    EXPECT_FALSE(mms_testBit(target.page.data(), target.at({2, 1}, {1, 0}).changeIndex));

    // A truncated data part is refused, not read past.
    EXPECT_EQ(target.root->importImage(target.tree(), part1.data(), static_cast<uint32_t>(part1.size()),
                  source.data.data(), 3, true, nullptr, {}),
        MMS_E_ARG);
    EXPECT_EQ(target.root->importImage(target.tree(), part1.data(), 47, source.data.data(),
                  static_cast<uint32_t>(source.data.size()), true, nullptr, {}),
        MMS_E_ARG);
}

TEST(TreeImport, ByNameWithConvertedWidths)
{
    // Today's tree: gain:int16, mode:uint8 (default 4), flags:bit[3], ch[2]{ vol:uint8 }
    TestTree t;
    const JVariant four(uint32_t(4));
    ASSERT_EQ(t.parameter({}, "gain", PARAM_INT16), 0);
    ASSERT_EQ(t.parameter({}, "mode", PARAM_UINT8, 1, &four), 0);
    ASSERT_EQ(t.parameter({}, "flags", PARAM_BIT, 3), 0);
    ASSERT_EQ(t.collection({}, "ch", 2), 0);
    ASSERT_EQ(t.parameter({3}, "vol", PARAM_UINT8), 0);
    t.layout();
    t.root->writeDefaults(t.tree(), {}, false);

    // An older layout: flags:bit[3], unknown:uint8, gain:int8, ch[3]{ vol:uint16 }.
    // Stored data: byte 0 bits, 1 unknown, 2 gain, then ch elements of 2 bytes.
    std::vector<uint8_t> params;
    append(params, prRecord("flags", 2, 0, 3));
    append(params, prRecord("unknown", 2, 1, 1));
    append(params, prRecord("gain", 1, 1, 1));
    std::vector<uint8_t> child = colRecord("ch", 32, 0, 3, 2, 3);
    append(child, prRecord("vol", 2, 2, 1));
    std::vector<uint8_t> part1
        = colRecord("fn", static_cast<uint32_t>(params.size()), static_cast<uint32_t>(child.size()), 0, 9, 1);
    append(part1, params);
    append(part1, child);
    std::vector<uint8_t> part2(9, 0);
    part2[0] = 0x05; // flags 1, 0, 1
    part2[1] = 0xEE;
    part2[2] = static_cast<uint8_t>(-5);
    const uint16_t vols[3] = {300, 7, 9};
    std::memcpy(&part2[3], vols, 6);

    EXPECT_EQ(t.root->importImage(t.tree(), part1.data(), static_cast<uint32_t>(part1.size()), part2.data(),
                  static_cast<uint32_t>(part2.size()), false, nullptr, {}),
        MMS_CHANGED | MMS_ADJUSTED); // vol 300 does not fit a uint8: clamped and reported
    EXPECT_EQ(static_cast<int32_t>(t.get({0}, {0})), -5);
    EXPECT_EQ(t.get({1}, {0}), 4u); // not in the image: untouched
    EXPECT_EQ(t.get({2}, {0}), 1u);
    EXPECT_EQ(t.get({2}, {1}), 0u);
    EXPECT_EQ(t.get({2}, {2}), 1u);
    EXPECT_EQ(t.get({3, 0}, {0, 0}), 255u);
    EXPECT_EQ(t.get({3, 0}, {1, 0}), 7u);

    // A parameter record carrying a collection's name fails the import.
    std::vector<uint8_t> clash = colRecord("fn", 32, 0, 0, 1, 1);
    append(clash, prRecord("ch", 2, 1, 1));
    EXPECT_EQ(t.root->importImage(
                  t.tree(), clash.data(), static_cast<uint32_t>(clash.size()), part2.data(), 1, false, nullptr, {}),
        MMS_E_ARG);
}

namespace {
struct RecordingHandler : ICollectionHandler {
    JResult attachResult = 0;
    int64_t handle(
        const JVariant&, void*, uint32_t, const uint32_t*, const uint32_t*, uint32_t, ILinkReason*, void*) override
    {
        return 0;
    }
    JResult attach(CollectionWrapper*) override { return attachResult; }
    JResult release() override { return 0; }
    std::unique_ptr<IHandlerObject> ownedObject() override { return nullptr; }
};
} // namespace

TEST(TreeHandlers, EachCollectionHasOneSlot)
{
    TestTree t;
    buildMixer(t);
    ASSERT_EQ(t.totals.collectionCount, 3u);
    ICollectionHandler* table[3] = {};
    RecordingHandler a, b, failing;
    const uint32_t eq[2] = {2, 1};
    uint32_t index = 0;
    ASSERT_EQ(t.root->handlerIndexOf(eq, 2, &index), 0);
    EXPECT_EQ(index, 2u);
    EXPECT_EQ(t.root->setCollectionHandler(table, 3, eq, 2, &a, nullptr), 0);
    EXPECT_EQ(t.root->setCollectionHandler(table, 3, eq, 2, &b, nullptr), MMS_E_EXISTS);
    failing.attachResult = MMS_E_STATE;
    EXPECT_EQ(t.root->setCollectionHandler(table, 3, eq, 1, &failing, nullptr), MMS_E_ARG);
    EXPECT_EQ(table[1], nullptr);
    ICollectionHandler* got = nullptr;
    ASSERT_EQ(t.root->getCollectionHandler(table, 3, eq, 2, &got), 0);
    EXPECT_EQ(got, &a);
    const uint32_t freq[3] = {2, 1, 0};
    uint32_t on[6], count = 0;
    ASSERT_EQ(t.root->pathHandlerIndexes(freq, 3, on, &count), 0);
    EXPECT_EQ(Path(on, on + count), (Path{0, 1, 2}));
    EXPECT_EQ(t.root->handlerIndexOf(freq, 3, &index), MMS_E_PATH);
}

TEST(ChildTable, EntriesReachNodesAnywhereInTheAddressSpace)
{
    // A table on the heap and children on the stack and in static storage:
    // their distance does not fit 32 bits on a 64-bit host.
    SharedMemWrapper wrapper;
    auto* table = static_cast<ChildTable*>(wrapper.allocate(sizeof(ChildTable)));
    ASSERT_NE(table, nullptr);
    *table = ChildTable();
    static ParameterNode farAway;
    ParameterNode onStack;
    ASSERT_EQ(table->append(&wrapper, &farAway), 0);
    ASSERT_EQ(table->append(&wrapper, &onStack), 0);
    EXPECT_EQ(table->entry(0), &farAway);
    EXPECT_EQ(table->entry(1), &onStack);
    EXPECT_EQ(table->entry(2), nullptr);
    EXPECT_EQ(table->append(nullptr, &onStack), MMS_E_INNER);
    table->release(&wrapper);
    wrapper.free(table);
}

TEST(CollectionWrapper, WorksRelativeToTheCollectionElementItIsGiven)
{
    TestTree t;
    buildMixer(t);
    const TreePosition in1 = t.at({2}, {1});
    CollectionWrapper view(const_cast<CollectionNode*>(in1.endCollection), t.pool.usedSize());
    PageMarker marker(&t.page);
    CollectionSetContext context;
    context.data = t.data.data() + in1.dataOffset;
    context.dirty = &marker;
    context.sources = t.sources.data();
    context.changeBase = in1.changeIndex;
    context.elementBase = in1.elementNumber;
    context.source = 2;
    const uint32_t tags[2] = {1, 0}, indexes[2] = {2, 0};
    EXPECT_EQ(view.setValue(&context, JVariant(uint32_t(77)), tags, indexes, 2), MMS_CHANGED);
    EXPECT_EQ(t.get({2, 1, 0}, {1, 2, 0}), 77u);
    const TreePosition freq = t.at({2, 1, 0}, {1, 2, 0});
    const uint32_t bit = freq.place(nullptr).changeIndex;
    EXPECT_TRUE(mms_testBit(t.page.data(), bit));
    EXPECT_TRUE(mms_testBit(t.page.data(), in1.changeIndex));
    EXPECT_EQ(t.sources[bit], 2);
    EXPECT_EQ(context.resultFlags, MMS_CHANGED);

    JVariant v;
    ASSERT_EQ(view.getValue(&context, &v, tags, indexes, 2), 0);
    EXPECT_EQ(v.toInteger(), 77u);
    uint32_t resolved[5], count = 0;
    ASSERT_EQ(view.resolveNamePath(resolved, &count, "eq/freq", 7), 0);
    EXPECT_EQ(Path(resolved, resolved + count), (Path{1, 0}));
    char name[24];
    ASSERT_EQ(view.getName(name, tags, 2), 0);
    EXPECT_STREQ(name, "freq");
    EXPECT_EQ(view.getMinimum(&v, tags, 1), MMS_E_PATH); // "eq" is a collection

    CollectionWrapper detached;
    EXPECT_EQ(detached.getValue(&context, &v, tags, indexes, 2), MMS_E_STATE);
    EXPECT_EQ(view.getValue(&context, nullptr, tags, indexes, 2), MMS_E_ARG);
}

TEST(TreeWalk, TheSecondFormAdvancesOnlyTheIndexes)
{
    TestTree t;
    buildMixer(t);
    PageMarker marker(&t.page);
    t.set({2, 1, 0}, {1, 2, 0}, JVariant(uint32_t(1)), &marker);
    t.set({2, 1, 0}, {0, 1, 0}, JVariant(uint32_t(1)), &marker);
    t.set({2, 0}, {0, 0}, JVariant(uint32_t(1)), &marker); // another parameter: not this walk's
    const uint32_t freq[3] = {2, 1, 0};
    uint32_t found[3];
    std::vector<Path> seen;
    const uint32_t* prev = nullptr;
    uint32_t last[3];
    for (int guard = 0; guard < 10; ++guard) {
        if (t.root->findNextIndex(t.page.data(), 0, freq, 3, prev, true, found) < 0)
            break;
        seen.push_back(Path(found, found + 3));
        std::memcpy(last, found, sizeof found);
        prev = last;
    }
    EXPECT_EQ(seen, (std::vector<Path>{{0, 1, 0}, {1, 2, 0}}));
    // The level change is still there, so its collection bits stay.
    EXPECT_TRUE(mms_testBit(t.page.data(), t.at({2}, {0}).changeIndex));
    EXPECT_FALSE(mms_testBit(t.page.data(), t.at({2}, {1}).changeIndex));
    const uint32_t in[1] = {2};
    EXPECT_EQ(t.root->findNextIndex(t.page.data(), 0, in, 1, nullptr, false, found), MMS_E_PATH);
}

TEST(TreeValues, ImportMarksArePerCollectionElement)
{
    TestTree t;
    buildMixer(t);
    std::vector<uint8_t> marks((t.totals.collectionElements + 7) / 8, 0);
    const TreePosition eq = t.at({2, 1}, {1, 2});
    mms_setBit(marks.data(), eq.collectionElement);
    mms_setBit(t.page.data(), eq.changeIndex);
    const uint32_t tags[2] = {2, 1}, indexes[2] = {1, 2};
    bool marked = false;
    EXPECT_EQ(t.root->isImportMarked(tags, indexes, 2, marks.data(), t.page.data(), false, &marked), 0);
    EXPECT_TRUE(marked);
    EXPECT_EQ(t.root->isImportMarked(tags, indexes, 2, marks.data(), t.page.data(), true, &marked), MMS_CHANGED);
    EXPECT_FALSE(mms_testBit(marks.data(), eq.collectionElement));
    EXPECT_FALSE(mms_testBit(t.page.data(), eq.changeIndex)); // nothing left inside it
    const uint32_t freq[3] = {2, 1, 0}, at[3] = {1, 2, 0};
    EXPECT_EQ(t.root->isImportMarked(freq, at, 3, marks.data(), t.page.data(), false, &marked), MMS_E_PATH);
}

TEST(TreeImport, ByNameFromAnIndependentWriter)
{
    if (mms_hostIsBigEndian())
        GTEST_SKIP() << "the sample is written little-endian";
    qtest::TempDir dir;
    const std::string file = dir.file("mixer.img");
    ASSERT_EQ(qtest::runCommand("python3 " + qtest::peerPath("mms_image.py") + " write LIT " + file), 0);
    const std::string image = qtest::readFile(file);
    ASSERT_GT(image.size(), 88u);
    uint32_t part1Length, part2Length;
    std::memcpy(&part1Length, image.data() + 80, 4);
    std::memcpy(&part2Length, image.data() + 84, 4);
    ASSERT_EQ(image.size(), 88u + part1Length + part2Length);
    const auto* part1 = reinterpret_cast<const uint8_t*>(image.data() + 88);
    const uint8_t* part2 = part1 + part1Length;

    // Today's "Mixer": other order, wider gain, narrower level, fewer channels.
    TestTree t("Mixer");
    const JVariant eight(uint32_t(8));
    ASSERT_EQ(t.parameter({}, "trim", PARAM_FLOAT), 0);
    ASSERT_EQ(t.parameter({}, "label", PARAM_STRING, 1, nullptr, &eight), 0);
    ASSERT_EQ(t.parameter({}, "mute", PARAM_BIT, 10), 0);
    ASSERT_EQ(t.parameter({}, "gain", PARAM_INT32, 2), 0);
    ASSERT_EQ(t.parameter({}, "level", PARAM_UINT16), 0);
    ASSERT_EQ(t.parameter({}, "flags", PARAM_BIT, 3), 0);
    ASSERT_EQ(t.collection({}, "ch", 2), 0);
    ASSERT_EQ(t.parameter({6}, "pan", PARAM_INT32), 0);
    ASSERT_EQ(t.parameter({6}, "vol", PARAM_UINT16), 0);
    t.layout();

    EXPECT_EQ(t.root->importImage(t.tree(), part1, part1Length, part2, part2Length, false, nullptr, {}),
        MMS_CHANGED | MMS_ADJUSTED); // level 0xDEADBEEF does not fit 16 bits
    JVariant v;
    const uint32_t trim[1] = {0}, zero[2] = {0, 0};
    ASSERT_EQ(t.root->getValue(t.tree(), trim, zero, 1, &v), 0);
    EXPECT_EQ(v.toFloat(), -2.5f);
    const uint32_t label[1] = {1};
    ASSERT_EQ(t.root->getValue(t.tree(), label, zero, 1, &v), 0);
    EXPECT_STREQ(v.getString(), "Main Out");
    const uint32_t muteBits[10] = {1, 1, 0, 0, 1, 0, 0, 0, 1, 1};
    for (uint32_t i = 0; i < 10; ++i)
        EXPECT_EQ(t.get({2}, {i}), muteBits[i]) << i;
    EXPECT_EQ(static_cast<int32_t>(t.get({3}, {0})), -300);
    EXPECT_EQ(static_cast<int32_t>(t.get({3}, {1})), 1200);
    EXPECT_EQ(t.get({4}, {0}), 65535u);
    EXPECT_EQ(t.get({5}, {0}), 1u);
    EXPECT_EQ(t.get({5}, {1}), 0u);
    EXPECT_EQ(t.get({5}, {2}), 1u);
    EXPECT_EQ(static_cast<int32_t>(t.get({6, 0}, {0, 0})), -70000);
    EXPECT_EQ(t.get({6, 1}, {0, 0}), 1000u);
    EXPECT_EQ(static_cast<int32_t>(t.get({6, 0}, {1, 0})), 0);
    EXPECT_EQ(t.get({6, 1}, {1, 0}), 2000u);
}
