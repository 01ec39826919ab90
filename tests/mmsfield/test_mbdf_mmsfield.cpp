// The "#MMS FIELD" block: a function's image through a setup container and
// back into a fresh field, against the independent python peer both ways,
// and damaged or oversized images refused without touching the field.

#include "mmsfield/mmsfield_block.h"

#include "mms/mms_image.h"
#include "mms/mms_loader.h"
#include "mms/mms_lockedfield.h"
#include "pbd/jlib/jvariant.h"
#include "tests/pbd/FileCache/test_mbdf_util.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace FILECACHE;
using namespace MMSFUNC;
using JLIB::JVariant;
using mbdftest::block;
using mbdftest::endBlock;
using Bytes = std::vector<uint8_t>;

namespace {

uint32_t len(const char* text)
{
    return static_cast<uint32_t>(std::strlen(text));
}

JResult loadText(MMS::IField* field, const char* function, const std::string& text)
{
    return MMS::mms_loadDefinitionFromMemory(field, nullptr, 0, function, len(function) + 1, text.data(),
        static_cast<uint32_t>(text.size()), MMS::LOAD_ACTIVATE);
}

// The mixer layout: bits, signed and unsigned integers, text, a real and a
// collection array, so that every swap class travels through the block.
JResult loadMixer(MMS::IField* field, const char* function)
{
    return loadText(field, function, qtest::readFile(qtest::sourcePath("tests/mms/layouts/mixer.xml")));
}

JResult set(MMS::IField* f, const char* function, const char* path, std::vector<uint32_t> idx, const JVariant& v)
{
    MMS::WriterOptions w;
    w.source = 1;
    return f->setValueByName(v, function, path, len(path), idx.data(), static_cast<uint32_t>(idx.size()), w);
}

JVariant get(MMS::IField* f, const char* function, const char* path, std::vector<uint32_t> idx)
{
    JVariant v;
    EXPECT_GE(f->getValueByName(
                  &v, nullptr, function, path, len(path), idx.data(), static_cast<uint32_t>(idx.size()), false, 0),
        0)
        << function << " " << path;
    return v;
}

// Values of up to 32 bits, signed ones read back as such.
int32_t getInt(MMS::IField* f, const char* function, const char* path, std::vector<uint32_t> idx)
{
    return static_cast<int32_t>(get(f, function, path, idx).toInteger());
}

Bytes exportFunction(MMS::IField* f, const char* function)
{
    uint32_t size = 0;
    EXPECT_EQ(0, f->getImageSizeByName(&size, function, nullptr, 0));
    Bytes image(size);
    uint32_t length = 0;
    EXPECT_EQ(0, f->exportImageByName(image.data(), &length, size, function, nullptr, 0, nullptr, 0, 1));
    image.resize(length);
    return image;
}

JResult importBlock(MMS::IField* f, const char* function, const uint8_t* image, uint32_t length)
{
    MMS::WriterOptions w;
    w.source = 2;
    return f->importImageCopyByName(image, length, nullptr, 0, function, nullptr, 0, nullptr, 0, 0, w);
}

std::string toString(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

MBDFMMSFieldBlock* fieldBlockAt(const MBDF& container, MBDF::Position position)
{
    return dynamic_cast<MBDFMMSFieldBlock*>(&container.blockAt(position));
}

std::string peer(const std::string& args, int* status)
{
    std::string out;
    *status = qtest::runCommand("python3 " + qtest::peerPath("mbdf_mmsfield.py") + " " + args, &out);
    return out;
}

// A unit's memory with two functions of the mixer layout, "Mixer" holding
// distinct values in every kind of parameter.
class MMSFieldBlockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mbdf_registerMMSFieldBlockFactory();
        ASSERT_EQ(0, loadMixer(&field, "Mixer"));
        ASSERT_EQ(0, loadMixer(&field, "Other"));
        ASSERT_GE(set(&field, "Mixer", "flags", {2}, JVariant(uint32_t{1})), 0);
        ASSERT_GE(set(&field, "Mixer", "gain", {1}, JVariant(int32_t{-1200})), 0);
        ASSERT_GE(set(&field, "Mixer", "level", {0}, JVariant(uint32_t{0xDEADBEEF})), 0);
        ASSERT_GE(set(&field, "Mixer", "label", {0}, JVariant("Main Out", 9)), 0);
        ASSERT_GE(set(&field, "Mixer", "ch/pan", {2, 0}, JVariant(int32_t{-70000})), 0);
        ASSERT_GE(set(&field, "Other", "ch/vol", {1, 0}, JVariant(uint32_t{4321})), 0);
    }

