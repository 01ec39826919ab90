// The field interface through the locked field: lifecycle and states, keys
// and the trigger, values and change walks, attributes, images, the
// multi-function image (also against the independent python peer), and the
// copies between functions and fields.

#include "mms/mms_lockedfield.h"

#include "mms/mms_image.h"
#include "mms/mms_loader.h"
#include "pbd/jlib/jvariant.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace MMS;
using JLIB::JVariant;
using Bytes = std::vector<uint8_t>;

namespace {

struct Call {
    uint32_t own;
    uint32_t key;
};

class RecordingTrigger : public IEventFlagTrigger {
public:
    JResult trigger(uint32_t own, uint32_t key, const TaskListIdentity&) override
    {
        calls.push_back(Call{own, key});
        return 0;
    }
    std::vector<Call> calls;
};

JResult load(IField* field, const char* listName, const char* file)
{
    const std::string text = qtest::readFile(qtest::sourcePath(std::string("tests/mms/layouts/") + file));
    return mms_loadDefinitionFromMemory(field, nullptr, 0, listName, static_cast<uint32_t>(strlen(listName) + 1),
        text.data(), static_cast<uint32_t>(text.size()), LOAD_ACTIVATE);
}

uint32_t len(const char* text)
{
    return static_cast<uint32_t>(strlen(text));
}

WriterOptions writer(uint32_t key, bool own = false, uint8_t source = 1)
{
    WriterOptions w;
    w.key = key;
    w.own = own;
    w.source = source;
    return w;
}

JResult set(IField* f, const char* function, const char* path, std::vector<uint32_t> idx, const JVariant& v,
    const WriterOptions& w = WriterOptions())
{
    return f->setValueByName(v, function, path, len(path), idx.data(), static_cast<uint32_t>(idx.size()), w);
}

JVariant get(IField* f, const char* function, const char* path, std::vector<uint32_t> idx)
{
    JVariant v;
    EXPECT_GE(f->getValueByName(
                  &v, nullptr, function, path, len(path), idx.data(), static_cast<uint32_t>(idx.size()), false, 0),
        0)
        << path;
    return v;
}

int32_t getInt(IField* f, const char* function, const char* path, std::vector<uint32_t> idx)
{
    return static_cast<int32_t>(get(f, function, path, idx).toInteger());
}

// A unit's field: two functions of the mixer layout and one of the device state.
class FieldTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, load(&field, "Other", "mixer.xml"));
        ASSERT_EQ(0, load(&field, "Mixer", "mixer.xml"));
        ASSERT_EQ(0, load(&field, "dev", "devstate.xml"));
        trigger.calls.clear();
    }

    void setSample(IField* f, const char* function)
    {
        set(f, function, "gain", {1}, JVariant(int32_t{1200}));
        set(f, function, "level", {0}, JVariant(uint32_t{0xDEADBEEF}));
        set(f, function, "label", {0}, JVariant("Main Out", 9));
        set(f, function, "ch/pan", {2, 0}, JVariant(int32_t{-70000}));
        set(f, function, "mute", {9}, JVariant(uint32_t{1}));
    }

    void expectSample(IField* f, const char* function)
    {
        EXPECT_EQ(1200, getInt(f, function, "gain", {1}));
        EXPECT_EQ(0xDEADBEEFu, get(f, function, "level", {0}).toInteger());
        EXPECT_STREQ("Main Out", get(f, function, "label", {0}).getString());
        EXPECT_EQ(-70000, getInt(f, function, "ch/pan", {2, 0}));
        EXPECT_EQ(1, getInt(f, function, "mute", {9}));
    }

    RecordingTrigger trigger;
    RecursiveMutex mutex;
    Field field{&trigger, &mutex};
};

} // namespace

