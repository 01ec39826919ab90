#include "fwupdate/workgroup/wg_heartbeat.h"

#include "fwupdate/workgroup/wg_adapters.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace WG {

namespace {

constexpr size_t kShortNameOffset = 52;
constexpr size_t kShortNameLength = 16;
constexpr size_t kIdTextOffset = 68;
constexpr size_t kIdTextLength = 64; // bytes, up to the status word at 132
constexpr size_t kCountAOffset = 152;
constexpr size_t kLinksOffset = 156;
constexpr size_t kLinkSize = 12;
constexpr size_t kListAMinLength = 168;
// ff02::1, all nodes on the link.
constexpr uint8_t kAllNodes[16] = {0xff, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

uint16_t read16(const uint8_t* d, size_t at)
{
    return static_cast<uint16_t>(d[at] << 8 | d[at + 1]);
}

uint32_t read32(const uint8_t* d, size_t at)
{
    return static_cast<uint32_t>(read16(d, at)) << 16 | read16(d, at + 2);
}

uint64_t read64(const uint8_t* d, size_t at)
{
    return static_cast<uint64_t>(read32(d, at)) << 32 | read32(d, at + 4);
}

// Up to count entries from `at`, as far as the datagram holds them.
std::vector<HeartbeatLink> readLinks(const uint8_t* d, size_t length, size_t at, size_t count)
{
    std::vector<HeartbeatLink> links;
    for (size_t i = 0; i < count && at + kLinkSize <= length; ++i, at += kLinkSize)
        links.push_back({read16(d, at), read16(d, at + 2), read64(d, at + 4)});
    return links;
}

} // namespace

std::string heartbeatAddressText(const uint8_t address[16])
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(39);
    for (size_t i = 0; i < 16; ++i) {
        if (i > 0 && i % 2 == 0)
            text += ':';
        text += digits[address[i] >> 4];
        text += digits[address[i] & 15];
    }
    return text;
}

bool parseHeartbeat(
    const uint8_t* d, size_t length, const uint8_t senderAddress[16], uint32_t senderScope, HeartbeatInfo* out)
{
    if (length < kHeartbeatMinLength || std::memcmp(d, "VWMP", 4) != 0)
        return false;
    HeartbeatInfo r;
    r.modelCode = read16(d, 20);
    r.announcedWord = read16(d, 24);
    r.word26 = read16(d, 26);
    r.value28 = read32(d, 28);
    r.deviceId = read64(d, 36);
    r.mac = r.deviceId >> 16;
    r.workgroupId = read64(d, 44);
    r.statusWord = read16(d, 132);
    r.sessionPort = read16(d, 134);
    r.word136 = read16(d, 136);
    r.byte138 = d[138];
    r.word140 = read16(d, 140);
    r.value144 = read64(d, 144);

    size_t n = 0;
    while (n < kShortNameLength && d[kShortNameOffset + n] != 0)
        ++n;
    r.shortName = QString::fromLatin1(reinterpret_cast<const char*>(d + kShortNameOffset), static_cast<int>(n));
    std::u16string id;
    for (size_t at = kIdTextOffset; at + 1 < kIdTextOffset + kIdTextLength; at += 2) {
        const char16_t c = static_cast<char16_t>(d[at] | d[at + 1] << 8);
        if (c == 0)
            break;
        id += c;
    }
    r.deviceIdText = QString::fromUtf16(id.data(), static_cast<int>(id.size()));
    r.addressText = heartbeatAddressText(senderAddress);
    r.scopeId = senderScope;

    if (length >= kListAMinLength && d[kCountAOffset] > 0)
        r.linksA = readLinks(d, length, kLinksOffset, d[kCountAOffset]);
    const size_t countB = kLinksOffset + kLinkSize * r.linksA.size();
    if (length >= countB + 4 && d[countB] > 0)
        r.linksB = readLinks(d, length, countB + 4, d[countB]);
    *out = std::move(r);
    return true;
}

// ---------------------------------------------------------------------------

UDPThread::UDPThread(Heartbeat* owner)
    : m_owner(owner)
{
}

void UDPThread::requestStop()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_stop = true;
    m_wake.notify_all();
}

bool UDPThread::sleepUnlessStopped()
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_wake.wait_for(guard, std::chrono::milliseconds(kHeartbeatWakeMs), [this] { return m_stop; });
    return !m_stop;
}

void UDPThread::drain(int fd)
{
    Heartbeat::Counts& counts = m_owner->m_counts;
    uint8_t buffer[kHeartbeatBufferSize];
    for (int i = 0; i < kHeartbeatReadsPerWake; ++i) {
        sockaddr_in6 from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n
            = recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                ++counts.errors;
            return;
        }
        HeartbeatInfo record;
        // A datagram longer than the buffer is cut by the kernel: what
        // arrived is all there is to read.
        if (!parseHeartbeat(buffer, static_cast<size_t>(n), from.sin6_addr.s6_addr, from.sin6_scope_id, &record)) {
            ++counts.dropped;
            continue;
        }
        m_owner->m_sink->onHeartbeat(record);
        ++counts.handed;
    }
}

void UDPThread::work()
{
    Heartbeat::Counts& counts = m_owner->m_counts;
    const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0)
        return;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_addr = in6addr_any;
    any.sin6_port = htons(kHeartbeatPort);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        ::close(fd);
        return;
    }
    counts.bound = true;

    std::vector<uint32_t> joined;
    if (Ipv6AdapterList* adapters = m_owner->m_sink->adapterList()) {
        for (size_t i = 0; i < adapters->count(); ++i) {
            const auto entry = adapters->at(i);
            if (!entry)
                break;
            ipv6_mreq group{};
            std::memcpy(group.ipv6mr_multiaddr.s6_addr, kAllNodes, 16);
            group.ipv6mr_interface = entry->interfaceIndex;
            if (setsockopt(fd, IPPROTO_IPV6, IPV6_JOIN_GROUP, &group, sizeof group) == 0)
                joined.push_back(entry->interfaceIndex);
        }
    }
    counts.joined = static_cast<uint32_t>(joined.size());

    do
        drain(fd);
    while (sleepUnlessStopped());

    for (uint32_t index : joined) {
        ipv6_mreq group{};
        std::memcpy(group.ipv6mr_multiaddr.s6_addr, kAllNodes, 16);
        group.ipv6mr_interface = index;
        setsockopt(fd, IPPROTO_IPV6, IPV6_LEAVE_GROUP, &group, sizeof group);
    }
    ::close(fd);
}

// ---------------------------------------------------------------------------

Heartbeat::Heartbeat(HeartbeatSinkIF* sink, QObject* parent)
    : QObject(parent)
    , m_sink(sink)
    , m_thread(std::make_unique<UDPThread>(this))
{
    m_thread->start(QThread::InheritPriority);
}

Heartbeat::~Heartbeat()
{
    m_thread->requestStop();
    m_thread->join();
}

} // namespace WG
