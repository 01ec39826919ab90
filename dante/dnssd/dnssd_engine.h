// The querier behind dns_sd.h: one engine thread owns 0.0.0.0:5353, joins
// 224.0.0.251 by index on every multicast interface, repeats the questions
// of live requests (1, 2, 4 ... 60 s apart), keeps a cache of the answers
// with their TTLs, and queues results per reference. A reference's
// descriptor is one end of a datagram socket pair that holds one byte while
// the reference's queue is not empty, so the descriptor is readable exactly
// while a result waits.
#pragma once

#include "dante/dnssd/dns_sd.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace dnssd {

class Engine;
using Clock = std::chrono::steady_clock;

struct Result {
    DNSServiceFlags flags = 0;
    uint32_t interface_index = 0;
    std::string name; // browse: instance; resolve: full name
    std::string target; // resolve: host target
    uint16_t port = 0;
    std::string txt;
};

} // namespace dnssd

struct dnssd_ref {
    enum Kind { BROWSE, RESOLVE } kind = BROWSE;
    std::shared_ptr<dnssd::Engine> engine;
    int fd = -1; // the caller's end
    int engine_fd = -1; // the engine's end
    uint32_t interface_index = 0;
    std::string service; // "_netaudio-arc._udp.local" (escaped, no final dot)
    std::string regtype; // as reported: "_netaudio-arc._udp."
    std::string fullname; // resolve: "<instance>.<service>"
    DNSServiceBrowseReply browse_reply = nullptr;
    DNSServiceResolveReply resolve_reply = nullptr;
    void* context = nullptr;

    // Guarded by the engine's mutex.
    std::deque<dnssd::Result> queue;
    uint64_t dropped = 0;
    bool answered = false; // resolve: its one result is queued
    dnssd::Clock::time_point next_query{};
    std::chrono::seconds interval{0};

    ~dnssd_ref();
};

namespace dnssd {

// The engine shared by every live reference; started by the first.
// DNSSD_ERR_SERVICE_NOT_RUNNING when the socket cannot be set up.
DNSServiceErrorType acquire(std::shared_ptr<Engine>* out);

// Registers a started reference (reports cached browse answers at once) and
// asks its questions now.
void engine_add(Engine* engine, dnssd_ref* ref);
// After this returns the engine no longer touches ref.
void engine_remove(Engine* engine, dnssd_ref* ref);
// Pops the oldest result of ref; false when none waits.
bool engine_pop(Engine* engine, dnssd_ref* ref, Result* out);
void engine_reconfirm(Engine* engine, uint32_t interface_index, const std::string& fullname);
void set_reconfirm_ms(uint32_t ms);
void set_queue_max(size_t results);
uint64_t engine_dropped(Engine* engine, dnssd_ref* ref);

} // namespace dnssd