TEST_F(FieldTest, StatesAndFunctionSelection)
{
    EXPECT_EQ(&mutex, field.getMutex());
    EXPECT_EQ(&trigger, field.getTrigger());
    Base plain(nullptr);
    EXPECT_EQ(nullptr, plain.getMutex());
    EXPECT_EQ(MMS_E_INNER, plain.copyFunction("a", "b", 0, 0));

    uint32_t count = 0;
    ASSERT_EQ(0, field.getFunctionCount(&count));
    EXPECT_EQ(3u, count);
    char names[3 * MMS_NAME_SIZE] = {};
    EXPECT_EQ(MMS_E_ARG, field.listFunctions(names, 2)); // a list that does not fit
    ASSERT_EQ(0, field.listFunctions(names, 3));
    EXPECT_STREQ("Mixer", names + MMS_NAME_SIZE);
    EXPECT_STREQ("dev", names + 2 * MMS_NAME_SIZE);

    // Null selects the first function; unknown names are not found.
    set(&field, "Other", "gain", {0}, JVariant(int32_t{-5}));
    EXPECT_EQ(-5, getInt(&field, nullptr, "gain", {0}));
    JVariant v;
    const uint32_t zero[] = {0};
    EXPECT_EQ(MMS_E_PATH, field.getValueByName(&v, nullptr, "none", "gain", 4, zero, 1, false, 0));

    // A second activate does nothing; a reopened field refuses data operations.
    EXPECT_EQ(0, field.activate(true));
    ASSERT_EQ(0, field.reopenDefinition());
    EXPECT_EQ(MMS_E_STATE, field.getValueByName(&v, nullptr, "Mixer", "gain", 4, zero, 1, false, 0));
    EXPECT_EQ(MMS_E_STATE, set(&field, "Mixer", "gain", {0}, JVariant(int32_t{1})));
    EXPECT_EQ(MMS_E_STATE, field.addNotifier(0, 1, 1, false));
    ASSERT_EQ(0, field.activate(true));
    EXPECT_EQ(-5, getInt(&field, "Other", "gain", {0}));

    // Removing a function fires the trigger and returns the field to active.
    ASSERT_EQ(0, field.reopenDefinition());
    trigger.calls.clear();
    ASSERT_EQ(0, field.removeFunction("Other"));
    EXPECT_EQ(1u, trigger.calls.size());
    uint8_t state = 0;
    field.getState(&state);
    EXPECT_EQ(FIELD_ACTIVE, state);
    field.getFunctionCount(&count);
    EXPECT_EQ(2u, count);
}

