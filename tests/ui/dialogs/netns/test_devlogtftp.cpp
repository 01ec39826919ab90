// The device log dialog of third-generation Brox units: the unit's logging
// progress is followed through the rack, then the unit uploads its files
// with tftp-hpa's client to the dialog's TFTP server on the rack's
// interface. Each test runs in a network namespace of its own, so the
// server's fixed ports are never shared.
#include "tests/support/gui/modal_driver.h"
#include "tests/support/netns.h"
#include "tests/support/test_support.h"
#include "tests/ui/dialogs/dialog_bed.h"

#include "app/app_log.h"
#include "ui/dialogs/devlogdlg_tftp.h"

#include <QDir>
#include <QFile>
#include <QLabel>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using dlgtest::DialogBed;
using Dialog = Quil::DevLogDlg_TFTP;

namespace {

constexpr int kSlot = 6;
const char kUri[] = "tftp://198.18.0.1:1999";

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// What the unit does, scripted by the test; called on the unit's thread.
class UnitScript {
public:
    // Progress texts handed out in order for the current summary; the last
    // one repeats. Event summary items answer `transfer`.
    void setProgress(std::deque<std::string> texts, std::string transfer)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_progress = std::move(texts);
        m_transfer = std::move(transfer);
    }
    // Files (local path, name asked for) the unit uploads on "event tftpuri".
    void setUploads(std::vector<std::pair<std::string, std::string>> uploads)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_uploads = std::move(uploads);
    }
    // Requests that start with `prefix` get no answer.
    void setDrop(std::string prefix)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_drop = std::move(prefix);
    }

    std::string item(const std::string& category, int32_t index)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (category != "IO:_CurSummary")
            return m_transfer;
        m_polled.push_back(index);
        const std::string text = m_progress.empty() ? "100" : m_progress.front();
        if (m_progress.size() > 1)
            m_progress.pop_front();
        return text;
    }
    bool drops(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return !m_drop.empty() && line.rfind(m_drop, 0) == 0;
    }
    void event(const std::string& id, const std::string& data)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (id != "tftpuri")
            return;
        m_uris.push_back(data);
        const std::string hostPort = data.rfind("tftp://", 0) == 0 ? data.substr(7) : data;
        const std::string host = hostPort.substr(0, hostPort.find(':'));
        const std::string port = hostPort.substr(hostPort.find(':') + 1);
        // The unit uploads on its own; its replies go on meanwhile.
        m_uploaders.emplace_back([this, host, port, uploads = m_uploads] {
            for (const auto& [local, remote] : uploads) {
                m_uploading = true;
                qtest::runCommand("timeout 5 tftp -m binary " + host + " " + port + " -c put " + local + " " + remote
                    + " >/dev/null 2>&1");
            }
            m_uploadsDone = true;
        });
    }

    std::vector<int32_t> polled()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_polled;
    }
    std::vector<std::string> uris()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_uris;
    }
    void joinUploads()
    {
        std::vector<std::thread> threads;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            threads.swap(m_uploaders);
        }
        for (auto& t : threads)
            t.join();
    }

    std::atomic<bool> m_uploading{false};
    std::atomic<bool> m_uploadsDone{false};

private:
    std::mutex m_lock;
    std::deque<std::string> m_progress;
    std::string m_transfer = "100";
    std::vector<std::pair<std::string, std::string>> m_uploads;
    std::string m_drop;
    std::vector<int32_t> m_polled;
    std::vector<std::string> m_uris;
    std::vector<std::thread> m_uploaders;
};

