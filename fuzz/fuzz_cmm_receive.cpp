// Datagrams from the configuration manager: a connected client with a
// set-config request outstanding receives arbitrary datagrams over loopback
// and handles them with its event handler. Every body is also read on its
// own with the bytes past the datagram poisoned, so a read past it stops the
// run.
//
// Input: one byte of seconds to step the clock before processing (keepalive
// and lost-manager paths), then datagrams, each a big-endian u16 length and
// its bytes.
#include "dante/cmm/cmm_body.h"
#include "dante/cmm/cmm_client.h"
#include "fuzz/fuzz_check.h"

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sanitizer/asan_interface.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Manager {
    int fd = -1;
    uint16_t port = 0;
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;

    Manager()
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        fuzzCheck(fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), n) == 0
            && getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0);
        port = ntohs(a.sin_port);
    }
    // Whatever earlier clients left behind (keepalives, requests) goes.
    void drain()
    {
        uint8_t buf[2048];
        for (int i = 0; i < 1000 && recv(fd, buf, sizeof buf, MSG_DONTWAIT) >= 0; ++i) { }
    }
    // Answers go to the client's own port, whoever wrote last.
    void talkTo(int clientFd)
    {
        peerLength = sizeof peer;
        getsockname(clientFd, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    }
    void send(const void* data, size_t size)
    {
        sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&peer), peerLength);
    }
};

struct Setup {
    aud_env* env = nullptr;
    aud_stepped_clock clock{{1000, 0}};
    Manager manager;
    Setup()
    {
        fuzzCheck(aud_env_setup(&env) == AUD_SUCCESS);
        aud_env_set_clock(env, aud_stepped_clock_read, &clock);
    }
};

void processAll(cmm_client* c)
{
    for (int i = 0; i < 4; ++i) {
        pollfd p{cmm_client_socket(c), POLLIN, 0};
        if (poll(&p, 1, i == 0 ? 50 : 0) <= 0)
            return;
        cmm_client_process(c, nullptr);
    }
}

// A connected client (connect answered with seq 0) with a set config (seq 1) pending.
cmm_client_ptr connectedClient(Setup& s)
{
    cmm_client* raw = nullptr;
    fuzzCheck(cmm_client_new(s.env, &raw) == AUD_SUCCESS);
    cmm_client_ptr c(raw);
    cmm_client_set_server_port(raw, s.manager.port);
    fuzzCheck(cmm_client_init(raw, "fuzz") == AUD_SUCCESS);
    s.manager.drain();
    s.manager.talkTo(cmm_client_socket(raw));
    fuzzCheck(cmm_client_connect(raw) == AUD_SUCCESS);
    static const uint8_t answer[] = {0x10, 0x01, 0x00, 0x1e, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0x00, 0x04, 0x00, 0x04, 0x00, 0x02, 0x00, 0x01, 0x00, 0x02};
    s.manager.send(answer, sizeof answer);
    processAll(raw);
    fuzzCheck(cmm_client_connection_state(raw) == CMM_CONNECTION_CONNECTED);
    cmm_system_config config{};
    config.mask = CMM_CONFIG_LOCK;
    config.lock = true;
    fuzzCheck(cmm_client_set_system_config(raw, &config) == AUD_SUCCESS);
    return c;
}

// Reads the datagram's body every way the client may, with nothing readable past it.
void readAlone(const uint8_t* data, size_t size)
{
    auto msg = std::make_unique<dgcp2_message>();
    if (dgcp2_message_load(msg.get(), DGCP2_HEADER_TYPE_2, data, size) != AUD_SUCCESS)
        return;
    uint8_t* tail = msg->data + size;
    const size_t tailSize = DGCP2_MESSAGE_SIZE - size;
    ASAN_POISON_MEMORY_REGION(tail, tailSize);
    cmm_server_info info{};
    cmm_options options{};
    cmm_system_state state{};
    cmm_read_server_info(msg.get(), &info);
    if (cmm_read_options(msg.get(), &options) == AUD_SUCCESS)
        fuzzCheck(options.count <= CMM_OPTIONS_MAX);
    if (cmm_read_state(msg.get(), &state) == AUD_SUCCESS)
        fuzzCheck(state.process_count <= CMM_PROCESSES_MAX && state.current.count <= CMM_INTERFACE_SET_MAX
            && state.pending.count <= CMM_INTERFACE_SET_MAX);
    ASAN_UNPOISON_MEMORY_REGION(tail, tailSize);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Setup setup;
    if (size < 1)
        return 0;
    cmm_client_ptr client = connectedClient(setup);
    size_t at = 1;
    for (int n = 0; n < 16 && at + 2 <= size; ++n) {
        const size_t length = size_t(data[at] << 8 | data[at + 1]);
        at += 2;
        const size_t take = length < size - at ? length : size - at;
        if (take > DGCP2_MESSAGE_SIZE)
            break;
        readAlone(data + at, take);
        setup.manager.send(data + at, take);
        at += take;
    }
    const aud_time step{data[0] % 40, 0};
    aud_time_add(&setup.clock.now, &step);
    processAll(client.get());

    const unsigned state = cmm_client_connection_state(client.get());
    fuzzCheck(state <= CMM_CONNECTION_CONNECTED);
    if (const cmm_options* o = cmm_client_options(client.get()))
        fuzzCheck(o->count <= CMM_OPTIONS_MAX && state == CMM_CONNECTION_CONNECTED);
    if (const cmm_system_state* s = cmm_client_system_state(client.get()))
        fuzzCheck(s->process_count <= CMM_PROCESSES_MAX && s->current.count <= CMM_INTERFACE_SET_MAX);
    return 0;
}
