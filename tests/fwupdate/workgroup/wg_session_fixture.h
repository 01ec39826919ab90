// A document for session tests: real member tables, a log of every call a
// session makes, and the events it is sent, handled on the test's thread.
#pragma once

#include "fwupdate/workgroup/wg_adapters.h"
#include "fwupdate/workgroup/wg_catalogue.h"
#include "fwupdate/workgroup/wg_handoff.h"
#include "fwupdate/workgroup/wg_session.h"
#include "fwupdate/workgroup/wg_tables.h"

#include <QCoreApplication>
#include <QObject>

#include "tests/support/test_support.h"
#include <chrono>
#include <memory>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace wgtest {

inline std::string idText(uint64_t id)
{
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(id));
    return text;
}

class RecordingDocument : public QObject, public WG::SessionDocumentIF, public WG::MemberListsIF {
public:
    static constexpr uint64_t kOwnId = 0x0251000000010000ull;

    RecordingDocument()
        : workgroup(&catalogue, this)
        , enumeration(&catalogue, this)
    {
    }
    // Sessions change the tables on their threads under the mutex: taking
    // it once more orders those changes before the tables go.
    ~RecordingDocument() override { std::lock_guard<WG::DocumentMutex> guard(mutex); }

    // --- what sessions call
    void detachSession(uint64_t id) override
    {
        log("detach " + idText(id));
        std::lock_guard<WG::DocumentMutex> guard(mutex);
        for (WG::WorkgroupData* t : {&workgroup, static_cast<WG::WorkgroupData*>(&enumeration)})
            if (WG::WorkgroupMember* m = WG::findMember(*t, id))
                m->session = nullptr;
    }
    void dropSession(uint64_t id) override
    {
        log("drop " + idText(id));
        WG::WMSession* session = nullptr;
        {
            std::lock_guard<WG::DocumentMutex> guard(mutex);
            if (WG::WorkgroupMember* m = WG::findMember(workgroup, id)) {
                session = m->session;
                workgroup.remove(id);
            }
        }
        if (session)
            session->deleteLater();
    }
    void closeSession(uint64_t id, bool reset) override { log("close " + idText(id) + (reset ? " reset" : "")); }
    void openManagementSession(uint64_t id) override { log("open " + idText(id)); }
    void startInterruptTask(uint64_t id, int task) override { log("task " + idText(id) + " " + std::to_string(task)); }
    void assignWorkgroupId(uint64_t id, uint64_t wg) override { log("assign " + idText(id) + " " + idText(wg)); }
    void recordError(uint64_t id, uint32_t code) override { log("error " + idText(id) + " " + std::to_string(code)); }
    void expireErrors() override { log("expire-errors"); }
    void setPendingLink(uint64_t id, bool value) override { log("pending " + idText(id) + (value ? " 1" : " 0")); }
    void remoteCloseDone() override { log("remote-close-done"); }
    void markConnected(uint64_t id) override { log("connected " + idText(id)); }
    WG::DocumentMutex& documentMutex() override { return mutex; }
    WG::WorkgroupData* workgroupTable() override { return &workgroup; }
    WG::EnumData* enumerationTable() override { return &enumeration; }
    uint64_t ownWorkgroupId() const override { return kOwnId; }
    bool enabled() const override { return on; }
    WG::Ipv6AdapterList* adapterList() override { return adapters; }
    QObject* eventTarget() override { return this; }

    const WG::MemberList& joinedMembers() const override { return workgroup.members(); }
    const WG::MemberList& discoveredMembers() const override { return enumeration.members(); }

    // --- for the tests
    std::vector<std::string> calls()
    {
        std::lock_guard<std::mutex> guard(logLock);
        return m_calls;
    }
    bool called(const std::string& call)
    {
        for (const std::string& c : calls())
            if (c == call)
                return true;
        return false;
    }
    int deletes = 0; // sessions deleted on DeleteWMSession
    std::vector<uint16_t> replies; // FirmUpdateReplyEvent results

    WG::ModelInfoList catalogue;
    WG::WorkgroupData workgroup;
    WG::EnumData enumeration;
    WG::DocumentMutex mutex;
    std::atomic<bool> on{true};
    WG::Ipv6AdapterList* adapters = nullptr;

protected:
    void customEvent(QEvent* e) override
    {
        WG::acceptHandoff();
        if (e->type() == WG::DeleteWMSession::kType) {
            if (WG::WMSession* s = static_cast<WG::DeleteWMSession*>(e)->session.data()) {
                ++deletes;
                delete s;
            }
        } else if (e->type() == WG::FirmUpdateReplyEvent::kType) {
            replies.push_back(static_cast<WG::FirmUpdateReplyEvent*>(e)->result);
        }
    }

private:
    void log(const std::string& call)
    {
        std::lock_guard<std::mutex> guard(logLock);
        m_calls.push_back(call);
    }
    std::mutex logLock;
    std::vector<std::string> m_calls;
};

