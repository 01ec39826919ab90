// The process-wide services: the application log, the preferences store and
// the single-instance guard (two real processes of a helper program).
#include "app/app_instance.h"
#include "app/app_log.h"

#include "fwupdate/mfu/mfu.h"
#include "fwupdate/tftp/tftp.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        out.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    if (start < text.size())
        out.push_back(text.substr(start)); // an unterminated tail is a fault too
    return out;
}

bool exists(const std::string& path)
{
    struct stat st { };
    return ::stat(path.c_str(), &st) == 0;
}

// A path of exactly `length` bytes below `dir`, its folders made.
std::string pathOfLength(const std::string& dir, size_t length)
{
    std::string path = dir + "/" + std::string(150 - dir.size() - 1, 'd');
    ::mkdir(path.c_str(), 0700);
    path += "/";
    return path + std::string(length - path.size(), 'f');
}

class AppServices : public ::testing::Test {
protected:
    qtest::TempDir dir;
};

TEST_F(AppServices, LinesUpTo1000BytesAreWrittenLongerOnesNot)
{
    const std::string log = dir.file("app.log");
    ASSERT_EQ(appLogSetPath(log.c_str()), APPLOG_OK);
    struct Case {
        size_t length;
        bool written;
    };
    const Case cases[] = {{0, true}, {1, true}, {999, true}, {1000, true}, {1001, false}, {5000, false}};
    std::string expected;
    for (const Case& c : cases) {
        const std::string text(c.length, 'x');
        const AppLogResult rc = appLogWrite(text.c_str());
        EXPECT_EQ(rc, c.written ? APPLOG_OK : APPLOG_E_FAIL) << c.length;
        if (c.written)
            expected += text + "\n";
    }
    EXPECT_EQ(appLogWrite(nullptr), APPLOG_E_FAIL);
    EXPECT_EQ(qtest::readFile(log), expected);
}

TEST_F(AppServices, FourThreadsLoseNoLine)
{
    const std::string log = dir.file("app.log");
    ASSERT_EQ(appLogSetPath(log.c_str()), APPLOG_OK);
    constexpr int kThreads = 4;
    constexpr int kLines = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                // Long lines make a torn or overwritten write easy to see.
                const std::string line
                    = "T" + std::to_string(t) + " L" + std::to_string(i) + " " + std::string(900, 'a' + t);
                appLogWrite(line.c_str());
            }
        });
    }
    for (auto& w : writers)
        w.join();

    const std::vector<std::string> got = lines(qtest::readFile(log));
    ASSERT_EQ(got.size(), size_t(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : got) {
        const int t = line.size() > 1 ? line[1] - '0' : -1;
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 20);
        // Each thread's lines arrive whole and in its own order.
        const std::string want
            = "T" + std::to_string(t) + " L" + std::to_string(next[t]++) + " " + std::string(900, 'a' + t);
        ASSERT_EQ(line, want);
    }
}

TEST_F(AppServices, PathsThatFitAreHeldWholeLongerOnesRefused)
{
    struct Case {
        size_t length;
        bool accepted;
    };
    const Case cases[] = {{APPLOG_PATH_SIZE - 1, true}, {APPLOG_PATH_SIZE, false}, {APPLOG_PATH_SIZE + 40, false}};
    for (const Case& c : cases) {
        const std::string path = pathOfLength(dir.path(), c.length);
        ASSERT_EQ(path.size(), c.length);
        EXPECT_EQ(appLogSetPath(path.c_str()), c.accepted ? APPLOG_OK : APPLOG_E_FAIL) << c.length;
        EXPECT_EQ(appLogPath(), c.accepted ? path : std::string()) << c.length;
        EXPECT_EQ(appLogWrite("line"), c.accepted ? APPLOG_OK : APPLOG_E_FAIL) << c.length;
        EXPECT_EQ(exists(path), c.accepted) << c.length;
    }
    EXPECT_EQ(appLogSetPath(nullptr), APPLOG_E_FAIL);
}

TEST_F(AppServices, AnOverlongPathDeletesNothing)
{
    // The files that cutting the long path would name.
    const std::string longPath = pathOfLength(dir.path(), APPLOG_PATH_SIZE + 40);
    const std::vector<std::string> victims
        = {longPath.substr(0, APPLOG_PATH_SIZE), longPath.substr(0, APPLOG_PATH_SIZE - 1)};
    for (const std::string& v : victims)
        ASSERT_TRUE(qtest::writeFile(v, "keep me"));

    EXPECT_EQ(appLogSetPath(longPath.c_str()), APPLOG_E_FAIL);
    EXPECT_EQ(appLogReset(), APPLOG_E_FAIL);
    EXPECT_EQ(appLogWrite("nothing"), APPLOG_E_FAIL);
    for (const std::string& v : victims)
        EXPECT_EQ(qtest::readFile(v), "keep me");
    EXPECT_FALSE(exists(longPath));
}

TEST_F(AppServices, ResetDeletesTheLogAndToleratesNone)
{
    const std::string log = dir.file("app.log");
    ASSERT_EQ(appLogSetPath(log.c_str()), APPLOG_OK);
    ASSERT_EQ(appLogWrite("previous run"), APPLOG_OK);
    ASSERT_TRUE(exists(log));
    EXPECT_EQ(appLogReset(), APPLOG_OK);
    EXPECT_FALSE(exists(log));
    EXPECT_EQ(appLogReset(), APPLOG_OK);
}

