// Shared by the front's tests: a recording window callback (each call with
// its thread), the application log read back from a temporary file, and a
// front over the agent with a fake service probe and a fake glue.
#pragma once

#include "dante/dfa/dfa_internal.h"
#include "fwupdate/dfu/dfu.h"
#include "tests/dante/dfa/core/dfa_fixture.h"

#include "app/app_log.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace dfutest {

// Calls as short texts: "E<event>", "A<stage>:<code hex>" (front error),
// "D<stage>:<code hex>:<name>" (agent error), "S<child>:<state>".
class Recording : public IDfuAppCallback {
public:
    void dfuAppCallback(uint32_t event) override { add("E" + std::to_string(event)); }
    void dfuAppErrorCallback(const DfuErrorInfo& e) override { add("A" + std::to_string(e.stage) + ":" + hex(e.code)); }
    void dfuAppDeviceErrorCallback(const DfuErrorInfo& e, const char* name) override
    {
        add("D" + std::to_string(e.stage) + ":" + hex(e.code) + ":" + name);
    }
    void dfuSendDataCallback(uint16_t childId, uint32_t state) override
    {
        add("S" + std::to_string(childId) + ":" + std::to_string(state));
    }

    std::vector<std::string> calls() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls;
    }
    std::vector<std::thread::id> threads() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_threads;
    }
    // Calls from index `from` on.
    std::vector<std::string> since(size_t from) const
    {
        const auto all = calls();
        return std::vector<std::string>(all.begin() + static_cast<long>(std::min(from, all.size())), all.end());
    }
    size_t size() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_calls.size();
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_calls.clear();
        m_threads.clear();
    }
    // Waits until `call` has been made (from index `from` on).
    bool await(const std::string& call, int timeoutMs = 5000, size_t from = 0)
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_wake.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            return std::find(m_calls.begin() + static_cast<long>(std::min(from, m_calls.size())), m_calls.end(), call)
                != m_calls.end();
        });
    }
    size_t count(const std::string& call) const
    {
        const auto all = calls();
        return static_cast<size_t>(std::count(all.begin(), all.end(), call));
    }

    static std::string hex(uint32_t code)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%x", code);
        return text;
    }

private:
    void add(const std::string& call)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_calls.push_back(call);
            m_threads.push_back(std::this_thread::get_id());
        }
        m_wake.notify_all();
    }
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<std::string> m_calls;
    std::vector<std::thread::id> m_threads;
};

// The application log in a temporary folder.
class TempLog {
public:
    TempLog()
    {
        appLogSetPath(m_dir.file("app.log").c_str());
        appLogReset();
    }
    ~TempLog() { appLogSetPath(""); }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> out;
        std::istringstream in(qtest::readFile(m_dir.file("app.log")));
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }
    bool has(const std::string& line) const
    {
        const auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    void clear() { appLogReset(); }

private:
    qtest::TempDir m_dir;
};

inline const uint8_t kWantedMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

inline DfaInterface interfaceOf(const char16_t* name, const uint8_t* mac)
{
    DfaInterface i{};
    std::copy(name, name + std::char_traits<char16_t>::length(name), i.name);
    std::memcpy(i.mac, mac, 6);
    return i;
}

inline DfaDeviceInfo deviceNamed(const char* name, const char* module = "Bklyn2")
{
    DfaDeviceInfo d{};
    std::memcpy(d.name, name, std::min(std::strlen(name), sizeof d.name));
    std::memcpy(d.module_model_id, module, std::min(std::strlen(module), sizeof d.module_model_id));
    return d;
}

// Feeds one answer into the front's callback entry.
template <class T> void feed(DfaResult code, uint16_t kind, const T& record, uint16_t reqId = 0)
{
    static_assert(sizeof(T) <= DFA_PAYLOAD_MAX, "payload");
    DfaCallbackInfo info{};
    info.kind = kind;
    info.req_id = reqId;
    std::memcpy(info.payload, &record, sizeof record);
    DanteFirmwareUpdateModule::dfaCallback(code, &info);
}

struct Empty {
    uint8_t none = 0;
};

inline std::u16string u16(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

// A path of 160 units: the text, zero-filled.
inline std::array<char16_t, DFU_PATH_CHARS> path160(const std::u16string& text)
{
    std::array<char16_t, DFU_PATH_CHARS> p{};
    std::copy(text.begin(), text.begin() + static_cast<long>(std::min(text.size(), p.size())), p.begin());
    return p;
}

// Writes the named dnt_gen variant into dir as `as`; false on failure.
inline bool makeDnt(const std::string& dir, const std::string& variant, const std::string& as)
{
    qtest::TempDir scratch;
    if (qtest::runCommand(
            "python3 " + qtest::peerPath("dnt_gen.py") + " " + scratch.path() + " --only " + variant + " >/dev/null")
        != 0)
        return false;
    return qtest::writeFile(dir + "/" + as, qtest::readFile(scratch.file(variant + ".dnt")));
}

// A front over the agent with the fake probe and glue. stopped(): the
// service is absent, so the agent stays stopped and every request fails
// with DFA_ERR_NO_INIT; running(): the agent runs on the fake glue.
class FrontTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dfatest::ensureOswrap();
        dfa_set_print_level(0);
        const DfaServiceProbe probe = m_probe.probe();
        dfa_set_service_probe(&probe);
        m_glue.interfaces[0] = interfaceOf(u"eth-dante", kWantedMac);
        // Asked for the interface it has, the fake says it is already set.
        m_glue.reasons[DFA_REQ_SET_DANTE_IF] = dfa_reason(DFA_REASON_RANGE);
        const DfaGlue glue = m_glue.glue();
        dfa_set_glue(&glue);
        front = std::make_unique<DanteFirmwareUpdateModule>();
    }
    void TearDown() override
    {
        front.reset();
        ASSERT_TRUE(qtest::waitFor([] { return !dfa_main_active(); }, 6000));
        dfa_set_glue(nullptr);
        dfa_set_service_probe(nullptr);
    }
    void stopped(const uint8_t* mac = kWantedMac)
    {
        m_probe.state = DFA_SERVICE_STOPPED;
        ASSERT_EQ(front->InitializeDfa(&calls, mac), DFU_E_CONMON_ABSENT);
    }
    // Starts the agent and waits for the interface chain's events 5 and 6.
    void running(const uint8_t* mac = kWantedMac)
    {
        ASSERT_EQ(front->InitializeDfa(&calls, mac), DFU_OK);
        ASSERT_TRUE(calls.await("E6")) << ::testing::PrintToString(calls.calls());
    }

    dfatest::FakeProbe m_probe;
    dfatest::FakeGlue m_glue;
    TempLog log;
    Recording calls;
    std::unique_ptr<DanteFirmwareUpdateModule> front;
};

} // namespace dfutest
