// The device log dialog of second-generation Brox units fetching both
// summaries of a connected BroxL-D2 through the rack and saving them.
#include "tests/support/gui/modal_driver.h"
#include "tests/support/test_support.h"
#include "tests/ui/dialogs/dialog_bed.h"

#include "ui/dialogs/devlogdlg.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using dlgtest::DialogBed;
using Dialog = Quil::DevLogDlg;

namespace {

constexpr int kSlot = 4;
constexpr JResult kFail = static_cast<JResult>(0x80000000u);
const char kCurItemReceived[] = "/ListItem/listitem:0/CurSummaryItemReceived:0";
const char kEvtItemReceived[] = "/ListItem/listitem:0/EvtSummaryItemReceived:0";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The .log files of a folder.
QStringList logsIn(const QString& folder)
{
    return QDir(folder).entryList({"*.log"}, QDir::Files, QDir::Name);
}

class DevLogDlg : public testing::Test {
protected:
    void start(std::array<int32_t, 3> cur, std::array<int32_t, 3> evt, bool connect = true)
    {
        ASSERT_TRUE(bed.ready()) << bed.error();
        simtest::SimUnitConfig config = dlgtest::unitConfig(Quil::MODEL_BROXL_D2);
        config.lists = {{"IO:_CurSummary", cur}, {"IO:_EvtSummary", evt}};
        config.listItemText = [](const std::string& category, int32_t index) {
            return (category == "IO:_CurSummary" ? "cur " : "evt Pegel \xc3\xbc ") + std::to_string(index);
        };
        config.dropRequest = [this](const std::string& line) {
            std::lock_guard<std::mutex> guard(dropLock);
            return line == drop;
        };
        unit = bed.addUnit(kSlot, Quil::MODEL_BROXL_D2, config, connect);
        ASSERT_NE(unit, nullptr) << bed.error();
    }
    // Runs the dialog until it hides itself or shows `stopText`.
    bool runUntilDone(Dialog& dlg, const QString& stopText = QString())
    {
        return qtest::waitUntil(
            [&] { return !dlg.isVisible() || (!stopText.isEmpty() && dlg.messageLabel()->text() == stopText); }, 30000);
    }

