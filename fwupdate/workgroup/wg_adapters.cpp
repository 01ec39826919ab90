#include "fwupdate/workgroup/wg_adapters.h"
#include "pbd/jlib/jlib_text.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <set>

namespace WG {

namespace {

constexpr uint32_t kFlagDadFailed = 0x08; // IFA_F_DADFAILED
constexpr uint32_t kFlagTentative = 0x40; // IFA_F_TENTATIVE
constexpr size_t kMacLength = 6;

// An address units never take as the PC's: fe80::ffff:ffff:fffd.
constexpr uint8_t kSkippedAddress[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfd};

int hexDigit(char c)
{
    return jlib_hexDigit(static_cast<unsigned char>(c));
}

// A run of hex digits of at most maxDigits; advances pos past it.
bool readHex(const char* s, size_t length, size_t* pos, size_t maxDigits, uint32_t* value)
{
    uint32_t v = 0;
    size_t digits = 0;
    while (*pos < length && hexDigit(s[*pos]) >= 0) {
        if (++digits > maxDigits)
            return false;
        v = (v << 4) | static_cast<uint32_t>(hexDigit(s[*pos]));
        ++*pos;
    }
    *value = v;
    return digits > 0;
}

void skipSpaces(const char* s, size_t length, size_t* pos)
{
    while (*pos < length && (s[*pos] == ' ' || s[*pos] == '\t'))
        ++*pos;
}

// Addresses of the kernel's list that are not usable yet.
std::set<std::pair<uint32_t, std::string>> transientAddresses()
{
    std::set<std::pair<uint32_t, std::string>> out;
    std::ifstream in("/proc/net/if_inet6");
    std::string line;
    for (int lines = 0; lines < 65536 && std::getline(in, line); ++lines) {
        WgIfInet6Line parsed;
        if (wgadapter_parseIfInet6Line(line.data(), line.size(), &parsed) && wgadapter_isTransient(parsed.flags))
            out.emplace(parsed.interfaceIndex, std::string(reinterpret_cast<char*>(parsed.address), 16));
    }
    return out;
}

struct Link {
    std::string name;
    uint64_t mac = 0;
};

// Adapters with a 6-byte physical address that are not loopback, in the
// system's order.
std::vector<Link> physicalLinks(const ifaddrs* list)
{
    std::vector<Link> links;
    for (const ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_PACKET || !a->ifa_name)
            continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
        if (ll->sll_halen != kMacLength || ll->sll_hatype == ARPHRD_LOOPBACK)
            continue;
        Link link;
        link.name = a->ifa_name;
        for (size_t i = 0; i < kMacLength; ++i)
            link.mac = (link.mac << 8) | ll->sll_addr[i];
        links.push_back(link);
    }
    return links;
}

} // namespace

bool wgadapter_isTransient(uint32_t flags)
{
    return (flags & (kFlagTentative | kFlagDadFailed)) != 0;
}

bool wgadapter_parseIfInet6Line(const char* s, size_t length, WgIfInet6Line* out)
{
    size_t pos = 0;
    skipSpaces(s, length, &pos);
    if (length - pos < 32)
        return false;
    for (size_t i = 0; i < 16; ++i) {
        const int hi = hexDigit(s[pos + 2 * i]);
        const int lo = hexDigit(s[pos + 2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out->address[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    pos += 32;
    if (pos < length && hexDigit(s[pos]) >= 0)
        return false;
    uint32_t prefix = 0, scope = 0;
    skipSpaces(s, length, &pos);
    if (!readHex(s, length, &pos, 8, &out->interfaceIndex))
        return false;
    skipSpaces(s, length, &pos);
    if (!readHex(s, length, &pos, 2, &prefix))
        return false;
    skipSpaces(s, length, &pos);
    if (!readHex(s, length, &pos, 2, &scope))
        return false;
    skipSpaces(s, length, &pos);
    if (!readHex(s, length, &pos, 8, &out->flags))
        return false;
    skipSpaces(s, length, &pos);
    size_t end = pos;
    while (end < length && s[end] != ' ' && s[end] != '\t' && s[end] != '\n' && s[end] != '\0')
        ++end;
    if (end == pos)
        return false;
    out->name.assign(s + pos, end - pos);
    return true;
}

Ipv6AdapterList::Ipv6AdapterList()
{
    enumerate();
}

bool Ipv6AdapterList::enumerate()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_entries.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return false;
    const std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);
    const auto transient = transientAddresses();
    for (const Link& link : physicalLinks(list)) {
        for (const ifaddrs* a = list; a; a = a->ifa_next) {
            if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET6 || !a->ifa_name || link.name != a->ifa_name)
                continue;
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ifa_addr);
            const uint8_t* bytes = in6->sin6_addr.s6_addr;
            if (transient.count({in6->sin6_scope_id, std::string(reinterpret_cast<const char*>(bytes), 16)}))
                continue;
            char text[INET6_ADDRSTRLEN] = {};
            if (!inet_ntop(AF_INET6, bytes, text, sizeof text))
                continue;
            if (std::memcmp(bytes, kSkippedAddress, 16) == 0 || bytes[0] != 0xfe || bytes[1] != 0x80)
                continue;
            Ipv6AdapterEntry entry;
            entry.mac = link.mac;
            entry.interfaceIndex = in6->sin6_scope_id;
            std::memcpy(entry.address, bytes, 16);
            entry.description = QString::fromStdString(link.name);
            entry.friendlyName = entry.description;
            entry.addressText = text;
            const size_t percent = entry.addressText.find('%');
            if (percent != std::string::npos)
                entry.addressText.resize(percent);
            m_entries.push_back(std::move(entry));
        }
    }
    return !m_entries.empty();
}

size_t Ipv6AdapterList::count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_entries.size();
}

std::unique_ptr<Ipv6AdapterEntry> Ipv6AdapterList::at(size_t index) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (index >= m_entries.size())
        return nullptr;
    return std::make_unique<Ipv6AdapterEntry>(m_entries[index]);
}

uint32_t Ipv6AdapterList::selectedInterfaceIndex() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_selected < m_entries.size() ? m_entries[m_selected].interfaceIndex : 0;
}

uint64_t Ipv6AdapterList::selectedMac() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_selected < m_entries.size() ? m_entries[m_selected].mac : 0;
}

} // namespace WG
