// The AES67 part of the browser: a listener for Session Announcement
// Protocol packets on UDP port 9875, the parser of the Session Description
// Protocol text they carry (the forms AES67 audio streams use), and the
// table of sessions heard, reported through the browser's node callback
// with kind DB_NODE_SESSION.
#pragma once

#include "dante/support/aud_error.h"
#include "dante/support/aud_time.h"

#include <cstddef>
#include <cstdint>

struct db_browse;
struct db_browse_sap;

constexpr uint16_t DB_SAP_PORT = 9875;
constexpr uint32_t DB_SAP_EXPIRY_SECONDS = 3600;

constexpr uint8_t SDP_HAS_ORIGIN = 0x01;
constexpr uint8_t SDP_HAS_CONNECTION = 0x02;
constexpr uint8_t SDP_HAS_TIME = 0x04;
constexpr uint8_t SDP_HAS_MEDIA = 0x08;

constexpr uint8_t SDP_ATTR_RTPMAP = 0x01;
constexpr uint8_t SDP_ATTR_PTIME = 0x02;
constexpr uint8_t SDP_ATTR_REFCLK = 0x04;
constexpr uint8_t SDP_ATTR_MEDIACLK = 0x08;

enum sdp_direction : uint8_t { SDP_DIR_NONE = 0, SDP_DIR_RECVONLY = 1, SDP_DIR_SENDRECV = 2, SDP_DIR_SENDONLY = 3 };

struct sdp_session {
    uint32_t deletion;
    uint16_t msg_id_hash;
    uint32_t originating_source; // network order
    uint8_t presence;
    uint64_t session_id;
    uint64_t session_version;
    uint32_t origin_family; // 2: IPv4
    uint32_t origin_address; // network order
    char user_name[16];
    char session_name[64];
    char session_info[128];
    uint32_t connection_address; // network order
    uint8_t ttl;
    uint8_t num_addresses;
    uint16_t media_port;
    uint16_t port_count;
    uint8_t payload_type;
    char title[128];
    uint8_t attributes;
    uint32_t sample_rate;
    uint16_t encoding_bits;
    uint16_t channels;
    uint8_t direction;
    uint32_t packet_time_us;
    uint8_t ptp_grandmaster[6];
    char ptp_domain[16];
    uint32_t media_clock_offset;
    int dante;
};

// Checks the SAP header and parses the SDP text of one datagram into *out.
// Header: NODATA (8 bytes or less), NOTSUPPORTED (version, encryption,
// compression, IPv6 origin), INVALIDDATA (zero hash or source, authentication
// data or payload type beyond the datagram, no SDP text); the SDP text:
// INVALIDDATA for broken lines or order, NOTSUPPORTED for the rest.
aud_error get_sdp_parsed_structure(const uint8_t* packet, size_t length, sdp_session* out);

aud_error db_browse_sap_new(db_browse* browse, db_browse_sap** out);
void db_browse_sap_free(db_browse_sap* sap);
// Binds 0.0.0.0:9875 and joins the group by the first network's interface
// index. INVALIDPARAMETER while that index is 0, NODEV when no interface has
// it.
aud_error db_browse_sap_open(db_browse_sap* sap, const char* group);
// SHUTDOWN when already closed.
aud_error db_browse_sap_close(db_browse_sap* sap);
int db_browse_sap_socket(const db_browse_sap* sap);
// Receives and handles one datagram; INVALIDDATA for a bad one.
aud_error db_browse_sap_process(int socket, db_browse_sap* sap);
// Drops, with a report, the sessions not heard for 3600 s.
void db_browse_sap_expire(db_browse_sap* sap);
// Drops every session without a report.
void db_browse_sap_forget(db_browse_sap* sap);
size_t db_browse_sap_count(const db_browse_sap* sap);
const sdp_session* db_browse_sap_session_at(const db_browse_sap* sap, size_t i);
