// The DGCP2 client on its own: creation, request slots, the opcodes each
// state allows, a lingering disconnect, and the two handler calls of a
// connect or disconnect response, against a scripted server on loopback.
#include "dante/cmm/dgcp2_client.h"
#include "dante/cmm/dgcp2_element.h"
#include "dante/support/aud_log.h"

#include "tests/dante/cmm/cmm_test_util.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

using cmmtest::ScriptedManager;

namespace {

struct Seen {
    uint32_t flags;
    bool request;
    bool message;
    aud_error error;
    unsigned state;
};

class Dgcp2Client : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
        ASSERT_EQ(aud_env_set_clock(env, aud_stepped_clock_read, &clock), AUD_SUCCESS);
    }
    void TearDown() override
    {
        if (client)
            dgcp2_client_terminate(client.get());
        client.reset();
        aud_socket_close(&sock);
        aud_env_release(env);
    }
    void make(bool connectionOriented, bool linger, uint16_t port = 0)
    {
        dgcp2_client* c = nullptr;
        ASSERT_EQ(dgcp2_client_new(env, false, DGCP2_HEADER_TYPE_2, 1, &c), AUD_SUCCESS);
        client.reset(c);
        aud_sockaddr server{};
        aud_sockaddr_set(&server, htonl(INADDR_LOOPBACK), port ? port : manager.port());
        ASSERT_EQ(aud_socket_udp_connect(&sock, &server), AUD_SUCCESS);
        ASSERT_EQ(dgcp2_client_initialise(c, nullptr, sock, connectionOriented, linger, nullptr), AUD_SUCCESS);
        dgcp2_client_set_context(c, this);
        dgcp2_client_set_handler(c, [](dgcp2_client* cc, const dgcp2_client_event* e) {
            static_cast<Dgcp2Client*>(dgcp2_client_context(cc))
                ->seen.push_back(
                    Seen{e->flags, e->request != nullptr, e->message != nullptr, e->error, dgcp2_client_state(cc)});
        });
    }
    // Takes the slot, starts a request of this opcode and sends it.
    aud_error send(uint16_t opcode)
    {
        dgcp2_request* r = nullptr;
        const aud_error e = dgcp2_client_request_take(client.get(), &r);
        if (e != AUD_SUCCESS)
            return e;
        dgcp2_message_header_init(dgcp2_request_message(r), 0x1001, opcode);
        last = r;
        return dgcp2_client_send_request(client.get(), r);
    }
    void answer(uint16_t opcode, uint16_t status, uint16_t seq)
    {
        dgcp2_message msg{};
        dgcp2_message_init(&msg, DGCP2_HEADER_TYPE_2);
        dgcp2_message_header_init(&msg, 0x1001, opcode);
        dgcp2_message_set_status(&msg, status);
        dgcp2_message_set_seqnum(&msg, seq);
        manager.send(msg);
        pollfd p{sock, POLLIN, 0};
        poll(&p, 1, 1000);
        dgcp2_client_process(client.get(), nullptr);
    }

    aud_env* env = nullptr;
    aud_stepped_clock clock{{500, 0}};
    ScriptedManager manager;
    aud_socket sock = AUD_SOCKET_INVALID;
    dgcp2_client_ptr client;
    dgcp2_request* last = nullptr;
    std::vector<Seen> seen;
};

} // namespace