TEST_F(AppServices, TftpAndModelFirmwareLinesReachTheLog)
{
    const std::string log = dir.file("app.log");
    ASSERT_EQ(appLogSetPath(log.c_str()), APPLOG_OK);
    appLogInstallSinks();
    tftp_log("RRQ firmware.bin");
    mfu_log("[XMODEM END]");
    tftp_setLogSink(nullptr);
    mfu_setLogSink(nullptr);
    EXPECT_EQ(qtest::readFile(log), "RRQ firmware.bin\n[XMODEM END]\n");
}

// --- Processes -----------------------------------------------------------------

// Runs the helper with HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR and TMPDIR in a
// folder of the test's own, so parallel tests never share a lock or a socket.
class HelperEnv {
public:
    HelperEnv()
    {
        ::mkdir(runtime().c_str(), 0700);
        ::mkdir(config().c_str(), 0700);
    }
    std::string runtime() const { return m_dir.file("run"); }
    std::string config() const { return m_dir.file("config"); }

    std::vector<std::string> argv(const std::vector<std::string>& args) const
    {
        std::vector<std::string> out{"env", "HOME=" + m_dir.path(), "XDG_CONFIG_HOME=" + config(),
            "XDG_RUNTIME_DIR=" + runtime(), "TMPDIR=" + m_dir.path(), QUILLON_APP_HELPER};
        out.insert(out.end(), args.begin(), args.end());
        return out;
    }

    // Runs to the end; the first output line, or "" when it failed.
    std::string run(const std::vector<std::string>& args) const
    {
        qtest::ChildProcess child(argv(args));
        std::string line;
        child.readLine(&line);
        return child.wait() == 0 ? line : std::string();
    }

private:
    qtest::TempDir m_dir;
};

// The pid a helper names after `word` in a line "WORD <pid>"; 0 otherwise.
long pidAfter(const std::string& line, const std::string& word)
{
    if (line.rfind(word + " ", 0) != 0)
        return 0;
    return std::stol(line.substr(word.size() + 1));
}

TEST(InstanceChecker, SecondStartTellsTheFirstAndEndsWithZero)
{
    const HelperEnv env;
    qtest::ChildProcess first(env.argv({"instance"}));
    std::string line;
    ASSERT_TRUE(first.readLine(&line));
    ASSERT_GT(pidAfter(line, "FIRST"), 0) << line;

    qtest::ChildProcess second(env.argv({"instance"}));
    ASSERT_TRUE(second.readLine(&line, 5000));
    const long secondPid = pidAfter(line, "SECOND");
    ASSERT_GT(secondPid, 0) << line;
    EXPECT_EQ(second.wait(InstanceChecker::kNotifyTimeoutMs + 2000), 0);

    ASSERT_TRUE(first.readLine(&line));
    EXPECT_EQ(pidAfter(line, "REQUEST"), secondPid) << line;
    EXPECT_EQ(first.wait(), 0);
}

TEST(InstanceChecker, AKilledHoldersLockIsTakenOver)
{
    const HelperEnv env;
    std::string line;
    {
        qtest::ChildProcess holder(env.argv({"instance"}));
        ASSERT_TRUE(holder.readLine(&line));
        const long pid = pidAfter(line, "FIRST");
        ASSERT_GT(pid, 0) << line;
        ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
        holder.wait();
    }
    // The lock file and the socket file are left behind.
    ASSERT_TRUE(exists(env.runtime() + "/Valdor Quillon Application Mutex.lock"));

    qtest::ChildProcess next(env.argv({"instance"}));
    ASSERT_TRUE(next.readLine(&line));
    ASSERT_GT(pidAfter(line, "FIRST"), 0) << line;
    // And the new holder answers later starts.
    EXPECT_GT(pidAfter(env.run({"instance"}), "SECOND"), 0);
    ASSERT_TRUE(next.readLine(&line));
    EXPECT_GT(pidAfter(line, "REQUEST"), 0) << line;
}

TEST_F(AppServices, PrefsSurviveTheProcessInTheUsersStore)
{
    const HelperEnv env;
    struct Case {
        const char* key;
        const char* value;
    };
    // Geometry is binary (hex here), zero bytes included.
    const Case cases[] = {
        {"DefaultDir", "/home/op/Shows/Saison \xc3\xa9t\xc3\xa9"},
        {"MACAddr", "00:1D:C1:0A:0B:0C"},
        {"Geometry", "01d9d0cb000300000000001e0000003c"},
    };
    EXPECT_EQ(env.run({"prefs-get", "MACAddr"}), "<none>");
    for (const Case& c : cases)
        ASSERT_EQ(env.run({"prefs-set", c.key, c.value}), "OK") << c.key;
    for (const Case& c : cases)
        EXPECT_EQ(env.run({"prefs-get", c.key}), c.value) << c.key;
    // Native format, user scope: the file under the user's config folder.
    EXPECT_TRUE(exists(env.config() + "/Valdor/Quillon.conf"));
}

} // namespace
