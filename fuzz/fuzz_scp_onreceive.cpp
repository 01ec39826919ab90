// The client's receive loop over an in-memory transport, in every connection
// state: the first byte picks the state and the read size, the rest is what
// the unit sends. Nothing may crash or hang.
#include "scp/scp_client.h"
#include "tests/support/memory_transport.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using namespace SCP;

using qtest::MemoryTransport;

// Knows two parameters and one meter, so that replies reach the stores.
class Parameter : public ScpParameter {
public:
    JResult indexOf(int32_t& index, const ScpText& address) override
    {
        index = scp_wordEquals(address, "A", true) ? 0 : scp_wordEquals(address, "B", true) ? 1 : -1;
        return index < 0 ? SCP_E_INDEX : SCP_OK;
    }
    JResult nameOf(ScpText& address, int32_t index) override
    {
        if (index < 0 || index > 1)
            return SCP_E_INDEX;
        return address.assign(index == 0 ? "A" : "B", 1);
    }
};

class Meter : public ScpMeterReporter {
public:
    JResult nameOf(ScpText& address, int32_t index) override
    {
        return index == 0 ? address.assign("M", 1) : SCP_E_INDEX;
    }
};

class Steps : public IScpConnectSequence {
public:
    int32_t stepCount() override { return 6; }
    JResult step(ScpConnectStep& s, int32_t index) override
    {
        static const char* const tag = "productname";
        static const char* const data = "1000";
        const int32_t kinds[]
            = {SCP_STEP_DEVINFO, SCP_STEP_SCPMODE, SCP_STEP_GET, SCP_STEP_SSCURRENT, SCP_STEP_EVENT, SCP_STEP_MTRSTART};
        s.kind = kinds[index % 6];
        s.values[0] = s.kind == SCP_STEP_GET || s.kind == SCP_STEP_MTRSTART ? 0 : reinterpret_cast<intptr_t>(tag);
        s.values[1] = s.kind == SCP_STEP_GET ? 1 : reinterpret_cast<intptr_t>(data);
        s.values[2] = 0;
        return SCP_OK;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    MemoryTransport transport;
    transport.recordWrites = false;
    // Writes answer as if the socket were busy.
    transport.writeResult = VCOM::VCOM_PENDING;
    transport.input.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    transport.chunk = 1 + (mode >> 3) * 97;
    Parameter parameter;
    ScpDeviceReporter device;
    Meter meter;
    Steps steps;
    ScpClient client;
    client.attach(nullptr, &transport, nullptr, &device, &parameter, &meter);
    switch (mode & 7) {
    case 0: // attached, never started
        break;
    case 1: // negotiating
        client.OnConnected(1, 0);
        client.start(&steps);
        break;
    case 2: // negotiated at once
        client.OnConnected(1, 0);
        client.start(nullptr);
        break;
    case 3: // associating, reading
        client.OnConnected(1, 0);
        client.start(nullptr);
        client.startAssociation(1, &steps);
        break;
    case 4: // associating, writing
        client.OnConnected(1, 0);
        client.start(nullptr);
        client.startAssociation(0, &steps);
        break;
    case 5: // started, then the connection ended
        client.OnConnected(1, 0);
        client.start(&steps);
        client.OnDisconnected(1, 0);
        break;
    default: // started before the connection came up
        client.start(&steps);
        client.OnConnected(1, 0);
        break;
    }
    for (int i = 0; i < 4 && transport.position < transport.input.size(); ++i)
        client.OnReceive(1, 0);
    client.keepAliveTick();
    client.stop();
    return 0;
}