TEST_F(Dgcp2Client, CreationAndSetUpRefuseWhatCannotWork)
{
    dgcp2_client* c = nullptr;
    EXPECT_EQ(dgcp2_client_new(env, true, DGCP2_HEADER_TYPE_2, 1, &c), AUD_INVALIDPARAMETER); // no event loop here
    EXPECT_EQ(dgcp2_client_new(env, false, 3, 1, &c), AUD_INVALIDPARAMETER);
    ASSERT_EQ(dgcp2_client_new(env, false, DGCP2_HEADER_TYPE_2, 0, &c), AUD_SUCCESS);
    dgcp2_client_ptr none(c);
    dgcp2_request* r = nullptr;
    EXPECT_EQ(dgcp2_client_request_take(c, &r), AUD_NOTFOUND);
    EXPECT_EQ(dgcp2_client_initialise(c, nullptr, AUD_SOCKET_INVALID, true, false, nullptr), AUD_INVALIDPARAMETER);
    const aud_time ten{10, 0};
    EXPECT_EQ(dgcp2_client_set_keepalives(c, 0, &ten, &ten), AUD_INVALIDPARAMETER);
    EXPECT_EQ(dgcp2_client_set_keepalives(c, 0x1001, nullptr, &ten), AUD_INVALIDPARAMETER);

    make(true, false);
    ASSERT_EQ(dgcp2_client_request_take(client.get(), &r), AUD_SUCCESS);
    dgcp2_request* again = nullptr;
    EXPECT_EQ(dgcp2_client_request_take(client.get(), &again), AUD_NOBUFS);
    // The slot's header carries the client id: 8 zero bytes and the socket's port.
    aud_sockaddr local{};
    aud_socket_local_address(sock, &local);
    EXPECT_EQ(dgcp2_message_client_port(dgcp2_request_message(r)), aud_sockaddr_port(&local));
}

TEST_F(Dgcp2Client, OpcodesAllowedByState)
{
    make(true, true);
    struct Row {
        const char* what;
        uint16_t opcode;
        aud_error result;
        unsigned state; // after the row
    } rows[] = {
        {"state 0 refuses a request", 0x110, AUD_INVALIDSTATE, 0},
        {"state 0 refuses disconnect", DGCP2_OPCODE_DISCONNECT, AUD_INVALIDSTATE, 0},
        {"state 0 takes connect", DGCP2_OPCODE_CONNECT, AUD_SUCCESS, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(send(row.opcode), row.result);
        EXPECT_EQ(dgcp2_client_state(client.get()), row.state);
    }
    ASSERT_EQ(manager.receive(), DGCP2_OPCODE_CONNECT);
    // A refusal freed the slot each time; the connect holds it now.
    EXPECT_TRUE(dgcp2_request_in_use(last));
    dgcp2_client_request_release(client.get(), last);
    EXPECT_EQ(send(0x110), AUD_INVALIDSTATE) << "state 1 takes only disconnect";
    EXPECT_EQ(send(DGCP2_OPCODE_CONNECT), AUD_INVALIDSTATE);
    EXPECT_EQ(send(DGCP2_OPCODE_DISCONNECT), AUD_SUCCESS);
    EXPECT_EQ(dgcp2_client_state(client.get()), DGCP2_STATE_DISCONNECTING); // lingering
    EXPECT_EQ(send(0x110), AUD_NOBUFS) << "the disconnect holds the slot until its answer";

    // Not connection-oriented: connect and disconnect are no requests of its own.
    TearDown();
    SetUp();
    make(false, false);
    EXPECT_EQ(send(DGCP2_OPCODE_CONNECT), AUD_INVALIDPARAMETER);
    EXPECT_EQ(send(DGCP2_OPCODE_DISCONNECT), AUD_INVALIDPARAMETER);
    EXPECT_EQ(send(0x110), AUD_SUCCESS);
}

TEST_F(Dgcp2Client, ConnectAndLingeringDisconnectAnswersCallTheHandlerTwice)
{
    make(true, true);
    ASSERT_EQ(send(DGCP2_OPCODE_CONNECT), AUD_SUCCESS);
    ASSERT_EQ(manager.receive(), DGCP2_OPCODE_CONNECT);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].flags, DGCP2_EVENT_STATE_CHANGED);
    answer(DGCP2_OPCODE_CONNECT, DGCP2_STATUS_RESPONSE, 0);
    ASSERT_EQ(seen.size(), 3u);
    for (size_t i : {1, 2}) {
        EXPECT_EQ(seen[i].flags, DGCP2_EVENT_STATE_CHANGED | DGCP2_EVENT_RESPONSE);
        EXPECT_EQ(seen[i].state, DGCP2_STATE_CONNECTED);
        EXPECT_TRUE(seen[i].message);
    }
    EXPECT_TRUE(seen[1].request);
    EXPECT_FALSE(seen[2].request); // the slot is free by then
    EXPECT_FALSE(dgcp2_request_in_use(last));

    // Another request answered while connected: one call, slot freed.
    ASSERT_EQ(send(0x110), AUD_SUCCESS);
    answer(0x110, DGCP2_STATUS_RESPONSE, 1);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3].flags, DGCP2_EVENT_RESPONSE);
    EXPECT_FALSE(dgcp2_request_in_use(last));

    ASSERT_EQ(send(DGCP2_OPCODE_DISCONNECT), AUD_SUCCESS);
    EXPECT_EQ(dgcp2_client_state(client.get()), DGCP2_STATE_DISCONNECTING);
    answer(DGCP2_OPCODE_DISCONNECT, DGCP2_STATUS_RESPONSE, 2);
    EXPECT_EQ(dgcp2_client_state(client.get()), DGCP2_STATE_DISCONNECTED);
    ASSERT_EQ(seen.size(), 7u);
    EXPECT_EQ(seen[6].flags, DGCP2_EVENT_STATE_CHANGED | DGCP2_EVENT_RESPONSE);
}