TEST_F(FieldTest, KeysTriggerAndChangeWalks)
{
    EXPECT_EQ(MMS_E_ARG, field.addNotifier(0, 0, 1, false));
    EXPECT_EQ(MMS_E_ARG, field.addNotifier(0, 0xFFFFFFFFu, 1, false));
    ASSERT_EQ(0, field.addNotifier(0, 1, 1, false));
    ASSERT_EQ(0, field.addNotifier(0, 2, 1, false));
    EXPECT_EQ(MMS_E_EXISTS, field.addNotifier(0, 1, 1, false));

    // Key 2 writes without marking its own pages; the trigger names it.
    EXPECT_EQ(MMS_CHANGED, set(&field, "Mixer", "ch/vol", {1, 0}, JVariant(uint32_t{7}), writer(2)));
    ASSERT_EQ(1u, trigger.calls.size());
    EXPECT_EQ(2u, trigger.calls[0].key);
    EXPECT_EQ(0u, trigger.calls[0].own);
    // An unchanged value fires nothing.
    EXPECT_EQ(0, set(&field, "Mixer", "ch/vol", {1, 0}, JVariant(uint32_t{7}), writer(2)));
    EXPECT_EQ(1u, trigger.calls.size());

    char path[64];
    uint32_t idx[MMS_MAX_DEPTH], count = 0;
    EXPECT_EQ(MMS_E_NO_MATCH,
        field.getNextChangedByName(
            path, sizeof path, idx, &count, MMS_MAX_DEPTH, "Mixer", "", 0, nullptr, 0, true, 2, false));
    ASSERT_EQ(0,
        field.getNextChangedByName(
            path, sizeof path, idx, &count, MMS_MAX_DEPTH, "Mixer", "", 0, nullptr, 0, true, 1, false));
    EXPECT_STREQ("ch/vol", path);
    EXPECT_EQ(1u, idx[0]);
    EXPECT_EQ(MMS_E_NO_MATCH,
        field.getNextChangedByName(
            path, sizeof path, idx, &count, MMS_MAX_DEPTH, "Mixer", "", 0, nullptr, 0, true, 1, false));

    // isChanged and getValue with the clear flag.
    uint8_t changed = 0;
    const uint32_t at[] = {2, 0};
    ASSERT_EQ(MMS_CHANGED, set(&field, "dev", "ch/Pan", {2, 0}, JVariant(int32_t{-3}), writer(2)));
    ASSERT_EQ(0, field.isChangedByName(&changed, "dev", "ch/Pan", 6, at, 2, false, 1));
    EXPECT_EQ(1, changed);
    JVariant v;
    EXPECT_EQ(MMS_CHANGED, field.getValueByName(&v, nullptr, "dev", "ch/Pan", 6, at, 2, true, 1));
    ASSERT_EQ(0, field.isChangedByName(&changed, "dev", "ch/Pan", 6, at, 2, false, 1));
    EXPECT_EQ(0, changed);

    // notify-now marks every element of every function once.
    trigger.calls.clear();
    ASSERT_EQ(0, field.addNotifier(0, 3, 1, true));
    EXPECT_EQ(1u, trigger.calls.size());
    uint32_t elements = 0;
    ASSERT_EQ(0, field.getElementCount(&elements, "dev"));
    uint32_t found = 0;
    uint32_t tags[MMS_MAX_DEPTH], prevTags[MMS_MAX_DEPTH], prevIdx[MMS_MAX_DEPTH], prevCount = 0;
    while (found <= elements
        && field.getNextChanged(tags, idx, &count, MMS_MAX_DEPTH, "dev", prevTags, prevIdx, prevCount, true, 3) == 0) {
        ++found;
        std::memcpy(prevTags, tags, sizeof tags);
        std::memcpy(prevIdx, idx, sizeof idx);
        prevCount = count;
    }
    EXPECT_EQ(elements, found);

    ASSERT_EQ(0, field.removeNotifier(3));
    EXPECT_EQ(0, field.removeNotifier(3)); // unknown now: nothing to do
    EXPECT_EQ(0, field.addNotifier(0, 3, 1, false));
}

TEST_F(FieldTest, AttributesAndAddressing)
{
    uint32_t n = 0;
    ASSERT_EQ(0, field.getChildCountByName(&n, "dev", "ch", 2));
    EXPECT_EQ(3u, n);
    char name[MMS_NAME_SIZE];
    // Children are numbered parameters first, then collections.
    ASSERT_EQ(0, field.getChildNameByName(name, "Mixer", "", 0, 6));
    EXPECT_STREQ("ch", name);
    ASSERT_EQ(0, field.getChildNameByName(name, "Mixer", "ch", 2, 1));
    EXPECT_STREQ("pan", name);
    EXPECT_EQ(MMS_E_PATH, field.getChildNameByName(name, "Mixer", "ch", 2, 2));

    bool isParameter = true;
    ASSERT_EQ(0, field.isParameterByName(&isParameter, "dev", "devstate", 8));
    EXPECT_FALSE(isParameter);

    ParameterAttributes a;
    ASSERT_EQ(0, field.getAttributesByName(&a, "dev", "devstate/Label", 14));
    EXPECT_EQ(uint32_t{PARAM_STRING}, a.type);
    EXPECT_EQ(JLIB::JVARIANT_EMPTY, a.minimum.type()); // strings have no minimum or step
    EXPECT_EQ(JLIB::JVARIANT_EMPTY, a.step.type());
    EXPECT_STREQ("0", a.defaultValue.getString());
    EXPECT_LT(field.getAttributesByName(&a, "dev", "devstate/None", 13), 0);

    uint32_t tags[MMS_MAX_DEPTH], count = 0;
    ASSERT_EQ(0, field.resolveNamePath(tags, &count, MMS_MAX_DEPTH, "dev", "devstate/Trim", 13));
    char path[48];
    ASSERT_EQ(0, field.buildNamePath(path, sizeof path, "dev", tags, count, true));
    EXPECT_STREQ("/devstate/Trim", path);
    JVariant real;
    real = 2.0f;
    EXPECT_GE(field.convertValue(&real, "dev", tags, count, 0), 0);
    EXPECT_FLOAT_EQ(1.5f, real.toFloat()); // clamped to the maximum
}

