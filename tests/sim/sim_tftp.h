// A unit's TFTP write (RFC 1350: octet mode, 512-byte blocks, no options),
// as a unit uploads its log to the address a program gives it. Blocking, on
// the caller's thread; every wait is bounded by the timings and the stop
// flag.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace simtest {

struct SimTftpTarget {
    std::string address; // IPv4 text
    uint16_t port = 69;
};

// "tftp://A.B.C.D[:PORT][/...]": the server's address and port. False for
// anything else (no host, a name instead of an address, a bad port).
bool simParseTftpUri(const std::string& uri, SimTftpTarget* target);

struct SimTftpTimings {
    int resendMs = 500; // a packet not answered within this is sent again
    int tries = 6; // sends of one packet before the write is given up
};

// Writes `bytes` as file `name` to the server, from `localAddress` (the
// unit's own, any port). `acked` is called with the bytes acknowledged so
// far after every acknowledged block. 0 when the server acknowledged the last
// block; -1 with *why filled otherwise (an ERROR from the server, no answer,
// a socket failure, or `stop` set).
int simTftpPut(const std::string& localAddress, const SimTftpTarget& to, const std::string& name,
    const std::string& bytes, const SimTftpTimings& timings, const std::function<void(size_t acked)>& acked,
    const std::atomic<bool>& stop, std::string* why);

} // namespace simtest