    DialogBed bed;
    simtest::SimUnit* unit = nullptr;
    void setDrop(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(dropLock);
        drop = line;
    }
    std::mutex dropLock; // the unit's thread reads the rule
    std::string drop; // a request line the unit never answers
    qtest::TempDir folder;
};

TEST_F(DevLogDlg, SavesBothSummariesAsTheExpectedBytes)
{
    start({3, 0, 2}, {2, 5, 6});
    const QString where = QString::fromStdString(folder.path());
    qtest::ModalDriver driver;
    driver.typeFileName(where + "/");
    Dialog dlg;
    dlg.applyScale(1);
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    ASSERT_TRUE(runUntilDone(dlg));
    EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join("; ").toStdString();

    const QStringList logs = logsIn(where);
    ASSERT_EQ(logs.size(), 1) << dlg.savedPath().toStdString() << " " << dlg.messageLabel()->text().toStdString();
    EXPECT_TRUE(QRegularExpression("^BroxL-D2_\\d{12}\\.log$").match(logs[0]).hasMatch()) << logs[0].toStdString();
    EXPECT_EQ(dlg.savedPath(), where + "/" + logs[0]);
    EXPECT_EQ(readAll(where + "/" + logs[0]),
        QByteArray("cur 0\r\ncur 1\r\ncur 2\r\n\r\n\r\n[EVENT_LOGS]\r\nTOTAL_LINES = 2\r\n"
                   "evt Pegel \xc3\xbc 5\r\nevt Pegel \xc3\xbc 6\r\n"));
}

TEST_F(DevLogDlg, AnEmptyCurrentSummaryGoesStraightToTheEvents)
{
    start({0, 0, 0}, {1, 0, 0});
    qtest::ModalDriver driver;
    driver.typeFileName(QString::fromStdString(folder.path()) + "/");
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    ASSERT_TRUE(runUntilDone(dlg));
    EXPECT_EQ(dlg.lines(), QStringList({"", "", "[EVENT_LOGS]", "TOTAL_LINES = 1", "evt Pegel \xc3\xbc 0"}));
}

TEST_F(DevLogDlg, ProgressRunsHalfPerSummary)
{
    start({4, 0, 3}, {3, 10, 12});
    qtest::ModalDriver driver;
    driver.cancelFileDialog();
    Dialog dlg;
    dlgtest::LabelTrail trail(dlg.messageLabel());
    ASSERT_TRUE(trail.follow(bed.rack(), kSlot, kCurItemReceived));
    ASSERT_TRUE(trail.follow(bed.rack(), kSlot, kEvtItemReceived));
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    ASSERT_TRUE(driver.waitAllAnswered(30000));
    // The trail hears of the last reply through the memory thread.
    qtest::waitUntil([&] { return trail.texts.size() >= 7; }, 2000);
    EXPECT_EQ(trail.texts,
        QStringList({"Device Log 12%", "Device Log 25%", "Device Log 37%", "Device Log 50%", "Device Log 66%",
            "Device Log 83%", "Device Log 100%"}));
    // Cancelling the folder writes nothing and leaves the dialog on 100 %.
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.messageLabel()->text(), "Device Log 100%");
    EXPECT_TRUE(dlg.savedPath().isEmpty());
    EXPECT_TRUE(logsIn(QString::fromStdString(folder.path())).isEmpty());
    EXPECT_EQ(dlgtest::wordCount(*unit, "LISTITEM"), 7u);
}

TEST_F(DevLogDlg, AHugeCountIsFetchedAsTheFirstThousandItems)
{
    start({5000, 0, 4999}, {0, 0, 0});
    qtest::ModalDriver driver(60000);
    driver.cancelFileDialog();
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(driver.waitAllAnswered(60000));
    EXPECT_EQ(dlg.lines().size(), 1000 + 4);
    EXPECT_EQ(dlg.lines()[999], "cur 999");
    EXPECT_EQ(dlgtest::wordCount(*unit, "LISTITEM"), 1000u);
}

