#include "pbd/jlib/jvariant.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace JLIB;

namespace {

JVariant text(const char* s)
{
    return JVariant(s, 1024);
}

JVariant binary(std::vector<uint8_t> bytes)
{
    JVariant v;
    v.setBinary(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return v;
}

JVariant real(float f)
{
    JVariant v;
    v = f;
    return v;
}

std::string bytesOf(const JVariant& v)
{
    return std::string(reinterpret_cast<const char*>(v.getBinary()), v.getBinarySize());
}

} // namespace

TEST(Variant, Conversions)
{
    struct Case {
        const char* name;
        JVariant value;
        JVariantType type;
        uint32_t size;
        bool isInteger;
        uint32_t word;
        bool isFloat;
        float asFloat;
    };
    const Case cases[] = {
        {"int -7", JVariant(int32_t{-7}), JVARIANT_INT32, 4, true, 0xFFFFFFF9u, true, -7.0f},
        {"uint max", JVariant(uint32_t{0xFFFFFFFF}), JVARIANT_UINT32, 4, true, 0xFFFFFFFFu, true, 4294967296.0f},
        {"float", real(2.5f), JVARIANT_FLOAT, 4, false, 0, true, 2.5f},
        {"text", text("abc"), JVARIANT_STRING, 4, false, 0, false, 0},
        {"binary", binary({1, 2, 3}), JVARIANT_BINARY, 3, false, 0, false, 0},
        {"empty", JVariant(), JVARIANT_EMPTY, 0, false, 0, false, 0},
    };
    for (const Case& c : cases) {
        bool ok = !c.isInteger;
        EXPECT_EQ(c.value.type(), c.type) << c.name;
        EXPECT_EQ(c.value.size(), c.size) << c.name;
        EXPECT_EQ(c.value.toInteger(&ok), c.word) << c.name;
        EXPECT_EQ(ok, c.isInteger) << c.name;
        EXPECT_EQ(c.value.toFloat(&ok), c.asFloat) << c.name;
        EXPECT_EQ(ok, c.isFloat) << c.name;
        const char* s = c.value.getString(&ok);
        EXPECT_EQ(ok, c.type == JVARIANT_STRING) << c.name;
        EXPECT_EQ(s != nullptr, ok) << c.name;
        EXPECT_EQ(c.value.getStringSize(), ok ? c.size : 0u) << c.name;
        const uint8_t* b = c.value.getBinary(&ok);
        EXPECT_EQ(ok, c.type == JVARIANT_BINARY) << c.name;
        EXPECT_EQ(b != nullptr, ok) << c.name;
        EXPECT_EQ(c.value.getBinarySize(), ok ? c.size : 0u) << c.name;
    }
}

TEST(Variant, Equality)
{
    struct Case {
        const char* name;
        JVariant a;
        JVariant b;
        bool equal;
    };
    const Case cases[] = {
        {"empty == empty", JVariant(), JVariant(), false},
        {"signed -1 == unsigned max", JVariant(int32_t{-1}), JVariant(0xFFFFFFFFu), true},
        {"unsigned 5 == signed 5", JVariant(5u), JVariant(int32_t{5}), true},
        {"int 5 == int 6", JVariant(5u), JVariant(6u), false},
        {"int 5 == float 5", JVariant(int32_t{5}), real(5.0f), false},
        {"float 5 == int 5", real(5.0f), JVariant(int32_t{5}), true},
        {"float 5 == unsigned 5", real(5.0f), JVariant(5u), true},
        {"float 5 == float 5", real(5.0f), real(5.0f), true},
        {"float 5 == text", real(5.0f), text("5"), false},
        {"int == text", JVariant(5u), text("5"), false},
        {"text == same text", text("abc"), text("abc"), true},
        {"text == longer text", text("ab"), text("abc"), false},
        {"text == other text", text("abd"), text("abc"), false},
        {"text == binary of its bytes", text("ab"), binary({'a', 'b', 0}), false},
        {"binary == same", binary({1, 2, 3}), binary({1, 2, 3}), true},
        {"binary == prefix", binary({1, 2}), binary({1, 2, 3}), false},
        {"binary == other", binary({1, 2, 4}), binary({1, 2, 3}), false},
        {"text == empty", text(""), JVariant(), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.name;
        EXPECT_EQ(c.a != c.b, !c.equal) << c.name;
    }
}

TEST(Variant, AssignmentsWidenByTheirType)
{
    JVariant v;
    v = int8_t{-1};
    EXPECT_EQ(v.type(), JVARIANT_INT32);
    EXPECT_EQ(v.toInteger(), 0xFFFFFFFFu);
    v = uint8_t{0xFF};
    EXPECT_EQ(v.type(), JVARIANT_UINT32);
    EXPECT_EQ(v.toInteger(), 0xFFu);
    v = int16_t{-2};
    EXPECT_EQ(v.toInteger(), 0xFFFFFFFEu);
    v = uint16_t{0xFFFF};
    EXPECT_EQ(v.toInteger(), 0xFFFFu);
    v = 3;
    EXPECT_EQ(v.type(), JVARIANT_INT32);
    v = 3u;
    EXPECT_EQ(v.type(), JVARIANT_UINT32);
    v = -5L;
    EXPECT_EQ(v.type(), JVARIANT_INT32);
    EXPECT_EQ(v.toInteger(), static_cast<uint32_t>(-5));
    v = 5ul;
    EXPECT_EQ(v.type(), JVARIANT_UINT32);
    // A long that a 32-bit value word cannot hold is not wrapped.
    v = 0x100000000L;
    EXPECT_EQ(v.type(), JVARIANT_EMPTY);
    v = 0x100000000ul;
    EXPECT_EQ(v.type(), JVARIANT_EMPTY);
    EXPECT_EQ(v.setInt32(1), JLIB_VAR_OK);
    EXPECT_EQ(v.setUInt32(1), JLIB_VAR_OK);
    EXPECT_EQ(v.clear(), 0);
    EXPECT_EQ(v.type(), JVARIANT_EMPTY);
}

TEST(Variant, TextLimits)
{
    JVariant v;
    const std::string longest(1023, 'x');
    EXPECT_EQ(v.setString(longest.c_str(), 5000), JLIB_VAR_OK);
    EXPECT_EQ(v.size(), 1024u);
    EXPECT_EQ(v.getString(), longest);

    // One byte more is refused and leaves nothing that passes for a value.
    const std::string tooLong(1024, 'x');
    EXPECT_EQ(v.setString(tooLong.c_str(), 5000), JLIB_VAR_E_ARG);
    EXPECT_EQ(v.type(), JVARIANT_EMPTY);
    EXPECT_EQ(v.getString(), nullptr);
    JVariant constructed(tooLong.c_str(), 2000);
    EXPECT_EQ(constructed.type(), JVARIANT_EMPTY);
    // The maximum length cuts before the limit is reached.
    EXPECT_EQ(v.setString(tooLong.c_str(), 10), JLIB_VAR_OK);
    EXPECT_EQ(v.size(), 11u);

    EXPECT_EQ(v.setString(nullptr, 10), JLIB_VAR_OK);
    EXPECT_EQ(v.type(), JVARIANT_STRING);
    EXPECT_STREQ(v.getString(), "");
    EXPECT_EQ(v.size(), 1u);

    // A text without NUL is read only up to the maximum length.
    std::unique_ptr<char[]> abc(new char[3]{'a', 'b', 'c'});
    EXPECT_EQ(v.setString(abc.get(), 3), JLIB_VAR_OK);
    EXPECT_STREQ(v.getString(), "abc");

    // The source may be the variant's own text.
    v.setString("hello", 100);
    EXPECT_EQ(v.setString(v.getString() + 1, 100), JLIB_VAR_OK);
    EXPECT_STREQ(v.getString(), "ello");
}

TEST(Variant, BinaryLimits)
{
    JVariant v(5u);
    const uint8_t bytes[3] = {9, 8, 7};
    EXPECT_EQ(v.setBinary(bytes, 0), JLIB_VAR_E_ARG);
    EXPECT_EQ(v.type(), JVARIANT_EMPTY);
    v = 5u;
    EXPECT_EQ(v.setBinary(nullptr, 3), JLIB_VAR_E_ARG);
    EXPECT_EQ(v.type(), JVARIANT_EMPTY);
    EXPECT_EQ(v.setBinary(bytes, 0xFFFFFFFC), JLIB_VAR_E_ARG);
    // Longer than a heap block can be: out of memory, nothing read.
    EXPECT_EQ(v.setBinary(bytes, 0x1000000), JLIB_VAR_E_MEMORY);
    EXPECT_EQ(v.type(), JVARIANT_EMPTY);
    EXPECT_EQ(v.setBinary(bytes, 3), JLIB_VAR_OK);
    EXPECT_EQ(bytesOf(v), std::string("\x09\x08\x07", 3));
}

TEST(Variant, CopiesAreDeepAndSelfAssignmentIsSafe)
{
    JVariant t = text("hello");
    t = t;
    EXPECT_STREQ(t.getString(), "hello");
    JVariant b = binary({1, 2, 3});
    b = b;
    EXPECT_EQ(bytesOf(b), std::string("\x01\x02\x03", 3));

    JVariant copy(t);
    EXPECT_NE(copy.getString(), t.getString());
    EXPECT_TRUE(copy == t);
    JVariant target(7u);
    target = b;
    EXPECT_NE(target.getBinary(), b.getBinary());
    EXPECT_TRUE(target == b);
    target = t;
    EXPECT_TRUE(target == t);
    target = real(1.5f);
    EXPECT_EQ(target.type(), JVARIANT_FLOAT);
    target = JVariant();
    EXPECT_EQ(target.type(), JVARIANT_EMPTY);
}

TEST(VariantArray, ConstructionChecksTypeSizeAndCount)
{
    struct Case {
        JVariantType type;
        uint32_t size;
        uint32_t count;
        bool ok;
    };
    const Case cases[] = {
        {JVARIANT_INT32, 1, 1, true},
        {JVARIANT_UINT32, 2, 1024, true},
        {JVARIANT_INT32, 3, 1, false},
        {JVARIANT_INT32, 4, 1025, false},
        {JVARIANT_INT32, 4, 0, false},
        {JVARIANT_FLOAT, 4, 2, true},
        {JVARIANT_FLOAT, 8, 2, false},
        {JVARIANT_STRING, 1024, 1, true},
        {JVARIANT_STRING, 1025, 1, false},
        {JVARIANT_STRING, 0, 1, false},
        {JVARIANT_BINARY, 0x3FFF, 1024, true},
        {JVARIANT_BINARY, 0x4000, 1024, false}, // 16 MiB: one byte past the heap limit
        {JVARIANT_BINARY, 0x01000000, 256, false}, // 2^32 bytes: 0 in 32-bit arithmetic
        {JVARIANT_BINARY, 0x00400001, 1024, false}, // 1 KiB in 32-bit arithmetic
        {JVARIANT_BINARY, 0xFFFFFFFB, 1, false},
        {JVARIANT_EMPTY, 4, 1, false},
    };
    for (const Case& c : cases) {
        JVariantArray array(c.type, c.size, c.count);
        const std::string name = std::to_string(c.type) + "/" + std::to_string(c.size) + "/" + std::to_string(c.count);
        EXPECT_EQ(array.count(), c.ok ? c.count : 0u) << name;
        EXPECT_EQ(array.type(), c.ok ? c.type : JVARIANT_EMPTY) << name;
        JVariant v(1u);
        EXPECT_EQ(jlib_succeeded(array.get(&v, 0)), c.ok) << name;
        EXPECT_EQ(array.set(0, v), c.ok ? JLIB_VAR_OK : JLIB_VAR_E_ARG) << name;
    }
}

TEST(VariantArray, IntegerAndFloatElements)
{
    JVariantArray bytes(JVARIANT_INT32, 1, 2);
    JVariant v;
    EXPECT_EQ(bytes.set(0, JVariant(int32_t{-1})), JLIB_VAR_OK);
    EXPECT_EQ(bytes.set(1, JVariant(0x1FEu)), JLIB_VAR_OK); // cut to 0xFE
    EXPECT_EQ(bytes.get(&v, 0), JLIB_VAR_OK);
    EXPECT_EQ(v.type(), JVARIANT_INT32);
    EXPECT_EQ(v.toInteger(), 0xFFFFFFFFu); // sign-extended
    bytes.get(&v, 1);
    EXPECT_EQ(v.toInteger(), 0xFFFFFFFEu);
    EXPECT_EQ(bytes.set(0, text("7")), JLIB_VAR_OK); // ignored
    bytes.get(&v, 0);
    EXPECT_EQ(v.toInteger(), 0xFFFFFFFFu);

    JVariantArray words(JVARIANT_UINT32, 2, 2);
    EXPECT_EQ(words.set(0, JVariant(0x12345u)), JLIB_VAR_OK);
    words.get(&v, 0);
    EXPECT_EQ(v.type(), JVARIANT_UINT32);
    EXPECT_EQ(v.toInteger(), 0x2345u);
    // A signed variant is not stored into an unsigned array, yet succeeds.
    EXPECT_EQ(words.set(1, JVariant(int32_t{-1})), JLIB_VAR_OK);
    words.get(&v, 1);
    EXPECT_EQ(v.toInteger(), 0u);

    JVariantArray longs(JVARIANT_INT32, 4, 1);
    longs.set(0, JVariant(int32_t{-123456}));
    longs.get(&v, 0);
    EXPECT_EQ(v.toInteger(), static_cast<uint32_t>(-123456));

    JVariantArray floats(JVARIANT_FLOAT, 4, 1);
    EXPECT_EQ(floats.set(0, real(-2.5f)), JLIB_VAR_OK);
    EXPECT_EQ(floats.set(0, JVariant(9u)), JLIB_VAR_OK); // ignored
    floats.get(&v, 0);
    EXPECT_EQ(v.type(), JVARIANT_FLOAT);
    EXPECT_EQ(v.toFloat(), -2.5f);

    EXPECT_EQ(floats.get(nullptr, 0), JLIB_VAR_E_ARG);
    EXPECT_EQ(floats.get(&v, 1), JLIB_VAR_E_ARG);
    EXPECT_EQ(floats.set(1, v), JLIB_VAR_E_ARG);
}

TEST(VariantArray, TextAndBinaryElements)
{
    JVariantArray texts(JVARIANT_STRING, 4, 3);
    JVariant v;
    EXPECT_EQ(texts.set(1, text("abcdef")), JLIB_VAR_OK);
    EXPECT_EQ(texts.get(&v, 1), JLIB_VAR_OK);
    EXPECT_STREQ(v.getString(), "abcd"); // element full, no NUL
    EXPECT_EQ(texts.set(1, text("ab")), JLIB_VAR_OK);
    texts.get(&v, 1);
    EXPECT_STREQ(v.getString(), "ab");
    EXPECT_EQ(texts.set(1, text("abc")), JLIB_VAR_OK); // text + NUL fills the element exactly
    texts.get(&v, 1);
    EXPECT_STREQ(v.getString(), "abc");
    texts.get(&v, 2);
    EXPECT_STREQ(v.getString(), "");
    EXPECT_EQ(texts.set(0, JVariant(1u)), JLIB_VAR_E_ARG);
    EXPECT_EQ(texts.set(3, text("x")), JLIB_VAR_E_ARG);

    JVariantArray blobs(JVARIANT_BINARY, 4, 2);
    EXPECT_EQ(blobs.set(0, binary({1, 2, 3, 4, 5, 6})), JLIB_VAR_OK);
    EXPECT_EQ(blobs.get(&v, 0), JLIB_VAR_OK);
    EXPECT_EQ(bytesOf(v), std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(blobs.set(0, binary({9})), JLIB_VAR_OK); // rest zero-filled
    blobs.get(&v, 0);
    EXPECT_EQ(bytesOf(v), std::string("\x09\0\0\0", 4));
    blobs.get(&v, 1);
    EXPECT_EQ(bytesOf(v), std::string(4, '\0'));
    EXPECT_EQ(blobs.set(1, text("x")), JLIB_VAR_E_ARG);
}
