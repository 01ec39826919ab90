#include "tests/sim/sim_client.h"

#include "pbd/OSWRAP/oswrap.h"
#include "pbd/jsdp/jsdp.h"
#include "pbd/vsock/vsock.h"

#include <cstdlib>
#include <thread>

namespace simtest {

bool simStartPlatform(bool discovery)
{
    static const bool base = [] {
        oswrap_init();
        const bool ok = vsock_init() == VSOCK_OK;
        // Threads must end before the process tears its statics down.
        std::atexit([] {
            jsdp_stopService();
            vsock_term();
            oswrap_shutdown();
        });
        return ok;
    }();
    if (!base)
        return false;
    if (!discovery)
        return true;
    static const bool engine = jsdp_startService() == JSDP_OK;
    for (int i = 0; engine && i < 500 && jsdp_getState() == JSDP_STATE_NOINIT; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return engine && jsdp_getState() != JSDP_STATE_NOINIT;
}

int32_t SimWaker::wakeup(uint16_t, VCOM::IVCom*)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_woken = true;
    }
    m_cond.notify_all();
    return 0;
}

void SimWaker::wait(int ms)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_cond.wait_for(guard, std::chrono::milliseconds(ms), [this] { return m_woken; });
    m_woken = false;
}

JResult SimClientDevice::deviceInfo(int32_t, SCP::ScpText& data, const SCP::ScpText& tag)
{
    const std::string t = toUtf8(tag);
    if (t == "productname")
        model = toUtf8(data);
    else if (t == "unitid")
        unitId = toUtf8(data);
    return SCP::SCP_OK;
}

JResult SimClientDevice::deviceStatus(int32_t, SCP::ScpText& data, const SCP::ScpText& tag)
{
    if (toUtf8(tag) == "runmode")
        runMode = toUtf8(data);
    return SCP::SCP_OK;
}

JResult SimClientDevice::replyError(int32_t, const SCP::ScpText& command, const SCP::ScpText& subject)
{
    errors.push_back(toUtf8(command) + " " + toUtf8(subject));
    return SCP::SCP_OK;
}

JResult MirrorClient::Steps::step(SCP::ScpConnectStep& out, int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= steps.size())
        return SCP::SCP_E_INDEX;
    out = steps[static_cast<size_t>(index)];
    return SCP::SCP_OK;
}

namespace {

SCP::ScpConnectStep textStep(int32_t kind, const char* first)
{
    SCP::ScpConnectStep s;
    s.kind = kind;
    s.values[0] = reinterpret_cast<intptr_t>(first);
    return s;
}

} // namespace

MirrorClient::MirrorClient(SimWaker& waker)
    : m_waker(waker)
    , m_client(SCP::ScpClient::create())
{
    m_negotiation.steps = {textStep(SCP::SCP_STEP_DEVINFO, "productname"), textStep(SCP::SCP_STEP_DEVINFO, "unitid"),
        textStep(SCP::SCP_STEP_DEVSTATUS, "runmode")};
}

MirrorClient::~MirrorClient()
{
    if (m_client) {
        m_client->stop();
        SCP::ScpClient::release(m_client);
    }
    m_socket.reset();
}

bool MirrorClient::connect(const std::string& local, const std::string& remote, uint16_t port)
{
    if (!m_client)
        return false;
    m_socket = std::make_unique<VCOM::VComTcpClientSocket>();
    m_socket->attach(1, &m_waker);
    if (m_client->attach(nullptr, m_socket.get(), this, &m_device, &m_parameter, &m_meter) != SCP::SCP_OK)
        return false;
    VCOM::VComSocketAddress localAddress, remoteAddress;
    if (localAddress.setAddressText(VSOCK_FAMILY_IPV4, local.c_str()) < 0
        || remoteAddress.setAddressText(VSOCK_FAMILY_IPV4, remote.c_str()) < 0)
        return false;
    return m_socket->connect(localAddress, remoteAddress, port) >= 0;
}

void MirrorClient::processEvents()
{
    if (m_socket)
        m_socket->processEvents(m_client);
}

JResult MirrorClient::negotiate()
{
    m_negotiated = false;
    return m_client->start(&m_negotiation);
}

JResult MirrorClient::associate()
{
    m_associated = false;
    m_association.steps.clear();
    const auto& params = m_memory.params();
    for (size_t i = 0; i < params.size(); ++i) {
        for (int32_t y = 0; y < params[i].yCount; ++y) {
            for (int32_t x = 0; x < params[i].xCount; ++x) {
                SCP::ScpConnectStep s;
                s.kind = SCP::SCP_STEP_GET;
                s.values[0] = static_cast<intptr_t>(i);
                s.values[1] = x;
                s.values[2] = y;
                m_association.steps.push_back(s);
            }
        }
    }
    return m_client->startAssociation(1, &m_association);
}

size_t MirrorClient::sendChanges()
{
    size_t sent = 0;
    for (const SimCell& cell : m_memory.drainChanged(SOURCE_LINK)) {
        // A text goes out in the text form: set carries numbers only.
        const bool isText = m_memory.params()[static_cast<size_t>(cell.index)].type == MMS::PARAM_STRING;
        const JResult rc = isText ? m_client->setTFromMemory(cell.index, cell.x, cell.y)
                                  : m_client->setFromMemory(cell.index, cell.x, cell.y);
        if (rc >= 0)
            ++sent;
    }
    return sent;
}

JResult MirrorClient::negotiated(SCP::ScpClient*)
{
    m_negotiated = true;
    return 0;
}

JResult MirrorClient::associated(SCP::ScpClient*)
{
    m_associated = true;
    return 0;
}

JResult MirrorClient::sequenceFailed(SCP::ScpClient*, bool, int32_t, JResult)
{
    ++m_failures;
    return 0;
}

bool simPumpUntil(
    SimWaker& waker, const std::vector<MirrorClient*>& clients, const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (MirrorClient* c : clients)
            c->processEvents();
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        waker.wait(5);
    }
}

} // namespace simtest