class DevLogTftp : public testing::Test {
protected:
    // Inside the namespace: the rack on its interface, and the log.
    bool enterBed()
    {
        if (!netns.ready() || !bed.ready())
            return false;
        appLogSetPath((std::string(logDir.path()) + "/AppLog.log").c_str());
        return bed.rack().setNetworkInterface(qtest::NetnsBed::kLocalMac, qtest::NetnsBed::kLocalAddress, false) >= 0;
    }
    simtest::SimUnit* addUnit(std::array<int32_t, 3> cur, std::array<int32_t, 3> evt)
    {
        simtest::SimUnitConfig config = dlgtest::unitConfig(Quil::MODEL_BROXL_D3);
        config.lists = {{"IO:_CurSummary", cur}, {"IO:_EvtSummary", evt}};
        config.listItemText = [this](const std::string& c, int32_t i) { return script.item(c, i); };
        config.dropRequest = [this](const std::string& line) { return script.drops(line); };
        config.onEvent = [this](const std::string& id, const std::string& data) { script.event(id, data); };
        return bed.addUnit(kSlot, Quil::MODEL_BROXL_D3, config);
    }
    void TearDown() override { script.joinUploads(); }
    QString where() const { return QString::fromStdString(folder.path()); }
    std::string appLog() const
    {
        std::ifstream in(appLogPath());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    qtest::NetnsBed netns;
    UnitScript script;
    qtest::TempDir folder; // where the logs are uploaded
    qtest::TempDir files; // the unit's own files
    qtest::TempDir logDir;
    DialogBed bed;
};

TEST_F(DevLogTftp, PollsEachItemToTheEndThenTheUnitUploadsIntoTheFolder)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(enterBed()) << netns.error() << bed.error();
    writeFile(files.file("a.log"), "first log\r\n");
    writeFile(files.file("b.log"), std::string(3000, 'b'));
    const std::string outside = files.file("abs.log");
    script.setProgress({"40", "100", "100"}, "100");
    script.setUploads({{files.file("a.log"), "unit_a.log"}, {files.file("b.log"), "unit_b.log"},
        {files.file("a.log"), "../escape.log"}, {files.file("a.log"), outside + ".copy"}});
    simtest::SimUnit* unit = addUnit({2, 0, 1}, {1, 0, 0});
    ASSERT_NE(unit, nullptr) << bed.error();

    qtest::ModalDriver driver;
    driver.typeFileName(where() + "/");
    Dialog dlg;
    dlgtest::LabelTrail trail(dlg.messageLabel());
    ASSERT_TRUE(trail.follow(bed.rack(), kSlot, "/ListItem/listitem:0/CurSummaryItemReceived:0"));
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    EXPECT_EQ(dlg.folder(), where());
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    ASSERT_TRUE(qtest::waitUntil([&] { return !dlg.isVisible(); }, 20000)) << dlg.messageLabel()->text().toStdString();
    EXPECT_EQ(trail.texts, QStringList({"Logging 1/2 40%", "Logging 1/2 100%", "Logging 2/2 100%"}));
    EXPECT_EQ(script.polled(), (std::vector<int32_t>{0, 0, 1}));
    EXPECT_EQ(script.uris(), std::vector<std::string>{kUri});
    EXPECT_EQ(dlgtest::wordCount(*unit, "event"), 2u); // logging start, tftpuri

    ASSERT_TRUE(qtest::waitUntil([&] { return script.m_uploadsDone.load(); }, 30000));
    // Each finished upload is logged; the label shows it as " .." unless a
    // later progress text has replaced it.
    const auto finishedLines = [&] {
        const std::string log = appLog();
        size_t n = 0;
        for (size_t at = log.find("!!!!TRANSFER_STATE_FINISHED #1\n"); at != std::string::npos;
             at = log.find("!!!!TRANSFER_STATE_FINISHED #1\n", at + 1))
            ++n;
        return n;
    };
    EXPECT_TRUE(qtest::waitUntil([&] { return finishedLines() == 2; }, 5000)) << appLog();
    EXPECT_TRUE(dlg.messageLabel()->text().startsWith("Transffering"));
    EXPECT_TRUE(dlg.messageLabel()->text().contains(" finished"));
    EXPECT_EQ(readAll(where() + "/unit_a.log"), "first log\r\n");
    EXPECT_EQ(readAll(where() + "/unit_b.log"), QByteArray(3000, 'b'));
    // Names that leave the folder land nowhere.
    EXPECT_FALSE(QFile::exists(where() + "/../escape.log"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(outside + ".copy")));
    EXPECT_EQ(QDir(where()).entryList(QDir::Files | QDir::Hidden), QStringList({"unit_a.log", "unit_b.log"}));
    EXPECT_NE(appLog().find("[ERROR] !!!!TRANSFER_STATE_ABORTED #1"), std::string::npos) << appLog();

