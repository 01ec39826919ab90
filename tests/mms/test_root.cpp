// Function root and function list: lifecycle, values through the root,
// collection handlers, function information, and whole-function images
// exchanged with the independent python peer.

#include "mms/mms_root.h"

#include "pbd/jlib/jvariant.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace MMS;
using JLIB::JVariant;

namespace {

JResult defineParam(Root* root, uint32_t* tag, const uint32_t* parent, uint32_t depth, const char* name, uint32_t type,
    uint32_t arraySize, const JVariant* maximum = nullptr, const JVariant* defaultValue = nullptr)
{
    ParameterDefinition p;
    p.name = name;
    p.type = type;
    p.arraySize = arraySize;
    p.maximum = maximum;
    p.defaultValue = defaultValue;
    return root->defineParameter(tag, parent, depth, p);
}

// The peer's sample function "Mixer", defined through the root; with a
// handler, that handler is installed on "ch" before activation.
Root* defineMixer(RootList& list, const char* listName = "mixer", ICollectionHandler* handler = nullptr)
{
    EXPECT_EQ(0, list.define(listName, "Mixer", 1, 8, 16));
    Root* root = list.find(listName);
    uint32_t tag = 0, ch = 0;
    const JVariant eight(uint32_t{8});
    EXPECT_EQ(0, defineParam(root, &tag, nullptr, 0, "flags", PARAM_BIT, 3));
    EXPECT_EQ(0, defineParam(root, &tag, nullptr, 0, "gain", PARAM_INT16, 2));
    EXPECT_EQ(0, defineParam(root, &tag, nullptr, 0, "mute", PARAM_BIT, 10));
    EXPECT_EQ(0, defineParam(root, &tag, nullptr, 0, "level", PARAM_UINT32, 1));
    EXPECT_EQ(0, defineParam(root, &tag, nullptr, 0, "label", PARAM_STRING, 1, &eight));
    EXPECT_EQ(0, defineParam(root, &tag, nullptr, 0, "trim", PARAM_FLOAT, 1));
    EXPECT_EQ(0, root->defineCollection(&ch, nullptr, 0, "ch", 3));
    EXPECT_EQ(0, defineParam(root, &tag, &ch, 1, "vol", PARAM_UINT16, 1));
    EXPECT_EQ(0, defineParam(root, &tag, &ch, 1, "pan", PARAM_INT32, 1));
    if (handler != nullptr) {
        EXPECT_EQ(0, root->finishDefinition(true));
        EXPECT_EQ(0, root->installCollectionHandlerByName("ch", 2, handler));
    }
    EXPECT_EQ(0, root->activate(true));
    return root;
}

JVariant value(Root* root, const char* path, std::vector<uint32_t> indexes)
{
    JVariant v;
    EXPECT_GE(root->getValueByName(&v, nullptr, path, static_cast<uint32_t>(strlen(path)), indexes.data(),
                  static_cast<uint32_t>(indexes.size()), false, 0),
        0)
        << path;
    return v;
}

JResult set(Root* root, const char* path, std::vector<uint32_t> indexes, const JVariant& v, uint32_t key = 0)
{
    WriterOptions w;
    w.key = key;
    w.source = 2;
    return root->setValueByName(
        v, path, static_cast<uint32_t>(strlen(path)), indexes.data(), static_cast<uint32_t>(indexes.size()), w);
}

void setSample(Root* root)
{
    const int flags[] = {1, 0, 1};
    for (uint32_t i = 0; i < 3; ++i)
        set(root, "flags", {i}, JVariant(uint32_t(flags[i])));
    set(root, "gain", {0}, JVariant(int32_t{-300}));
    set(root, "gain", {1}, JVariant(int32_t{1200}));
    const int mute[] = {1, 1, 0, 0, 1, 0, 0, 0, 1, 1};
    for (uint32_t i = 0; i < 10; ++i)
        set(root, "mute", {i}, JVariant(uint32_t(mute[i])));
    set(root, "level", {0}, JVariant(uint32_t{0xDEADBEEF}));
    set(root, "label", {0}, JVariant("Main Out", 8));
    JVariant trim;
    trim = -2.5f;
    set(root, "trim", {0}, trim);
    const uint32_t vol[] = {1000, 2000, 65535};
    const int32_t pan[] = {-70000, 0, 2147483647};
    for (uint32_t e = 0; e < 3; ++e) {
        set(root, "ch/vol", {e, 0}, JVariant(vol[e]));
        set(root, "ch/pan", {e, 0}, JVariant(pan[e]));
    }
}

void expectSample(Root* root)
{
    EXPECT_EQ(1u, value(root, "flags", {0}).toInteger());
    EXPECT_EQ(0u, value(root, "flags", {1}).toInteger());
    EXPECT_EQ(1u, value(root, "flags", {2}).toInteger());
    EXPECT_EQ(-300, static_cast<int32_t>(value(root, "gain", {0}).toInteger()));
    EXPECT_EQ(1200u, value(root, "gain", {1}).toInteger());
    EXPECT_EQ(1u, value(root, "mute", {8}).toInteger());
    EXPECT_EQ(0u, value(root, "mute", {7}).toInteger());
    EXPECT_EQ(0xDEADBEEFu, value(root, "level", {0}).toInteger());
    EXPECT_EQ(std::string("Main Out"), value(root, "label", {0}).getString());
    EXPECT_EQ(-2.5f, value(root, "trim", {0}).toFloat());
    EXPECT_EQ(65535u, value(root, "ch/vol", {2, 0}).toInteger());
    EXPECT_EQ(-70000, static_cast<int32_t>(value(root, "ch/pan", {0, 0}).toInteger()));
    EXPECT_EQ(2147483647u, value(root, "ch/pan", {2, 0}).toInteger());
}

std::string peer(const std::string& args)
{
    std::string out;
    EXPECT_EQ(0, qtest::runCommand("python3 " + qtest::peerPath("mms_image.py") + " " + args, &out)) << args;
    return out;
}

class CountingNotify : public ISetOrderNotify {
public:
    explicit CountingNotify(std::vector<uint32_t>* seen)
        : m_seen(seen)
    {
    }
    JResult notify(uint32_t elementNumber) override
    {
        m_seen->push_back(elementNumber);
        return 0;
    }

private:
    std::vector<uint32_t>* m_seen;
};

// Takes over sets below its collection when told to, and records what it saw.
class Handler : public ICollectionHandler {
public:
    int64_t answer = 0;
    bool writeThrough = false;
    std::vector<uint32_t> elements;
    CollectionWrapper* wrapper = nullptr;

