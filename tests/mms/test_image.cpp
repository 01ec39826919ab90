// Serialised images: header, records, byte-order conversion and the
// multi-function bundle, checked against the independent python peer.

#include "mms/mms_image.h"
#include "mms/mms_wrap.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace MMS;
namespace L = MMS::ImageLayout;

namespace {

using ImageBytes = std::vector<uint8_t>;

ImageBytes toBytes(const std::string& s)
{
    return ImageBytes(s.begin(), s.end());
}

std::string toString(const ImageBytes& b)
{
    return std::string(b.begin(), b.end());
}

// The peer's sample function "Mixer", laid out by hand:
//   flags bit x3 (byte 0, bits 0-2), gain int16 x2 (1..4), mute bit x10
//   (bytes 5-6), level uint32 (7..10), label string 8 (11..18), trim float
//   (19..22); child "ch" x3 at 23, element size 6: vol uint16, pan int32.
constexpr uint32_t kDataSize = 41;

ImageBytes sampleDefinition()
{
    struct Param {
        const char* name;
        uint16_t width;
        uint16_t count;
        uint32_t type;
    };
    const Param root[] = {{"flags", 0, 3, 0x100}, {"gain", 2, 2, 0x002}, {"mute", 0, 10, 0x100}, {"level", 4, 1, 0x104},
        {"label", 8, 1, 0x201}, {"trim", 4, 1, 0x304}};
    const Param child[] = {{"vol", 2, 1, 0x102}, {"pan", 4, 1, 0x004}};
    ImageBytes block(48 + 6 * 32 + 48 + 2 * 32);
    buildCollectionRecord(block.data(), "Mixer", 6 * 32, 48 + 2 * 32, 0, kDataSize, 1);
    size_t at = 48;
    for (const Param& p : root) {
        buildParameterRecord(block.data() + at, p.name, p.width, p.count, p.type);
        at += 32;
    }
    buildCollectionRecord(block.data() + at, "ch", 2 * 32, 0, 23, 6, 3);
    at += 48;
    for (const Param& p : child) {
        buildParameterRecord(block.data() + at, p.name, p.width, p.count, p.type);
        at += 32;
    }
    return block;
}

template <typename T> void put(ImageBytes& data, size_t at, T value)
{
    std::memcpy(data.data() + at, &value, sizeof value);
}

template <typename T> T getAt(const uint8_t* data, size_t at)
{
    T value;
    std::memcpy(&value, data + at, sizeof value);
    return value;
}

// Host-order data holding the values the peer writes.
ImageBytes sampleData()
{
    ImageBytes d(kDataSize);
    d[0] = 0x05; // flags 1,0,1
    put<int16_t>(d, 1, -300);
    put<int16_t>(d, 3, 1200);
    d[5] = 0x13; // mute 1,1,0,0,1,0,0,0
    d[6] = 0x03; // mute 1,1
    put<uint32_t>(d, 7, 0xDEADBEEF);
    std::memcpy(d.data() + 11, "Main Out", 8);
    put<float>(d, 19, -2.5f);
    const uint16_t vol[] = {1000, 2000, 65535};
    const int32_t pan[] = {-70000, 0, 2147483647};
    for (int e = 0; e < 3; ++e) {
        put<uint16_t>(d, 23 + 6 * e, vol[e]);
        put<int32_t>(d, 25 + 6 * e, pan[e]);
    }
    return d;
}

// Builds a complete image of the sample in host order, then converts it.
ImageBytes exportSample(int order)
{
    CollectionTagInfo tag;
    tag.setName("Mixer");
    const ImageBytes def = sampleDefinition();
    const ImageBytes data = sampleData();
    ImageBytes image(88);
    image.insert(image.end(), def.begin(), def.end());
    image.insert(image.end(), data.begin(), data.end());
    // The header comes last: its digest covers part 1 as it lies in the image.
    EXPECT_EQ(0, convertForExport(image.data() + 88, def.size(), image.data() + 88 + def.size(), data.size(), order));
    EXPECT_EQ(0, tag.writeImageHeader(image.data(), def.size(), data.size(), order));
    return image;
}

std::string peerWrite(const qtest::TempDir& dir, const char* command, const char* order)
{
    const std::string path = dir.file(std::string(command) + order + ".img");
    std::string out;
    const std::string cmd = "python3 " + qtest::peerPath("mms_image.py") + " " + command + " " + order + " " + path;
    EXPECT_EQ(0, qtest::runCommand(cmd, &out)) << cmd;
    return qtest::readFile(path);
}

std::string peerDump(const qtest::TempDir& dir, const char* command, const ImageBytes& image)
{
    const std::string path = dir.file("ours.img");
    EXPECT_TRUE(qtest::writeFile(path, toString(image)));
    std::string out;
    EXPECT_EQ(0, qtest::runCommand("python3 " + qtest::peerPath("mms_image.py") + " " + command + " " + path, &out));
    return out;
}

std::string expectedDump(const char* order)
{
    std::ostringstream s;
    s << "name=Mixer\norder=" << order << "\n"
      << "/flags[0]=1\n/flags[1]=0\n/flags[2]=1\n/gain[0]=-300\n/gain[1]=1200\n";
    const int mute[] = {1, 1, 0, 0, 1, 0, 0, 0, 1, 1};
    for (int i = 0; i < 10; ++i)
        s << "/mute[" << i << "]=" << mute[i] << "\n";
    s << "/level[0]=3735928559\n/label[0]=Main Out\n/trim[0]=-2.5\n"
      << "/ch[0]/vol[0]=1000\n/ch[0]/pan[0]=-70000\n/ch[1]/vol[0]=2000\n/ch[1]/pan[0]=0\n"
      << "/ch[2]/vol[0]=65535\n/ch[2]/pan[0]=2147483647\n";
    return s.str();
}

// Imports an image the way the field does: split, then convert the parts.
JResult importImage(ImageBytes& image, ImageBytes* data)
{
    CollectionTagInfo tag;
    bool digestMatches = false;
    uint8_t* p1 = nullptr;
    uint8_t* p2 = nullptr;
    uint32_t l1 = 0, l2 = 0;
    int mode = -1;
    JResult r = splitImage(&tag, &digestMatches, &p1, &l1, &p2, &l2, &mode, image.data(), image.size());
    if (r < 0)
        return r;
    r = convertForImport(p1, l1, p2, l2, mode);
    if (r >= 0 && data != nullptr)
        data->assign(p2, p2 + l2);
    return r;
}

} // namespace

