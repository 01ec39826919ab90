// The Linux interface provider: addresses from getifaddrs, the rest from the
// files the kernel and the resolver keep.
#include "dante/support/aud_interface.h"

#include "dante/support/aud_log.h"
#include "dante/support/aud_string.h"
#include "dante/support/aud_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <memory>
#include <net/if.h>
#include <net/route.h>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

constexpr unsigned kArphrdIeee1394 = 24;
constexpr size_t kMaxFile = 64 * 1024;

const aud_interface_sources kSystem = {"/sys/class/net", "/proc/net/route", "/etc/resolv.conf"};

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Reads a small text file whole (at most kMaxFile bytes); false when absent.
bool readText(const std::string& path, std::string* text)
{
    std::unique_ptr<FILE, int (*)(FILE*)> f(fopen(path.c_str(), "re"), fclose);
    if (!f)
        return false;
    text->clear();
    char chunk[4096];
    size_t n;
    while (text->size() < kMaxFile && (n = fread(chunk, 1, sizeof chunk, f.get())) > 0)
        text->append(chunk, n);
    return !ferror(f.get());
}

std::string firstWord(const std::string& text)
{
    std::istringstream in(text);
    std::string word;
    in >> word;
    return word;
}

// A name that names a single folder entry: no separators, no dot folders.
bool safeName(const char* name)
{
    return name && *name && !strchr(name, '/') && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

bool isUp(const std::string& folder, unsigned flags)
{
    std::string state;
    if (!readText(folder + "/operstate", &state))
        return false;
    state = firstWord(state);
    // Drivers that do not track a carrier (loopback, dummy) say "unknown".
    return state == "up" || (state == "unknown" && (flags & IFF_UP) && (flags & IFF_RUNNING));
}

uint32_t linkSpeed(const std::string& folder)
{
    std::string text;
    if (!readText(folder + "/speed", &text))
        return 0;
    char* end = nullptr;
    const long speed = strtol(text.c_str(), &end, 10);
    return end != text.c_str() && speed > 0 && speed <= long(UINT32_MAX) ? uint32_t(speed) : 0;
}

// The default route's gateway through this interface, from /proc/net/route
// (addresses there are the in-memory value printed as hex).
void findGateway(const char* path, const char* name, aud_sockaddr* out)
{
    std::string text;
    if (!readText(path, &text))
        return;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        char iface[IF_NAMESIZE + 1] = {};
        unsigned destination = 0, gateway = 0, flags = 0;
        if (sscanf(line.c_str(), "%16s %x %x %x", iface, &destination, &gateway, &flags) != 4)
            continue;
        if (strcmp(iface, name) == 0 && destination == 0 && (flags & RTF_GATEWAY) && (flags & RTF_UP)) {
            aud_sockaddr_set(out, gateway, 0);
            return;
        }
    }
}

struct Resolver {
    aud_sockaddr server{};
    std::string suffix;
};

// First IPv4 name server; the last "search" or "domain" line's first name,
// as the resolver itself takes it.
Resolver readResolver(const char* path)
{
    Resolver r;
    std::string text;
    if (!readText(path, &text))
        return r;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, value;
        words >> key >> value;
        if (key == "nameserver" && r.server.len == 0) {
            uint32_t address = 0;
            if (aud_inet_aton(value.c_str(), &address) == AUD_SUCCESS)
                aud_sockaddr_set(&r.server, address, 0);
        } else if ((key == "search" || key == "domain") && !value.empty()) {
            r.suffix = value;
        }
    }
    return r;
}

struct Raw {
    std::string name;
    unsigned flags = 0;
    uint32_t address = 0;
    uint32_t netmask = 0;
    bool hasAddress = false;
    uint8_t mac[8] = {};
};

Raw* findRaw(std::vector<Raw>& raws, const char* name)
{
    for (Raw& r : raws) {
        if (r.name == name)
            return &r;
    }
    raws.push_back(Raw{});
    raws.back().name = name;
    return &raws.back();
}

