// The configuration-manager client against its peers in the same run
// (throughput, higher is better):
// - encoding and decoding an options body of 16 interfaces and a state body
//   of 16 processes, against a memcpy of the same bytes out and back;
// - the idle CPU of a connected client serviced by a 20 ms poll() loop for
//   2 s, against the same loop without a client (counter "ratio": the
//   loop's CPU time without the client over its CPU time with it).
#include "dante/cmm/cmm_body.h"
#include "dante/cmm/cmm_client.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

cmm_options sixteenInterfaces()
{
    cmm_options o{};
    o.count = CMM_OPTIONS_MAX;
    for (unsigned i = 0; i < CMM_OPTIONS_MAX; ++i) {
        const char16_t name[] = u"Ethernet 10";
        memcpy(o.entries[i].name, name, sizeof name);
        o.entries[i].name[10] = char16_t(u'a' + i);
        o.entries[i].mac[5] = uint8_t(i);
    }
    return o;
}

cmm_system_state sixteenProcesses()
{
    cmm_system_state s{};
    s.status = CMM_STATUS_READY;
    snprintf(s.device_name, sizeof s.device_name, "QUILLON-PC");
    s.current.count = 2;
    s.current.entries[0] = sixteenInterfaces().entries[0];
    s.current.entries[1] = sixteenInterfaces().entries[1];
    s.process_count = CMM_PROCESSES_MAX;
    for (unsigned i = 0; i < CMM_PROCESSES_MAX; ++i) {
        snprintf(s.processes[i].name, sizeof s.processes[i].name, "process-%u", i);
        s.processes[i].process_id = 1000 + i;
        s.processes[i].lock = i == 3;
    }
    return s;
}

dgcp2_message fresh()
{
    dgcp2_message m{};
    dgcp2_message_init(&m, DGCP2_HEADER_TYPE_2);
    dgcp2_message_header_init(&m, CMM_PROTOCOL, CMM_OPCODE_STATE);
    return m;
}

template <typename Record, typename Write, typename Read>
void codecBench(benchmark::State& state, const Record& record, Write write, Read read)
{
    dgcp2_message msg = fresh();
    Record back{};
    size_t bytes = 0;
    for (auto _ : state) {
        msg = fresh();
        if (write(&msg, &record) != AUD_SUCCESS || read(&msg, &back) != AUD_SUCCESS)
            state.SkipWithError("codec failed");
        benchmark::DoNotOptimize(back);
        bytes += dgcp2_message_body_length(&msg);
    }
    state.SetBytesProcessed(int64_t(bytes));
}

// The same bytes copied out and back, as a floor for encode + decode.
template <typename Record, typename Write> void copyBench(benchmark::State& state, const Record& record, Write write)
{
    dgcp2_message msg = fresh();
    write(&msg, &record);
    const size_t n = dgcp2_message_body_length(&msg);
    uint8_t out[DGCP2_MESSAGE_SIZE], back[DGCP2_MESSAGE_SIZE];
    size_t bytes = 0;
    for (auto _ : state) {
        memcpy(out, dgcp2_message_body(&msg), n);
        benchmark::ClobberMemory();
        memcpy(back, out, n);
        benchmark::DoNotOptimize(back);
        bytes += n;
    }
    state.SetBytesProcessed(int64_t(bytes));
}

void BM_CmmOptions16Codec(benchmark::State& state)
{
    codecBench(state, sixteenInterfaces(), cmm_write_options, cmm_read_options);
}
BENCHMARK(BM_CmmOptions16Codec);

void BM_CmmOptions16Memcpy(benchmark::State& state)
{
    copyBench(state, sixteenInterfaces(), cmm_write_options);
}
BENCHMARK(BM_CmmOptions16Memcpy);

void BM_CmmState16Codec(benchmark::State& state)
{
    codecBench(state, sixteenProcesses(), cmm_write_state, cmm_read_state);
}
BENCHMARK(BM_CmmState16Codec);

void BM_CmmState16Memcpy(benchmark::State& state)
{
    copyBench(state, sixteenProcesses(), cmm_write_state);
}
BENCHMARK(BM_CmmState16Memcpy);

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A 20 ms poll() loop for `seconds` over `fd` (-1: none), calling work() when
// it is readable or timed out; its CPU seconds.
template <typename Work> double idleLoop(int fd, double seconds, Work work)
{
    const double start = cpuSeconds();
    timespec begin{}, now{};
    clock_gettime(CLOCK_MONOTONIC, &begin);
    for (int i = 0; i < 10000; ++i) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, fd >= 0 ? 1 : 0, 20);
        work();
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (double(now.tv_sec - begin.tv_sec) + double(now.tv_nsec - begin.tv_nsec) / 1e9 >= seconds)
            break;
    }
    return cpuSeconds() - start;
}

void BM_CmmIdleClient(benchmark::State& state)
{
    aud_env* env = nullptr;
    aud_env_setup(&env);
    const int manager = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    bind(manager, reinterpret_cast<sockaddr*>(&a), n);
    getsockname(manager, reinterpret_cast<sockaddr*>(&a), &n);
    cmm_client* raw = nullptr;
    cmm_client_new(env, &raw);
    cmm_client_ptr client(raw);
    cmm_client_set_server_port(raw, ntohs(a.sin_port));
    cmm_client_init(raw, "bench");
    cmm_client_connect(raw);
    sockaddr_in peer{};
    socklen_t pn = sizeof peer;
    uint8_t buf[2048];
    recvfrom(manager, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &pn);
    const uint8_t answer[] = {0x10, 0x01, 0x00, 0x1e, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0x00, 0x04, 0x00, 0x04, 0x00, 0x02, 0x00, 0x01, 0x00, 0x02};
    sendto(manager, answer, sizeof answer, 0, reinterpret_cast<sockaddr*>(&peer), pn);
    idleLoop(cmm_client_socket(raw), 0.2, [&] { cmm_client_process(raw, nullptr); });
    if (cmm_client_connection_state(raw) != CMM_CONNECTION_CONNECTED)
        state.SkipWithError("the client did not connect");

    double bare = 0, withClient = 0;
    for (auto _ : state) {
        bare = idleLoop(-1, 2.0, [] {});
        withClient = idleLoop(cmm_client_socket(raw), 2.0, [&] { cmm_client_process(raw, nullptr); });
    }
    state.counters["bare_cpu_us"] = bare * 1e6;
    state.counters["client_cpu_us"] = withClient * 1e6;
    state.counters["ratio"] = withClient > 0 ? bare / withClient : 0;
    client.reset();
    close(manager);
    aud_env_release(env);
}
BENCHMARK(BM_CmmIdleClient)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
