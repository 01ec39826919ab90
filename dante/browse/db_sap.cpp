// The SAP listener and its session table.
#include "dante/browse/db_sap.h"
#include "dante/browse/db_internal.h"

#include "dante/support/aud_interface.h"
#include "dante/support/aud_log.h"
#include "dante/support/aud_socket.h"

#include <list>
#include <vector>

namespace {

// A whole datagram: announcements longer than a small buffer would arrive
// cut and fail the line-end rule.
constexpr size_t kBufferSize = 65536;
const char* const kSapTag = "db_browse_sap";

struct Entry {
    sdp_session session;
    aud_time heard;
};

} // namespace

struct db_browse_sap {
    db_browse* browse = nullptr;
    std::list<Entry> sessions;
    int socket = -1;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kBufferSize);
};

namespace {

aud_log_state* sapLogOf(const db_browse_sap* sap)
{
    return aud_env_log(sap->browse ? sap->browse->env : nullptr);
}

void report(db_browse_sap* sap, const sdp_session* session, db_node_event event)
{
    db_browse* b = sap->browse;
    if (b && b->node_changed) {
        db_node_report r{DB_NODE_SESSION, nullptr, event, session};
        b->node_changed(b, &r);
    }
}

aud_time now(const db_browse_sap* sap)
{
    aud_time t{};
    aud_env_clock(sap->browse ? sap->browse->env : nullptr, &t);
    return t;
}

} // namespace

aud_error db_browse_sap_new(db_browse* browse, db_browse_sap** out)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    auto sap = std::make_unique<db_browse_sap>();
    sap->browse = browse;
    *out = sap.release();
    return AUD_SUCCESS;
}

void db_browse_sap_free(db_browse_sap* sap)
{
    if (!sap)
        return;
    aud_socket_close(&sap->socket);
    delete sap; // created by db_browse_sap_new
}

aud_error db_browse_sap_open(db_browse_sap* sap, const char* group)
{
    if (!sap || !sap->browse || !group)
        return AUD_INVALIDPARAMETER;
    // The group is joined by interface index, which must be known.
    const uint32_t index = sap->browse->config.interface_indexes[0];
    if (index == 0)
        return AUD_INVALIDPARAMETER;
    uint32_t address = 0;
    aud_error err = aud_inet_aton(group, &address);
    if (err)
        return AUD_INVALIDPARAMETER;
    if (sap->socket < 0 && (err = aud_socket_udp_open(&sap->socket, AF_INET))) {
        aud_log(sapLogOf(sap), AUD_LOG_ERROR, "%s: failed to create aes67 udp socket", kSapTag);
        return err;
    }
    if ((err = aud_socket_set_reuse_addr(sap->socket, 1)))
        aud_log(sapLogOf(sap), AUD_LOG_WARNING, "%s: failed to setopt for reusing aes67 sap address : erronum (%d)",
            kSapTag, err);
    if ((err = aud_socket_set_reuse_port(sap->socket, 1)))
        aud_log(sapLogOf(sap), AUD_LOG_WARNING, "%s: failed to setopt for reusing aes67 sap port : erronum (%d)",
            kSapTag, err);
    aud_sockaddr any{};
    aud_sockaddr_any(&any, AF_INET, DB_SAP_PORT);
    if ((err = aud_socket_bind(sap->socket, &any))) {
        aud_log(sapLogOf(sap), AUD_LOG_ERROR, "%s: failed to listen bind() for aes67", kSapTag);
        aud_socket_close(&sap->socket);
        return err;
    }
    aud_interface iface{};
    if (aud_interface_find_by_index(index, &iface) != AUD_SUCCESS) {
        aud_log(sapLogOf(sap), AUD_LOG_ERROR, "%s: failed to get active interface index : %d", kSapTag, index);
        aud_socket_close(&sap->socket);
        return AUD_NODEV;
    }
    if ((err = aud_socket_join_group(sap->socket, address, &iface))) {
        char text[AUD_STRERROR_SIZE];
        aud_log(sapLogOf(sap), AUD_LOG_ERROR, "%s: failed to add membership to interface index %d, %s (%d)", kSapTag,
            index, aud_strerror(err, text), err);
        aud_socket_close(&sap->socket);
        return err;
    }
    return AUD_SUCCESS;
}

aud_error db_browse_sap_close(db_browse_sap* sap)
{
    if (!sap || sap->socket < 0)
        return AUD_SHUTDOWN;
    return aud_socket_close(&sap->socket);
}

int db_browse_sap_socket(const db_browse_sap* sap)
{
    return sap ? sap->socket : -1;
}

aud_error db_browse_sap_process(int socket, db_browse_sap* sap)
{
    if (!sap)
        return AUD_INVALIDPARAMETER;
    size_t length = sap->buffer.size();
    aud_error err = aud_socket_recvfrom(socket, sap->buffer.data(), &length, nullptr);
    if (err) {
        aud_log(sapLogOf(sap), AUD_LOG_ERROR, "%s: failed to get aes67 socket data - errno - %d", kSapTag, err);
        return err;
    }
    sdp_session s{};
    if (get_sdp_parsed_structure(sap->buffer.data(), length, &s) != AUD_SUCCESS) {
        aud_log(sapLogOf(sap), AUD_LOG_WARNING, "%s: failed to parse SAP + SDP packet", kSapTag);
        return AUD_INVALIDDATA;
    }
    // A session is known by its origin: session id and the origin's address.
    auto it = sap->sessions.begin();
    for (; it != sap->sessions.end(); ++it)
        if (it->session.session_id == s.session_id && it->session.origin_address == s.origin_address)
            break;
    const aud_time heard = now(sap);
    if (it == sap->sessions.end()) {
        if (!s.deletion) {
            sap->sessions.push_front({s, heard});
            report(sap, &sap->sessions.front().session, DB_NODE_ADDED);
        }
        return AUD_SUCCESS;
    }
    if (s.deletion) {
        report(sap, &it->session, DB_NODE_REMOVED);
        sap->sessions.erase(it);
        return AUD_SUCCESS;
    }
    it->heard = heard;
    if (it->session.msg_id_hash != s.msg_id_hash) {
        it->session = s;
        report(sap, &it->session, DB_NODE_MODIFIED);
    }
    return AUD_SUCCESS;
}

void db_browse_sap_expire(db_browse_sap* sap)
{
    if (!sap)
        return;
    const aud_time t = now(sap);
    for (auto it = sap->sessions.begin(); it != sap->sessions.end();) {
        aud_time age = t;
        aud_time_sub(&age, &it->heard);
        if (age.seconds >= static_cast<int32_t>(DB_SAP_EXPIRY_SECONDS)) {
            report(sap, &it->session, DB_NODE_REMOVED);
            it = sap->sessions.erase(it);
        } else {
            ++it;
        }
    }
}

void db_browse_sap_forget(db_browse_sap* sap)
{
    if (sap)
        sap->sessions.clear();
}

size_t db_browse_sap_count(const db_browse_sap* sap)
{
    return sap ? sap->sessions.size() : 0;
}

const sdp_session* db_browse_sap_session_at(const db_browse_sap* sap, size_t i)
{
    if (!sap || i >= sap->sessions.size())
        return nullptr;
    auto it = sap->sessions.begin();
    std::advance(it, static_cast<long>(i));
    return &it->session;
}
