// Change tracking: task items in position-independent list memory, the
// marking rule, cursors, and walks over a real function's tree.

#include "mms/mms_change.h"
#include "mms/mms_root.h"
#include "mms/mms_wrap.h"

#include "pbd/jlib/jvariant.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace MMS;
using JLIB::JVariant;

namespace {

struct List {
    SharedMemWrapper wrapper;
    TaskItemList list;
    List(uint32_t pageSize = 2, uint32_t importSize = 1)
    {
        EXPECT_EQ(0, list.create(&wrapper));
        EXPECT_EQ(0, list.setSizes(pageSize, importSize));
    }
};

bool bit(const uint8_t* page, uint32_t n)
{
    return mms_testBit(page, n);
}

} // namespace

TEST(TaskItems, MarkingRuleTable)
{
    // Keys 1 (mask 0), 2 (mask 2), 3 (mask 1). Which keys see bit 5?
    struct Case {
        uint32_t callMask;
        bool own;
        uint32_t writer;
        bool sees1, sees2, sees3;
    };
    const Case cases[] = {
        {0, false, 0, true, true, true}, // ordinary set without a key
        {0, false, 1, false, true, true}, // writer 1 does not see its own change
        {0, true, 1, true, true, true}, // ... unless own is set
        {2, false, 0, true, false, true}, // import with flag bit 0: mask-2 listeners skip it
        {1, false, 3, true, true, false}, // handler pass (mask 1)
        {3, true, 2, true, false, false}, // both masks
    };
    for (const Case& c : cases) {
        List l;
        ASSERT_EQ(0, l.list.addKey(&l.wrapper, 0, 1, 1));
        ASSERT_EQ(0, l.list.addKey(&l.wrapper, 2, 2, 1));
        ASSERT_EQ(0, l.list.addKey(&l.wrapper, 1, 3, 1));
        DirtyFlagHolder holder(&l.list, c.callMask, c.own, c.writer, true);
        holder.markChange(5);
        holder.markImportFlag(3);
        const std::string what = "mask " + std::to_string(c.callMask) + " writer " + std::to_string(c.writer);
        EXPECT_EQ(c.sees1, bit(l.list.page(1), 5)) << what;
        EXPECT_EQ(c.sees2, bit(l.list.page(2), 5)) << what;
        EXPECT_EQ(c.sees3, bit(l.list.page(3), 5)) << what;
        EXPECT_EQ(c.sees1, bit(l.list.importFlags(1), 3)) << what;
        EXPECT_FALSE(bit(l.list.importSearch(1), 3)) << what;
        EXPECT_TRUE(bit(l.list.listArray(), 5));
        EXPECT_FALSE(bit(l.list.page(1), 4));
    }
}

TEST(TaskItems, KeysReferenceCountsAndRelease)
{
    List l;
    EXPECT_EQ(MMS_E_ARG, l.list.addKey(&l.wrapper, 0, 1, 0));
    EXPECT_EQ(MMS_E_INNER, l.list.addKey(nullptr, 0, 1, 1));
    ASSERT_EQ(0, l.list.addKey(&l.wrapper, 0, 1, 2));
    ASSERT_EQ(0, l.list.addKey(&l.wrapper, 0, 2, 1));
    ASSERT_EQ(0, l.list.addKey(&l.wrapper, 0, 1, 2));
    EXPECT_EQ(2u, l.list.referenceCount(1));
    const uint32_t sizeWithTwo = l.list.size();
    ASSERT_EQ(0, l.list.addKey(&l.wrapper, 0, 3, 1));
    DirtyFlagHolder(&l.list, 0, false, 0).markChange(9);

    EXPECT_EQ(0, l.list.releaseKey(&l.wrapper, 1));
    EXPECT_NE(0u, l.list.find(1));
    // Releasing an item in the middle keeps the others' pages and links.
    EXPECT_EQ(0, l.list.releaseKey(&l.wrapper, 1));
    EXPECT_EQ(0, l.list.releaseKey(&l.wrapper, 2));
    EXPECT_EQ(0u, l.list.find(1));
    EXPECT_TRUE(bit(l.list.page(3), 9));
    EXPECT_EQ(l.list.firstItem(), l.list.find(3));
    EXPECT_LT(l.list.size(), sizeWithTwo);
    EXPECT_EQ(0, l.list.releaseKey(&l.wrapper, 77)); // unknown key: nothing to do
    EXPECT_EQ(l.list.identity().offset, l.list.firstItem() + TaskItemLayout::SIZE);
    EXPECT_EQ(0, l.list.releaseKey(&l.wrapper, 3));
    EXPECT_EQ(0u, l.list.identity().offset);
}