TEST_F(Dgcp2Client, AnswersOutsideStateTwoAndARefusedDisconnect)
{
    make(false, false);
    // A client that is not connection-oriented takes answers in any state.
    ASSERT_EQ(send(0x110), AUD_SUCCESS);
    ASSERT_EQ(manager.receive(), 0x110);
    answer(0x110, DGCP2_STATUS_RESPONSE, 0);
    EXPECT_FALSE(dgcp2_request_in_use(last));

    TearDown();
    SetUp();
    make(true, false);
    ASSERT_EQ(send(DGCP2_OPCODE_CONNECT), AUD_SUCCESS);
    ASSERT_EQ(manager.receive(), DGCP2_OPCODE_CONNECT);
    dgcp2_client_request_release(client.get(), last); // given up while connecting
    ASSERT_EQ(send(DGCP2_OPCODE_DISCONNECT), AUD_SUCCESS);
    EXPECT_EQ(dgcp2_client_state(client.get()), DGCP2_STATE_DISCONNECTED); // no linger

    // Nothing listens: the refusal of a disconnect still ends in state 0, as success.
    TearDown();
    SetUp();
    seen.clear();
    make(true, true, qtest::freePort(SOCK_DGRAM));
    ASSERT_EQ(send(DGCP2_OPCODE_CONNECT), AUD_SUCCESS);
    usleep(50000); // the port-unreachable answer arrives
    dgcp2_client_request_release(client.get(), last);
    EXPECT_EQ(send(DGCP2_OPCODE_DISCONNECT), AUD_SUCCESS);
    EXPECT_EQ(dgcp2_client_state(client.get()), DGCP2_STATE_DISCONNECTED);
    EXPECT_FALSE(dgcp2_request_in_use(last));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().flags, DGCP2_EVENT_STATE_CHANGED);
}

TEST_F(Dgcp2Client, LogLinesNameTheClientIdAndTheLength)
{
    aud_log_state* log = aud_env_log(env);
    std::vector<std::string> lines;
    aud_log_set_level(log, AUD_LOG_DEBUG);
    aud_log_set_sink_level(log, AUD_LOG_SINK_CALLBACK, AUD_LOG_DEBUG);
    aud_log_set_callback(
        log,
        [](aud_log_state*, void* context, const char*, unsigned, const char* text, size_t length) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
        },
        &lines);
    make(true, false);
    ASSERT_EQ(send(DGCP2_OPCODE_CONNECT), AUD_SUCCESS);
    aud_log_set_level(log, AUD_LOG_NONE);
    aud_log_set_callback(log, nullptr, nullptr);
    aud_sockaddr local{};
    aud_socket_local_address(sock, &local);
    const std::string id = "Client id is now 0000000000000000:" + std::to_string(aud_sockaddr_port(&local));
    // The header of a connect with an empty body is 20 bytes long.
    const std::string sending = "sending message (seqnum=0x0000, opcode=0x0001 len=0x0014)";
    bool sawId = false, sawSend = false;
    for (const std::string& line : lines) {
        sawId |= line.find(id) != std::string::npos;
        sawSend |= line.find(sending) != std::string::npos;
    }
    EXPECT_TRUE(sawId);
    EXPECT_TRUE(sawSend);
}