TEST(ImageHeader, LayoutOfAHostOrderHeader)
{
    CollectionTagInfo tag;
    tag.setName("Devout");
    ImageBytes image(88 + 48, 0);
    buildCollectionRecord(image.data() + 88, "Devout", 0, 0, 0, 0, 1);
    ASSERT_EQ(0, tag.writeImageHeader(image.data(), 48, 0, IMAGE_ORDER_HOST));
    const char* mark = imageHostIsBigEndian() ? "BIG" : "LIT";
    EXPECT_EQ(0, std::memcmp(image.data(), "MMS\x58", 4));
    EXPECT_EQ(0, std::memcmp(image.data() + 4, mark, 4)); // with its 0 byte
    EXPECT_EQ(0, std::memcmp(image.data() + 8, "Devout", 6));
    for (size_t i = 14; i < 44; ++i)
        EXPECT_EQ(0, image[i]) << i;
    // Digest: 32 lowercase hex characters of the definition's MD5, 4 zero bytes.
    const std::string digest(reinterpret_cast<char*>(image.data() + 44), 32);
    EXPECT_EQ(std::string::npos, digest.find_first_not_of("0123456789abcdef"));
    EXPECT_EQ(0u, getAt<uint32_t>(image.data(), 76));
    qtest::TempDir dir;
    qtest::writeFile(dir.file("def"), std::string(reinterpret_cast<char*>(image.data() + 88), 48));
    std::string out;
    ASSERT_EQ(0, qtest::runCommand("md5sum " + dir.file("def"), &out));
    EXPECT_EQ(out.substr(0, 32), digest);
    EXPECT_EQ(48u, getAt<uint32_t>(image.data(), 80));
}

TEST(ImageHeader, ForeignMarkGivesSwapModeAndHostCopy)
{
    CollectionTagInfo tag;
    tag.setName("F");
    const bool big = imageHostIsBigEndian();
    ImageBytes image(88 + 48, 0);
    buildCollectionRecord(image.data() + 88, "F", 0, 0, 0, 0, 1);
    tag.writeImageHeader(image.data(), 48, 7, big ? IMAGE_ORDER_LITTLE : IMAGE_ORDER_BIG);
    uint8_t header[88];
    int mode = -1;
    ASSERT_EQ(0, readImageHeader(header, &mode, image.data(), image.size()));
    EXPECT_EQ(big ? 1 : 2, mode);
    EXPECT_EQ(0, std::memcmp(header + 4, big ? "BIG" : "LIT", 4));
    EXPECT_EQ(48u, getAt<uint32_t>(header, 80));
    EXPECT_EQ(7u, getAt<uint32_t>(header, 84));
    // The image itself still names its own order.
    EXPECT_EQ(0, std::memcmp(image.data() + 4, big ? "LIT" : "BIG", 4));
}

