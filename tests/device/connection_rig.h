// A unit's link as the rack owner builds it: a device object, a DevComm on
// loopback with short waits, and a record of the link's states as the GUI
// thread receives them.
#pragma once

#include "tests/device/device_test.h"

#include "device/link/dev_brox.h"
#include "device/link/dev_comm.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_memthread.h"
#include "device/memory/dev_meters.h"
#include "device/memory/dev_object.h"
#include "tests/sim/sim_brox.h"
#include "tests/sim/sim_unit.h"

#include <QMetaObject>

#include <algorithm>

#include <memory>
#include <vector>

namespace conntest {

using namespace Quil;
using State = ScpDevice::State;

// The process's socket layer, made once by the first test that needs it; it
// goes at exit, before the socket service's own statics.
inline bool socketLayerUp()
{
    static VSockObject holder;
    return holder.isReady() || vsock_getState() == VSOCK_STATE_READY;
}

inline simtest::SimUnitConfig broxConfig(const std::string& address = "127.0.0.1", uint16_t port = 0)
{
    simtest::SimUnitConfig config;
    config.layoutPath = std::string(QUILLON_SOURCE_DIR) + "/tests/sim/layouts/brox.xml";
    config.address = address;
    config.port = port;
    simtest::useBroxAnswers(&config);
    return config;
}

// Short waits so that every case takes seconds; the meter renewal is long
// unless a case wants it.
inline DevCommTimings fastTimings()
{
    DevCommTimings t;
    t.waitMs = 20;
    t.keepAliveStepMs = 50;
    t.meterRenewalMs = 60000;
    t.stepTimeoutMs = 700;
    t.readTimeoutMs = 700;
    return t;
}

inline uint64_t wordCount(simtest::SimUnit& unit, const char* word)
{
    const auto stats = unit.stats();
    const auto it = stats.words.find(word);
    return it == stats.words.end() ? 0 : it->second;
}

inline int32_t unitValue(simtest::SimUnit& unit, const std::string& address, int32_t x)
{
    JLIB::JVariant value;
    if (unit.memory().read(simtest::SimCell{unit.memory().indexOfAddress(address), x, 0}, &value) < 0)
        return INT32_MIN;
    return static_cast<int32_t>(value.toInteger());
}

inline void preset(simtest::SimUnit& unit, const std::string& address, int32_t x, int32_t value)
{
    unit.memory().write(
        simtest::SimCell{unit.memory().indexOfAddress(address), x, 0}, JLIB::JVariant(value), simtest::SOURCE_LINK);
}

class Rig {
public:
    Rig(const QString& ip, uint16_t port, const QString& local, const DevCommTimings& timings = fastTimings(),
        ModelType type = MODEL_BROXL_D2)
        : states()
        , dev(0, type)
        , comm(nullptr, "key", ip, port, "BroxL-D2", type, 0, local, timings)
    {
        QObject::connect(
            &comm.clientThread()->device(), &ScpDevice::stateChanged, &comm, [this](State s) { states.push_back(s); });
        attachResult = comm.attachMemory(&dev, SOURCE_LINK);
    }
    ~Rig() { comm.detachMemory(); }

    void request(const char* path) { dev.setValue(QString::fromLatin1(path), JLIB::JVariant(1), SOURCE_UI); }
    void connectReq() { request(kConnectReqPath); }
    void disconnectReq() { request(kDisconnectReqPath); }
    std::string read(const char* path)
    {
        JLIB::JVariant value;
        return devtest::textOf(dev.getValue(QString::fromUtf8(path), &value), value);
    }
    std::string connectionState() { return read(kConnectionStatePath); }
    State state()
    {
        return comm.clientThread()->withDevice([](ScpDevice& device) { return device.state(); });
    }
    bool reach(State s, int timeoutMs = 8000)
    {
        return devtest::spinUntil([&] { return state() == s; }, timeoutMs);
    }
    bool connectAndWait()
    {
        connectReq();
        return reach(State::Connected) && devtest::spinUntil([&] { return connectionState() == "2"; }, 2000);
    }
    // The states the GUI thread saw after the last report of `at`, once
    // things settled.
    std::vector<State> statesAfter(State at)
    {
        devtest::spinFor(50);
        const auto last = std::find(states.rbegin(), states.rend(), at);
        return std::vector<State>(last.base(), states.end());
    }
    // Waits until the GUI thread was told of `s` among the reports from
    // index `from` on.
    bool sawFrom(size_t from, State s, int timeoutMs = 8000)
    {
        return devtest::spinUntil(
            [&] { return std::find(states.begin() + static_cast<long>(from), states.end(), s) != states.end(); },
            timeoutMs);
    }
    // Waits until the GUI thread was told of `s` after `at`.
    bool saw(State at, State s, int timeoutMs = 8000)
    {
        return devtest::spinUntil(
            [&] {
                const auto last = std::find(states.rbegin(), states.rend(), at);
                return last != states.rend() && std::find(last.base(), states.end(), s) != states.end();
            },
            timeoutMs);
    }

    std::vector<State> states; // outlives the connection, which reports into it
    DevObject dev; // the connection goes before it
    DevComm comm;
    JResult attachResult = -1;
};

// Per case: the socket layer, the memory thread, a simulated Brox unit.
class ConnectionTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(socketLayerUp());
        ASSERT_EQ(0, createMemThread());
        std::string why;
        ASSERT_EQ(0, unit.start(broxConfig(), &why)) << why;
    }
    void TearDown() override
    {
        unit.stop();
        destroyMemThread();
    }
    std::unique_ptr<Rig> rig(const DevCommTimings& timings = fastTimings())
    {
        return std::make_unique<Rig>("127.0.0.1", unit.port(), "127.0.0.1", timings);
    }

    simtest::SimUnit unit;
};

} // namespace conntest
