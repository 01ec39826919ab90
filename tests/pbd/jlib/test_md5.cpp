#include "pbd/jlib/jlib_md5.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// Digest of data fed in pieces of chunk bytes (0: all at once).
std::string md5(const std::string& data, size_t chunk = 0)
{
    jlib_md5_ctx context;
    jlib_md5Init(&context);
    if (chunk == 0)
        chunk = data.size() ? data.size() : 1;
    for (size_t at = 0; at < data.size(); at += chunk)
        jlib_md5Update(&context, data.data() + at, std::min(chunk, data.size() - at));
    uint8_t digest[16];
    jlib_md5Final(digest, &context);
    return qtest::hex(digest, sizeof digest);
}

// Bytes of every value, in a pattern that does not repeat with the block size.
std::string pattern(size_t length)
{
    std::string data(length, '\0');
    for (size_t i = 0; i < length; ++i)
        data[i] = static_cast<char>((i * 31 + i / 251 + 7) & 0xFF);
    return data;
}

const size_t kLengths[] = {0, 1, 54, 55, 56, 57, 63, 64, 65, 119, 120, 121, 127, 128, 129, 1000, 100003};

} // namespace

TEST(Md5, Rfc1321Vectors)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a"},
    };
    std::string script = "import hashlib\nfor t in [";
    for (const auto& v : vectors)
        script += "'" + std::string(v.first) + "',";
    script += "]: print(hashlib.md5(t.encode()).hexdigest())\n";
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(dir.file("vectors.py"), script));
    std::string output;
    ASSERT_EQ(qtest::runCommand("python3 " + dir.file("vectors.py"), &output), 0);
    std::istringstream python(output);
    for (const auto& v : vectors) {
        std::string theirs;
        python >> theirs;
        EXPECT_EQ(theirs, v.second) << v.first;
        EXPECT_EQ(md5(v.first), v.second) << v.first;
    }
}

// Lengths around the padding edges (55/56 and 63/64 bytes into a block),
// against python's hashlib and md5sum, and fed in pieces of several sizes.
TEST(Md5, BlockEdgesAgainstHashlibAndMd5sum)
{
    std::string script = "import hashlib\nfor n in [";
    for (size_t n : kLengths)
        script += std::to_string(n) + ",";
    script += "]:\n    d = bytes(((i * 31 + i // 251 + 7) & 0xFF) for i in range(n))\n"
              "    print(hashlib.md5(d).hexdigest())\n";
    qtest::TempDir dir;
    ASSERT_TRUE(qtest::writeFile(dir.file("edges.py"), script));
    std::string output;
    ASSERT_EQ(qtest::runCommand("python3 " + dir.file("edges.py"), &output), 0);
    std::istringstream python(output);
    for (size_t n : kLengths) {
        const std::string data = pattern(n);
        std::string theirs;
        python >> theirs;
        const std::string ours = md5(data);
        EXPECT_EQ(ours, theirs) << n;
        ASSERT_TRUE(qtest::writeFile(dir.file("data"), data));
        std::string sum;
        ASSERT_EQ(qtest::runCommand("md5sum " + dir.file("data"), &sum), 0);
        EXPECT_EQ(sum.substr(0, 32), ours) << n;
        for (size_t chunk : {1, 7, 56, 63, 64, 65})
            EXPECT_EQ(md5(data, chunk), ours) << n << " in pieces of " << chunk;
    }
}

TEST(Md5, FinalClearsTheContext)
{
    jlib_md5_ctx context;
    jlib_md5Init(&context);
    jlib_md5Update(&context, "secret", 6);
    uint8_t digest[16];
    jlib_md5Final(digest, &context);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&context);
    for (size_t i = 0; i < sizeof context; ++i)
        ASSERT_EQ(bytes[i], 0) << i;
}