// A save that fails is the failure state: the dialog stays and a log saved
// earlier under the same name is not touched.
TEST_F(DevLogDlg, AFolderThatCannotBeWrittenFailsAndKeepsTheOlderLog)
{
    start({1, 0, 0}, {1, 0, 0});
    const QString where = QString::fromStdString(folder.path());
    // The name carries the minute: an older log for this one and the next.
    QStringList older;
    for (int minute = 0; minute < 2; ++minute) {
        const QDateTime at = QDateTime::currentDateTime().addSecs(60 * minute);
        older << where + "/BroxL-D2_" + at.toString("yyyyMMddhhmm") + ".log";
        QFile file(older.last());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("older log\r\n");
    }
    ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
    // Root writes into a read-only folder all the same; a file size limit
    // of nothing makes its write fail too.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (::geteuid() == 0) {
        const rlimit none{0, saved.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    qtest::ModalDriver driver;
    driver.typeFileName(where + "/");
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    const bool done = runUntilDone(dlg, "Can't Get Log.");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ::chmod(folder.path().c_str(), 0755);
    ASSERT_TRUE(done);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(dlg.messageLabel()->text(), "Can't Get Log.");
    EXPECT_TRUE(dlg.savedPath().isEmpty());
    for (const QString& path : older)
        EXPECT_EQ(readAll(path), "older log\r\n") << path.toStdString();
    EXPECT_EQ(logsIn(where).size(), 2);
}

// Every unanswered request ends in the failure text within the time-out,
// and nothing more is asked of the unit.
TEST_F(DevLogDlg, AnUnansweredStepFailsWithinTheTimeOut)
{
    const struct {
        const char* dropped;
        size_t linesBefore;
    } steps[] = {
        {"LISTITEMNUM IO:_CurSummary", 0},
        {"LISTITEM IO:_CurSummary 1", 1},
        {"LISTITEMNUM IO:_EvtSummary", 4},
        {"LISTITEM IO:_EvtSummary 7", 6},
    };
    // Every answered step before the dropped one has to beat the time-out
    // too, on however loaded a machine.
    constexpr int kTimeoutMs = 1000;
    // The link closes once the unit owes an answer for its read time-out,
    // and a dialog that starts while it reconnects fails at once: the link
    // must outlast every step, so that the next dialog's answers find it up.
    Quil::DevCommTimings timings;
    timings.stepTimeoutMs = 3000;
    timings.readTimeoutMs = 30000;
    bed.rack().setCommTimings(timings);
    start({2, 0, 1}, {2, 7, 8});
    for (const auto& step : steps) {
        SCOPED_TRACE(step.dropped);
        setDrop(step.dropped);
        Dialog dlg;
        dlg.handshake().setTimeoutMs(kTimeoutMs);
        ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
        ASSERT_TRUE(qtest::waitUntil([&] { return dlg.messageLabel()->text() == "Can't Get Log."; }, 10 * kTimeoutMs));
        const auto listRequests
            = [&] { return dlgtest::wordCount(*unit, "LISTITEMNUM") + dlgtest::wordCount(*unit, "LISTITEM"); };
        const auto requests = listRequests();
        racktest::RackFixture::spinFor(600);
        EXPECT_EQ(listRequests(), requests);
        EXPECT_EQ(static_cast<size_t>(dlg.lines().size()), step.linesBefore);
        EXPECT_FALSE(dlg.handshake().isWaiting());
    }
}

TEST_F(DevLogDlg, AFailedReplyFlagFailsAtOnce)
{
    setDrop("LISTITEMNUM IO:_CurSummary");
    start({2, 0, 1}, {2, 7, 8});
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return dlgtest::wordCount(*unit, "LISTITEMNUM") == 1; }));
    ASSERT_TRUE(bed.writeAsLink(kSlot, "/ListItem/listitem:0/CurSummaryNumReceived:0", -1));
    ASSERT_TRUE(qtest::waitUntil([&] { return dlg.messageLabel()->text() == "Can't Get Log."; }, 1000));
    EXPECT_FALSE(dlg.handshake().isWaiting());
}

// A request the memory refuses (here: the slot's link is connecting) asks
// nothing of the unit, so nothing would ever answer it.
TEST_F(DevLogDlg, ARefusedRequestWriteFails)
{
    ASSERT_TRUE(bed.ready()) << bed.error();
    constexpr int kAlone = 9;
    ASSERT_GE(bed.rack().mountModel(kAlone, Quil::MODEL_BROXL_D2), 0);
    ASSERT_TRUE(bed.writeAsLink(kAlone, "/DevState/devstate:0/ConnectionState:0", 1));
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kAlone), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return dlg.messageLabel()->text() == "Can't Get Log."; }, 1000))
        << dlg.messageLabel()->text().toStdString();
    EXPECT_FALSE(dlg.handshake().isWaiting());
}

TEST_F(DevLogDlg, SetUpIsRefusedTwiceAndWithoutACore)
{
    ASSERT_TRUE(bed.ready()) << bed.error();
    Dialog none;
    EXPECT_EQ(none.setup(nullptr, 0), kFail);
    // An empty slot cannot be subscribed to: the dialog is not shown.
    Dialog empty;
    EXPECT_LT(empty.setup(&bed.rack(), 9), 0);
    EXPECT_EQ(empty.messageLabel()->text(), "Can't Get Log.");
    EXPECT_EQ(empty.setup(&bed.rack(), 9), kFail);
}

} // namespace