    int64_t handle(const JVariant& v, void*, uint32_t elementIndex, const uint32_t* restTags,
        const uint32_t* restIndexes, uint32_t restCount, ILinkReason*, void* continuation) override
    {
        elements.push_back(elementIndex);
        if (writeThrough && wrapper != nullptr) {
            // Mirror the value into the next element of the same parameter.
            auto* context = static_cast<CollectionSetContext*>(continuation);
            std::vector<uint32_t> indexes(restIndexes, restIndexes + restCount);
            indexes.back() ^= 1;
            JVariant doubled(v.toInteger() * 2);
            wrapper->setValue(context, doubled, restTags, indexes.data(), restCount);
        }
        return answer;
    }
    JResult attach(CollectionWrapper* w) override
    {
        wrapper = w;
        return 0;
    }
    JResult release() override { return 0; }
    std::unique_ptr<IHandlerObject> ownedObject() override { return nullptr; }
};

} // namespace

TEST(RootLifecycle, DefineLayOutActivate)
{
    RootList list;
    ASSERT_EQ(0, list.define("f", "Func", 1, 2, 0));
    Root* root = list.find("f");
    ASSERT_NE(nullptr, root);
    EXPECT_EQ(ROOT_DEFINING, root->getState());
    uint32_t tag = 0, ch = 0;
    const JVariant five(uint32_t{5});
    ASSERT_EQ(0, defineParam(root, &tag, nullptr, 0, "a", PARAM_UINT8, 2, nullptr, &five));
    ASSERT_EQ(0, root->defineCollection(&ch, nullptr, 0, "c", 2));
    ASSERT_EQ(0, defineParam(root, &tag, &ch, 1, "b", PARAM_INT32, 1));
    EXPECT_EQ(MMS_E_UNSUPPORTED, root->defineUnsupported(nullptr, 0));

    // Values before activation are refused.
    EXPECT_EQ(MMS_E_STATE, set(root, "a", {0}, JVariant(uint32_t{1})));
    ASSERT_EQ(0, root->finishDefinition(true));
    EXPECT_EQ(ROOT_LAID_OUT, root->getState());
    EXPECT_EQ(0, root->finishDefinition(true));
    EXPECT_EQ(MMS_E_STATE, defineParam(root, &tag, nullptr, 0, "late", PARAM_UINT8, 1));
    ASSERT_EQ(0, root->activate(true));
    EXPECT_EQ(MMS_FOUND, root->activate(true)); // already active
    EXPECT_EQ(MMS_E_STATE, root->defineUnsupported(nullptr, 0));

    EXPECT_EQ(5u, value(root, "a", {1}).toInteger()); // defaults written
    EXPECT_EQ(MMS_CHANGED, set(root, "c/b", {1, 0}, JVariant(int32_t{-9})));
    EXPECT_EQ(0, set(root, "c/b", {1, 0}, JVariant(int32_t{-9})));
    EXPECT_EQ(-9, static_cast<int32_t>(value(root, "c/b", {1, 0}).toInteger()));
    uint8_t source = 0;
    JVariant v;
    const uint32_t tags[] = {ch, 0}, indexes[] = {1, 0};
    ASSERT_GE(root->getValue(&v, &source, tags, indexes, 2, false, 0), 0);
    EXPECT_EQ(2, source);

    uint32_t n = 0;
    ASSERT_EQ(0, root->getParameterCount(&n));
    EXPECT_EQ(2u, n);
    ASSERT_EQ(0, root->getElementCount(&n));
    EXPECT_EQ(4u, n);
    ASSERT_EQ(0, root->getNameTableSize(&n, true));
    EXPECT_EQ(2u * 24 + 25, n);
    ASSERT_EQ(0, root->getNamePathSize(&n, tags, 2));
    EXPECT_EQ(4u, n); // "c/b" and its NUL
    ASSERT_EQ(0, root->getCollectionNodeCount(&n));
    EXPECT_EQ(2u, n);
    char name[24];
    ASSERT_EQ(0, root->getFunctionName(name));
    EXPECT_STREQ("Func", name);
    EXPECT_EQ(MMS_E_PATH, root->setValue(JVariant(uint32_t{1}), nullptr, nullptr, 0, WriterOptions()));
}

TEST(RootLifecycle, StringDefaultsTakePoolSpace)
{
    RootList list;
    ASSERT_EQ(0, list.define("f", "F", 0, 2, 2));
    Root* root = list.find("f");
    uint32_t tag = 0;
    const JVariant four(uint32_t{4}), one("x", 1), two("ab", 2);
    // "ab" with its NUL needs 3 bytes; the pool has 2: refused, nothing taken.
    EXPECT_EQ(MMS_E_ARG, defineParam(root, &tag, nullptr, 0, "s", PARAM_STRING, 1, &four, &two));
    ASSERT_EQ(0, defineParam(root, &tag, nullptr, 0, "s", PARAM_STRING, 1, &four, &one));
    ASSERT_EQ(0, root->activate(true));
    EXPECT_EQ(std::string("x"), value(root, "s", {0}).getString());
}