    // A transfer event on the server's task leaves the label to the GUI
    // thread.
    const QString before = dlg.messageLabel()->text();
    std::thread([&] { EXPECT_EQ(dlg.transferEvent(0, TFTP_EVENT_FINISHED), 0); }).join();
    EXPECT_EQ(dlg.messageLabel()->text(), before);
    EXPECT_TRUE(qtest::waitUntil([&] { return dlg.messageLabel()->text() == before + " .."; }, 2000));
}

// The simulated unit's own log, unscripted: the dialog follows its
// collection to the end, the unit uploads its files by its own TFTP client,
// and the dialog finishes.
TEST_F(DevLogTftp, TheSimulatedUnitsOwnLogCompletesTheDialog)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(enterBed()) << netns.error() << bed.error();
    simtest::SimUnitConfig config = dlgtest::unitConfig(Quil::MODEL_BROXL_D3);
    config.logFiles = simtest::simLogFiles(config);
    config.logItemMs = 100;
    ASSERT_EQ(config.logFiles.size(), 2u);
    simtest::SimUnit* unit = bed.addUnit(kSlot, Quil::MODEL_BROXL_D3, config);
    ASSERT_NE(unit, nullptr) << bed.error();

    qtest::ModalDriver driver;
    driver.typeFileName(where() + "/");
    Dialog dlg;
    dlgtest::LabelTrail trail(dlg.messageLabel());
    ASSERT_TRUE(trail.follow(bed.rack(), kSlot, "/ListItem/listitem:0/CurSummaryItemReceived:0"));
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    ASSERT_TRUE(qtest::waitUntil([&] { return !dlg.isVisible(); }, 20000)) << dlg.messageLabel()->text().toStdString();
    EXPECT_TRUE(trail.texts.contains("Logging 2/2 100%")) << trail.texts.join('|').toStdString();
    EXPECT_TRUE(dlg.messageLabel()->text().endsWith(" finished"));
    for (const simtest::SimLogFile& f : config.logFiles)
        EXPECT_EQ(readAll(where() + "/" + QString::fromStdString(f.name)), QByteArray::fromStdString(f.bytes))
            << f.name;
    EXPECT_EQ(unit->deviceLog()->lastError(), "");
}

// Closing the dialog while the unit uploads stops the server first: no
// transfer event reaches the dialog after it is gone.
TEST_F(DevLogTftp, ClosingDuringATransferIsClean)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(enterBed()) << netns.error() << bed.error();
    writeFile(files.file("big.log"), std::string(8 * 1024 * 1024, 'x'));
    writeFile(files.file("small.log"), "small\n");
    script.setProgress({"100"}, "50"); // the transfer never reports done
    script.setUploads({{files.file("small.log"), "small.log"}, {files.file("big.log"), "big.log"}});
    ASSERT_NE(addUnit({1, 0, 0}, {1, 0, 0}), nullptr) << bed.error();

    qtest::ModalDriver driver;
    driver.typeFileName(where() + "/");
    auto dlg = std::make_unique<Dialog>();
    ASSERT_GE(dlg->setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(dlg.get()));
    ASSERT_TRUE(qtest::waitUntil([&] { return QFile::exists(where() + "/small.log"); }, 20000));
    racktest::RackFixture::spinFor(100);
    EXPECT_FALSE(script.m_uploadsDone.load()) << "the big upload ended before the dialog closed";
    // An event whose label update is still queued when the dialog goes.
    std::thread([&] { dlg->transferEvent(0, TFTP_EVENT_FINISHED); }).join();
    dlg.reset();
    racktest::RackFixture::spinFor(300);
    script.joinUploads();
    racktest::RackFixture::spinFor(300);
    // The unfinished file never appears under its name.
    EXPECT_FALSE(QFile::exists(where() + "/big.log"));
    EXPECT_EQ(readAll(where() + "/small.log"), "small\n");
}