    // A setup container of kind 4 with one block per function.
    void writeSetup(const std::string& path, std::vector<std::pair<const char*, const char*>> blocks)
    {
        MBDF container(4);
        ASSERT_EQ(0, container.setTop("Setup", "unit", "v001", "x", 1));
        for (const auto& b : blocks) {
            auto fieldBlock = std::make_unique<MBDFMMSFieldBlock>();
            ASSERT_EQ(0, fieldBlock->setField(b.first, &field, b.second));
            ASSERT_EQ(0, container.append(std::move(fieldBlock)));
        }
        ASSERT_EQ(0, container.write(path.c_str(), nullptr, nullptr));
    }

    MMS::RecursiveMutex mutex;
    MMS::Field field{nullptr, &mutex};
    qtest::TempDir dir;
};

} // namespace

TEST_F(MMSFieldBlockTest, SetFieldHoldsTheExportedImage)
{
    MBDFMMSFieldBlock b;
    ASSERT_EQ(0, b.setField("Mixer", &field, "Mixer"));
    EXPECT_TRUE(b.isValid());
    EXPECT_EQ(0, std::memcmp(b.header(), "#MMS FIELD\0\0Mixer\0", 18));
    EXPECT_EQ(0u, b.part1Size());
    const Bytes exported = exportFunction(&field, "Mixer");
    ASSERT_EQ(exported.size(), b.imageLength());
    EXPECT_EQ(0, std::memcmp(exported.data(), b.image(), exported.size()));
    EXPECT_EQ(0, std::memcmp(b.image() + 4, "LIT", 4)); // stored little-endian

    // A null function name takes the field's first function.
    MBDFMMSFieldBlock first;
    ASSERT_EQ(0, first.setField("first", &field, nullptr));
    EXPECT_EQ(0, std::memcmp(first.image(), b.image(), b.imageLength()));

    // A sub-name of 12 or more characters keeps its first 12, unterminated.
    ASSERT_EQ(0, b.setField("MixerChannel17", &field, "Mixer"));
    EXPECT_EQ(0, std::memcmp(b.header() + 12, "MixerChannel", 12));
    EXPECT_EQ("MixerChannel", b.subName());
}

