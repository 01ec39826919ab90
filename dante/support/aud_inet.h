// IPv4 addresses (uint32_t in network order) and the library's socket
// address record, with their texts.
#pragma once

#include "dante/support/aud_error.h"

#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>

// Socket address record: `len` is the number of bytes of `addr` in use
// (sizeof(sockaddr_in), 16, for IPv4; 0 for an empty record) and `addr` the
// platform socket address. Only IPv4 is filled by this library; the union
// leaves room for what a socket may report.
struct aud_sockaddr {
    uint8_t len;
    union {
        sockaddr sa;
        sockaddr_in in;
        sockaddr_in6 in6;
    } addr;
};

// Longest dotted quad with its NUL, and longest aud_sockaddr_text result.
constexpr size_t AUD_INET_TEXT_SIZE = 16;
constexpr size_t AUD_SOCKADDR_TEXT_SIZE = 48;

// Strict dotted quad (four decimal parts 0..255, inet_pton) into *out;
// "255.255.255.255" is all ones. INVALIDPARAMETER on null arguments or text
// that is not a dotted quad (*out untouched).
aud_error aud_inet_aton(const char* text, uint32_t* out);

// Dotted text of address into buffer; returns buffer, or null when buffer
// is null or size is too small (nothing written then).
const char* aud_inet_ntoa(uint32_t address, char* buffer, size_t size);

// True when the address lies in 224.0.0.0/4.
bool aud_addr_is_multicast(uint32_t address);
// True for a non-null IPv4 record with a multicast address.
bool aud_sockaddr_is_multicast(const aud_sockaddr* record);

// Clears the record and fills it with an IPv4 address and a port (host order).
aud_error aud_sockaddr_set(aud_sockaddr* record, uint32_t address, uint16_t port);
// The any-address 0.0.0.0 with a port. family 0 gives INVALIDPARAMETER, any
// family but AF_INET NOTSUPPORTED.
aud_error aud_sockaddr_any(aud_sockaddr* record, int family, uint16_t port);
// As aud_sockaddr_any with the address from aud_inet_aton (its failure gives
// INVALIDPARAMETER).
aud_error aud_sockaddr_from_text(aud_sockaddr* record, int family, const char* text, uint16_t port);

// Port in host order; 0 for a null record or another family.
uint16_t aud_sockaddr_port(const aud_sockaddr* record);
// Sets the port; AFNOSUPPORT for another family, INVALIDPARAMETER for null.
aud_error aud_sockaddr_set_port(aud_sockaddr* record, uint16_t port);
// IPv4 address of the record in network order; 0 for another family.
uint32_t aud_sockaddr_address(const aud_sockaddr* record);

// Both non-null with a non-zero family, equal lengths and equal bytes over
// that length (a length beyond the record never compares equal).
bool aud_sockaddr_equal(const aud_sockaddr* a, const aud_sockaddr* b);

// "a.b.c.d:port (len=16)" into buffer; "" for another family or when it does
// not fit. Returns buffer.
const char* aud_sockaddr_text(const aud_sockaddr* record, char* buffer, size_t size);
