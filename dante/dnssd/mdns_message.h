// Multicast DNS messages (the DNS message format with the mDNS bits): a
// parser for untrusted datagrams and a builder for our queries.
//
// Names travel as text: labels joined by "." with "." and "\" inside a
// label escaped by "\" (the DNS-SD service instance convention), no final
// dot. Parsing never reads outside the datagram: every count, pointer and
// rdlength is checked against the bytes present, compression pointers must
// point backwards (so chains end), labels are at most 63 bytes and a name at
// most 255 bytes on the wire.
#pragma once

#include "dante/support/aud_error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t MDNS_PORT = 5353;
// 224.0.0.251 in host order.
constexpr uint32_t MDNS_GROUP_HOST = 0xE00000FBu;

constexpr uint16_t MDNS_TYPE_A = 1;
constexpr uint16_t MDNS_TYPE_PTR = 12;
constexpr uint16_t MDNS_TYPE_TXT = 16;
constexpr uint16_t MDNS_TYPE_SRV = 33;
constexpr uint16_t MDNS_TYPE_ANY = 255;
constexpr uint16_t MDNS_CLASS_IN = 1;

// Top bit of the class: cache-flush in records, unicast-response in questions.
constexpr uint16_t MDNS_CLASS_TOP_BIT = 0x8000;
// The QR bit of the header flags: a response.
constexpr uint16_t MDNS_FLAG_RESPONSE = 0x8000;

constexpr size_t MDNS_LABEL_MAX = 63;
constexpr size_t MDNS_NAME_WIRE_MAX = 255;
// Larger than any datagram we receive (a jumbo frame carries ~9000 bytes).
constexpr size_t MDNS_MESSAGE_MAX = 9000;

struct mdns_question {
    std::string name;
    uint16_t type = 0;
    uint16_t klass = 0; // without the top bit
    bool unicast_response = false;
};

struct mdns_record {
    std::string name;
    uint16_t type = 0;
    uint16_t klass = 0; // without the top bit
    bool cache_flush = false;
    uint32_t ttl = 0;
    // PTR: the pointed-to name; SRV: the target host.
    std::string target;
    uint16_t priority = 0;
    uint16_t weight = 0;
    uint16_t port = 0; // host order
    uint32_t address = 0; // A: network order
    // TXT: the rdata as received; other types: empty.
    std::string rdata;
};

struct mdns_message {
    uint16_t id = 0;
    uint16_t flags = 0;
    std::vector<mdns_question> questions;
    // Answers, authority and additional records, in that order.
    std::vector<mdns_record> records;
    size_t answer_count = 0;
};

// Parses a whole datagram. INVALIDDATA for anything malformed (out is then
// unspecified), INVALIDPARAMETER for a null argument. Records of types we
// do not read keep only their header fields.
aud_error mdns_message_parse(const uint8_t* data, size_t length, mdns_message* out);

// Appends a query with these questions (id 0, no answers) to *out; names are
// compressed against earlier ones. INVALIDDATA when a name cannot be encoded
// (empty label, label over 63 bytes, name over 255 bytes, bad escape).
aud_error mdns_query_build(const std::vector<mdns_question>& questions, std::vector<uint8_t>* out);

// Splits escaped name text into raw labels. INVALIDDATA as above.
aud_error mdns_name_split(const std::string& name, std::vector<std::string>* labels);
// Joins raw labels into escaped text.
std::string mdns_name_join(const std::vector<std::string>& labels);
// Escapes one raw label ("." -> "\.", "\" -> "\\").
std::string mdns_label_escape(const std::string& label);
// DNS names compare without regard to ASCII case.
bool mdns_name_equal(const std::string& a, const std::string& b);
