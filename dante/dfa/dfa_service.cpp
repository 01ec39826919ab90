// The conmon service check over a probe of the bound UDP port.
#include "dante/dfa/dfa_service.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Local addresses, as the kernel prints them, on which a bound service is
// reachable from 127.0.0.1.
constexpr const char* kLocalAddresses[] = {
    "0100007F", // 127.0.0.1 (little-endian hosts)
    "7F000001", // 127.0.0.1 (big-endian hosts)
    "00000000", "00000000000000000000000000000000",
    "00000000000000000000000001000000", // ::1
    "0000000000000000FFFF00000100007F", // ::ffff:127.0.0.1
};

bool reachableAddress(const std::string& address)
{
    for (const char* local : kLocalAddresses) {
        if (strcasecmp(address.c_str(), local) == 0)
            return true;
    }
    return false;
}

// One table: the header line, then "sl local_address rem_address ...".
bool tableHasPort(std::istream& in, uint16_t port)
{
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot;
        std::string local;
        if (!(fields >> slot >> local))
            continue;
        const size_t colon = local.find(':');
        if (colon == std::string::npos)
            continue;
        unsigned long value = 0;
        if (std::sscanf(local.c_str() + colon + 1, "%lx", &value) != 1 || value != port)
            continue;
        if (reachableAddress(local.substr(0, colon)))
            return true;
    }
    return false;
}

DfaStatus procQuery(void*, const char16_t*, uint32_t* state)
{
    static const char* const kTables[] = {"/proc/net/udp", "/proc/net/udp6"};
    bool bound = false;
    const DfaStatus r = dfa_service_udp_bound(kTables, 2, DFA_CONMON_PORT, &bound);
    if (r != DFA_OK)
        return r;
    *state = bound ? DFA_SERVICE_RUNNING : DFA_SERVICE_STOPPED;
    return DFA_OK;
}

const DfaServiceProbe kProcProbe{&procQuery, nullptr};
DfaServiceProbe g_probe = kProcProbe;

} // namespace

void dfa_set_service_probe(const DfaServiceProbe* probe)
{
    g_probe = probe != nullptr && probe->query != nullptr ? *probe : kProcProbe;
}

const char* dfa_service_state_name(uint32_t state)
{
    static const char* const kNames[] = {"SERVICE_STOPPED", "SERVICE_START_PENDING", "SERVICE_STOP_PENDING",
        "SERVICE_RUNNING", "SERVICE_CONTINUE_PENDING", "SERVICE_PAUSE_PENDING", "SERVICE_PAUSED"};
    return state >= 1 && state <= 7 ? kNames[state - 1] : "unknown";
}

DfaStatus dfa_service_udp_bound(const char* const* tables, size_t count, uint16_t port, bool* bound)
{
    if (bound == nullptr || (tables == nullptr && count != 0))
        return dfa_reason(DFA_REASON_MISSING);
    *bound = false;
    bool readable = false;
    for (size_t i = 0; i < count && !*bound; ++i) {
        std::ifstream in(tables[i]);
        if (!in)
            continue;
        readable = true;
        *bound = tableHasPort(in, port);
    }
    return readable ? DFA_OK : dfa_reason(DFA_REASON_OS);
}

DfaStatus dfa_service_check()
{
    static const char16_t kService[] = u"conmon";
    uint32_t state = 0;
    const DfaStatus r = g_probe.query(g_probe.context, kService, &state);
    if (r == dfa_reason(DFA_REASON_OS)) {
        dfa_print("[MAIN  ][ERROR]OpenSCManager failed, errorcode=\n");
        return r;
    }
    if (r != DFA_OK) {
        dfa_print("[MAIN  ][ERROR]QueryServiceStatus failed: service=\"%ls\", errorcode=??\n", kService);
        return dfa_reason(DFA_REASON_SERVICE);
    }
    if (state != DFA_SERVICE_RUNNING) {
        dfa_print("[MAIN  ][ERROR]Not running: service=\"%ls\", state=%s\n", kService, dfa_service_state_name(state));
        return dfa_reason(DFA_REASON_SERVICE);
    }
    return DFA_OK;
}