TEST(ImageRecords, BuildAndReadRecords)
{
    uint8_t rec[48];
    EXPECT_EQ(MMS_E_INNER, buildCollectionRecord(nullptr, "x", 0, 0, 0, 0, 1));
    EXPECT_EQ(MMS_E_ARG, buildCollectionRecord(rec, "", 0, 0, 0, 0, 1));
    EXPECT_EQ(MMS_E_ARG, buildCollectionRecord(rec, "abcdefghijklmnopqrstuvwx", 0, 0, 0, 0, 1));
    EXPECT_EQ(0, buildCollectionRecord(rec, "abcdefghijklmnopqrstuvw", 1, 2, 3, 4, 5));

    uint8_t out[48];
    ASSERT_EQ(0, readCollectionHeader(out, rec, sizeof rec, true));
    EXPECT_EQ(0x01000000u, getAt<uint32_t>(out, 28));
    EXPECT_EQ(0x05000000u, getAt<uint32_t>(out, 44));
    // A short buffer copies only the bytes present.
    std::memset(out, 0xAA, sizeof out);
    ASSERT_EQ(0, readCollectionHeader(out, rec, 10, false));
    EXPECT_EQ(0, out[10]);
    EXPECT_EQ(MMS_E_ARG, readCollectionHeader(out, rec, 3, false));

    uint8_t pr[32];
    ASSERT_EQ(0, buildParameterRecord(pr, "v", 2, 7, 0x102));
    EXPECT_EQ(2, pr[3]);
    EXPECT_TRUE(classMatches(pr, 0x101));
    EXPECT_FALSE(classMatches(pr, 0x002));
    uint8_t prOut[32];
    EXPECT_EQ(MMS_E_ARG, readParameterRecord(prOut, rec, sizeof rec, false)); // "COL" is not "PR"
    ASSERT_EQ(0, readParameterRecord(prOut, pr, sizeof pr, true));
    EXPECT_EQ(0x0200, getAt<uint16_t>(prOut, 4));

    // Lookups never reach past the block.
    const ImageBytes def = sampleDefinition();
    EXPECT_NE(nullptr, collectionAt(def.data(), def.size(), 0));
    EXPECT_EQ(nullptr, collectionAt(def.data(), def.size(), 48));
    EXPECT_NE(nullptr, parameterAt(def.data(), def.size(), 48));
    EXPECT_EQ(nullptr, collectionAt(def.data(), def.size(), def.size() - 47));
    EXPECT_EQ(def.size(), collectionEnd(def.data(), def.size(), 0));
}

TEST(ImageRecords, CopyCollectionRecord)
{
    const ImageBytes def = sampleDefinition();
    const size_t child = 48 + 6 * 32;
    ImageBytes copy(48 + 64);
    size_t written = 0;
    ASSERT_EQ(0, copyCollectionRecord(copy.data(), copy.size(), def.data(), def.size(), child, 1, &written));
    EXPECT_EQ(112u, written);
    EXPECT_EQ(0u, getAt<uint32_t>(copy.data(), 36));
    EXPECT_EQ(1u, getAt<uint32_t>(copy.data(), 44));
    EXPECT_TRUE(sameCollectionBody(def.data(), def.size(), child, copy.data(), copy.size()));
    EXPECT_TRUE(sameParameterRecords(def.data(), def.size(), child, copy.data() + 48, 64));
    EXPECT_EQ(MMS_E_ARG, copyCollectionRecord(copy.data(), 111, def.data(), def.size(), child, 0));
}

TEST(ImageImport, PeerImagesInBothOrders)
{
    qtest::TempDir dir;
    for (const char* order : {"LIT", "BIG"}) {
        ImageBytes image = toBytes(peerWrite(dir, "write", order));
        ASSERT_FALSE(image.empty());
        ImageBytes data;
        ASSERT_EQ(0, importImage(image, &data)) << order;
        EXPECT_EQ(sampleData(), data) << order;
        // The definition block now reads as ours does.
        EXPECT_EQ(sampleDefinition(), ImageBytes(image.begin() + 88, image.begin() + 88 + sampleDefinition().size()))
            << order;
    }
}

