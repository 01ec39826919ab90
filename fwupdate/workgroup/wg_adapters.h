// The PC's adapters that have an IPv6 link-local address. The first entry is
// the selected one: its MAC makes the PC's workgroup id, and its address is
// what units fetch firmware from.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace WG {

struct Ipv6AdapterEntry {
    uint64_t mac = 0; // 48 bits, first byte most significant
    uint32_t interfaceIndex = 0; // equals the scope id of its link-local addresses
    uint8_t address[16] = {};
    QString description;
    QString friendlyName;
    std::string addressText; // numeric, without a "%" scope suffix
};

class Ipv6AdapterList {
public:
    // Enumerates once.
    Ipv6AdapterList();
    Ipv6AdapterList(const Ipv6AdapterList&) = delete;
    Ipv6AdapterList& operator=(const Ipv6AdapterList&) = delete;

    // Rebuilds the list; true when it holds at least one entry.
    bool enumerate();
    size_t count() const;
    // A copy of the entry, or null past the end.
    std::unique_ptr<Ipv6AdapterEntry> at(size_t index) const;
    uint32_t selectedInterfaceIndex() const; // 0 when empty
    uint64_t selectedMac() const; // 0 when empty

private:
    mutable std::mutex m_lock;
    std::vector<Ipv6AdapterEntry> m_entries;
    size_t m_selected = 0;
};

// One line of /proc/net/if_inet6: address, interface index, prefix length,
// scope, flags, interface name.
struct WgIfInet6Line {
    uint8_t address[16] = {};
    uint32_t interfaceIndex = 0;
    uint32_t flags = 0;
    std::string name;
};

// False for a line that does not have that form.
bool wgadapter_parseIfInet6Line(const char* line, size_t length, WgIfInet6Line* out);
// Tentative (duplicate detection still running) or failed detection: the
// address is not usable yet.
bool wgadapter_isTransient(uint32_t flags);

} // namespace WG