TEST_F(FieldTest, ImageRoundTripAndTrigger)
{
    setSample(&field, "Mixer");
    uint32_t size = 0;
    ASSERT_EQ(0, field.getImageSize(&size, "Mixer", nullptr, 0));
    Bytes image(size);
    uint32_t length = 0;
    ASSERT_EQ(0, field.exportImage(image.data(), &length, size, "Mixer", nullptr, nullptr, 0, IMAGE_ORDER_BIG));
    EXPECT_EQ(size, length);

    RecordingTrigger otherTrigger;
    Field other(&otherTrigger, nullptr); // no locking at all
    ASSERT_EQ(0, load(&other, "Mixer", "mixer.xml"));
    otherTrigger.calls.clear();
    Bytes copy = image;
    // Changed or not, the import answers 0; only the trigger tells.
    EXPECT_EQ(0, other.importImageCopy(copy.data(), length, nullptr, 0, "Mixer", nullptr, nullptr, 0, 0, writer(4)));
    EXPECT_EQ(image, copy); // the copying form leaves the buffer alone
    EXPECT_EQ(1u, otherTrigger.calls.size());
    expectSample(&other, "Mixer");
    EXPECT_EQ(0, other.importImage(copy.data(), length, nullptr, 0, "Mixer", nullptr, nullptr, 0, 0, writer(4)));
    EXPECT_EQ(1u, otherTrigger.calls.size());

    set(&other, "Mixer", "gain", {1}, JVariant(int32_t{0}));
    otherTrigger.calls.clear();
    Bytes again = image;
    EXPECT_EQ(0,
        other.importImage(
            again.data(), length, nullptr, 0, "Mixer", nullptr, nullptr, 0, IMPORT_NO_TRIGGER, writer(4)));
    EXPECT_TRUE(otherTrigger.calls.empty());
    EXPECT_EQ(1200, getInt(&other, "Mixer", "gain", {1}));

    // A truncated image is refused and changes nothing.
    set(&other, "Mixer", "gain", {1}, JVariant(int32_t{9}));
    Bytes cut(image.begin(), image.end() - 1);
    EXPECT_EQ(
        MMS_E_ARG, other.importImage(cut.data(), length - 1, nullptr, 0, "Mixer", nullptr, nullptr, 0, 0, writer(4)));
    EXPECT_EQ(9, getInt(&other, "Mixer", "gain", {1}));
}

TEST_F(FieldTest, CollectionElementImagesAndSubtreeInformation)
{
    setSample(&field, "Other");
    // Element 2 of "ch" in one function goes into element 0 of another.
    const uint32_t two = 2, zero = 0;
    uint32_t size = 0;
    ASSERT_EQ(0, field.getImageSizeByName(&size, "Other", "ch", 2));
    Bytes image(size);
    uint32_t length = 0;
    ASSERT_EQ(0, field.exportImageByName(image.data(), &length, size, "Other", "ch", 2, &two, 1, IMAGE_ORDER_HOST));
    ASSERT_EQ(0, getInt(&field, "Mixer", "ch/pan", {0, 0}));
    EXPECT_EQ(0, field.importImageByName(image.data(), length, nullptr, 0, "Mixer", "ch", 2, &zero, 1, 0, writer(4)));
    EXPECT_EQ(-70000, getInt(&field, "Mixer", "ch/pan", {0, 0}));
    EXPECT_EQ(0, getInt(&field, "Mixer", "ch/pan", {2, 0}));

    FunctionInfo whole, sub;
    ASSERT_EQ(0, field.getSubtreeInfo(&whole, "Mixer", nullptr, 0));
    ASSERT_EQ(0, field.getSubtreeInfoByName(&sub, "Mixer", "ch", 2));
    EXPECT_GT(sub.dataSize, 0u);
    EXPECT_LT(sub.dataSize, whole.dataSize);
}