TEST(ImageExport, PeerReadsOurImagesInEveryOrder)
{
    qtest::TempDir dir;
    const char* host = imageHostIsBigEndian() ? "BIG" : "LIT";
    const std::pair<int, const char*> orders[] = {{0, host}, {1, "LIT"}, {2, "BIG"}};
    for (const auto& [order, mark] : orders) {
        const ImageBytes image = exportSample(order);
        EXPECT_EQ(expectedDump(mark), peerDump(dir, "dump", image)) << order;
        // And the peer's own image of the same order is byte for byte ours.
        EXPECT_EQ(peerWrite(dir, "write", mark), toString(image)) << order;
    }
}

TEST(ImageExport, HostOrderExportChangesNothing)
{
    const ImageBytes def = sampleDefinition();
    ImageBytes d1 = def, d2 = sampleData();
    const int host = imageHostIsBigEndian() ? IMAGE_ORDER_BIG : IMAGE_ORDER_LITTLE;
    EXPECT_EQ(0, convertForExport(d1.data(), d1.size(), d2.data(), d2.size(), host));
    EXPECT_EQ(def, d1);
    EXPECT_EQ(sampleData(), d2);
}

TEST(ImageImport, ElementPlacement)
{
    // Array size 3, element size 20, offset 8 inside a 200-byte root element
    // at base 0 with the collection record nested: values sit at 108, 128, 148
    // when the enclosing element begins at 100.
    ImageBytes def(48 + 48 + 48 + 32);
    buildCollectionRecord(def.data(), "root", 0, 48 + 48 + 32, 0, 200, 1);
    buildCollectionRecord(def.data() + 48, "outer", 0, 48 + 32, 100, 100, 1);
    buildCollectionRecord(def.data() + 96, "inner", 32, 0, 8, 20, 3);
    buildParameterRecord(def.data() + 144, "v", 4, 1, 0x104);
    ImageBytes data(200, 0);
    for (size_t at : {108, 128, 148})
        put<uint32_t>(data, at, 0x11223344);
    put<uint32_t>(data, 112, 0x55667788); // not a parameter's place: untouched
    const int foreign = imageHostIsBigEndian() ? IMAGE_ORDER_LITTLE : IMAGE_ORDER_BIG;
    ASSERT_EQ(0, convertForExport(def.data(), def.size(), data.data(), data.size(), foreign));
    for (size_t at : {108, 128, 148})
        EXPECT_EQ(0x44332211u, getAt<uint32_t>(data.data(), at)) << at;
    EXPECT_EQ(0x55667788u, getAt<uint32_t>(data.data(), 112));
}

