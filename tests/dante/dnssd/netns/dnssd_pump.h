// Collects DNS-SD results the way an owner does: waits on the reference's
// descriptor and processes what is ready, with a deadline.
#pragma once

#include "dante/dnssd/dns_sd.h"

#include <chrono>
#include <functional>
#include <poll.h>
#include <string>
#include <vector>

namespace dnssdtest {

struct Seen {
    DNSServiceFlags flags = 0;
    uint32_t index = 0;
    std::string name;
    std::string target;
    uint16_t port = 0;
    std::string txt;
};

inline void onBrowse(DNSServiceRef, DNSServiceFlags flags, uint32_t index, DNSServiceErrorType, const char* name,
    const char*, const char*, void* context)
{
    static_cast<std::vector<Seen>*>(context)->push_back({flags, index, name, "", 0, ""});
}

inline void onResolve(DNSServiceRef, DNSServiceFlags flags, uint32_t index, DNSServiceErrorType, const char* fullname,
    const char* target, uint16_t port, uint16_t txtLen, const unsigned char* txt, void* context)
{
    static_cast<std::vector<Seen>*>(context)->push_back(
        {flags, index, fullname, target, port, std::string(reinterpret_cast<const char*>(txt), txtLen)});
}

// Processes results of ref until done() holds or timeoutMs pass.
inline bool pumpUntil(DNSServiceRef ref, const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                  .count();
        if (left <= 0)
            return false;
        pollfd p{DNSServiceRefSockFD(ref), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) == 1 && DNSServiceProcessResult(ref) != DNSSD_OK)
            return false;
    }
    return true;
}

inline bool has(const std::vector<Seen>& seen, const std::string& name, bool added)
{
    for (const auto& s : seen)
        if (s.name == name && ((s.flags & DNSSD_FLAG_ADD) != 0) == added)
            return true;
    return false;
}

} // namespace dnssdtest
