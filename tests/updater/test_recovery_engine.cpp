// The update engine against tests/peers/recovery_unit.py: connect and update
// runs, every segment plan, and the exact message codes of each failure.
#include "tests/updater/recovery_fixtures.h"
#include "updater/update_file.h"
#include "updater/updater.h"

#include "tests/support/netns.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <tuple>
#include <vector>

using recoverytest::onLoopback;
using recoverytest::options;
using recoverytest::Unit;
using recoverytest::writeImage;

namespace {

const QByteArray kUnitMac = QByteArray::fromHex("001122334455");
constexpr int kRunLimitMs = 60000;
constexpr int kReplyMs = 5000;
constexpr int kSilenceMs = 1000;

// Runs the engine and records what its signals carry.
class Engine {
public:
    explicit Engine(bool boot = false)
        : updater(boot)
    {
        setReplyTimeout(kReplyMs);
        QObject::connect(
            &updater, &Updater::sendMessage, &updater,
            [this](uint16_t code) {
                std::lock_guard<std::mutex> lock(mutex);
                codes.push_back(code);
            },
            Qt::DirectConnection);
        QObject::connect(
            &updater, &Updater::progress, &updater,
            [this](uint32_t pos) {
                std::lock_guard<std::mutex> lock(mutex);
                progress.push_back(pos);
            },
            Qt::DirectConnection);
        QObject::connect(
            &updater, &Updater::commandCompleted, &updater,
            [this] {
                std::lock_guard<std::mutex> lock(mutex);
                ++completed;
            },
            Qt::DirectConnection);
    }

    // One pass; the record of the previous pass is dropped.
    // Waits short enough for silence tests, long enough for a loaded machine.
    void setReplyTimeout(int ms)
    {
        Updater::Timeouts timeouts;
        timeouts.connectMs = 5000;
        timeouts.writeMs = 5000;
        timeouts.replyMs = ms;
        updater.setTimeouts(timeouts);
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        codes.clear();
        progress.clear();
        completed = 0;
    }

    void run(int mode)
    {
        clear();
        updater.startCommand(mode);
        ASSERT_TRUE(updater.wait(kRunLimitMs));
        std::lock_guard<std::mutex> lock(mutex);
        ASSERT_EQ(completed, 1);
    }