// The sessions' waits shortened for a test, restored afterwards.
class ShortWaits {
public:
    explicit ShortWaits(int connectMs)
    {
        WG::SessionTimes& t = WG::sessionTimes();
        t.connectWaitMs = connectMs;
        t.disconnectWaitMs = connectMs;
        t.errorWaitMs = 100;
        t.statusTickMs = 40;
        t.statusLimit = 5;
        t.unansweredLimit = 30;
    }
    ~ShortWaits()
    {
        WG::SessionTimes& t = WG::sessionTimes();
        t.connectWaitMs = 5000;
        t.disconnectWaitMs = 5000;
        t.errorWaitMs = 4000;
        t.statusTickMs = 2000;
        t.statusLimit = 5;
        t.unansweredLimit = 30;
    }
    ShortWaits(const ShortWaits&) = delete;
    ShortWaits& operator=(const ShortWaits&) = delete;
};

constexpr uint64_t kUnitDevice = 0xa1b2c3d4e5f60000ull;

// The unit: answers sessions, reports every message it gets.
class Unit {
public:
    explicit Unit(std::vector<std::string> args = {}, uint64_t device = kUnitDevice)
    {
        args.insert(args.begin(), {"session", "--dev", idText(device)});
        m_child = std::make_unique<qtest::ChildProcess>(qtest::pythonPeer("workgroup_peer.py", args), true);
        // An interpreter can take seconds to start on a loaded machine.
        std::string line;
        if (m_child->readLine(&line, 30000) && line.rfind("PORT ", 0) == 0)
            port = std::stoi(line.substr(5));
    }
    ~Unit() { m_child->writeLine("quit"); }
    void say(const std::string& command) { m_child->writeLine(command); }
    // Waits, pumping the test thread's events, for a line that starts with
    // prefix; every line read is kept.
    bool expect(const std::string& prefix, int timeoutMs = 3000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            std::string line;
            if (m_child->readLine(&line, 5)) {
                lines.push_back(line);
                if (line.rfind(prefix, 0) == 0)
                    return true;
            }
            QCoreApplication::processEvents();
        }
        return false;
    }
    // Keeps the lines the unit printed so far, without waiting. A unit whose
    // output nobody reads blocks on the full pipe and answers nothing more.
    void drain()
    {
        std::string line;
        for (int i = 0; i < kDrainLines && m_child->readLine(&line, 0); ++i)
            lines.push_back(line);
    }
    // Reads (and keeps) lines for ms; how many start with prefix.
    int count(const std::string& prefix, int ms)
    {
        int n = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            std::string line;
            if (m_child->readLine(&line, 5)) {
                lines.push_back(line);
                n += line.rfind(prefix, 0) == 0;
            }
            QCoreApplication::processEvents();
        }
        return n;
    }
    std::string messages() const
    {
        std::string out;
        for (const std::string& l : lines)
            if (l.rfind("MSG", 0) == 0)
                out += l.substr(0, l.find(" total")) + "; ";
        return out;
    }
    int port = 0;
    std::vector<std::string> lines;

private:
    static constexpr int kDrainLines = 10000;
    std::unique_ptr<qtest::ChildProcess> m_child;
};

// Collects the firmware events a session posts to its receiver.
class UpdateReceiver : public QObject {
public:
    std::vector<uint16_t> replies;
    std::vector<QString> statusTexts;
    std::vector<uint16_t> statusWords;
    std::vector<QString> setupTexts;

protected:
    void customEvent(QEvent* e) override
    {
        WG::acceptHandoff();
        if (e->type() == WG::FirmUpdateReplyEvent::kType) {
            replies.push_back(static_cast<WG::FirmUpdateReplyEvent*>(e)->result);
        } else if (e->type() == WG::FirmUpdateStatusEvent::kType) {
            const auto* s = static_cast<WG::FirmUpdateStatusEvent*>(e);
            statusTexts.push_back(s->text);
            statusWords.push_back(s->statusWord);
        } else if (e->type() == WG::HardwareSetupReplyEvent::kType) {
            setupTexts.push_back(static_cast<WG::HardwareSetupReplyEvent*>(e)->payload);
        }
    }
};

} // namespace wgtest
