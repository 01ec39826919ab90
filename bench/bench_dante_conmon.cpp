// The control-and-monitoring client's two receive paths, each against its
// floor in the same run (throughput, higher is better):
// - validation plus parsing of a realistic mix of service datagrams (Named
//   Channel Messages carrying module status replies, a 96-entry
//   Subscriptions Changed) against memcpy of the same datagrams;
// - conmon_client_process_sockets on a connected loopback pair against a
//   bare recv loop on the same pair.
#include "dante/conmon/conmon_client.h"
#include "dante/conmon/conmon_message.h"
#include "dante/conmon/conmon_payload.h"
#include "dante/support/aud_env.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

void le16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

void be16(Bytes& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}

Bytes header(uint16_t opcode, uint16_t status, size_t length)
{
    Bytes b(length);
    le16(b, 0, 0x1500);
    le16(b, 2, uint16_t(length));
    le16(b, 6, opcode);
    le16(b, 8, status);
    return b;
}

// A Named Channel Message from BROX-1 on the status channel with a reply of
// `type` and `length` bytes.
Bytes namedReply(uint16_t type, size_t length)
{
    Bytes b = header(CONMON_OP_NAMED_CHANNEL_MESSAGE, CONMON_STATUS_EVENT, 72 + length);
    le16(b, 10, CONMON_CHANNEL_STATUS);
    le16(b, 12, 1);
    memcpy(b.data() + 16, "BROX-1", 6);
    be16(b, 48, 0xFFFF);
    be16(b, 50, uint16_t(24 + length));
    memcpy(b.data() + 64, "Audinate", 8);
    be16(b, 72, CONMON_CONTROL_PROTOCOL);
    be16(b, 74, type);
    if (type == CONMON_CTL_INTERFACE_STATUS) {
        be16(b, 80, 2);
        be16(b, 72 + 68, 20);
        be16(b, 72 + 70, 76);
    }
    return b;
}

Bytes subscriptions(size_t count)
{
    Bytes b = header(CONMON_OP_SUBSCRIPTIONS_CHANGED, CONMON_STATUS_EVENT, 16 + 72 * count);
    le16(b, 10, uint16_t(count));
    le16(b, 12, 1);
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 16 + 72 * i;
        le16(b, at, 3);
        le16(b, at + 2, CONMON_CHANNEL_STATUS);
        b[at + 4] = 'D';
        b[at + 5] = uint8_t('0' + i % 10);
        b[at + 6] = uint8_t('0' + i / 10);
        le16(b, at + 46, 2);
    }
    return b;
}

std::vector<Bytes> mix()
{
    std::vector<Bytes> m;
    for (int i = 0; i < 8; ++i) {
        m.push_back(namedReply(CONMON_CTL_VERSIONS_STATUS, 60));
        m.push_back(namedReply(CONMON_CTL_INTERFACE_STATUS, 116));
        m.push_back(namedReply(CONMON_CTL_MANF_VERSIONS_STATUS, 312));
        m.push_back(namedReply(CONMON_CTL_UPGRADE_STATUS, 44));
    }
    m.push_back(subscriptions(96));
    return m;
}

size_t totalBytes(const std::vector<Bytes>& m)
{
    size_t n = 0;
    for (const auto& b : m)
        n += b.size();
    return n;
}

size_t parseOne(const Bytes& d)
{
    if (conmon_message_validate(d.data(), d.size()) != 0)
        return 0;
    if (le16toh(*reinterpret_cast<const uint16_t*>(d.data() + 6)) == CONMON_OP_SUBSCRIPTIONS_CHANGED) {
        conmon_subscription_list list;
        conmon_parse_subscription_list(d.data(), d.size(), &list);
        size_t n = 0;
        for (size_t i = 0; i < list.count; ++i) {
            conmon_subscription_entry e;
            n += conmon_parse_subscription_entry(d.data(), d.size(), &list, i, &e) == AUD_SUCCESS ? e.status : 0;
        }
        return n;
    }
    conmon_channel_message m;
    if (conmon_parse_channel_message(d.data(), d.size(), &m) != AUD_SUCCESS)
        return 0;
    conmon_control_header h;
    conmon_control_header_read(m.payload, m.payload_length, &h);
    switch (h.type) {
    case CONMON_CTL_VERSIONS_STATUS: {
        conmon_module_info info;
        return conmon_read_module_info(m.payload, m.payload_length, &info);
    }
    case CONMON_CTL_INTERFACE_STATUS: {
        conmon_iftable t;
        return conmon_read_interface_table(m.payload, m.payload_length, &t);
    }
    case CONMON_CTL_MANF_VERSIONS_STATUS: {
        conmon_device_info info;
        return conmon_read_device_info(m.payload, m.payload_length, &info);
    }
    default: {
        conmon_upgrade_progress p;
        return conmon_read_upgrade_progress(m.payload, m.payload_length, &p);
    }
    }
}