TEST(TaskItems, ListMemoryCopiesAndAdoptsAsAWhole)
{
    List l;
    ASSERT_EQ(0, l.list.addKey(&l.wrapper, 0, 1, 2));
    ASSERT_EQ(0, l.list.addKey(&l.wrapper, 4, 2, 1));
    DirtyFlagHolder(&l.list, 0, false, 0).markChange(3);
    std::vector<uint8_t> image(l.list.base(), l.list.base() + l.list.size());

    TaskItemList adopted;
    ASSERT_EQ(0, adopted.adopt(image.data(), static_cast<uint32_t>(image.size())));
    EXPECT_EQ(MMS_E_ARG, adopted.setSizes(64, 1)); // pages would run past the memory
    ASSERT_EQ(0, adopted.setSizes(2, 1));
    EXPECT_TRUE(bit(adopted.page(2), 3));
    // Growing adopted memory copies it; the image stays as it was.
    const std::vector<uint8_t> before = image;
    ASSERT_EQ(0, adopted.addKey(&l.wrapper, 0, 5, 1));
    EXPECT_TRUE(adopted.owned());
    EXPECT_EQ(before, image);
    EXPECT_TRUE(bit(adopted.page(1), 3));
    adopted.release(&l.wrapper);

    EXPECT_EQ(MMS_E_ARG, adopted.adopt(image.data(), 4));
    // Links that loop back, and a stated size beyond the memory, are refused.
    std::vector<uint8_t> looped = image;
    const uint32_t second = l.list.nextItem(l.list.firstItem());
    imageStore32(looped.data() + second + TaskItemLayout::NEXT, l.list.firstItem());
    EXPECT_EQ(MMS_E_ARG, adopted.adopt(looped.data(), static_cast<uint32_t>(looped.size())));
    image[4] = 0xFF;
    EXPECT_EQ(MMS_E_ARG, adopted.adopt(image.data(), static_cast<uint32_t>(image.size())));
}

TEST(TaskItems, CursorsAndThePageTheMarksUse)
{
    List l;
    ASSERT_EQ(0, l.list.addKey(&l.wrapper, 0, 1, 3));
    ASSERT_EQ(0, l.list.addKey(&l.wrapper, 0, 2, 1));
    EXPECT_EQ(MMS_E_NO_MATCH, l.list.advanceSecondCursor(9));
    // A ring of three: 0 -> 1 -> 2 -> 0; a ring of one never moves.
    const int expected[] = {1, 2, 0, 1};
    for (int want : expected) {
        ASSERT_EQ(0, l.list.advanceSecondCursor(1));
        ASSERT_EQ(0, l.list.advanceSecondCursor(2));
        EXPECT_EQ(want, l.list.secondCursorIndex(1));
        EXPECT_EQ(0, l.list.secondCursorIndex(2));
    }
    EXPECT_EQ(0, l.list.firstCursorIndex(1));
    ASSERT_EQ(0, l.list.advanceFirstCursor(1));
    EXPECT_EQ(1, l.list.firstCursorIndex(1));

    // The second cursor is on page 1: marks, mark-all and clear-all all act there.
    DirtyFlagHolder(&l.list, 0, false, 0).markChange(2);
    uint8_t* page = l.list.page(1);
    EXPECT_TRUE(bit(page, 2));
    ASSERT_EQ(0, l.list.clearAll(1));
    EXPECT_FALSE(bit(page, 2));
    ASSERT_EQ(0, l.list.markAll(1));
    EXPECT_EQ(0xFF, page[0]);
    EXPECT_EQ(0xFF, page[1]);
    EXPECT_EQ(MMS_E_ARG, l.list.markAll(9));
    EXPECT_EQ(MMS_E_ARG, l.list.clearAll(9));
}