TEST_F(FieldTest, MultiFunctionImageRoundTrip)
{
    setSample(&field, "Mixer");
    set(&field, "dev", "devstate/Gain", {0, 3}, JVariant(int32_t{-40}));
    uint32_t total = 0;
    ASSERT_EQ(0, field.getTotalImageSize(&total));
    for (int order : {IMAGE_ORDER_HOST, IMAGE_ORDER_LITTLE, IMAGE_ORDER_BIG}) {
        SCOPED_TRACE(order);
        Bytes all(total);
        uint32_t length = 0;
        ASSERT_EQ(0, field.exportAll(all.data(), &length, total, order));
        EXPECT_EQ(total, length);
        EXPECT_EQ(0, std::memcmp(all.data(), "MDF\x30", 4));

        Field copy(nullptr, nullptr);
        ASSERT_EQ(0, load(&copy, "Other", "mixer.xml"));
        ASSERT_EQ(0, load(&copy, "Mixer", "mixer.xml"));
        ASSERT_EQ(0, load(&copy, "dev", "devstate.xml"));
        ASSERT_EQ(0, copy.importAllCopy(all.data(), length, nullptr, 0, writer(1)));
        expectSample(&copy, "Mixer");
        EXPECT_EQ(-40, getInt(&copy, "dev", "devstate/Gain", {0, 3}));
    }

    Bytes all(total);
    uint32_t length = 0;
    EXPECT_EQ(MMS_E_ARG, field.exportAll(all.data(), &length, total, 3));
    EXPECT_EQ(MMS_E_ARG, field.exportAll(all.data(), &length, 47, IMAGE_ORDER_HOST));
    // Too small for every function: a failure, never a shortened image.
    EXPECT_LT(field.exportAll(all.data(), &length, total - 1, IMAGE_ORDER_HOST), 0);
}

// The exports with every argument of the interface, through the locked field:
// a whole collection, and a key's marks cleared by the export.
TEST_F(FieldTest, ExportsTakeTheirFullArguments)
{
    uint32_t one = 0, whole = 0;
    ASSERT_EQ(0, field.getImageSizeByName(&one, "Mixer", "ch", 2, false));
    ASSERT_EQ(0, field.getImageSizeByName(&whole, "Mixer", "ch", 2, true));
    EXPECT_GT(whole, one);
    const uint32_t chTag[] = {6}; // after the six parameters
    uint32_t byTags = 0;
    ASSERT_EQ(0, field.getImageSize(&byTags, "Mixer", chTag, 1, true));
    EXPECT_EQ(whole, byTags);

    set(&field, "Mixer", "ch/pan", {2, 0}, JVariant(int32_t{-70000}));
    ExportOptions wholeCh;
    wholeCh.wholeCollection = true;
    Bytes image(whole);
    uint32_t length = 0;
    const uint32_t first[] = {0, 0};
    ASSERT_EQ(0, field.exportImageByName(image.data(), &length, whole, "Mixer", "ch", 2, first, 2, 1, wholeCh));
    EXPECT_EQ(whole, length);
    ASSERT_EQ(0, field.exportImage(image.data(), &length, whole, "Mixer", chTag, first, 1, 1, wholeCh));
    EXPECT_EQ(whole, length);
    // The whole collection goes into a fresh function, element 2 included.
    Field copy(nullptr, nullptr);
    ASSERT_EQ(0, load(&copy, "Mixer", "mixer.xml"));
    ASSERT_GE(copy.importImageByName(image.data(), length, nullptr, 0, "Mixer", "ch", 2, first, 2, 0, writer(1)), 0);
    EXPECT_EQ(-70000, getInt(&copy, "Mixer", "ch/pan", {2, 0}));

    // exportAll with the clear flag takes key 1's marks away, and only when
    // asked.
    ASSERT_EQ(0, field.addNotifier(0, 1, 1, false));
    ASSERT_EQ(MMS_CHANGED, set(&field, "Mixer", "gain", {1}, JVariant(int32_t{5}), writer(2)));
    const uint32_t at[] = {1};
    uint8_t changed = 0;
    uint32_t total = 0;
    ASSERT_EQ(0, field.getTotalImageSize(&total));
    Bytes all(total);
    ASSERT_EQ(0, field.exportAll(all.data(), &length, total, false, IMAGE_ORDER_HOST, 1));
    ASSERT_EQ(0, field.isChangedByName(&changed, "Mixer", "gain", 4, at, 1, false, 1));
    EXPECT_EQ(1, changed);
    // Too small a buffer: refused before any function's marks are cleared.
    EXPECT_EQ(MMS_E_ARG, field.exportAll(all.data(), &length, total - 1, true, IMAGE_ORDER_HOST, 1));
    ASSERT_EQ(0, field.isChangedByName(&changed, "Mixer", "gain", 4, at, 1, false, 1));
    EXPECT_EQ(1, changed);
    ASSERT_EQ(0, field.exportAll(all.data(), &length, total, true, IMAGE_ORDER_HOST, 1));
    EXPECT_EQ(total, length);
    ASSERT_EQ(0, field.isChangedByName(&changed, "Mixer", "gain", 4, at, 1, false, 1));
    EXPECT_EQ(0, changed);
    EXPECT_EQ(MMS_E_ARG, field.exportAll(all.data(), &length, total, true, IMAGE_ORDER_HOST, 9)) << "unregistered key";
}

