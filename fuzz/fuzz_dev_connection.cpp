// The link's state machine fed from the fuzzer: socket events, the client's
// sequence ends, the rack owner's requests, keep-alive and meter ticks, and
// the loop's deadlines, in any order, on one unit's link with no thread. The
// socket only ever opens towards a closed loopback port. After every step:
// ConnectionState is the state's mapped value, a link loss ends in state 0,
// a late association end changes nothing, and state 0 accepts a connect.
#include "device/link/dev_scpdevice.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_mmsaccessor.h"
#include "device/memory/dev_object.h"
#include "fuzz/fuzz_check.h"
#include "pbd/jlib/jvariant.h"

#include <QCoreApplication>

#include <memory>

using namespace Quil;
using State = ScpDevice::State;

namespace {

class NoWake : public VCOM::IVComWakeupFunction {
public:
    int32_t wakeup(uint16_t, VCOM::IVCom*) override { return 0; }
};

int32_t mapped(State s)
{
    static const int32_t values[] = {0, 1, 1, 2, 3};
    return values[static_cast<int>(s)];
}

int32_t connectionState(DevObject& dev)
{
    JLIB::JVariant v;
    return dev.getValue(kConnectionStatePath, &v) >= 0 ? static_cast<int32_t>(v.toInteger()) : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_dev_connection";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static VSockObject sockets;
    static NoWake wake;
    if (size > 256)
        return 0;

    DevObject dev(0, MODEL_BROXL_D2);
    DevCommTimings timings;
    timings.stepTimeoutMs = 0;
    timings.readTimeoutMs = 1;
    auto link = std::make_unique<ScpDevice>("127.0.0.1", 1, "127.0.0.1", MODEL_BROXL_D2, timings);
    fuzzCheck(link->bindWakeup(&wake) == 0);
    fuzzCheck(link->attachMemory(&dev, SOURCE_LINK) == 0);

    for (size_t i = 0; i < size; ++i) {
        const State before = link->state();
        switch (data[i] % 12) {
        case 0:
            dev.setValue(kConnectReqPath, JLIB::JVariant(1), SOURCE_UI);
            link->handleRequests();
            if (before == State::Disconnected)
                fuzzCheck(link->state() == State::Negotiating || link->state() == State::Disconnected);
            break;
        case 1:
            dev.setValue(kDisconnectReqPath, JLIB::JVariant(1), SOURCE_UI);
            link->handleRequests();
            break;
        case 2:
            link->OnConnected(1, 0);
            break;
        case 3:
            link->OnDisconnected(1, 0);
            fuzzCheck(link->state() == State::Disconnected);
            break;
        case 4:
            link->OnConnectionFailed(1, 0, 0);
            fuzzCheck(link->state() == State::Disconnected);
            break;
        case 5:
            link->OnReceive(1, 0);
            break;
        case 6:
            link->negotiated(link->client());
            break;
        case 7:
            link->associated(link->client());
            if (before != State::Associating)
                fuzzCheck(link->state() == before);
            break;
        case 8:
            link->sequenceFailed(link->client(), data[i] & 0x10, 0, -1);
            break;
        case 9:
            link->serviceDeadlines();
            break;
        case 10:
            link->keepAliveTick();
            link->renewMeters();
            break;
        case 11:
            link->dispatchSocketEvents();
            break;
        }
        fuzzCheck(connectionState(dev) == mapped(link->state()));
    }
    link->detachMemory();
    link.reset();
    fuzzCheck(connectionState(dev) == 0);
    return 0;
}
