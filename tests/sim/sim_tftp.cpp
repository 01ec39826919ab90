#include "tests/sim/sim_tftp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simtest {

namespace {

constexpr uint16_t kOpWrq = 2;
constexpr uint16_t kOpData = 3;
constexpr uint16_t kOpAck = 4;
constexpr uint16_t kOpError = 5;
constexpr size_t kBlock = 512;

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void put16(std::string* out, uint16_t value)
{
    out->push_back(static_cast<char>(value >> 8));
    out->push_back(static_cast<char>(value & 0xff));
}

uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool toSockaddr(const std::string& address, uint16_t port, sockaddr_in* out)
{
    *out = sockaddr_in{};
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    return ::inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
}

struct Socket {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

int fail(std::string* why, const std::string& text)
{
    *why = text;
    return -1;
}

} // namespace

bool simParseTftpUri(const std::string& uri, SimTftpTarget* target)
{
    static const char kScheme[] = "tftp://";
    if (uri.compare(0, sizeof kScheme - 1, kScheme) != 0)
        return false;
    std::string rest = uri.substr(sizeof kScheme - 1);
    rest = rest.substr(0, rest.find('/'));
    const size_t colon = rest.find(':');
    SimTftpTarget t;
    t.address = rest.substr(0, colon);
    if (colon != std::string::npos) {
        const std::string port = rest.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const unsigned long value = std::stoul(port);
        if (value == 0 || value > 65535)
            return false;
        t.port = static_cast<uint16_t>(value);
    }
    in_addr probe{};
    if (::inet_pton(AF_INET, t.address.c_str(), &probe) != 1)
        return false;
    *target = t;
    return true;
}

int simTftpPut(const std::string& localAddress, const SimTftpTarget& to, const std::string& name,
    const std::string& bytes, const SimTftpTimings& timings, const std::function<void(size_t acked)>& acked,
    const std::atomic<bool>& stop, std::string* why)
{
    sockaddr_in local{}, server{};
    if (!toSockaddr(localAddress, 0, &local) || !toSockaddr(to.address, to.port, &server))
        return fail(why, "bad address");
    Socket s;
    if (s.fd < 0 || ::bind(s.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return fail(why, std::string("socket: ") + strerror(errno));

    std::string packet;
    put16(&packet, kOpWrq);
    packet += name;
    packet += '\0';
    packet += "octet";
    packet += '\0';
    // The server answers from a port of the transfer's own (its TID); until
    // the first answer the request goes to the server's port.
    sockaddr_in peer = server;
    bool tidKnown = false;
    uint16_t block = 0; // the block whose acknowledgement is awaited
    size_t offset = 0; // bytes in the blocks acknowledged so far
    bool lastSent = false;
    int sends = 0;
    int64_t resendAt = 0;
    for (;;) {
        if (stop.load())
            return fail(why, "stopped");
        if (nowMs() >= resendAt) {
            if (++sends > timings.tries)
                return fail(why, "no answer to block " + std::to_string(block));
            if (::sendto(s.fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer)
                < 0)
                return fail(why, std::string("send: ") + strerror(errno));
            resendAt = nowMs() + timings.resendMs;
        }
        pollfd p{s.fd, POLLIN, 0};
        const int64_t wait = std::min<int64_t>(100, std::max<int64_t>(0, resendAt - nowMs()));
        if (::poll(&p, 1, static_cast<int>(wait)) <= 0)
            continue;
        uint8_t in[kBlock + 4];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got = ::recvfrom(s.fd, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 4 || from.sin_addr.s_addr != server.sin_addr.s_addr)
            continue;
        if (tidKnown && from.sin_port != peer.sin_port)
            continue; // another transfer's packet
        const uint16_t op = get16(in);
        if (op == kOpError) {
            const std::string text(reinterpret_cast<const char*>(in + 4),
                strnlen(reinterpret_cast<const char*>(in + 4), static_cast<size_t>(got) - 4));
            return fail(why, "server error " + std::to_string(get16(in + 2)) + " " + text);
        }
        // A repeated acknowledgement of an earlier block is not answered:
        // the resend timer alone repeats a packet.
        if (op != kOpAck || get16(in + 2) != block)
            continue;
        if (!tidKnown) {
            tidKnown = true;
            peer.sin_port = from.sin_port;
        }
        if (block != 0) {
            offset = std::min(bytes.size(), offset + kBlock);
            if (acked)
                acked(offset);
        }
        if (lastSent)
            return 0;
        const size_t length = std::min(kBlock, bytes.size() - offset);
        lastSent = length < kBlock;
        ++block;
        packet.clear();
        put16(&packet, kOpData);
        put16(&packet, block);
        packet.append(bytes, offset, length);
        sends = 0;
        resendAt = 0;
    }
}

} // namespace simtest