// --- Walks over a real function -------------------------------------------------

namespace {

// "Fx": parameters gain (int16 x2), on (bit x3); collection "ch" x2 holding vol (uint8).
struct Function {
    RootList list;
    Root* root = nullptr;
    uint32_t gain = 0, on = 0, ch = 0, vol = 0;

    Function()
    {
        EXPECT_EQ(0, list.define("fx", "Fx", 1, 3, 16));
        root = list.find("fx");
        ParameterDefinition p;
        p.name = "gain";
        p.type = PARAM_INT16;
        p.arraySize = 2;
        EXPECT_EQ(0, root->defineParameter(&gain, nullptr, 0, p));
        p.name = "on";
        p.type = PARAM_BIT;
        p.arraySize = 3;
        EXPECT_EQ(0, root->defineParameter(&on, nullptr, 0, p));
        EXPECT_EQ(0, root->defineCollection(&ch, nullptr, 0, "ch", 2));
        p.name = "vol";
        p.type = PARAM_UINT8;
        p.arraySize = 1;
        EXPECT_EQ(0, root->defineParameter(&vol, &ch, 1, p));
        EXPECT_EQ(0, root->activate(true));
    }

    JResult set(const char* path, std::vector<uint32_t> indexes, int32_t value, uint32_t key = 0, bool own = false)
    {
        WriterOptions w;
        w.key = key;
        w.own = own;
        return root->setValueByName(JVariant(value), path, static_cast<uint32_t>(strlen(path)), indexes.data(),
            static_cast<uint32_t>(indexes.size()), w);
    }

    // Every changed element for the key as "path[i,j]", clearing as it goes.
    std::vector<std::string> walk(uint32_t key, bool clear = true)
    {
        std::vector<std::string> found;
        char path[128] = {};
        uint32_t indexes[5] = {}, count = 0;
        std::string previous;
        std::vector<uint32_t> prevIndexes;
        for (int guard = 0; guard < 100; ++guard) {
            const JResult r = root->getNextChangedByName(path, sizeof path, indexes, &count, 5, previous.c_str(),
                static_cast<uint32_t>(previous.size()), prevIndexes.data(), static_cast<uint32_t>(prevIndexes.size()),
                clear, key, false);
            if (r < 0) {
                EXPECT_EQ(MMS_E_NO_MATCH, r);
                break;
            }
            std::string item = std::string(path) + "[";
            for (uint32_t i = 0; i < count; ++i)
                item += (i ? "," : "") + std::to_string(indexes[i]);
            found.push_back(item + "]");
            previous = path;
            prevIndexes.assign(indexes, indexes + count);
        }
        return found;
    }
};

using Walk = std::vector<std::string>;

} // namespace

TEST(ChangeWalk, ByNameWithClearThenNothingLeft)
{
    Function f;
    ASSERT_EQ(0, f.root->addKey(1, 0, 1));
    ASSERT_EQ(0, f.root->addKey(2, 0, 1));
    EXPECT_EQ(MMS_CHANGED, f.set("ch/vol", {1, 0}, 7));
    EXPECT_EQ(MMS_CHANGED, f.set("gain", {1}, -5));
    EXPECT_EQ(MMS_CHANGED, f.set("on", {2}, 1, 2));
    EXPECT_EQ(0, f.set("gain", {1}, -5)); // same value: no change, no mark

    EXPECT_EQ((Walk{"gain[1]", "on[2]", "ch/vol[1,0]"}), f.walk(1));
    EXPECT_EQ(Walk{}, f.walk(1));
    // Key 2 wrote "on" itself without own: it sees only the others.
    EXPECT_EQ((Walk{"gain[1]", "ch/vol[1,0]"}), f.walk(2));
    EXPECT_EQ(
        MMS_E_ARG, f.root->getNextChangedByName(nullptr, 0, nullptr, nullptr, 5, "", 0, nullptr, 0, true, 9, false));
}

