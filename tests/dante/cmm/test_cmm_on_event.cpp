// The change bits of the configuration-manager client, one step per row,
// with a scripted manager on a loopback socket of the test.
#include "dante/cmm/cmm_body.h"
#include "dante/cmm/cmm_client.h"
#include "dante/cmm/dgcp2_element.h"

#include "tests/dante/cmm/cmm_client_fixture.h"
#include "tests/dante/cmm/cmm_test_util.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

dgcp2_message message(uint16_t opcode, uint16_t status, uint16_t seq = 0)
{
    dgcp2_message msg{};
    dgcp2_message_init(&msg, DGCP2_HEADER_TYPE_2);
    dgcp2_message_header_init(&msg, CMM_PROTOCOL, opcode);
    dgcp2_message_set_status(&msg, status);
    dgcp2_message_set_seqnum(&msg, seq);
    return msg;
}

cmm_options options(unsigned count)
{
    cmm_options o{};
    o.count = uint16_t(count);
    for (unsigned i = 0; i < count; ++i) {
        o.entries[i].name[0] = u'e';
        o.entries[i].name[1] = char16_t(u'a' + i);
        o.entries[i].mac[5] = uint8_t(i);
    }
    return o;
}

dgcp2_message optionsEvent(unsigned count)
{
    dgcp2_message msg = message(CMM_OPCODE_OPTIONS, DGCP2_STATUS_EVENT);
    // More than 16 entries: written by hand past the record's limit.
    const cmm_options first = options(count < 16 ? count : 16);
    uint16_t root = 0, list = 0;
    dgcp2_append_array(&msg, 1, &root);
    dgcp2_append_array(&msg, uint16_t(count), &list);
    dgcp2_set_slot(&msg, root, 0, list);
    for (unsigned i = 0; i < count; ++i) {
        uint16_t itf = 0, name = 0, mac = 0;
        dgcp2_append_array(&msg, 2, &itf);
        dgcp2_append_wstring(&msg, first.entries[i % 16].name, 63, &name);
        dgcp2_append_bytes(&msg, first.entries[i % 16].mac, 6, &mac);
        dgcp2_set_slot(&msg, itf, 0, name);
        dgcp2_set_slot(&msg, itf, 1, mac);
        dgcp2_set_slot(&msg, list, uint16_t(i), itf);
    }
    return msg;
}

dgcp2_message stateEvent(uint16_t status, const std::vector<cmm_process>& processes)
{
    cmm_system_state s{};
    s.status = status;
    snprintf(s.device_name, sizeof s.device_name, "PC");
    s.current.count = 1;
    s.current.entries[0] = options(1).entries[0];
    s.process_count = uint16_t(processes.size());
    for (size_t i = 0; i < processes.size(); ++i)
        s.processes[i] = processes[i];
    dgcp2_message msg = message(CMM_OPCODE_STATE, DGCP2_STATUS_EVENT);
    cmm_write_state(&msg, &s);
    return msg;
}

cmm_process proc(const char* name, uint32_t pid, uint32_t lock)
{
    cmm_process p{};
    snprintf(p.name, sizeof p.name, "%s", name);
    p.process_id = pid;
    p.lock = lock;
    return p;
}

using cmmtest::ScriptedManager;

class CmmOnEvent : public cmmtest::CmmClientFixture { };

} // namespace