std::vector<Raw> collect(const ifaddrs* list)
{
    std::vector<Raw> raws;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_name || !a->ifa_addr)
            continue;
        Raw* r = findRaw(raws, a->ifa_name);
        r->flags = a->ifa_flags;
        if (a->ifa_addr->sa_family == AF_INET && !r->hasAddress) {
            r->hasAddress = true;
            r->address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
            if (a->ifa_netmask)
                r->netmask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
        } else if (a->ifa_addr->sa_family == AF_PACKET) {
            const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
            const size_t n = ll->sll_halen < sizeof r->mac ? ll->sll_halen : sizeof r->mac;
            memcpy(r->mac, ll->sll_addr, n);
        }
    }
    return raws;
}

aud_interface makeEntry(const aud_interface_sources& src, const Raw& raw, const Resolver& resolver)
{
    aud_interface e{};
    aud_mbs_to_wcs(e.name, raw.name.c_str(), AUD_INTERFACE_NAME_SIZE);
    aud_strlcpy(e.adapter_name, raw.name.c_str(), sizeof e.adapter_name);
    e.index = if_nametoindex(raw.name.c_str());
    e.pktinfo_index = e.index;
    const bool loopback = (raw.flags & IFF_LOOPBACK) != 0;
    e.kind = aud_interface_kind_from_sysfs(src.sysfs_net, raw.name.c_str(), loopback);
    memcpy(e.mac, raw.mac, sizeof e.mac);
    aud_sockaddr_set(&e.address, raw.address, 0);
    aud_sockaddr_set(&e.netmask, raw.netmask, 0);
    e.loopback = loopback;
    e.multicast = (raw.flags & IFF_MULTICAST) != 0;
    const std::string folder = std::string(src.sysfs_net) + "/" + raw.name;
    const bool named = safeName(raw.name.c_str());
    e.up = named && isUp(folder, raw.flags);
    e.link_speed = e.up ? linkSpeed(folder) : 0;
    findGateway(src.route, raw.name.c_str(), &e.gateway);
    e.dns_server = resolver.server;
    aud_strlcpy(e.dns_suffix, resolver.suffix.c_str(), sizeof e.dns_suffix);
    return e;
}

aud_error listLinux(void* context, aud_log_state* log, std::vector<aud_interface>* out)
{
    const aud_interface_sources& src = *static_cast<const aud_interface_sources*>(context);
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return aud_error_last();
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> hold(list, freeifaddrs);
    const Resolver resolver = readResolver(src.resolv);
    for (const Raw& raw : collect(list)) {
        if (!raw.hasAddress)
            continue;
        const aud_interface e = makeEntry(src, raw, resolver);
        aud_log(log, 6, "%s: UP=%u TX=%u RX=%u\n", raw.name.c_str(), unsigned(e.up), e.link_speed, e.link_speed);
        out->push_back(e);
    }
    return AUD_SUCCESS;
}

} // namespace

uint32_t aud_interface_kind_from_sysfs(const char* sysfs_net, const char* name, bool loopback)
{
    if (loopback)
        return AUD_INTERFACE_KIND_LOOPBACK;
    if (!sysfs_net || !safeName(name))
        return AUD_INTERFACE_KIND_ORDINARY;
    const std::string folder = std::string(sysfs_net) + "/" + name;
    if (!exists(folder))
        return AUD_INTERFACE_KIND_ORDINARY;
    if (exists(folder + "/wireless") || exists(folder + "/phy80211"))
        return AUD_INTERFACE_KIND_WIRELESS;
    std::string text;
    if (readText(folder + "/type", &text) && strtoul(text.c_str(), nullptr, 10) == kArphrdIeee1394)
        return AUD_INTERFACE_KIND_IEEE1394;
    if (readText(folder + "/uevent", &text)) {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (line == "DEVTYPE=bluetooth")
                return AUD_INTERFACE_KIND_BLUETOOTH;
        }
    }
    if (!exists(folder + "/device"))
        return AUD_INTERFACE_KIND_VIRTUAL;
    return AUD_INTERFACE_KIND_ORDINARY;
}

aud_interface_provider aud_interface_linux_provider(const aud_interface_sources* sources)
{
    return aud_interface_provider{listLinux, const_cast<aud_interface_sources*>(sources ? sources : &kSystem)};
}
