#include "tests/pbd/fsw/fsw_test_util.h"

#include <cstdlib>
#include <ctime>

namespace {

std::string dateText(const FswDate& d)
{
    char text[32];
    std::snprintf(
        text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", d.year, d.month, d.day, d.hour, d.minute, d.second);
    return text;
}

// Sets TZ for the scope of one test.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) {
            m_had = true;
            m_old = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

} // namespace

TEST(FswInfo, FileSizeMatchesStat)
{
    qtest::TempDir dir;
    const std::string path = dir.file("f");
    ASSERT_TRUE(qtest::writeFile(path, std::string(12345, 'x')));
    uint32_t size = 0;
    ASSERT_EQ(fsw_getFileSize(&size, path.c_str()), FSW_OK);
    EXPECT_EQ(std::to_string(size), shell("stat -c %s " + quoted(path)));
    EXPECT_EQ(fsw_getFileSize(&size, dir.file("missing").c_str()), FSW_E_NOT_FOUND);
    EXPECT_EQ(fsw_getFileSize(nullptr, path.c_str()), FSW_E_ARGUMENT);
    EXPECT_EQ(fsw_getFileSize(&size, dir.path().c_str()), FSW_E_ACCESS);
}

TEST(FswInfo, FileTimesAreUtc)
{
    TimeZone zone("EST5EDT"); // a local zone must not leak into the UTC times
    qtest::TempDir dir;
    const std::string path = dir.file("f");
    ASSERT_TRUE(qtest::writeFile(path, "x"));
    shell("touch -m -d '2021-03-04 05:06:07 UTC' " + quoted(path));
    shell("touch -a -d '1999-12-31 23:59:58 UTC' " + quoted(path));

    FswDate created{}, accessed{}, written{};
    ASSERT_EQ(fsw_getFileTime(&created, &accessed, &written, path.c_str()), FSW_OK);
    EXPECT_EQ(dateText(written), "2021-03-04 05:06:07");
    EXPECT_EQ(dateText(accessed), "1999-12-31 23:59:58");
    // Creation: the birth time where the file system keeps one.
    const std::string birth = shell("stat -c %W " + quoted(path));
    const std::string expected
        = birth == "0" ? "2021-03-04 05:06:07" : shell("date -u -d @" + birth + " '+%Y-%m-%d %H:%M:%S'");
    EXPECT_EQ(dateText(created), expected);

    FswDate only{};
    EXPECT_EQ(fsw_getFileTime(nullptr, nullptr, &only, path.c_str()), FSW_OK);
    EXPECT_EQ(dateText(only), "2021-03-04 05:06:07");
    EXPECT_EQ(fsw_getFileTime(nullptr, nullptr, nullptr, path.c_str()), FSW_E_ARGUMENT);
    EXPECT_EQ(fsw_getFileTime(&only, nullptr, nullptr, dir.file("missing").c_str()), FSW_E_NOT_FOUND);
    EXPECT_EQ(fsw_getFileTime(&only, nullptr, nullptr, dir.path().c_str()), FSW_E_ACCESS);
}

TEST(FswInfo, UtcToLocalTime)
{
    TimeZone zone("XYZ-2"); // two hours east of UTC, no daylight saving
    struct Case {
        FswDate utc;
        FswResult result;
        const char* local;
    };
    const Case cases[] = {
        {{2021, 12, 31, 23, 30, 0}, FSW_OK, "2022-01-01 01:30:00"},
        {{2024, 2, 28, 22, 0, 59}, FSW_OK, "2024-02-29 00:00:59"},
        {{2023, 2, 29, 0, 0, 0}, FSW_E_FAIL, "2000-01-01 00:00:00"},
        {{2023, 13, 1, 0, 0, 0}, FSW_E_FAIL, "2000-01-01 00:00:00"},
        {{2023, 1, 1, 24, 0, 0}, FSW_E_FAIL, "2000-01-01 00:00:00"},
        {{2023, 1, 0, 0, 0, 0}, FSW_E_FAIL, "2000-01-01 00:00:00"},
    };
    for (const Case& c : cases) {
        FswDate local{1, 2, 3, 4, 5, 6};
        EXPECT_EQ(fsw_utcToLocalTime(&local, &c.utc), c.result) << dateText(c.utc);
        EXPECT_EQ(dateText(local), c.local);
    }
    FswDate local{};
    EXPECT_EQ(fsw_utcToLocalTime(&local, nullptr), FSW_E_FAIL);
    EXPECT_EQ(fsw_utcToLocalTime(nullptr, &local), FSW_E_ARGUMENT);
}

TEST(FswInfo, AttributesFollowPermissionsNamesAndTypes)
{
    qtest::TempDir dir;
    const std::string plain = dir.file("plain");
    const std::string hidden = dir.file(".hidden");
    const std::string sub = dir.file("sub");
    const std::string linkToDir = dir.file("linkdir");
    ASSERT_TRUE(qtest::writeFile(plain, "x"));
    ASSERT_TRUE(qtest::writeFile(hidden, "x"));
    shell("mkdir " + quoted(sub) + " && ln -s sub " + quoted(linkToDir) + " && chmod 644 " + quoted(plain));

    struct Case {
        std::string path;
        uint32_t attributes;
    };
    const Case cases[] = {
        {plain, FSW_ATTR_NORMAL}, {hidden, FSW_ATTR_HIDDEN}, {sub, FSW_ATTR_DIRECTORY},
        {linkToDir, FSW_ATTR_NORMAL}, // a link is never a folder to the wrapper
    };
    for (const Case& c : cases) {
        uint32_t a = 0;
        EXPECT_EQ(fsw_getAttributes(&a, c.path.c_str()), FSW_OK) << c.path;
        EXPECT_EQ(a, c.attributes) << c.path;
    }

    // chmod from outside is seen as read-only...
    shell("chmod a-w " + quoted(plain));
    uint32_t a = 0;
    ASSERT_EQ(fsw_getAttributes(&a, plain.c_str()), FSW_OK);
    EXPECT_EQ(a, FSW_ATTR_READONLY);
    // ...and setting it is seen from outside.
    EXPECT_EQ(fsw_setAttributes(FSW_ATTR_NORMAL, plain.c_str()), FSW_OK);
    EXPECT_EQ(shell("stat -c %a " + quoted(plain)), "644");
    EXPECT_EQ(fsw_setAttributes(FSW_ATTR_READONLY | FSW_ATTR_ARCHIVE, plain.c_str()), FSW_OK);
    EXPECT_EQ(shell("stat -c %a " + quoted(plain)), "444");
    EXPECT_EQ(fsw_setAttributes(FSW_ATTR_READONLY | FSW_ATTR_HIDDEN, hidden.c_str()), FSW_OK);
    ASSERT_EQ(fsw_getAttributes(&a, hidden.c_str()), FSW_OK);
    EXPECT_EQ(a, FSW_ATTR_READONLY | FSW_ATTR_HIDDEN);

    EXPECT_EQ(fsw_getAttributes(&a, dir.file("missing").c_str()), FSW_E_NOT_FOUND);
    EXPECT_EQ(fsw_setAttributes(FSW_ATTR_NORMAL, dir.file("missing").c_str()), FSW_E_NOT_FOUND);
    EXPECT_EQ(fsw_getAttributes(nullptr, plain.c_str()), FSW_E_ARGUMENT);
}