    Updater updater;
    std::mutex mutex;
    std::vector<uint16_t> codes;
    std::vector<uint32_t> progress;
    int completed = 0;
};

struct Transcript {
    std::vector<int> commands;
    std::vector<std::string> writes; // "tag length md5"
    std::vector<std::string> sources;
    std::vector<std::string> errors;
};

Transcript parse(const std::vector<std::string>& lines)
{
    Transcript t;
    for (const std::string& line : lines) {
        const QStringList words = QString::fromStdString(line).split(' ');
        if (words.at(0) == "CMD" && words.size() == 4) {
            t.commands.push_back(words.at(1).toInt());
            t.sources.push_back(words.at(3).toStdString());
        } else if (words.at(0) == "WRITE" && words.size() == 5) {
            t.writes.push_back((words.at(1) + ' ' + words.at(2) + ' ' + words.at(3)).toStdString());
        } else {
            t.errors.push_back(line);
        }
    }
    return t;
}

std::string segment(const UpdateFile& file, const char* tag, int64_t offset, int64_t length)
{
    const QByteArray bytes = file.data(offset, length);
    EXPECT_EQ(bytes.size(), length) << tag;
    return std::string(tag) + ' ' + std::to_string(bytes.size()) + ' '
        + QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString();
}

void target(Engine& engine, uint16_t port, const char* host = "127.0.0.1")
{
    engine.updater.setTarget(host, port, kUnitMac);
}

TEST(RecoveryEngine, ConnectRunLearnsNameAndVersionForTheNextRun)
{
    Unit unit(onLoopback({"--name", "Sorn-D", "--pver", "R1.020"}));
    Engine engine;
    target(engine, unit.port);
    engine.run(Updater::RunConnect);
    EXPECT_EQ(engine.codes, std::vector<uint16_t>({21}));
    EXPECT_EQ(engine.updater.deviceName(), "Sorn-D");
    EXPECT_EQ(engine.updater.deviceVersion(), "R1.020");
    const Transcript t = parse(unit.lines());
    EXPECT_EQ(t.commands, std::vector<int>({1, 2, 9, 8, 4, 13}));
    EXPECT_TRUE(t.errors.empty()) << t.errors.front();
    // On loopback no interface carries the connection: six 0xFF.
    for (const std::string& source : t.sources)
        EXPECT_EQ(source, "ff:ff:ff:ff:ff:ff");

    // A second pass against a unit that fails the name query keeps both.
    unit.configure(options({"--fault", "9:result:80000001"}));
    engine.run(Updater::RunConnect);
    EXPECT_EQ(engine.codes, std::vector<uint16_t>({16, 16}));
    EXPECT_EQ(engine.updater.deviceName(), "Sorn-D");
    EXPECT_EQ(engine.updater.deviceVersion(), "R1.020");
}

struct Plan {
    const char* name; // nullptr: no connect run before the update
    int64_t size;
    bool boot;
    std::vector<std::tuple<const char*, int64_t, int64_t>> segments;
};

TEST(RecoveryEngine, UpdateRunsWriteEverySegmentOfTheirPlan)
{
    const std::vector<Plan> plans = {
        {"Sorn-D", 0x200000, false, {{"FIRM:PROG", 0, 0x10F010}}},
        {"Sorn-D", 0x100000, false, {{"FIRM:PROG", 0, 0x100000}}},
        {"Sorn-D", 0x620000, false,
            {{"FIRM:PROG00", 0, 0x10F010}, {"FIRM:PROG01", 0x10F010, 0x100000}, {"FIRM:PROG02", 0x20F010, 0x100000},
                {"FIRM:PROG03", 0x30F010, 0x100000}, {"FIRM:PROG04", 0x40F010, 0x100000},
                {"FIRM:PROG05", 0x50F010, 0x100000}}},
        {"P-Series", 0x300000, false, {{"FIRM:PROG00", 0, 0x10F010}, {"FIRM:PROG01", 0x10F010, 0x100000}}},
        {nullptr, 0x300000, false, {{"FIRM:PROG00", 0, 0x10F010}, {"FIRM:PROG01", 0x10F010, 0x100000}}},
        {"Brox2", 0x420000, false, {{"FIRM:PROG00", 0, 0x40F010}}},
        {"brox2", 0x420000, false, {{"FIRM:PROG00", 0, 0x40F010}}},
        {"Z-Series", 0x400000, false, {{"FIRM:PROG00", 0, 0x10F010}, {"FIRM:PROG01", 0x18F010, 0x180000}}},
        {"BroxL-D3", 0x300000, false, {{"FIRM:PROG", 0, 0x20F010}}},
        {"Sorn-D", 0x700000, true, {{"FIRM:BOOT", 0, 0xE0000}}},
    };
    qtest::TempDir dir;
    Unit unit(onLoopback());
    for (const Plan& plan : plans) {
        SCOPED_TRACE(std::string(plan.name ? plan.name : "(no name)") + " " + std::to_string(plan.size));
        const QString path = QString::fromStdString(dir.file("image.bin"));
        ASSERT_TRUE(writeImage(path, plan.size, 0, {}, {}));
        UpdateFile file;
        ASSERT_TRUE(file.load(path, plan.boot));
        unit.configure(options({"--name", plan.name ? plan.name : "Sorn-D", "--bver", "B0.900"}));
        Engine engine(plan.boot);
        target(engine, unit.port);
        engine.updater.setUpdateFile(&file);
        std::vector<int> commands;
        if (plan.name) {
            engine.run(Updater::RunConnect);
            ASSERT_EQ(engine.codes, std::vector<uint16_t>({21}));
            EXPECT_EQ(engine.updater.deviceVersion(), plan.boot ? "B0.900" : "R1.020");
            commands = {1, 2, 9, 8, 4, 13};
        }
        engine.run(Updater::RunUpdate);
        EXPECT_EQ(engine.codes, std::vector<uint16_t>({22}));

        std::vector<std::string> expected;
        for (const auto& [tag, offset, length] : plan.segments)
            expected.push_back(segment(file, tag, offset, length));
        const Transcript t = parse(unit.lines());
        EXPECT_TRUE(t.errors.empty()) << t.errors.front();
        EXPECT_EQ(t.writes, expected);
        commands.insert(commands.end(), {1, 2, 5});
        commands.insert(commands.end(), plan.segments.size(), 6);
        commands.insert(commands.end(), {4, 13});
        EXPECT_EQ(t.commands, commands);

        // Progress ends at 100; within a segment it never goes down, and
        // a segment's frame overhead may carry it one point past the next
        // segment's start.
        ASSERT_FALSE(engine.progress.empty());
        EXPECT_EQ(engine.progress.back(), 100u);
        int drops = 0;
        for (size_t i = 1; i < engine.progress.size(); ++i) {
            if (engine.progress[i] < engine.progress[i - 1]) {
                EXPECT_EQ(engine.progress[i - 1] - engine.progress[i], 1u);
                ++drops;
            }
        }
        EXPECT_LT(drops, static_cast<int>(plan.segments.size()));
        if (plan.segments.size() > 1) {
            EXPECT_LE(engine.progress[engine.progress.size() - 2], 71u);
        }
    }
}

TEST(RecoveryEngine, ImagesTheirPlanWouldWriteOnlyInPartAreRefusedBeforeTheFirstWrite)
{
    qtest::TempDir dir;
    const struct {
        const char* name;
        int64_t size;
    } cases[] = {{"Brox2", 0x620000}, {"Z-Series", 0x420000}, {"Z-Series", 0x700000}};
    Unit unit(onLoopback());
    for (const auto& c : cases) {
        const QString path = QString::fromStdString(dir.file("image.bin"));
        ASSERT_TRUE(writeImage(path, c.size, 0, {}, {}));
        UpdateFile file;
        ASSERT_TRUE(file.load(path, false));
        unit.configure(options({"--name", c.name}));
        Engine engine;
        target(engine, unit.port);
        engine.updater.setUpdateFile(&file);
        engine.run(Updater::RunConnect);
        engine.run(Updater::RunUpdate);
        EXPECT_EQ(engine.codes, std::vector<uint16_t>({14, 6})) << c.name;
        const Transcript t = parse(unit.lines());
        EXPECT_EQ(t.commands, std::vector<int>({1, 2, 9, 8, 4, 13, 1, 2, 4, 13})) << c.name;
        EXPECT_TRUE(t.writes.empty());
    }
}

struct Failure {
    const char* what;
    std::vector<std::string> faults;
    int mode;
    std::vector<uint16_t> codes;
    std::vector<int> commands;
};

TEST(RecoveryEngine, EachFailureEndsWithTheCodesOfItsStep)
{
    const std::vector<Failure> failures = {
        {"pathway refused", {"1:result:80000001"}, 1, {9, 9}, {1}},
        {"authority refused", {"2:result:80000001"}, 1, {10, 10}, {1, 2}},
        {"changeover: not an update mode", {"5:result:800000FF"}, 2, {20, 13}, {1, 2, 5, 4, 13}},
        {"changeover refused", {"5:result:80000001"}, 2, {13, 13}, {1, 2, 5, 4, 13}},
        {"write: mismatched", {"6:result:8000020A"}, 2, {17, 14, 6}, {1, 2, 5, 6, 4, 13}},
        {"illegal command", {"1:illegal"}, 1, {19}, {1}},
        {"illegal write", {"6:illegal"}, 2, {19, 6}, {1, 2, 5, 6, 4, 13}},
        {"silent unit", {"1:silent"}, 1, {9}, {1}},
        {"silent name query", {"9:silent"}, 1, {16}, {1, 2, 9, 4, 13}},
        {"no result parameter", {"9:short"}, 1, {18, 16}, {1, 2, 9, 4, 13}},
        {"message length past the piece", {"1:longlen"}, 1, {18, 9}, {1}},
        {"name longer than the reply", {"9:longparam"}, 1, {18, 16}, {1, 2, 9, 4, 13}},
        {"frame length disagrees", {"1:badsize"}, 1, {9}, {1}},
        {"stream without delimiters", {"1:stream"}, 1, {9}, {1}},
        {"release refused", {"4:result:80000001"}, 1, {21, 12, 12}, {1, 2, 9, 8, 4, 13}},
        {"disconnect refused", {"13:result:80000001"}, 1, {21, 11, 11}, {1, 2, 9, 8, 4, 13}},
        {"bytes before the frame", {"1:prefix", "9:prefix"}, 1, {21}, {1, 2, 9, 8, 4, 13}},
        {"two frames in one write", {"1:twoframes:2"}, 1, {21}, {1, 2, 9, 8, 4, 13}},
    };
    qtest::TempDir dir;
    const QString path = QString::fromStdString(dir.file("image.bin"));
    ASSERT_TRUE(writeImage(path, 0x200000, 0x10F010, "r0107", "Sorn-D"));
    UpdateFile file;
    ASSERT_TRUE(file.load(path, false));
    Unit unit(onLoopback());
    for (const Failure& f : failures) {
        std::vector<std::string> args;
        for (const std::string& fault : f.faults)
            args.insert(args.end(), {"--fault", fault});
        unit.configure(options(args));
        Engine engine;
        target(engine, unit.port);
        engine.updater.setUpdateFile(&file);
        if (f.faults.front().find("silent") != std::string::npos)
            engine.setReplyTimeout(kSilenceMs);
        engine.run(f.mode);
        EXPECT_EQ(engine.codes, f.codes) << f.what;
        const Transcript t = parse(unit.lines());
        EXPECT_EQ(t.commands, f.commands) << f.what;
        EXPECT_TRUE(t.errors.empty()) << f.what << ": " << t.errors.front();
    }
}

TEST(RecoveryEngine, NoListenerGivesCodeOneAndAStartDuringARunOnlySetsTheMode)
{
    Engine engine;
    target(engine, qtest::freePort(SOCK_STREAM));
    engine.run(Updater::RunConnect);
    EXPECT_EQ(engine.codes, std::vector<uint16_t>({1}));
    engine.clear();

    // The unit stays silent on the pathway, so the pass is still running
    // when the second and third requests come.
    Unit unit(onLoopback({"--fault", "1:silent"}));
    target(engine, unit.port);
    engine.setReplyTimeout(kSilenceMs);
    engine.updater.startCommand(Updater::RunConnect);
    engine.updater.startCommand(Updater::RunUpdate);
    engine.updater.startCommand(Updater::RunUpdate);
    ASSERT_TRUE(engine.updater.wait(kRunLimitMs));
    std::lock_guard<std::mutex> lock(engine.mutex);
    EXPECT_EQ(engine.completed, 1);
    EXPECT_EQ(engine.codes, std::vector<uint16_t>({9}));
}

TEST(RecoveryEngine, SourceAddressIsTheInterfaceThatCarriesTheConnection)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    Unit unit(bed.inPeer(qtest::pythonPeer(
        "recovery_unit.py", {"--host", qtest::NetnsBed::kPeerAddress, "--mac", "00-11-22-33-44-55"})));
    ASSERT_NE(unit.port, 0);
    Engine engine;
    target(engine, unit.port, qtest::NetnsBed::kPeerAddress);
    engine.run(Updater::RunConnect);
    EXPECT_EQ(engine.codes, std::vector<uint16_t>({21}));
    const Transcript t = parse(unit.lines());
    ASSERT_EQ(t.sources.size(), 6u);
    for (const std::string& source : t.sources)
        EXPECT_EQ(source, qtest::NetnsBed::kLocalMac);
}

} // namespace