TEST_F(MMSFieldBlockTest, SetFieldFailuresLeaveTheBlockEmpty)
{
    MMS::Field defining(nullptr, nullptr);
    ASSERT_EQ(0, loadMixer(&defining, "Mixer"));
    ASSERT_EQ(0, defining.reopenDefinition());
    struct Case {
        const char* what;
        MMS::IField* field;
        const char* function;
    } cases[] = {
        {"no field", nullptr, "Mixer"},
        {"unknown function", &field, "Nobody"},
        {"field being defined", &defining, "Mixer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MBDFMMSFieldBlock b;
        ASSERT_EQ(0, b.setField("Mixer", &field, "Mixer"));
        EXPECT_EQ(FCACHE_E_ARG, b.setField("Mixer", c.field, c.function));
        EXPECT_EQ("", b.tag());
        EXPECT_EQ(0u, b.part2Size());
        EXPECT_EQ(nullptr, b.image());
        EXPECT_FALSE(b.isValid());
    }
}

TEST(MMSFieldBlock, ImageAboveTheBlockLimitIsRefusedBeforeExport)
{
    // 41 x 65535 x 4 bytes of data: just above the 10 MiB a reader accepts.
    const std::string layout = "<function name=\"Big\" collections=\"1\" parameters=\"1\" stringsize=\"0\">"
                               "<collections><collection name=\"c\" arraysize=\"41\">"
                               "<parameter name=\"v\" type=\"uint32_t\" arraysize=\"65535\"/>"
                               "</collection></collections></function>";
    MMS::Field big(nullptr, nullptr);
    ASSERT_EQ(0, loadText(&big, "Big", layout));
    uint32_t size = 0;
    ASSERT_EQ(0, big.getImageSizeByName(&size, "Big", nullptr, 0));
    ASSERT_GT(size, MBDF_BLOCK_LIMIT);
    MBDFMMSFieldBlock b;
    EXPECT_EQ(FCACHE_E_ARG, b.setField("Big", &big, "Big"));
    EXPECT_FALSE(b.isValid());
    EXPECT_EQ(0u, b.part2Size());
}

TEST_F(MMSFieldBlockTest, SetupFileRoundTripIntoAFreshField)
{
    const std::string path = dir.file("unit.quil");
    writeSetup(path, {{"Mixer", "Mixer"}, {"OtherFunction", "Other"}});

    MBDF container(4);
    ASSERT_EQ(0, container.read(path.c_str(), true, nullptr, nullptr));
    ASSERT_EQ(2u, container.blockCount());
    MBDFMMSFieldBlock* mixer = fieldBlockAt(container, 0);
    MBDFMMSFieldBlock* other = fieldBlockAt(container, 1);
    ASSERT_NE(nullptr, mixer);
    ASSERT_NE(nullptr, other);
    EXPECT_EQ("Mixer", mixer->subName());
    EXPECT_EQ("OtherFunctio", other->subName());

    MMS::Field fresh(nullptr, nullptr);
    ASSERT_EQ(0, loadMixer(&fresh, "Mixer"));
    ASSERT_EQ(0, loadMixer(&fresh, "Other"));
    ASSERT_EQ(0, importBlock(&fresh, "Mixer", mixer->image(), mixer->imageLength()));
    ASSERT_EQ(0, importBlock(&fresh, "Other", other->image(), other->imageLength()));
    // Equal values give equal images, byte for byte.
    EXPECT_EQ(exportFunction(&field, "Mixer"), exportFunction(&fresh, "Mixer"));
    EXPECT_EQ(exportFunction(&field, "Other"), exportFunction(&fresh, "Other"));
    EXPECT_EQ(1, getInt(&fresh, "Mixer", "flags", {2}));
    EXPECT_EQ(-1200, getInt(&fresh, "Mixer", "gain", {1}));
    EXPECT_EQ(0xDEADBEEFu, static_cast<uint32_t>(getInt(&fresh, "Mixer", "level", {0})));
    EXPECT_STREQ("Main Out", get(&fresh, "Mixer", "label", {0}).getString());
    EXPECT_EQ(-70000, getInt(&fresh, "Mixer", "ch/pan", {2, 0}));
    EXPECT_EQ(4321, getInt(&fresh, "Other", "ch/vol", {1, 0}));

    // Read without second parts, the blocks are listed but hold no image.
    ASSERT_EQ(0, container.read(path.c_str(), false, nullptr, nullptr));
    ASSERT_NE(nullptr, fieldBlockAt(container, 0));
    EXPECT_TRUE(fieldBlockAt(container, 0)->isValid());
    EXPECT_EQ(nullptr, fieldBlockAt(container, 0)->image());
    EXPECT_FALSE(fieldBlockAt(container, 0)->isComplete());
}

// A damaged image fails its own block only: the setup file still opens, the
// block says it is damaged, the import of it changes nothing, and the other
// functions of the file come back whole.
TEST_F(MMSFieldBlockTest, DamagedBlocksAreRefusedAndTheFieldStaysAsItWas)
{
    const std::string path = dir.file("good.quil");
    writeSetup(path, {{"Mixer", "Mixer"}, {"Other", "Other"}});
    const std::string good = qtest::readFile(path);
    MBDF reader(4);
    ASSERT_EQ(0, reader.read(path.c_str(), true, nullptr, nullptr));
    const size_t blockStart = reader.blockOffset(0);
    const std::string prefix = good.substr(0, blockStart);
    const std::string otherBlock = good.substr(reader.blockOffset(1), good.size() - reader.blockOffset(1) - 36);
    const Bytes image = exportFunction(&field, "Mixer");
    ASSERT_EQ(good, prefix + block(MBDF_MMS_FIELD_TAG, "Mixer", 12, "", toString(image)) + otherBlock + endBlock());

    // The target already holds values of its own.
    MMS::Field target(nullptr, nullptr);
    ASSERT_EQ(0, loadMixer(&target, "Mixer"));
    ASSERT_GE(set(&target, "Mixer", "gain", {1}, JVariant(int32_t{77})), 0);
    const Bytes before = exportFunction(&target, "Mixer");

    auto patched = [&](size_t offset, std::initializer_list<uint8_t> bytes) {
        Bytes copy = image;
        std::copy(bytes.begin(), bytes.end(), copy.begin() + offset);
        return copy;
    };
    const size_t p1 = MMS::ImageLayout::HEADER_PART1_LENGTH;
    const size_t p2 = MMS::ImageLayout::HEADER_PART2_LENGTH;
    Bytes longer = image;
    longer[p2] = static_cast<uint8_t>(longer[p2] + 1); // lengths stored little-endian
    struct Case {
        const char* what;
        Bytes part2;
        int64_t statedLength; // -1: the bytes present
        JResult read; // what the container read answers
    } cases[] = {
        // No block at all, or no file structure: the container is unreadable.
        {"empty part 2", {}, -1, FCACHE_E_DATA},
        {"part 2 past the end of the file", image, static_cast<int64_t>(image.size()) + 64, FCACHE_E_DATA},
        // A damaged image inside a sound block: that block alone fails.
        {"shorter than an image header", Bytes(image.begin(), image.begin() + 80), -1, FCACHE_OK},
        {"image cut by 4 bytes", Bytes(image.begin(), image.end() - 4), -1, FCACHE_OK},
        {"image one byte short of its lengths", longer, -1, FCACHE_OK},
        {"bad magic", patched(0, {'X'}), -1, FCACHE_OK},
        {"header length 0", patched(3, {0}), -1, FCACHE_OK},
        {"unknown byte-order mark", patched(4, {'Q'}), -1, FCACHE_OK},
        {"part-1 length wraps 32 bits", patched(p1, {0xF0, 0xFF, 0xFF, 0xFF}), -1, FCACHE_OK},
        {"broken collection record", patched(MMS::IMAGE_HEADER_SIZE, {'X'}), -1, FCACHE_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bad = dir.file("bad.quil");
        ASSERT_TRUE(qtest::writeFile(bad,
            prefix + block(MBDF_MMS_FIELD_TAG, "Mixer", 12, "", toString(c.part2), -1, c.statedLength) + otherBlock
                + endBlock()));
        MBDF container(4);
        ASSERT_EQ(c.read, container.read(bad.c_str(), true, nullptr, nullptr));
        if (c.read == FCACHE_OK) {
            MBDFMMSFieldBlock* damaged = fieldBlockAt(container, 0);
            MBDFMMSFieldBlock* other = fieldBlockAt(container, 1);
            ASSERT_TRUE(damaged && other);
            EXPECT_EQ(FCACHE_E_DATA, damaged->checkImage());
            EXPECT_LT(importBlock(&target, "Mixer", damaged->image(), damaged->imageLength()), 0);
            ASSERT_EQ(FCACHE_OK, other->checkImage());
            MMS::Field fresh(nullptr, nullptr);
            ASSERT_EQ(0, loadMixer(&fresh, "Other"));
            ASSERT_GE(importBlock(&fresh, "Other", other->image(), other->imageLength()), 0);
            EXPECT_EQ(4321u, get(&fresh, "Other", "ch/vol", {1, 0}).toInteger());
        }
        // Handed to the field directly, the same bytes are refused too.
        if (!c.part2.empty() && c.statedLength < 0) {
            EXPECT_LT(importBlock(&target, "Mixer", c.part2.data(), static_cast<uint32_t>(c.part2.size())), 0);
        }
        EXPECT_EQ(before, exportFunction(&target, "Mixer"));
    }
}

// The block's validity is its tag and a part 2; whether that part is a whole
// image is the block's own check, which setField never fails to pass.
TEST_F(MMSFieldBlockTest, BlockWithoutAWholeImageIsValidButFailsItsCheck)
{
    auto b = std::make_unique<MBDFMMSFieldBlock>();
    ASSERT_EQ(0, b->setTag(MBDF_MMS_FIELD_TAG));
    EXPECT_FALSE(b->isValid()) << "no part 2";
    const Bytes garbage(200, 0x5A);
    ASSERT_EQ(0, b->setPart2(garbage.data(), static_cast<uint32_t>(garbage.size())));
    EXPECT_TRUE(b->isValid());
    EXPECT_EQ(FCACHE_E_DATA, b->checkImage());
    MBDFMMSFieldBlock made;
    ASSERT_EQ(0, made.setField("Mixer", &field, "Mixer"));
    EXPECT_EQ(FCACHE_OK, made.checkImage());
}

TEST_F(MMSFieldBlockTest, PeerReadsOurBlocks)
{
    const std::string path = dir.file("unit.quil");
    writeSetup(path, {{"Mixer", "Mixer"}, {"OtherFunction", "Other"}});
    int status = -1;
    const std::string out = peer("list " + path, &status);
    ASSERT_EQ(0, status) << out;
    // The peer's dump names elements as path[index]=value, element 0 first.
    for (const char* line : {"TOP\tSetup\tunit\n", "FIELD\tMixer\t", "FIELD\tOtherFunctio\t", "name=Mixer\n",
             "order=LIT\n", "/flags[2]=1\n", "/gain[1]=-1200\n", "/level[0]=3735928559\n", "/label[0]=Main Out\n",
             "/ch[2]/pan[0]=-70000\n", "/ch[1]/vol[0]=4321\n", "END\n"})
        EXPECT_NE(std::string::npos, out.find(line)) << line << "\n" << out;
}

TEST_F(MMSFieldBlockTest, WeReadThePeersBlocks)
{
    for (const char* order : {"LIT", "BIG"}) {
        SCOPED_TRACE(order);
        const std::string path = dir.file(std::string("peer-") + order + ".quil");
        int status = -1;
        const std::string out = peer("write " + path + " 16 Setup " + order + " Mixer Other", &status);
        ASSERT_EQ(0, status) << out;

        MBDF container(16);
        ASSERT_EQ(0, container.read(path.c_str(), true, nullptr, nullptr));
        ASSERT_EQ(2u, container.blockCount());
        MMS::Field fresh(nullptr, nullptr);
        ASSERT_EQ(0, loadMixer(&fresh, "Mixer"));
        ASSERT_EQ(0, loadMixer(&fresh, "Other"));
        for (MBDF::Position p = container.begin(); p != container.end(); p = container.next(p)) {
            MBDFMMSFieldBlock* b = fieldBlockAt(container, p);
            ASSERT_NE(nullptr, b);
            ASSERT_EQ(0, importBlock(&fresh, b->subName().c_str(), b->image(), b->imageLength()));
        }
        // The peer's sample values.
        for (const char* function : {"Mixer", "Other"}) {
            EXPECT_EQ(-300, getInt(&fresh, function, "gain", {0}));
            EXPECT_EQ(0xDEADBEEFu, static_cast<uint32_t>(getInt(&fresh, function, "level", {0})));
            EXPECT_STREQ("Main Out", get(&fresh, function, "label", {0}).getString());
            EXPECT_FLOAT_EQ(-2.5f, get(&fresh, function, "trim", {0}).toFloat());
            EXPECT_EQ(1, getInt(&fresh, function, "mute", {9}));
            EXPECT_EQ(65535, getInt(&fresh, function, "ch/vol", {2, 0}));
            EXPECT_EQ(-70000, getInt(&fresh, function, "ch/pan", {0, 0}));
        }
    }
}