TEST_F(CmmOnEvent, ChangeBitsStepByStep)
{
    ScriptedManager manager;
    ASSERT_NE(manager.port(), 0);
    makeClient(manager.port());
    const uint32_t self = uint32_t(getpid());
    const cmm_process own = proc("dfa", self, 1);
    const cmm_process other = proc("other", 9, 0);

    dgcp2_message connectResponse = message(DGCP2_OPCODE_CONNECT, DGCP2_STATUS_RESPONSE, 0);
    uint16_t root = 0;
    dgcp2_append_array(&connectResponse, 4, &root);
    for (uint16_t i = 0; i < 4; ++i)
        dgcp2_set_slot(&connectResponse, root, i, uint16_t(i + 1));
    dgcp2_message broken = message(CMM_OPCODE_STATE, DGCP2_STATUS_EVENT);
    dgcp2_append_array(&broken, 4, &root);

    using Action = std::function<void()>;
    auto sending = [&](dgcp2_message m) -> Action { return [&manager, m] { manager.send(m); }; };
    struct Row {
        const char* what;
        Action action;
        std::vector<uint32_t> bits; // one entry per callback
        aud_error result;
    } rows[] = {
        {"connect sent",
            [&] {
                ASSERT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
                ASSERT_EQ(manager.receive(), DGCP2_OPCODE_CONNECT);
            },
            {CMM_CHANGE_CONNECTION}, AUD_SUCCESS},
        // Both handler calls of the response carry it: one callback only.
        {"connect answered", sending(connectResponse), {CMM_CHANGE_REQUEST_COMPLETED | CMM_CHANGE_CONNECTION},
            AUD_SUCCESS},
        {"options", sending(optionsEvent(2)), {CMM_CHANGE_OPTIONS}, AUD_SUCCESS},
        {"same options", sending(optionsEvent(2)), {}, AUD_SUCCESS},
        {"state with our lock", sending(stateEvent(1, {own, other})), {CMM_CHANGE_STATE | CMM_CHANGE_LOCK},
            AUD_SUCCESS},
        {"same state", sending(stateEvent(1, {own, other})), {}, AUD_SUCCESS},
        {"state without us keeps the lock", sending(stateEvent(1, {other})), {CMM_CHANGE_STATE}, AUD_SUCCESS},
        {"unreadable state", sending(broken), {}, AUD_SUCCESS},
        {"not connected", sending(message(0, DGCP2_STATUS_NOT_CONNECTED, 0x7777)), {}, AUD_SUCCESS},
        {"unknown event", sending(message(0x155, DGCP2_STATUS_EVENT)), {}, AUD_SUCCESS},
        {"20 options", sending(optionsEvent(20)), {CMM_CHANGE_OPTIONS}, AUD_SUCCESS},
        {"disconnect", [&] { ASSERT_EQ(cmm_client_disconnect(client.get()), AUD_SUCCESS); },
            {CMM_CHANGE_CONNECTION | CMM_CHANGE_OPTIONS | CMM_CHANGE_STATE | CMM_CHANGE_LOCK}, AUD_SUCCESS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const size_t from = changes.size();
        row.action();
        settle(60);
        std::vector<uint32_t> got;
        for (size_t i = from; i < changes.size(); ++i) {
            got.push_back(changes[i].bits);
            EXPECT_EQ(changes[i].result, row.result);
        }
        EXPECT_EQ(got, row.bits);
        if (std::string(row.what) == "state without us keeps the lock") {
            EXPECT_EQ(cmm_client_process_entry(client.get())->lock, 1u);
        }
        if (std::string(row.what) == "unreadable state") {
            EXPECT_EQ(cmm_system_state_process_count(cmm_client_system_state(client.get())), 1u);
        }
        if (std::string(row.what) == "20 options") {
            EXPECT_EQ(cmm_client_options(client.get())->count, 16);
        }
    }
    const cmm_server_info* info = cmm_client_server_info(client.get());
    EXPECT_EQ(info, nullptr);
}

TEST_F(CmmOnEvent, LateAnswerToADroppedRequestLeavesTheSlotFree)
{
    ScriptedManager manager;
    makeClient(manager.port());
    ASSERT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
    ASSERT_EQ(manager.receive(), DGCP2_OPCODE_CONNECT);
    // Given up while connecting: the disconnect needs the one slot.
    ASSERT_EQ(cmm_client_disconnect(client.get()), AUD_SUCCESS);
    ASSERT_EQ(manager.receive(), DGCP2_OPCODE_DISCONNECT);
    EXPECT_EQ(connection(), CMM_CONNECTION_DISCONNECTED);
    dgcp2_message late = message(DGCP2_OPCODE_CONNECT, DGCP2_STATUS_RESPONSE, 0);
    uint16_t root = 0;
    dgcp2_append_array(&late, 4, &root);
    manager.send(late);
    settle(60);
    EXPECT_EQ(connection(), CMM_CONNECTION_DISCONNECTED);
    EXPECT_FALSE(cmm_client_request_pending(client.get()));
    ASSERT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
    EXPECT_EQ(manager.receive(), DGCP2_OPCODE_CONNECT);
}
