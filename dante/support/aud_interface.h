// The PC's IPv4 network interfaces as the Dante clients see them: one entry
// per interface with an IPv4 address, classified, sorted by kind then index.
// The list comes from a provider: the Linux one (getifaddrs, /sys/class/net,
// /proc/net/route, /etc/resolv.conf) unless a test installs its own.
#pragma once

#include "dante/support/aud_error.h"
#include "dante/support/aud_inet.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct aud_env;
struct aud_log_state;

// Interface kinds, in sort order.
enum aud_interface_kind : uint32_t {
    AUD_INTERFACE_KIND_UNKNOWN = 0, // no hardware identity to read
    AUD_INTERFACE_KIND_ORDINARY = 1,
    AUD_INTERFACE_KIND_LOOPBACK = 2,
    AUD_INTERFACE_KIND_WIRELESS = 3,
    AUD_INTERFACE_KIND_VIRTUAL = 4, // no device behind it (veth, dummy, bridge)
    AUD_INTERFACE_KIND_IEEE1394 = 5,
    AUD_INTERFACE_KIND_BLUETOOTH = 6,
};

// Sizes with the terminator.
constexpr size_t AUD_INTERFACE_NAME_SIZE = 64;
constexpr size_t AUD_INTERFACE_DNS_SUFFIX_SIZE = 64;
constexpr size_t AUD_INTERFACE_ADAPTER_NAME_SIZE = 256;

struct aud_interface {
    char16_t name[AUD_INTERFACE_NAME_SIZE]; // the interface name ("eth0")
    uint32_t index; // the kernel's interface index
    uint32_t kind; // aud_interface_kind
    uint8_t mac[8]; // hardware address, zero-padded
    aud_sockaddr address; // first IPv4 address, port 0
    aud_sockaddr netmask; // its mask
    uint32_t link_speed; // Mbit/s; 0 when down or not reported
    int32_t up; // operational state up
    int32_t loopback;
    int32_t multicast; // IFF_MULTICAST
    uint32_t pktinfo_index; // the index as IP_PKTINFO reports it (the whole index)
    aud_sockaddr gateway; // default gateway through this interface, or empty
    aud_sockaddr dns_server; // first IPv4 name server, or empty
    char dns_suffix[AUD_INTERFACE_DNS_SUFFIX_SIZE]; // first search domain, or ""
    char adapter_name[AUD_INTERFACE_ADAPTER_NAME_SIZE]; // the interface name in UTF-8
};

// Builds the list into *entries (owned by the caller, freed with
// aud_interface_list_free; null when empty) and *count. Messages go to the
// environment's log when env is given. INVALIDPARAMETER on a null out,
// NOMEMORY, or the provider's failure.
aud_error aud_interface_list_with_env(aud_env* env, aud_interface** entries, size_t* count);
aud_error aud_interface_list(aud_interface** entries, size_t* count);
void aud_interface_list_free(aud_interface* entries);

// Copy the entry with this index / the first loopback entry into *out (out
// may be null for find_by_index to test presence); NOTFOUND when none.
aud_error aud_interface_find_by_index(uint32_t index, aud_interface* out);
aud_error aud_interface_find_loopback(aud_interface* out);

// Where interfaces come from. `list` appends unsorted entries to *out; the
// library sorts them. log may be null.
struct aud_interface_provider {
    aud_error (*list)(void* context, aud_log_state* log, std::vector<aud_interface>* out);
    void* context;
};

// Installs a provider for the whole process (it and its context must outlive
// its use); null restores the Linux provider.
void aud_interface_set_provider(const aud_interface_provider* provider);

// Files the Linux provider reads; tests point them at their own tree.
struct aud_interface_sources {
    const char* sysfs_net; // "/sys/class/net"
    const char* route; // "/proc/net/route"
    const char* resolv; // "/etc/resolv.conf"
};

// The Linux provider over these sources (null: the system's), which must
// outlive the provider.
aud_interface_provider aud_interface_linux_provider(const aud_interface_sources* sources);

// Kind of the interface `name` from its folder under sysfs_net: loopback
// flag 2; "wireless" or "phy80211" 3; "type" 24 (IEEE 1394) 5;
// DEVTYPE=bluetooth in "uevent" 6; no "device" link 4; else 1. An interface
// without a folder there is ordinary (1).
uint32_t aud_interface_kind_from_sysfs(const char* sysfs_net, const char* name, bool loopback);

// A provider over a fixed list (context: the const std::vector<aud_interface>*).
aud_error aud_interface_fixed_list(void* context, aud_log_state* log, std::vector<aud_interface>* out);