void BM_ConmonParseMix(benchmark::State& state)
{
    const auto m = mix();
    for (auto _ : state) {
        for (const auto& d : m)
            benchmark::DoNotOptimize(parseOne(d));
    }
    state.SetBytesProcessed(int64_t(state.iterations() * totalBytes(m)));
    state.SetItemsProcessed(int64_t(state.iterations() * m.size()));
}
BENCHMARK(BM_ConmonParseMix);

void BM_MemcpyMix(benchmark::State& state)
{
    const auto m = mix();
    Bytes out(CONMON_MESSAGE_MAX);
    for (auto _ : state) {
        for (const auto& d : m) {
            memcpy(out.data(), d.data(), d.size());
            benchmark::DoNotOptimize(out.data());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations() * totalBytes(m)));
    state.SetItemsProcessed(int64_t(state.iterations() * m.size()));
}
BENCHMARK(BM_MemcpyMix);

// ---- receiving on a connected loopback pair

constexpr int kBatch = 64;

// A service socket on loopback and a client connected to it.
struct Pair {
    aud_env* env = nullptr;
    int service = -1;
    sockaddr_in client{};
    conmon_client* c = nullptr;
    int bareClient = -1;
    Bytes datagram = namedReply(CONMON_CTL_VERSIONS_STATUS, 60);

    Pair()
    {
        aud_env_setup(&env);
        service = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof in;
        bind(service, reinterpret_cast<sockaddr*>(&in), sizeof in);
        getsockname(service, reinterpret_cast<sockaddr*>(&in), &len);
        conmon_client_config config;
        conmon_client_config_init(&config, "bench");
        aud_sockaddr_set(&config.server, in.sin_addr.s_addr, ntohs(in.sin_port));
        conmon_client_new_config(env, &config, &c);
        conmon_client_connect(c, nullptr, nullptr);
        Bytes buf(CONMON_MESSAGE_MAX);
        len = sizeof client;
        recvfrom(service, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&client), &len);
        Bytes r = header(CONMON_OP_CONNECT, CONMON_STATUS_RESPONSE, 324);
        le16(r, 4, 1);
        le16(r, 312, 36);
        le16(r, 314, 324);
        sendto(service, r.data(), r.size(), 0, reinterpret_cast<sockaddr*>(&client), sizeof client);
        waitReadable();
        conmon_client_process_sockets(c);
        conmon_client_register_monitoring_messages(c, nullptr, nullptr, CONMON_CHANNEL_STATUS, true,
            [](conmon_client*, uint16_t, uint16_t, const conmon_envelope*, const uint8_t* p, size_t n) {
                benchmark::DoNotOptimize(p[n - 1]);
            });
        recvfrom(service, buf.data(), buf.size(), 0, nullptr, nullptr);
        // The bare peer: a plain UDP socket connected to the same service.
        bareClient = socket(AF_INET, SOCK_DGRAM, 0);
        connect(bareClient, reinterpret_cast<sockaddr*>(&in), sizeof in);
    }
    ~Pair()
    {
        conmon_client_free(c);
        close(bareClient);
        close(service);
        aud_env_release(env);
    }

    void waitReadable()
    {
        aud_fdset set;
        aud_fdset_zero(&set);
        conmon_client_get_sockets(c, &set);
        aud_fdset_poll(&set, 1000, nullptr);
    }

    void sendBatch(const sockaddr_in& to)
    {
        for (int i = 0; i < kBatch; ++i)
            sendto(service, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
};

void BM_ConmonProcessSockets(benchmark::State& state)
{
    Pair pair;
    for (auto _ : state) {
        state.PauseTiming();
        pair.sendBatch(pair.client);
        state.ResumeTiming();
        for (int i = 0; i < kBatch; ++i)
            conmon_client_process_sockets(pair.c);
    }
    state.SetItemsProcessed(int64_t(state.iterations() * kBatch));
}
BENCHMARK(BM_ConmonProcessSockets);

void BM_BareRecv(benchmark::State& state)
{
    Pair pair;
    sockaddr_in bare{};
    socklen_t len = sizeof bare;
    getsockname(pair.bareClient, reinterpret_cast<sockaddr*>(&bare), &len);
    Bytes buf(CONMON_MESSAGE_MAX);
    for (auto _ : state) {
        state.PauseTiming();
        pair.sendBatch(bare);
        state.ResumeTiming();
        for (int i = 0; i < kBatch; ++i)
            benchmark::DoNotOptimize(recv(pair.bareClient, buf.data(), buf.size(), MSG_DONTWAIT));
    }
    state.SetItemsProcessed(int64_t(state.iterations() * kBatch));
}
BENCHMARK(BM_BareRecv);

} // namespace

BENCHMARK_MAIN();