TEST(ChangeWalk, ByTagWithoutClearAndIsChanged)
{
    Function f;
    ASSERT_EQ(0, f.root->addKey(1, 0, 1));
    ASSERT_EQ(MMS_CHANGED, f.set("ch/vol", {0, 0}, 3));
    uint32_t tags[5], indexes[5], count = 0;
    ASSERT_EQ(0, f.root->getNextChanged(tags, indexes, &count, 5, nullptr, nullptr, 0, false, 1));
    ASSERT_EQ(2u, count);
    EXPECT_EQ(f.ch, tags[0]);
    EXPECT_EQ(f.vol, tags[1]);
    EXPECT_EQ(0u, indexes[0]);
    // Not cleared: the same element again from the start; nothing after it.
    ASSERT_EQ(0, f.root->getNextChanged(tags, indexes, &count, 5, nullptr, nullptr, 0, false, 1));
    uint32_t nextTags[5], nextIndexes[5], nextCount = 0;
    EXPECT_EQ(
        MMS_E_NO_MATCH, f.root->getNextChanged(nextTags, nextIndexes, &nextCount, 5, tags, indexes, count, false, 1));

    bool changed = false;
    const uint32_t chTag[] = {f.ch};
    const uint32_t zero[] = {0, 0};
    ASSERT_GE(f.root->isChanged(&changed, chTag, zero, 1, false, 1), 0);
    EXPECT_TRUE(changed); // the collection element's summary bit
    EXPECT_EQ(MMS_CHANGED, f.root->isChanged(&changed, tags, indexes, count, true, 1));
    ASSERT_GE(f.root->isChanged(&changed, chTag, zero, 1, false, 1), 0);
    EXPECT_FALSE(changed); // nothing left below it
    EXPECT_EQ(MMS_E_ARG, f.root->isChanged(&changed, tags, indexes, count, false, 9));
}

TEST(ChangeWalk, MarkAllClearAllAndNotifyNowWithSeveralPages)
{
    Function f;
    ASSERT_EQ(0, f.root->addKey(1, 0, 2));
    ASSERT_EQ(0, f.root->advanceSecondCursor(1)); // reads and marks now use page 1
    ASSERT_EQ(0, f.root->markAllForKey(1));
    // Every parameter element once, then nothing.
    EXPECT_EQ((Walk{"gain[0]", "gain[1]", "on[0]", "on[1]", "on[2]", "ch/vol[0,0]", "ch/vol[1,0]"}), f.walk(1));
    EXPECT_EQ(Walk{}, f.walk(1));
    ASSERT_EQ(MMS_CHANGED, f.set("gain", {0}, 9));
    ASSERT_EQ(0, f.root->clearAllForKey(1));
    EXPECT_EQ(Walk{}, f.walk(1));
}

TEST(ChangeWalk, GetValueClearsTheElementsBit)
{
    Function f;
    ASSERT_EQ(0, f.root->addKey(1, 0, 1));
    ASSERT_EQ(MMS_CHANGED, f.set("gain", {0}, 12, 3));
    JVariant value;
    uint8_t source = 0xEE;
    const uint32_t index[] = {0};
    EXPECT_EQ(MMS_CHANGED, f.root->getValueByName(&value, &source, "gain", 4, index, 1, true, 1) & MMS_CHANGED);
    EXPECT_EQ(12u, value.toInteger());
    EXPECT_EQ(Walk{}, f.walk(1));
}