TEST_F(FieldTest, CorruptMultiFunctionImagesChangeNothing)
{
    setSample(&field, "Mixer");
    uint32_t total = 0;
    ASSERT_EQ(0, field.getTotalImageSize(&total));
    Bytes good(total);
    uint32_t length = 0;
    ASSERT_EQ(0, field.exportAll(good.data(), &length, total, IMAGE_ORDER_LITTLE));

    Field target(nullptr, nullptr);
    ASSERT_EQ(0, load(&target, "Other", "mixer.xml"));
    ASSERT_EQ(0, load(&target, "Mixer", "mixer.xml"));
    ASSERT_EQ(0, load(&target, "dev", "devstate.xml"));

    const uint8_t* lengthField = good.data() + 48 + 28; // little-endian, as exported
    const uint32_t firstImage
        = lengthField[0] | lengthField[1] << 8 | lengthField[2] << 16 | uint32_t{lengthField[3]} << 24;
    const size_t second = 48 + 32 + firstImage;
    struct Damage {
        const char* what;
        size_t offset;
        uint8_t value;
        uint32_t length;
    };
    const Damage damages[] = {
        {"header magic", 0, 'X', length},
        {"byte-order mark", 4, 'Q', length},
        {"second record magic", second + 2, 'X', length},
        {"second record length below 32", second + 3, 8, length},
        {"last image runs past the end", 0, 'M', length - 1}, // magic unchanged, one byte short
        {"image length past the end", second + 31, 0x7F, length},
        {"second image's own magic", second + 32, 'X', length},
        {"second image's definition block", second + 32 + 88 + 2, 'X', length},
        // Corrupt bundles that once imported what was there and answered 0.
        {"count beyond the records present", 44, static_cast<uint8_t>(good[44] + 1), length},
        {"bundle cut after the first function", 0, 'M', static_cast<uint32_t>(second)},
        {"header length 0", 3, 0, length},
        {"header length below its fixed size", 3, 47, length},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        Bytes bad = good;
        bad[d.offset] = d.value;
        EXPECT_EQ(MMS_E_ARG, target.importAll(bad.data(), d.length, nullptr, 0, writer(1)));
        EXPECT_EQ(0, getInt(&target, "Other", "gain", {1})); // the first function was not touched either
        EXPECT_EQ(0, getInt(&target, "Mixer", "gain", {1}));
    }

    // Only the function the path names.
    Bytes one = good;
    ASSERT_EQ(0, target.importAll(one.data(), length, "/Mixer/gain", 11, writer(1)));
    expectSample(&target, "Mixer");
    Bytes none = good;
    EXPECT_EQ(MMS_E_NO_MATCH, target.importAll(none.data(), length, "/Nobody", 7, writer(1)));
}