// Malformed images are refused and leave the caller's buffer as it was.
TEST(ImageImport, MalformedImagesRefusedUnchanged)
{
    qtest::TempDir dir;
    const char* foreign = imageHostIsBigEndian() ? "LIT" : "BIG";
    const ImageBytes good = toBytes(peerWrite(dir, "write", foreign));
    ASSERT_EQ(88u + 352u + kDataSize, good.size());
    const size_t p1 = 88, child = p1 + 48 + 6 * 32;
    auto be32 = [](ImageBytes& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    };
    auto le32 = [](ImageBytes& b, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto set32 = [&](ImageBytes& b, size_t at, uint32_t v) {
        if (foreign[0] == 'B')
            be32(b, at, v);
        else
            le32(b, at, v);
    };
    const std::vector<std::pair<const char*, std::function<void(ImageBytes&)>>> cases = {
        {"truncated by one byte", [](ImageBytes& b) { b.pop_back(); }},
        {"only the header", [](ImageBytes& b) { b.resize(88); }},
        {"short header", [](ImageBytes& b) { b.resize(50); }},
        {"wrong magic", [](ImageBytes& b) { b[0] = 'X'; }},
        {"header length byte", [](ImageBytes& b) { b[3] = 200; }},
        {"empty definition block", [&](ImageBytes& b) { set32(b, 80, 0); }},
        {"unknown mark", [](ImageBytes& b) { b[4] = 'X'; }},
        {"lengths wrap 32 bits", [&](ImageBytes& b) { set32(b, 80, 0xFFFFFFF0u); }},
        {"part 2 longer than the image", [&](ImageBytes& b) { set32(b, 84, kDataSize + 1); }},
        {"parameter bytes past the block", [&](ImageBytes& b) { set32(b, p1 + 28, 0x7FFFFFE0u); }},
        {"parameter bytes not whole records", [&](ImageBytes& b) { set32(b, p1 + 28, 6 * 32 + 4); }},
        {"element past part 2", [&](ImageBytes& b) { set32(b, child + 44, 4); }},
        {"array x size wraps 32 bits",
            [&](ImageBytes& b) {
                set32(b, child + 40, 0x10000000u);
                set32(b, child + 44, 0x10u);
            }},
        {"child overlaps parameters", [&](ImageBytes& b) { set32(b, child + 36, 20); }},
        {"wrong record magic", [](ImageBytes& b) { b[p1 + 48] = 'Q'; }},
        {"unknown swap class", [](ImageBytes& b) { b[p1 + 48 + 32 + 3] = 9; }},
        {"odd width for a swapped class", [&](ImageBytes& b) { b[p1 + 48 + 32 + (foreign[0] == 'B' ? 5 : 4)] = 3; }},
    };
    for (const auto& [what, damage] : cases) {
        ImageBytes image = good;
        damage(image);
        const ImageBytes before = image;
        EXPECT_LT(importImage(image, nullptr), 0) << what;
        EXPECT_EQ(before, image) << what;
    }
}

TEST(ImageImport, DeepNestingRefused)
{
    // Seven nested collection records: one more level than a function may hold.
    const int levels = 7;
    ImageBytes def(48 * levels);
    for (int i = 0; i < levels; ++i) {
        const uint32_t below = 48 * (levels - 1 - i);
        buildCollectionRecord(def.data() + 48 * i, "c", 0, below, 0, 0, 1);
    }
    EXPECT_EQ(MMS_E_ARG, validateImageParts(def.data(), def.size(), 0, false));
    EXPECT_EQ(0, validateImageParts(def.data() + 48, def.size() - 48, 0, false));
}

TEST(ImageImport, DeclaredCountsDoNotSetTheWork)
{
    // 2^32 - 1 elements of nothing, each holding 2^32 - 1 empty elements:
    // there is nothing to swap, so the conversion ends at once.
    ImageBytes def(48 + 48 + 32);
    buildCollectionRecord(def.data(), "f", 0, 48 + 32, 0, 0, 0xFFFFFFFFu);
    buildCollectionRecord(def.data() + 48, "c", 32, 0, 0, 0, 0xFFFFFFFFu);
    buildParameterRecord(def.data() + 96, "t", 0, 1, 0x201);
    ImageBytes data(16);
    const int foreign = imageHostIsBigEndian() ? IMAGE_ORDER_LITTLE : IMAGE_ORDER_BIG;
    EXPECT_EQ(0, convertForExport(def.data(), def.size(), data.data(), data.size(), foreign));
    // Elements that do hold data must fit: 4 x 4 bytes in a 0-byte element is refused.
    buildCollectionRecord(def.data() + 48, "c", 32, 0, 0, 4, 4);
    buildParameterRecord(def.data() + 96, "v", 4, 1, 0x104);
    EXPECT_EQ(MMS_E_ARG, convertForExport(def.data(), def.size(), data.data(), data.size(), foreign));
}

TEST(ImageImport, TextDataNeverSwapped)
{
    ImageBytes def(48 + 32);
    buildCollectionRecord(def.data(), "f", 32, 0, 0, 4, 1);
    buildParameterRecord(def.data() + 48, "t", 4, 1, 0x201);
    ImageBytes data = {'a', 'b', 'c', 'd'};
    const int foreign = imageHostIsBigEndian() ? IMAGE_ORDER_LITTLE : IMAGE_ORDER_BIG;
    ASSERT_EQ(0, convertForExport(def.data(), def.size(), data.data(), data.size(), foreign));
    EXPECT_EQ((ImageBytes{'a', 'b', 'c', 'd'}), data);
    ASSERT_EQ(0, convertForImport(def.data(), def.size(), data.data(), data.size(), foreign));
    EXPECT_EQ((ImageBytes{'a', 'b', 'c', 'd'}), data);
}

TEST(ImageCompanion, DigestAndLengthRules)
{
    CollectionTagInfo tag;
    const ImageBytes image = exportSample(IMAGE_ORDER_HOST);
    const uint8_t* data = nullptr;
    uint32_t length = 1;
    EXPECT_EQ(0, checkCompanionImage(&tag, &data, &length, nullptr, 0));
    EXPECT_EQ(nullptr, data);
    // No digest on our side: the definition lengths must agree.
    EXPECT_EQ(MMS_E_ARG, checkCompanionImage(&tag, &data, &length, image.data(), image.size()));
    const ImageBytes def = sampleDefinition();
    SharedMemWrapper wrapper(nullptr);
    ASSERT_EQ(0, tag.copyDefinition(&wrapper, def.data(), def.size()));
    ASSERT_EQ(0, checkCompanionImage(&tag, &data, &length, image.data(), image.size()));
    EXPECT_EQ(image.data() + 88 + def.size(), data);
    EXPECT_EQ(kDataSize, length);

    bool matches = false;
    uint8_t *p1, *p2;
    uint32_t l1, l2;
    int mode;
    ImageBytes copy = image;
    ASSERT_EQ(0, splitImage(&tag, &matches, &p1, &l1, &p2, &l2, &mode, copy.data(), copy.size()));
    EXPECT_TRUE(matches);
    copy[50] ^= 1; // another definition's digest
    EXPECT_EQ(MMS_E_ARG, checkCompanionImage(&tag, &data, &length, copy.data(), copy.size()));
    ASSERT_EQ(0, splitImage(&tag, &matches, &p1, &l1, &p2, &l2, &mode, copy.data(), copy.size()));
    EXPECT_FALSE(matches);
    EXPECT_EQ(0, tag.releaseDefinition(&wrapper));
}

TEST(ImageTagInfo, DefinitionOwnership)
{
    SharedMemWrapper wrapper(nullptr);
    CollectionTagInfo tag;
    EXPECT_EQ(MMS_E_INNER, tag.allocateDefinition(nullptr, 8));
    EXPECT_EQ(MMS_E_INNER, tag.allocateDefinition(&wrapper, 0));
    ASSERT_EQ(0, tag.allocateDefinition(&wrapper, 8));
    EXPECT_TRUE(tag.ownsDefinition());
    uint8_t outside[8] = {};
    EXPECT_EQ(MMS_E_INNER, tag.attachDefinition(outside, 8)); // an owned block is present
    EXPECT_EQ(MMS_E_INNER, tag.releaseDefinition(nullptr));
    EXPECT_NE(nullptr, tag.definition());
    EXPECT_EQ(0, tag.releaseDefinition(&wrapper));
    ASSERT_EQ(0, tag.attachDefinition(outside, 8));
    EXPECT_FALSE(tag.ownsDefinition());
    EXPECT_TRUE(tag.hasDigest());
    tag.setName("abcdefghijklmnopqrstuvwxyz");
    char name[24];
    tag.getName(name);
    EXPECT_EQ(23u, strnlen(name, 24));
    tag.setAlias("0123456789abcdef");
    char alias[12];
    tag.getAlias(alias);
    EXPECT_EQ(11u, strnlen(alias, 12));
    EXPECT_EQ(MMS_E_ARG, tag.getDigest(nullptr));
    // An owned block left at destruction goes back through its wrapper (checked by the sanitizer build).
    CollectionTagInfo leaky;
    ASSERT_EQ(0, leaky.copyDefinition(&wrapper, outside, 8));
}

// --- Multi-function bundle -----------------------------------------------------

TEST(ImageBundle, FindsRecordsInPeerBundles)
{
    qtest::TempDir dir;
    for (const char* order : {"LIT", "BIG"}) {
        const ImageBytes bundle = toBytes(peerWrite(dir, "bundle", order));
        uint8_t header[48];
        int mode = -1;
        ASSERT_EQ(0, readMdfHeader(header, &mode, bundle.data(), bundle.size()));
        EXPECT_EQ(2u, getAt<uint32_t>(header, 44));
        size_t at = 0;
        uint8_t rec[32];
        ASSERT_EQ(0, findFunctionRecord(&at, rec, bundle.data(), bundle.size(), 0, "Mixer", 255)) << order;
        const uint32_t imageLength = getAt<uint32_t>(rec, 28);
        EXPECT_EQ(48u + 32u + imageLength, at);
        ImageBytes image(bundle.begin() + at + 32, bundle.begin() + at + 32 + imageLength);
        ImageBytes data;
        ASSERT_EQ(0, importImage(image, &data));
        EXPECT_EQ(sampleData(), data);
        EXPECT_EQ(MMS_E_NO_MATCH, findFunctionRecord(&at, rec, bundle.data(), bundle.size(), 0, "None", 255));
        EXPECT_EQ(MMS_E_NO_MATCH, findFunctionRecord(&at, rec, bundle.data(), bundle.size(), 1, "Mixer", 255));
    }
}

TEST(ImageBundle, PeerReadsOurBundle)
{
    qtest::TempDir dir;
    const int foreign = imageHostIsBigEndian() ? IMAGE_ORDER_LITTLE : IMAGE_ORDER_BIG;
    const char* mark = foreign == IMAGE_ORDER_BIG ? "BIG" : "LIT";
    ImageBytes bundle(48);
    const ImageBytes image = exportSample(foreign);
    for (const char* name : {"Other", "Mixer"}) {
        uint8_t rec[32];
        ASSERT_EQ(0, buildMdrRecord(rec));
        std::memcpy(rec + 4, name, strlen(name));
        imageStore32(rec + 28, image.size());
        ASSERT_EQ(0, swapMdrRecord(rec, foreign));
        bundle.insert(bundle.end(), rec, rec + 32);
        bundle.insert(bundle.end(), image.begin(), image.end());
    }
    ASSERT_EQ(0, buildMdfHeader(bundle.data()));
    setMdfNames(bundle.data(), nullptr, nullptr);
    imageStore32(bundle.data() + 44, 2);
    ASSERT_EQ(0, setMdfByteOrder(bundle.data(), foreign));
    EXPECT_EQ(MMS_E_ARG, setMdfByteOrder(bundle.data(), 3));
    EXPECT_EQ(toString(toBytes(peerWrite(dir, "bundle", mark))), toString(bundle));
    const std::string dump = peerDump(dir, "dumpall", bundle);
    EXPECT_EQ(0u, dump.find("functions=2\nfunction=Other\n"));
}

TEST(ImageBundle, WalkEndsOnRecordsThatDoNotAdvance)
{
    // A record with length byte 0 and image length 0 would step in place forever.
    ImageBytes buf(48 + 32 * 3, 0);
    buildMdfHeader(buf.data());
    setMdfByteOrder(buf.data(), IMAGE_ORDER_HOST);
    for (int i = 0; i < 3; ++i) {
        uint8_t* rec = buf.data() + 48 + 32 * i;
        buildMdrRecord(rec);
        rec[3] = 0;
        std::memcpy(rec + 4, "Loop", 4);
    }
    size_t at = 0;
    uint8_t rec[32];
    EXPECT_EQ(MMS_E_NO_MATCH, findFunctionRecord(&at, rec, buf.data(), buf.size(), 0, "Missing", 255));
    // A length byte of 32 with image length 0 still advances, one record at a time.
    for (int i = 0; i < 3; ++i)
        buf[48 + 32 * i + 3] = 32;
    std::memcpy(buf.data() + 48 + 64 + 4, "Last", 4);
    ASSERT_EQ(0, findFunctionRecord(&at, rec, buf.data(), buf.size(), 0, "Last", 255));
    EXPECT_EQ(48u + 64u, at);
    // Image lengths that pass the buffer's end stop the walk.
    imageStore32(buf.data() + 48 + 28, 0xFFFFFFF0u);
    EXPECT_EQ(MMS_E_NO_MATCH, findFunctionRecord(&at, rec, buf.data(), buf.size(), 0, "Last", 255));
}

TEST(ImageBundle, HeaderAndRecordReaders)
{
    uint8_t out[48];
    int mode = -1;
    EXPECT_EQ(MMS_E_ARG, readMdfHeader(out, &mode, reinterpret_cast<const uint8_t*>("MDF0LIT"), 7));
    EXPECT_EQ(MMS_E_ARG, readMdfHeader(out, &mode, reinterpret_cast<const uint8_t*>("MDF0XYZ\0"), 8));
    // A short buffer with a plausible header copies only the bytes present.
    const uint8_t shortHeader[8] = {'M', 'D', 'F', 48, 'L', 'I', 'T', 0};
    ASSERT_EQ(0, readMdfHeader(out, &mode, shortHeader, sizeof shortHeader));
    EXPECT_EQ(0u, getAt<uint32_t>(out, 44));
    uint8_t rec[32];
    EXPECT_EQ(MMS_E_ARG, readMdrRecord(rec, shortHeader, 3, 0));
}
