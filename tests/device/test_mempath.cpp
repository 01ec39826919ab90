// Memory paths: text form and parsed form of element addresses.
#include "device/memory/dev_mempath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Quil;

namespace {

struct ParseCase {
    const char* path;
    JResult result;
    const char* function;
    const char* namePath;
    std::vector<uint32_t> indexes;
};

const ParseCase kParseCases[] = {
    {"/Backup/MeterSetup:0/PeakHold:0", 0, "Backup", "MeterSetup/PeakHold", {0, 0}},
    {"/DevState/devstate:0/ConnectionState:0", 0, "DevState", "devstate/ConnectionState", {0, 0}},
    {"/Mavik/Dev:0/MasterWCLK:0/Fs:3", 0, "Mavik", "Dev/MasterWCLK/Fs", {0, 0, 3}},
    {"/Backup/InCh:4294967295/HPFOn:0", 0, "Backup", "InCh/HPFOn", {4294967295u, 0}},
    // No indexes at all: parses, and no element answers to it.
    {"/Backup/MeterSetup/PeakHold", 0, "Backup", "MeterSetup/PeakHold", {}},
    {"/Backup", 0, "Backup", "", {}},
    // A name holds anything but "/"; its index follows its first ":".
    {"/F/a:b:3/c:1", DEV_E_FAIL, "", "", {}},
    {"/F/a:b:3", 0, "F", "a", {}},
    {"/F/:7", 0, "F", "", {7}},
    {"/F/a:0/b:", DEV_E_FAIL, "", "", {}},
    {"/F/a:0//b:1", DEV_E_FAIL, "", "", {}},
    {"/F/a:00012", 0, "F", "a", {12}},
    // 2^32 is no number: never wrapped to index 0 of another element.
    {"/Backup/InCh:4294967296/HPFOn:0", DEV_E_FAIL, "", "", {}},
    {"/Backup/InCh:4294967296", 0, "Backup", "InCh", {}},
    {"/Backup/InCh:18446744073709551616/HPFOn:0", DEV_E_FAIL, "", "", {}},
    {"/F/a:-1/b:0", DEV_E_FAIL, "", "", {}},
    {"/F/a:+1/b:0", DEV_E_FAIL, "", "", {}},
    {"/F/a: 1/b:0", DEV_E_FAIL, "", "", {}},
    {"/Backup/MeterSetup:x/PeakHold:0", DEV_E_FAIL, "", "", {}},
    {"Backup/MeterSetup:0/PeakHold:0", DEV_E_FAIL, "", "", {}},
    {"//MeterSetup:0/PeakHold:0", DEV_E_FAIL, "", "", {}},
    {"/", DEV_E_FAIL, "", "", {}},
    {"", DEV_E_FAIL, "", "", {}},
};

} // namespace

// A NUL inside a name would cut it short on its way to the memory.
TEST(DeviceMemoryPath, TextWithNulIsRefused)
{
    MemAddress address;
    const QString path = QStringLiteral("/Backup") + QChar(0) + QStringLiteral("x/InCh:0/HPFOn:0");
    EXPECT_EQ(DEV_E_FAIL, parseMemPath(path, &address));
}

TEST(DeviceMemoryPath, ParseTable)
{
    for (const ParseCase& c : kParseCases) {
        SCOPED_TRACE(c.path);
        MemAddress address;
        address.function = "untouched";
        ASSERT_EQ(c.result, parseMemPath(QString::fromUtf8(c.path), &address));
        if (c.result < 0) {
            EXPECT_EQ("untouched", address.function);
            continue;
        }
        EXPECT_EQ(c.function, address.function);
        EXPECT_EQ(c.namePath, address.namePath);
        EXPECT_EQ(c.indexes, address.indexes);
    }
}

TEST(DeviceMemoryPath, BuildTable)
{
    struct BuildCase {
        const char* function;
        const char* namePath;
        std::vector<uint32_t> indexes;
        uint32_t count;
        JResult result;
        const char* path;
    };
    const BuildCase cases[] = {
        {"DevState", "devstate/ConnectionState", {0, 0}, 2, 0, "/DevState/devstate:0/ConnectionState:0"},
        {"DevState", "devstate/ConnectionState", {0, 0}, 1, DEV_E_FAIL, nullptr},
        {"Backup", "InCh/HPFFreq", {31, 0}, 2, 0, "/Backup/InCh:31/HPFFreq:0"},
        {"F", "a", {4294967295u}, 1, 0, "/F/a:4294967295"},
        // Empty parts are kept.
        {"F", "a//b", {1, 2, 3}, 3, 0, "/F/a:1/:2/b:3"},
        {"F", "", {9}, 1, 0, "/F/:9"},
        // Names are copied as they are, placeholders and all.
        {"F", "a%1b/%0k", {3, 0}, 2, 0, "/F/a%1b:3/%0k:0"},
    };
    for (const BuildCase& c : cases) {
        SCOPED_TRACE(c.namePath);
        QString path = QStringLiteral("untouched");
        ASSERT_EQ(c.result, buildMemPath(c.function, c.namePath, c.indexes.data(), c.count, &path));
        EXPECT_EQ(c.path ? QString::fromUtf8(c.path) : QStringLiteral("untouched"), path);
    }
    const uint32_t zero[] = {0};
    QString path;
    EXPECT_EQ(DEV_E_FAIL, buildMemPath(nullptr, "a", zero, 1, &path));
    EXPECT_EQ(DEV_E_FAIL, buildMemPath("F", nullptr, zero, 1, &path));
    EXPECT_EQ(DEV_E_FAIL, buildMemPath("F", "a", nullptr, 1, &path));
}

TEST(DeviceMemoryPath, BuildOfParseGivesTheCanonicalPathBack)
{
    const char* const paths[] = {"/DevState/devstate:0/ConnectionState:0", "/Backup/InCh:31/HPFFreq:0",
        "/Current/Dev:0/MasterWCLK_Dante:0/LockUnlock:0", "/Current/Dev:0/CurrIPAddress:3", "/F/a:4294967295"};
    for (const char* text : paths) {
        MemAddress address;
        ASSERT_EQ(0, parseMemPath(QString::fromUtf8(text), &address)) << text;
        QString built;
        ASSERT_EQ(0, buildMemPath(address, &built)) << text;
        EXPECT_EQ(QString::fromUtf8(text), built);
    }
}