TEST_F(FieldTest, MultiFunctionImageAgainstPeer)
{
    qtest::TempDir dir;
    // The peer's bundle: "Other" and "Mixer", both its sample function.
    for (const char* order : {"LIT", "BIG"}) {
        SCOPED_TRACE(order);
        const std::string file = dir.file(std::string("bundle-") + order);
        ASSERT_EQ(0, qtest::runCommand("python3 " + qtest::peerPath("mms_image.py") + " bundle " + order + " " + file));
        const std::string bytes = qtest::readFile(file);
        Bytes buffer(bytes.begin(), bytes.end());
        ASSERT_EQ(0, field.importAll(buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr, 0, writer(1)));
        for (const char* function : {"Other", "Mixer"}) {
            EXPECT_EQ(-300, getInt(&field, function, "gain", {0}));
            EXPECT_EQ(0xDEADBEEFu, get(&field, function, "level", {0}).toInteger());
            EXPECT_STREQ("Main Out", get(&field, function, "label", {0}).getString());
            EXPECT_FLOAT_EQ(-2.5f, get(&field, function, "trim", {0}).toFloat());
            EXPECT_EQ(1, getInt(&field, function, "mute", {9}));
            EXPECT_EQ(65535, getInt(&field, function, "ch/vol", {2, 0}));
            EXPECT_EQ(-70000, getInt(&field, function, "ch/pan", {0, 0}));
        }
    }

    // And the peer reads ours.
    uint32_t total = 0;
    ASSERT_EQ(0, field.getTotalImageSize(&total));
    Bytes all(total);
    uint32_t length = 0;
    ASSERT_EQ(0, field.exportAll(all.data(), &length, total, IMAGE_ORDER_BIG));
    const std::string file = dir.file("ours");
    ASSERT_TRUE(qtest::writeFile(file, std::string(all.begin(), all.end())));
    std::string out;
    ASSERT_EQ(0, qtest::runCommand("python3 " + qtest::peerPath("mms_image.py") + " dumpall " + file, &out));
    EXPECT_NE(std::string::npos, out.find("functions=3\n"));
    EXPECT_NE(std::string::npos, out.find("function=dev\n"));
    EXPECT_NE(std::string::npos, out.find("/ch[2]/pan[0]=2147483647"));
    EXPECT_NE(std::string::npos, out.find("/devstate[0]/Gain[2]=-6"));
}

TEST_F(FieldTest, CopiesBetweenFunctionsAndFields)
{
    setSample(&field, "Other");
    EXPECT_EQ(MMS_E_ARG, field.copyFunction(nullptr, nullptr, 0, 0));
    EXPECT_EQ(MMS_E_ARG, field.copyFunction("Mixer", "Mixer", 0, 0));
    // Null is the first function, "Other": that is a copy onto itself.
    EXPECT_EQ(MMS_E_ARG, field.copyFunction(nullptr, "Other", 0, 0));
    EXPECT_LT(field.copyFunction("Nobody", "Mixer", 0, 0), 0);
    EXPECT_LT(field.copyFunction("Other", "dev", 0, 0), 0); // another layout
    EXPECT_EQ(0, getInt(&field, "Mixer", "gain", {1}));

    ASSERT_GE(field.copyFunction(nullptr, "Mixer", IMAGE_TRACK_CHANGES, 0), 0);
    expectSample(&field, "Mixer");

    RecursiveMutex otherMutex;
    Field other(nullptr, &otherMutex);
    ASSERT_EQ(0, load(&other, "Mixer", "mixer.xml"));
    EXPECT_EQ(MMS_E_ARG, field.copyFunctionTo("Other", nullptr, "Mixer", 0, 0));
    EXPECT_EQ(MMS_E_ARG, field.copyFunctionToLocked("Other", nullptr, "Mixer", 0, 0));
    EXPECT_LT(field.copyFunctionTo("Nobody", &other, "Mixer", 0, 0), 0);
    ASSERT_GE(field.copyFunctionTo("Other", &other, "Mixer", 0, 0), 0);
    expectSample(&other, "Mixer");
    set(&other, "Mixer", "gain", {1}, JVariant(int32_t{5}));
    ASSERT_GE(other.copyFunctionToLocked(nullptr, &field, "Other", 0, 0), 0);
    EXPECT_EQ(5, getInt(&field, "Other", "gain", {1}));
}
