// One answering session: received bytes in, reply lines out. Each complete
// request line is looked up in the server command table, decoded, carried out
// against the device side and answered (framing in scp_server.h). No socket
// here: the owner moves the bytes. Used by one thread; no lock.
#pragma once

#include "scp/scp_server.h"

#include <cstdint>
#include <vector>

namespace SCP {

// Room for one reply line; a reply that does not fit is answered with ERROR.
constexpr uint32_t SCP_SERVER_RING_SIZE = 65536;

class ScpServerSession {
public:
    // The objects are not owned and must outlive the session. context is
    // handed to every execute.
    ScpServerSession(ScpDeviceReporter* device, ScpParameter* parameter, ScpMeterReporter* meter, int32_t context);
    ScpServerSession(const ScpServerSession&) = delete;
    ScpServerSession& operator=(const ScpServerSession&) = delete;

    // Sizes the session's meter subscriptions; SCP_E_FAIL when called twice,
    // for capacity 0 or without the ring.
    JResult init(uint32_t meterCapacity);

    // Feeds received bytes; the replies of every line they complete are
    // appended to out. A line that is empty (the client's keep-alive) or has
    // no command word gets no reply. Every received line restarts the
    // keep-alive countdown when one is set. SCP_OK, or SCP_E_FAIL before init.
    JResult receive(const uint8_t* data, size_t length, std::vector<uint8_t>& out);

    // Answers one decoded line into ring (empty when no reply is due).
    // A word that has no server command is answered "ERROR <word>".
    // Returns the command's result (SCP_OK for no reply, SCP_E_MISSING for
    // an unknown word).
    JResult handleLine(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values, ScpRing& ring);

    // The protocol mode set by scpmode requests. The keep-alive countdown
    // runs at twice the client's interval: peerSilent() is true when the
    // client let two of its intervals pass without a line.
    ScpSessionData& session() { return m_session; }
    bool peerSilent() { return m_session.keepAliveDue(); }

private:
    ScpDeviceReporter* m_device;
    ScpParameter* m_parameter;
    ScpMeterReporter* m_meter;
    int32_t m_context;
    ScpSessionData m_session;
    ScpRing m_ring;
    bool m_ready = false;
};

} // namespace SCP