// Every unanswered step ends in the failure text within the time-out. The
// address is the dialog's own write: it must not end the wait by itself
// when no link takes it.
TEST_F(DevLogTftp, AnUnansweredStepFailsWithinTheTimeOut)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(enterBed()) << netns.error() << bed.error();
    {
        SCOPED_TRACE("logging start");
        script.setDrop("event logging");
        simtest::SimUnit* unit = addUnit({1, 0, 0}, {1, 0, 0});
        ASSERT_NE(unit, nullptr) << bed.error();
        qtest::ModalDriver driver;
        driver.typeFileName(where() + "/");
        Dialog dlg;
        dlg.handshake().setTimeoutMs(400);
        ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
        ASSERT_TRUE(qtest::waitUntil([&] { return dlg.messageLabel()->text() == "Can't Get Log."; }, 5000));
        EXPECT_EQ(dlgtest::wordCount(*unit, "LISTITEMNUM"), 0u);
    }
    {
        SCOPED_TRACE("address with no link");
        constexpr int kAlone = 9;
        ASSERT_GE(bed.rack().mountModel(kAlone, Quil::MODEL_BROXL_D3), 0);
        // The test answers as the unit's reporter would, up to the address.
        QTimer reporter;
        QObject::connect(&reporter, &QTimer::timeout, [&] {
            if (bed.text(kAlone, "/LogEvent/event:0/loggingSend:0") == "start")
                bed.rack().setValue(kAlone, "/LogEvent/event:0/loggingSend:0", JLIB::JVariant("", 0), 2);
            if (bed.value(kAlone, "/ListItem/listitem:0/CurSummaryNumReq:0") == 1) {
                bed.writeAsLink(kAlone, "/ListItem/listitem:0/CurSummaryNumReq:0", 0);
                bed.writeAsLink(kAlone, "/ListItem/listitem:0/CurSummaryNum:0", 0);
                bed.writeAsLink(kAlone, "/ListItem/listitem:0/CurSummaryNumReceived:0", 1);
            }
        });
        reporter.start(5);
        qtest::ModalDriver driver;
        driver.typeFileName(where() + "/");
        Dialog dlg;
        dlg.handshake().setTimeoutMs(400);
        ASSERT_GE(dlg.setup(&bed.rack(), kAlone), 0);
        ASSERT_TRUE(qtest::waitUntil([&] { return !bed.text(kAlone, "/LogEvent/event:0/TftpURISend:0").isEmpty(); }));
        EXPECT_EQ(bed.text(kAlone, "/LogEvent/event:0/TftpURISend:0"), kUri);
        EXPECT_TRUE(qtest::waitUntil([&] { return dlg.messageLabel()->text() == "Can't Get Log."; }, 3000))
            << dlg.messageLabel()->text().toStdString();
        EXPECT_TRUE(dlg.hasServer());
    }
}

// The upload port already taken on the interface: the server cannot start,
// and the dialog says so instead of waiting for ever.
TEST_F(DevLogTftp, AServerThatCannotStartFails)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(enterBed()) << netns.error() << bed.error();
    const int blocker = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(blocker, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(Dialog::kUploadPort);
    ASSERT_EQ(inet_pton(AF_INET, qtest::NetnsBed::kLocalAddress, &at.sin_addr), 1);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&at), sizeof at), 0) << strerror(errno);
    simtest::SimUnit* unit = addUnit({1, 0, 0}, {1, 0, 0});
    ASSERT_NE(unit, nullptr) << bed.error();
    qtest::ModalDriver driver;
    driver.typeFileName(where() + "/");
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    EXPECT_TRUE(qtest::waitUntil([&] { return dlg.messageLabel()->text() == "Can't Get Log."; }, 10000))
        << dlg.messageLabel()->text().toStdString();
    EXPECT_EQ(script.polled(), std::vector<int32_t>{0}) << "the current summary was followed first";
    EXPECT_TRUE(script.uris().empty());
    close(blocker);
}

TEST_F(DevLogTftp, ACancelledFolderFailsTheSetUp)
{
    QTEST_IN_NETNS();
    ASSERT_TRUE(enterBed()) << netns.error() << bed.error();
    ASSERT_NE(addUnit({1, 0, 0}, {1, 0, 0}), nullptr) << bed.error();
    qtest::ModalDriver driver;
    driver.cancelFileDialog();
    Dialog dlg;
    EXPECT_LT(dlg.setup(&bed.rack(), kSlot), 0);
    EXPECT_EQ(dlg.messageLabel()->text(), "Can't Get Log.");
    EXPECT_EQ(bed.text(kSlot, "/LogEvent/event:0/loggingSend:0"), "");
}

} // namespace