TEST(RootList, NamesAndOrder)
{
    RootList list;
    EXPECT_EQ(MMS_E_ARG, list.define(nullptr, "A", 0, 0, 0));
    EXPECT_EQ(MMS_E_ARG, list.define("abcdefghijklmnopqrstuvwx", "A", 0, 0, 0)); // 24 characters
    ASSERT_EQ(0, list.define("one", "A", 0, 0, 0)); // both counts 0: separate node blocks
    ASSERT_EQ(0, list.define("two", "B", 0, 0, 0));
    Root* first = list.find("one");
    EXPECT_EQ(MMS_E_EXISTS, list.define("one", "C", 0, 0, 0));
    EXPECT_EQ(first, list.find("one"));
    EXPECT_EQ(first, list.find(nullptr));
    EXPECT_EQ(list.find("two"), list.find(size_t{1}));
    EXPECT_EQ(nullptr, list.find(size_t{2}));
    char name[24];
    EXPECT_EQ(MMS_E_PATH, list.nameAt(2, name));
    ASSERT_EQ(0, list.nameAt(1, name));
    EXPECT_STREQ("two", name);
    // Nodes as separate blocks still make a working function.
    uint32_t tag = 0;
    ASSERT_EQ(0, defineParam(first, &tag, nullptr, 0, "p", PARAM_UINT8, 1));
    ASSERT_EQ(0, first->activate(false));
    uint32_t n = 1;
    ASSERT_EQ(0, first->getCollectionNodeCount(&n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ(0, list.remove("one"));
    EXPECT_EQ(0, list.remove("absent"));
    EXPECT_EQ(MMS_E_ARG, list.remove(nullptr));
    EXPECT_EQ(1u, list.count());
}

TEST(RootLifecycle, NodeCollectorRefusesMoreNodesThanCounted)
{
    RootList list;
    ASSERT_EQ(0, list.define("f", "F", 1, 1, 0));
    Root* root = list.find("f");
    uint32_t tag = 0, c1 = 0, c2 = 0;
    ASSERT_EQ(0, defineParam(root, &tag, nullptr, 0, "p", PARAM_UINT8, 1));
    EXPECT_EQ(MMS_E_MEMORY, defineParam(root, &tag, nullptr, 0, "q", PARAM_UINT8, 1));
    ASSERT_EQ(0, root->defineCollection(&c1, nullptr, 0, "c", 1));
    EXPECT_EQ(MMS_E_MEMORY, root->defineCollection(&c2, nullptr, 0, "d", 1));
    // A refused definition gives its node back: a failed name check costs nothing.
    EXPECT_EQ(MMS_E_EXISTS, root->defineCollection(&c2, nullptr, 0, "c", 1));
    ASSERT_EQ(0, root->activate(false));
}

// Duplicates are found through the per-collection name index: first and last
// of many siblings, a parameter against a collection of the same name, names
// that differ only past a prefix, and siblings in another collection.
TEST(RootLifecycle, DuplicateNamesFoundAmongManySiblings)
{
    RootList list;
    ASSERT_EQ(0, list.define("f", "F", 0, 0, 0));
    Root* root = list.find("f");
    uint32_t tag = 0, bus = 0, ch = 0;
    ASSERT_EQ(0, root->defineCollection(&bus, nullptr, 0, "bus", 1));
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(0, defineParam(root, &tag, nullptr, 0, ("p" + std::to_string(i)).c_str(), PARAM_UINT8, 1)) << i;
    ASSERT_EQ(0, root->defineCollection(&ch, nullptr, 0, "ch", 1));
    const uint32_t inBus[] = {300}; // collection tags follow the parameters
    (void)bus;
    ASSERT_EQ(0, defineParam(root, &tag, inBus, 1, "p0", PARAM_UINT8, 1)) << "another collection's name";

    EXPECT_EQ(MMS_E_EXISTS, defineParam(root, &tag, nullptr, 0, "p0", PARAM_UINT8, 1));
    EXPECT_EQ(MMS_E_EXISTS, defineParam(root, &tag, nullptr, 0, "p299", PARAM_INT16, 1));
    EXPECT_EQ(MMS_E_EXISTS, defineParam(root, &tag, nullptr, 0, "ch", PARAM_UINT8, 1));
    EXPECT_EQ(MMS_E_EXISTS, root->defineCollection(&tag, nullptr, 0, "p150", 1));
    EXPECT_EQ(MMS_E_EXISTS, defineParam(root, &tag, inBus, 1, "p0", PARAM_UINT8, 1));
    ASSERT_EQ(0, defineParam(root, &tag, nullptr, 0, "p3000", PARAM_UINT8, 1)) << "a longer name is another name";
    EXPECT_EQ(MMS_E_EXISTS, defineParam(root, &tag, nullptr, 0, "p3000", PARAM_UINT8, 1));

    uint32_t parameters = 0;
    ASSERT_EQ(0, root->activate(false));
    ASSERT_EQ(0, root->getParameterCount(&parameters));
    EXPECT_EQ(302u, parameters);
}

TEST(RootLifecycle, SetOrderNotifyRefusalIsAFailure)
{
    RootList list;
    Root* root = defineMixer(list);
    std::vector<uint32_t> seen;
    EXPECT_LT(root->installSetOrderNotify(nullptr), 0);
    ASSERT_EQ(0, root->installSetOrderNotify(new CountingNotify(&seen)));
    CountingNotify second(&seen);
    EXPECT_EQ(MMS_E_EXISTS, root->installSetOrderNotify(&second)); // stays ours
    ASSERT_EQ(MMS_CHANGED, set(root, "gain", {1}, JVariant(int32_t{3})));
    ASSERT_EQ(0, set(root, "gain", {1}, JVariant(int32_t{3})));
    EXPECT_EQ((std::vector<uint32_t>{4}), seen); // flags x3, gain[0], gain[1]
}

TEST(RootHandlers, TwoPassLogic)
{
    struct Case {
        int64_t answer;
        bool writeThrough;
        JResult result;
    };
    const Case cases[] = {
        {0, false, MMS_CHANGED}, // the set goes on: handler only told
        {1, false, MMS_CHANGED | MMS_HANDLED}, // taken over
        {1, true, MMS_CHANGED | MMS_HANDLED_CHANGED}, // taken over and changed more
        {-1, false, MMS_E_INNER}, // handler failed
        {int64_t{1} << 32, false, MMS_CHANGED}, // only the low word counts
    };
    for (const Case& c : cases) {
        Handler handler; // outlives the function, which releases it
        RootList list;
        ASSERT_EQ(0, list.define("f", "F", 1, 1, 0));
        Root* root = list.find("f");
        uint32_t ch = 0, tag = 0;
        ASSERT_EQ(0, root->defineCollection(&ch, nullptr, 0, "ch", 2));
        ASSERT_EQ(0, defineParam(root, &tag, &ch, 1, "v", PARAM_UINT16, 2));
        ASSERT_EQ(0, root->finishDefinition(false));
        handler.answer = c.answer;
        handler.writeThrough = c.writeThrough;
        ASSERT_EQ(0, root->installCollectionHandler(&ch, 1, &handler));
        EXPECT_EQ(1u, root->installedHandlerCount());
        ICollectionHandler* got = nullptr;
        ASSERT_EQ(0, root->getCollectionHandler(&got, &ch, 1));
        EXPECT_EQ(&handler, got);
        ASSERT_EQ(0, root->activate(false));
        ASSERT_EQ(0, root->addKey(1, 0, 1));
        ASSERT_EQ(0, root->addKey(2, 1, 1)); // ignores the handler pass

        EXPECT_EQ(c.result, set(root, "ch/v", {1, 0}, JVariant(uint32_t{21}))) << c.answer;
        EXPECT_EQ((std::vector<uint32_t>{1}), handler.elements);
        if (c.writeThrough) {
            EXPECT_EQ(42u, value(root, "ch/v", {1, 1}).toInteger());
            bool changed = false;
            const uint32_t tags[] = {ch, tag}, idx[] = {1, 1};
            ASSERT_GE(root->isChanged(&changed, tags, idx, 2, false, 1), 0);
            EXPECT_TRUE(changed);
            ASSERT_GE(root->isChanged(&changed, tags, idx, 2, false, 2), 0);
            EXPECT_FALSE(changed);
        }
        // An unchanged value does not reach the handler.
        handler.elements.clear();
        set(root, "ch/v", {1, 0}, JVariant(uint32_t{21}));
        EXPECT_TRUE(handler.elements.empty());
    }
}

TEST(RootInfo, CreateFromInfoAndFromBuffer)
{
    RootList list;
    Root* source = defineMixer(list);
    setSample(source);
    ASSERT_EQ(0, source->addKey(1, 0, 1));
    FunctionInfo info;
    ASSERT_EQ(0, source->getFunctionInfo(&info));
    EXPECT_STREQ("Mixer", info.name);

    // A copy: its own tree, pool and data, laid out the same.
    ASSERT_EQ(0, list.addFromImage("copy", info));
    Root* copy = list.find("copy");
    EXPECT_EQ(ROOT_LAID_OUT, copy->getState());
    ASSERT_EQ(0, copy->activate(false));
    expectSample(copy);
    EXPECT_EQ(0, std::memcmp(source->tagInfo().digest(), copy->tagInfo().digest(), IMAGE_DIGEST_SIZE));
    set(copy, "gain", {0}, JVariant(int32_t{5}));
    EXPECT_EQ(-300, static_cast<int32_t>(value(source, "gain", {0}).toInteger()));

    // Adopting: the same data memory.
    ASSERT_EQ(0, list.addFromBuffer("view", info, BUFFER_ADOPT, false));
    Root* view = list.find("view");
    ASSERT_EQ(0, view->activate(false));
    set(view, "gain", {1}, JVariant(int32_t{77}));
    EXPECT_EQ(77u, value(source, "gain", {1}).toInteger());
    // A private copy of the data.
    ASSERT_EQ(0, list.addFromBuffer("private", info, BUFFER_COPY_DATA, false));
    Root* priv = list.find("private");
    ASSERT_EQ(0, priv->activate(false));
    set(priv, "gain", {1}, JVariant(int32_t{-1}));
    EXPECT_EQ(77u, value(source, "gain", {1}).toInteger());
    // A record whose sizes are too small for its tree is refused: every
    // set would write past them.
    for (const auto& shrink : std::initializer_list<void (*)(FunctionInfo*)>{
             [](FunctionInfo* i) { i->dataSize -= 1; },
             [](FunctionInfo* i) { i->sourceCount -= 1; },
             [](FunctionInfo* i) { i->pageSize -= 1; },
         }) {
        FunctionInfo small = info;
        shrink(&small);
        for (const uint32_t flags : {0u, uint32_t{BUFFER_ADOPT}, uint32_t{BUFFER_COPY_DATA}}) {
            EXPECT_EQ(MMS_E_ARG, list.addFromBuffer("small", small, flags, false)) << flags;
            list.remove("small");
        }
        EXPECT_EQ(nullptr, list.find("small"));
    }
    list.remove("view");
    list.remove("private");
    EXPECT_EQ(5u, value(copy, "gain", {0}).toInteger());
    EXPECT_EQ(0xDEADBEEFu, value(copy, "level", {0}).toInteger());

    // setFunctionImage with change tracking marks what differs.
    FunctionInfo copyInfo;
    ASSERT_EQ(0, copy->getFunctionInfo(&copyInfo));
    ASSERT_GE(source->setFunctionImage(copyInfo, IMAGE_TRACK_CHANGES, 0), 0);
    EXPECT_EQ(5u, value(source, "gain", {0}).toInteger());
    bool changed = false;
    const uint32_t gainTag[] = {1}, zero[] = {0}, one[] = {1};
    ASSERT_GE(source->isChanged(&changed, gainTag, zero, 1, false, 1), 0);
    EXPECT_TRUE(changed);
    ASSERT_GE(source->isChanged(&changed, gainTag, one, 1, false, 1), 0);
    EXPECT_TRUE(changed); // 77 -> 1200
    FunctionInfo wrong = copyInfo;
    wrong.dataSize -= 1;
    EXPECT_EQ(MMS_E_ARG, source->setFunctionImage(wrong, 0, 0));
}

TEST(RootImage, ImportsPeerImagesInBothOrders)
{
    qtest::TempDir dir;
    for (const char* order : {"LIT", "BIG"}) {
        peer(std::string("write ") + order + " " + dir.file("p.img"));
        const std::string bytes = qtest::readFile(dir.file("p.img"));
        std::vector<uint8_t> image(bytes.begin(), bytes.end());
        RootList list;
        Root* root = defineMixer(list);
        ASSERT_EQ(0, root->addKey(1, 0, 1));
        ASSERT_GE(
            root->importImage(image.data(), static_cast<uint32_t>(image.size()), nullptr, 0, 0, WriterOptions()), 0)
            << order;
        expectSample(root);
        bool changed = false;
        const uint32_t tags[] = {1}, idx[] = {0};
        ASSERT_GE(root->isChanged(&changed, tags, idx, 1, false, 1), 0);
        EXPECT_TRUE(changed);
        // The imported buffer now reads in host order.
        uint8_t header[88];
        int mode = -1;
        ASSERT_EQ(0, readImageHeader(header, &mode, image.data(), image.size()));
        EXPECT_EQ(0, mode);
    }
}

TEST(RootImage, ExportReadByPeerInEveryOrder)
{
    qtest::TempDir dir;
    RootList list;
    Root* root = defineMixer(list);
    setSample(root);
    uint32_t size = 0;
    ASSERT_EQ(0, root->getImageSize(&size, nullptr, 0));
    const std::string expected = peer("dump " + [&] {
        peer("write BIG " + dir.file("ref.img"));
        return dir.file("ref.img");
    }());
    for (int order : {1, 2}) {
        std::vector<uint8_t> buffer(size);
        uint32_t length = 0;
        ASSERT_EQ(0, root->exportImage(buffer.data(), &length, size, nullptr, nullptr, 0, order));
        EXPECT_EQ(size, length);
        qtest::writeFile(dir.file("ours.img"), std::string(buffer.begin(), buffer.end()));
        std::string dump = peer("dump " + dir.file("ours.img"));
        std::string want = expected;
        if (order == 1)
            want.replace(want.find("order=BIG"), 9, "order=LIT");
        EXPECT_EQ(want, dump) << order;
        // And the export is byte for byte the peer's own image.
        peer(std::string("write ") + (order == 1 ? "LIT" : "BIG") + " " + dir.file("peer.img"));
        EXPECT_EQ(qtest::readFile(dir.file("peer.img")), std::string(buffer.begin(), buffer.end())) << order;
    }
    std::vector<uint8_t> small(88);
    uint32_t length = 0;
    EXPECT_EQ(MMS_E_ARG, root->exportImage(small.data(), &length, 88, nullptr, nullptr, 0, 0));
    EXPECT_EQ(MMS_E_ARG, root->exportImage(small.data(), &length, size, nullptr, nullptr, 0, 3));
}

TEST(RootImage, CollectionElementRoundTrip)
{
    RootList list;
    Root* root = defineMixer(list);
    setSample(root);
    const uint32_t ch[] = {6};
    const uint32_t element[] = {2};
    uint32_t size = 0;
    ASSERT_EQ(0, root->getImageSize(&size, ch, 1));
    EXPECT_EQ(88u + 48u + 64u + 6u, size);
    std::vector<uint8_t> buffer(size);
    uint32_t length = 0;
    const int foreign = imageHostIsBigEndian() ? IMAGE_ORDER_LITTLE : IMAGE_ORDER_BIG;
    ASSERT_EQ(0, root->exportImage(buffer.data(), &length, size, ch, element, 1, foreign));
    // The element's record describes one element at offset 0; its data reads back.
    bool same = false;
    uint8_t *p1, *p2;
    uint32_t l1, l2;
    int mode;
    ASSERT_EQ(0, splitImage(&root->tagInfo(), &same, &p1, &l1, &p2, &l2, &mode, buffer.data(), buffer.size()));
    ASSERT_EQ(0, convertForImport(p1, l1, p2, l2, mode));
    EXPECT_EQ(1u, imageLoad32(p1 + ImageLayout::COL_ARRAY_SIZE));
    EXPECT_EQ(0u, imageLoad32(p1 + ImageLayout::COL_OFFSET));
    EXPECT_EQ(65535u, imageLoad16(p2));
    EXPECT_EQ(2147483647u, imageLoad32(p2 + 2));
}

TEST(RootImage, RefusedImportChangesNothing)
{
    qtest::TempDir dir;
    const char* foreign = imageHostIsBigEndian() ? "LIT" : "BIG";
    peer(std::string("write ") + foreign + " " + dir.file("p.img"));
    const std::string bytes = qtest::readFile(dir.file("p.img"));
    RootList list;
    Root* root = defineMixer(list);
    std::vector<uint8_t> image(bytes.begin(), bytes.end());
    image[88 + 48 + 32 * 6 + 47] = 9; // child array size 9 runs past the data
    const std::vector<uint8_t> before = image;
    const std::vector<uint8_t> dataBefore(root->data(), root->data() + root->dataSize());
    EXPECT_EQ(MMS_E_ARG,
        root->importImage(image.data(), static_cast<uint32_t>(image.size()), nullptr, 0, 0, WriterOptions()));
    EXPECT_EQ(before, image);
    EXPECT_EQ(dataBefore, std::vector<uint8_t>(root->data(), root->data() + root->dataSize()));
}

TEST(RootImage, CompanionImageProtectsElements)
{
    RootList list;
    Root* root = defineMixer(list);
    Root* other = defineMixer(list, "other");
    setSample(other);
    uint32_t size = 0;
    ASSERT_EQ(0, other->getImageSize(&size, nullptr, 0));
    std::vector<uint8_t> image(size), mask(size);
    uint32_t length = 0;
    ASSERT_EQ(0, other->exportImage(image.data(), &length, size, nullptr, nullptr, 0, 0));
    // The companion is an image of the same definition whose data is the mask:
    // everything protected except "level".
    ASSERT_EQ(0, root->exportImage(mask.data(), &length, size, nullptr, nullptr, 0, 0));
    const uint32_t part2 = 88 + root->tagInfo().definitionLength();
    std::memset(mask.data() + part2, 0xFF, root->dataSize());
    std::memset(mask.data() + part2 + 7, 0, 4);
    ASSERT_GE(root->importImageCopy(image.data(), size, mask.data(), size, 0, WriterOptions()), 0);
    EXPECT_EQ(0xDEADBEEFu, value(root, "level", {0}).toInteger());
    EXPECT_EQ(0u, value(root, "gain", {0}).toInteger());
    // A companion of another definition is refused.
    mask[50] ^= 1;
    EXPECT_EQ(MMS_E_ARG, root->importImageCopy(image.data(), size, mask.data(), size, 0, WriterOptions()));
}

TEST(RootAttributes, NodeAndParameterAttributes)
{
    RootList list;
    ASSERT_EQ(0, list.define("f", "F", 1, 1, 8));
    Root* root = list.find("f");
    uint32_t ch = 0, tag = 0;
    ASSERT_EQ(0, root->defineCollection(&ch, nullptr, 0, "ch", 4));
    ParameterDefinition p;
    p.name = "v";
    p.type = PARAM_UINT16;
    p.arraySize = 2;
    const JVariant low(uint32_t{3});
    p.minimum = &low;
    p.unit = "dB";
    p.unitLength = 3;
    p.scaling = 10;
    p.kind = 7;
    ASSERT_EQ(0, root->defineParameter(&tag, &ch, 1, p));
    uint32_t n = 0;
    EXPECT_EQ(MMS_E_STATE, root->getScaling(&n, &ch, 1));
    ASSERT_EQ(0, root->activate(false));

    const uint32_t path[] = {ch, tag};
    // A collection of 4 elements, each one uint16 x 2: 4 bytes and 3 change
    // bits (its own and two) per element.
    ASSERT_EQ(0, root->getElementSize(&n, &ch, 1));
    EXPECT_EQ(4u, n);
    ASSERT_EQ(0, root->getBitCount(&n, &ch, 1));
    EXPECT_EQ(3u, n);
    ASSERT_EQ(0, root->getLeafCount(&n, &ch, 1));
    EXPECT_EQ(2u, n);
    ASSERT_EQ(0, root->getArraySize(&n, &ch, 1));
    EXPECT_EQ(4u, n);
    ASSERT_EQ(0, root->getChildCount(&n, &ch, 1));
    EXPECT_EQ(1u, n);
    ASSERT_EQ(0, root->getScaling(&n, path, 2));
    EXPECT_EQ(10u, n);
    ASSERT_EQ(0, root->getKind(&n, path, 2));
    EXPECT_EQ(7u, n);
    ASSERT_EQ(0, root->getType(&n, path, 2));
    EXPECT_EQ(uint32_t{PARAM_UINT16}, n);
    char unit[24];
    ASSERT_GE(root->getUnit(unit, path, 2), 0);
    EXPECT_STREQ("dB", unit);
    JVariant v;
    ASSERT_GE(root->getMinimum(&v, path, 2), 0);
    EXPECT_EQ(3u, v.toInteger());
    EXPECT_EQ(MMS_E_UNDEFINED, root->getMaximum(&v, path, 2));
    bool isParam = false;
    ASSERT_EQ(0, root->isParameter(&isParam, path, 2));
    EXPECT_TRUE(isParam);
    EXPECT_EQ(MMS_E_PATH, root->getScaling(&n, &ch, 1)); // a collection has no scaling
    // Converting a value checks it against the definition without storing it.
    JVariant below(uint32_t{1});
    EXPECT_EQ(MMS_ADJUSTED, root->convertValue(&below, path, 2, 0));
    EXPECT_EQ(3u, below.toInteger());
    EXPECT_EQ(MMS_E_PATH, root->convertValue(&below, nullptr, 0, 0));
}

namespace {

const uint32_t kCh[] = {6}; // "ch" in the Mixer

// Exports one element (or, with whole, every element) of "ch".
std::vector<uint8_t> exportCh(Root* root, uint32_t element, bool whole, int order)
{
    uint32_t size = 0;
    EXPECT_EQ(0, root->getImageSize(&size, kCh, 1, whole));
    std::vector<uint8_t> image(size);
    uint32_t length = 0;
    ExportOptions options;
    options.wholeCollection = whole;
    EXPECT_EQ(0, root->exportImage(image.data(), &length, size, kCh, &element, 1, order, options));
    EXPECT_EQ(size, length);
    return image;
}

bool changedFor(Root* root, std::vector<uint32_t> tags, std::vector<uint32_t> indexes, uint32_t key = 1)
{
    bool changed = false;
    EXPECT_GE(
        root->isChanged(&changed, tags.data(), indexes.data(), static_cast<uint32_t>(tags.size()), false, key), 0);
    return changed;
}

} // namespace

TEST(RootImage, ImportIntoCollectionElement)
{
    RootList list;
    Root* root = defineMixer(list);
    Root* other = defineMixer(list, "other");
    setSample(other);
    ASSERT_EQ(0, root->addKey(1, 0, 1));
    const int foreign = imageHostIsBigEndian() ? IMAGE_ORDER_LITTLE : IMAGE_ORDER_BIG;

    // Element 2 of the other function goes into element 0 here, nothing else.
    std::vector<uint8_t> image = exportCh(other, 2, false, foreign);
    const uint32_t zero = 0;
    EXPECT_EQ(MMS_CHANGED,
        root->importImage(
            image.data(), static_cast<uint32_t>(image.size()), nullptr, 0, kCh, &zero, 1, 0, WriterOptions()));
    EXPECT_EQ(65535u, value(root, "ch/vol", {0, 0}).toInteger());
    EXPECT_EQ(2147483647u, value(root, "ch/pan", {0, 0}).toInteger());
    EXPECT_EQ(0u, value(root, "ch/vol", {2, 0}).toInteger());
    EXPECT_EQ(0u, value(root, "level", {0}).toInteger());
    EXPECT_TRUE(changedFor(root, {6}, {0}));
    EXPECT_FALSE(changedFor(root, {6}, {1}));
    // The changed collection element carries its import mark.
    bool marked = false;
    const uint32_t one = 1;
    ASSERT_EQ(0, root->isImportMarked(&marked, kCh, &zero, 1, false, 1));
    EXPECT_TRUE(marked);
    ASSERT_EQ(0, root->isImportMarked(&marked, kCh, &one, 1, false, 1));
    EXPECT_FALSE(marked);
    ASSERT_EQ(0, root->hasImportMarks(&marked, 1));
    EXPECT_TRUE(marked);

    // The whole collection, by name, from element 0 on.
    std::vector<uint8_t> whole = exportCh(other, 0, true, IMAGE_ORDER_HOST);
    ASSERT_GE(root->importImageCopyByName(
                  whole.data(), static_cast<uint32_t>(whole.size()), nullptr, 0, "ch", 2, &zero, 1, 0, WriterOptions()),
        0);
    EXPECT_EQ(1000u, value(root, "ch/vol", {0, 0}).toInteger());
    EXPECT_EQ(2000u, value(root, "ch/vol", {1, 0}).toInteger());
    EXPECT_EQ(65535u, value(root, "ch/vol", {2, 0}).toInteger());

    // Into an element of another definition of "ch" with records of the same
    // size: matched by names, widths converted.
    RootList otherList;
    ASSERT_EQ(0, otherList.define("m", "Mixer", 1, 2, 0));
    Root* reordered = otherList.find("m");
    uint32_t tag = 0, ch = 0;
    ASSERT_EQ(0, reordered->defineCollection(&ch, nullptr, 0, "ch", 2));
    ASSERT_EQ(0, defineParam(reordered, &tag, &ch, 1, "pan", PARAM_INT32, 1));
    ASSERT_EQ(0, defineParam(reordered, &tag, &ch, 1, "vol", PARAM_UINT32, 1));
    ASSERT_EQ(0, reordered->activate(false));
    const uint32_t chTag[] = {ch};
    ASSERT_GE(reordered->importImageCopy(
                  image.data(), static_cast<uint32_t>(image.size()), nullptr, 0, chTag, &one, 1, 0, WriterOptions()),
        0);
    EXPECT_EQ(65535u, value(reordered, "ch/vol", {1, 0}).toInteger());
    EXPECT_EQ(2147483647u, value(reordered, "ch/pan", {1, 0}).toInteger());
    EXPECT_EQ(0u, value(reordered, "ch/pan", {0, 0}).toInteger());

    // A path to a parameter, or an index out of range, is refused untouched.
    const std::vector<uint8_t> before = image;
    const uint32_t toParameter[] = {6, 0}, indexes[] = {0, 0}, three = 3;
    EXPECT_EQ(MMS_E_PATH,
        root->importImage(image.data(), static_cast<uint32_t>(image.size()), nullptr, 0, toParameter, indexes, 2, 0,
            WriterOptions()));
    EXPECT_EQ(MMS_E_PATH,
        root->importImage(
            image.data(), static_cast<uint32_t>(image.size()), nullptr, 0, kCh, &three, 1, 0, WriterOptions()));
    EXPECT_EQ(before, image);
}

TEST(RootImage, CopyCollectionClearsWhatItCopied)
{
    RootList list;
    Root* root = defineMixer(list);
    ASSERT_EQ(0, root->addKey(1, 0, 1));
    ASSERT_EQ(0, root->clearAllForKey(1)); // the defaults marked nothing, but start clean
    set(root, "ch/vol", {1, 0}, JVariant(uint32_t{11}));
    set(root, "ch/pan", {2, 0}, JVariant(int32_t{-5}));

    ExportOptions options;
    options.clear = true;
    options.key = 1;
    const uint32_t one = 1;
    std::vector<uint8_t> buffer(48 + 64 + 6);
    uint32_t length = 0;
    // Too small for the record and the data: refused, nothing cleared.
    EXPECT_EQ(MMS_E_ARG, root->copyCollection(buffer.data(), 48 + 64 + 5, &length, kCh, &one, 1, options));
    EXPECT_TRUE(changedFor(root, {6, 0}, {1, 0}));

    ASSERT_EQ(
        0, root->copyCollection(buffer.data(), static_cast<uint32_t>(buffer.size()), &length, kCh, &one, 1, options));
    EXPECT_EQ(buffer.size(), length);
    EXPECT_EQ(0, std::memcmp(buffer.data(), "COL", 3));
    EXPECT_EQ(1u, imageLoad32(buffer.data() + ImageLayout::COL_ARRAY_SIZE));
    EXPECT_EQ(11u, imageLoad16(buffer.data() + 112));
    EXPECT_FALSE(changedFor(root, {6, 0}, {1, 0}));
    EXPECT_FALSE(changedFor(root, {6}, {1}));
    EXPECT_TRUE(changedFor(root, {6, 1}, {2, 0})); // not copied
    EXPECT_TRUE(root->tasks().page(1)[0] & 0x80); // the function still has a change

    // The whole collection: its last change goes, and with it the function's bit.
    buffer.assign(48 + 64 + 18, 0);
    options.wholeCollection = true;
    ASSERT_EQ(
        0, root->copyCollection(buffer.data(), static_cast<uint32_t>(buffer.size()), &length, kCh, &one, 1, options));
    EXPECT_EQ(3u, imageLoad32(buffer.data() + ImageLayout::COL_ARRAY_SIZE));
    EXPECT_EQ(static_cast<uint32_t>(-5), imageLoad32(buffer.data() + 112 + 12 + 2));
    EXPECT_EQ(std::vector<uint8_t>(4, 0), std::vector<uint8_t>(root->tasks().page(1), root->tasks().page(1) + 4));

    // An export with clearing does the same; an unknown key is refused.
    set(root, "ch/vol", {0, 0}, JVariant(uint32_t{3}));
    std::vector<uint8_t> image(88 + 48 + 64 + 18);
    ASSERT_EQ(0,
        root->exportImageByName(
            image.data(), &length, static_cast<uint32_t>(image.size()), "ch", 2, &one, 1, IMAGE_ORDER_HOST, options));
    EXPECT_FALSE(changedFor(root, {6, 0}, {0, 0}));
    options.key = 9;
    EXPECT_EQ(MMS_E_ARG,
        root->copyCollection(buffer.data(), static_cast<uint32_t>(buffer.size()), &length, kCh, &one, 1, options));
}

namespace {

// Records what the function does with its handler's owned object.
struct OwnedProbe : IHandlerObject {
    std::vector<std::string>* log;
    explicit OwnedProbe(std::vector<std::string>* l)
        : log(l)
    {
    }
    ~OwnedProbe() override { log->push_back("deleted"); }
};

class OwningHandler : public Handler {
public:
    std::vector<std::string> log;
    std::unique_ptr<IHandlerObject> ownedObject() override { return std::make_unique<OwnedProbe>(&log); }
    JResult release() override
    {
        log.push_back("released");
        return 0;
    }
};

Root* defineWithHandler(RootList& list, Handler* handler, const char* listName = "mixer")
{
    return defineMixer(list, listName, handler);
}

} // namespace

TEST(RootHandlers, OwnedObjectDeletedBeforeRelease)
{
    OwningHandler handler;
    {
        RootList list;
        defineWithHandler(list, &handler);
        EXPECT_TRUE(handler.log.empty());
    }
    EXPECT_EQ((std::vector<std::string>{"deleted", "released"}), handler.log);

    // A handler taken out again is left alone.
    OwningHandler removed;
    {
        RootList list;
        ASSERT_EQ(0, list.define("f", "F", 1, 1, 0));
        Root* root = list.find("f");
        uint32_t ch = 0, tag = 0;
        ASSERT_EQ(0, root->defineCollection(&ch, nullptr, 0, "ch", 2));
        ASSERT_EQ(0, defineParam(root, &tag, &ch, 1, "v", PARAM_UINT16, 1));
        ASSERT_EQ(0, root->finishDefinition(false));
        ASSERT_EQ(0, root->installCollectionHandler(&ch, 1, &removed));
        ASSERT_EQ(0, root->removeCollectionHandlerByName("ch", 2));
        ICollectionHandler* got = &removed;
        ASSERT_EQ(0, root->getCollectionHandlerByName(&got, "ch", 2));
        EXPECT_EQ(nullptr, got);
    }
    EXPECT_TRUE(removed.log.empty());
}

TEST(RootHandlers, ImportRunsHandlersOnlyWhenAsked)
{
    RootList sourceList;
    Root* other = defineMixer(sourceList, "other");
    setSample(other);
    uint32_t size = 0;
    ASSERT_EQ(0, other->getImageSize(&size, nullptr, 0));
    std::vector<uint8_t> image(size);
    uint32_t length = 0;
    ASSERT_EQ(0, other->exportImage(image.data(), &length, size, nullptr, nullptr, 0, IMAGE_ORDER_HOST));

    struct Case {
        uint32_t flags;
        bool secondImport; // nothing changes the second time
        std::vector<uint32_t> elements;
    };
    const Case cases[] = {
        {0, false, {}},
        {IMPORT_RUN_HANDLERS, false, {0, 0, 1, 2, 2}}, // vol and pan of each element; pan 1 stays 0
        {IMPORT_RUN_HANDLERS, true, {}},
    };
    for (const Case& c : cases) {
        Handler handler;
        RootList list;
        Root* root = defineWithHandler(list, &handler);
        if (c.secondImport) {
            ASSERT_GE(root->importImageCopy(image.data(), size, nullptr, 0, 0, WriterOptions()), 0);
        }
        ASSERT_GE(root->importImageCopy(image.data(), size, nullptr, 0, c.flags, WriterOptions()), 0);
        EXPECT_EQ(c.elements, handler.elements) << c.flags;
        expectSample(root);
    }

    // A failing handler fails the import (the values are in).
    Handler failing;
    failing.answer = -1;
    RootList list;
    Root* root = defineWithHandler(list, &failing);
    EXPECT_EQ(MMS_E_INNER, root->importImageCopy(image.data(), size, nullptr, 0, IMPORT_RUN_HANDLERS, WriterOptions()));
}

TEST(RootInfo, SubtreeInfo)
{
    RootList list;
    Root* root = defineMixer(list);
    setSample(root);
    FunctionInfo whole, sub;
    ASSERT_EQ(0, root->getFunctionInfo(&whole));
    ASSERT_EQ(0, root->getSubtreeInfo(&sub, nullptr, 0));
    EXPECT_EQ(whole.data, sub.data);
    EXPECT_EQ(whole.dataSize, sub.dataSize);
    EXPECT_EQ(whole.definitionSize, sub.definitionSize);
    EXPECT_EQ(whole.sourceCount, sub.sourceCount);

    ASSERT_EQ(0, root->getSubtreeInfoByName(&sub, "ch", 2));
    EXPECT_STREQ("ch", sub.name);
    EXPECT_EQ(root->data() + 23, sub.data);
    EXPECT_EQ(18u, sub.dataSize);
    EXPECT_EQ(48u + 64u, sub.definitionSize);
    EXPECT_EQ(0, std::memcmp(sub.definition, "COL", 3));
    EXPECT_EQ(0, std::memcmp(sub.definition + 4, "ch", 3));
    EXPECT_EQ(root->sources() + 19, sub.sources);
    EXPECT_EQ(9u, sub.sourceCount);
    EXPECT_EQ(whole.handlers + 1, sub.handlers);
    EXPECT_EQ(1u, sub.handlerCount);
    EXPECT_EQ(2u, sub.parameterCount);
    EXPECT_EQ(6u, sub.elementCount);
    EXPECT_EQ(65535u, imageLoad16(sub.data + 12));

    const uint32_t toParameter[] = {1};
    EXPECT_EQ(MMS_E_PATH, root->getSubtreeInfo(&sub, toParameter, 1));
    // Nodes made one by one are not one block: refused.
    RootList loose;
    ASSERT_EQ(0, loose.define("l", "L", 0, 0, 0));
    Root* l = loose.find("l");
    uint32_t tag = 0;
    ASSERT_EQ(0, defineParam(l, &tag, nullptr, 0, "a", PARAM_UINT8, 1));
    ASSERT_EQ(0, l->activate(false));
    EXPECT_EQ(MMS_E_STATE, l->getSubtreeInfo(&sub, nullptr, 0));
}

TEST(RootAddressing, NamePathTwins)
{
    RootList list;
    Root* root = defineMixer(list);
    setSample(root);
    ASSERT_EQ(0, root->addKey(1, 0, 1));
    uint32_t byTag = 0, byName = 0;
    ASSERT_EQ(0, root->getImageSize(&byTag, kCh, 1, true));
    ASSERT_EQ(0, root->getImageSizeByName(&byName, "/ch", 3, true));
    EXPECT_EQ(byTag, byName);

    JVariant v(uint32_t{70000});
    EXPECT_EQ(0x200, root->convertValueByName(&v, "ch/vol", 6, 0));
    EXPECT_EQ(65535u, v.toInteger());

    JLIB::JVariantArray range(JLIB::JVARIANT_UINT32, 2, 3);
    const uint32_t first[] = {0, 0}, last[] = {2, 0};
    ASSERT_GE(root->getValueRangeByName(&range, "ch/vol", 6, first, last, 2), 0);
    JVariant second;
    ASSERT_GE(range.get(&second, 1), 0);
    EXPECT_EQ(2000u, second.toInteger());

    char path[64];
    uint32_t indexes[5], count = 0;
    ASSERT_EQ(0, root->getNextElementByName(path, sizeof path, indexes, &count, 5, "trim", 4, first, 1, false));
    EXPECT_STREQ("ch/vol", path);
    // The function's bit, element 2's own bit (25) and its pan (27).
    uint8_t bits[4] = {};
    mms_setBit(bits, 0);
    mms_setBit(bits, 25);
    mms_setBit(bits, 27);
    ASSERT_EQ(0,
        root->getNextMarkedByName(path, sizeof path, indexes, &count, 5, nullptr, 0, nullptr, 0, bits, 0, true, true));
    EXPECT_STREQ("/ch/pan", path);
    EXPECT_EQ(2u, indexes[0]);
    EXPECT_EQ(std::vector<uint8_t>(4, 0), std::vector<uint8_t>(bits, bits + 4));

    bool marked = true;
    const uint32_t zero[] = {0};
    EXPECT_EQ(0, root->isImportMarkedByName(&marked, "ch", 2, zero, 1, false, 1));
    EXPECT_FALSE(marked);
    uint32_t tags[5];
    EXPECT_EQ(0, root->resolvePath("ch/pan", 6, tags, &count));
    EXPECT_EQ(2u, count);
    EXPECT_EQ(MMS_E_NO_MATCH, root->resolvePath("ch/nope", 7, tags, &count));
}
