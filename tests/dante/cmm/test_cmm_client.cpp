// The configuration-manager client against the fake manager over UDP on
// loopback: connect, events, set config, refusals, keepalives on the stepped
// clock, and a manager that is missing or stops.
#include "dante/cmm/cmm_client.h"

#include "tests/dante/cmm/cmm_client_fixture.h"
#include "tests/dante/cmm/cmm_test_util.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <unistd.h>

using cmmtest::Change;
using cmmtest::FakeCmm;

namespace {

class CmmClient : public cmmtest::CmmClientFixture {
protected:
    void startFake(const std::vector<std::string>& args = {})
    {
        fake = std::make_unique<FakeCmm>(args);
        ASSERT_TRUE(fake->ready()) << fake->seen();
        makeClient(fake->port());
    }
    void connect()
    {
        ASSERT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
        ASSERT_TRUE(pump([this] { return connectedWithRecords(); })) << fake->seen();
    }
    void knob(const std::string& name, const std::string& value)
    {
        fake->send("set " + name + " " + value);
        ASSERT_TRUE(fake->expect("SET", 3000, nullptr, name)) << fake->seen();
    }
    std::u16string currentName(unsigned i = 0)
    {
        const cmm_interface_set* set = cmm_client_current_config(client.get());
        const cmm_interface* e = cmm_interface_set_entry(set, i);
        return e ? std::u16string(cmm_interface_name(e)) : u"";
    }
    // Waits for the request to complete; its change.
    Change completion()
    {
        const size_t from = changes.size();
        EXPECT_TRUE(pump([&] {
            for (size_t i = from; i < changes.size(); ++i)
                if (changes[i].bits & CMM_CHANGE_REQUEST_COMPLETED)
                    return true;
            return false;
        })) << fake->seen();
        for (size_t i = from; i < changes.size(); ++i)
            if (changes[i].bits & CMM_CHANGE_REQUEST_COMPLETED)
                return changes[i];
        return Change{0, AUD_SYSTEM};
    }

    std::unique_ptr<FakeCmm> fake;
};

const uint8_t kEth1[6] = {0x02, 0x1d, 0xc1, 0x00, 0x00, 0x02};

} // namespace

TEST_F(CmmClient, ConnectLearnsTheManagerThenSetsTheConfigurationAndDisconnects)
{
    startFake({"--foreign", "other:9:0"});
    ASSERT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
    EXPECT_TRUE(cmm_client_request_pending(client.get()));
    EXPECT_EQ(cmm_client_connect(client.get()), AUD_INVALIDSTATE); // one request at a time
    ASSERT_TRUE(pump([this] { return connectedWithRecords(); })) << fake->seen();
    // The counter starts at 0 and 0 is sent as a valid number.
    std::string line;
    ASSERT_TRUE(fake->expect("RECV", 2000, &line, "\"op\":1,"));
    EXPECT_NE(line.find("\"seq\":0,"), std::string::npos) << line;
    EXPECT_NE(line.find("\"name\":\"dfa\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"pid\":" + std::to_string(getpid())), std::string::npos) << line;

    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.front().bits, CMM_CHANGE_CONNECTION); // connecting
    const cmm_server_info* info = cmm_client_server_info(client.get());
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(
        (std::vector<int>{info->major, info->minor, info->build, info->max_networks}), (std::vector<int>{4, 2, 1, 2}));
    EXPECT_FALSE(cmm_client_request_pending(client.get()));
    EXPECT_EQ(cmm_client_options(client.get())->count, 2);
    EXPECT_EQ(currentName(), u"eth0");
    EXPECT_STREQ(cmm_client_status_name(client.get()), "Ready");
    EXPECT_EQ(cmm_client_pending_config(client.get()), nullptr);
    const cmm_system_state* state = cmm_client_system_state(client.get());
    EXPECT_EQ(cmm_system_state_process_count(state), 2u);
    EXPECT_EQ(cmm_system_state_process(state, 1)->process_id, 9u);

    cmm_client_interface_set_clear(client.get());
    ASSERT_EQ(cmm_client_interface_set_add_mac(client.get(), kEth1), AUD_SUCCESS);
    const uint8_t unknown[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(cmm_client_interface_set_add_mac(client.get(), unknown), AUD_INVALIDDATA);
    cmm_system_config config{};
    config.mask = CMM_CONFIG_INTERFACES | CMM_CONFIG_LOCK;
    config.interfaces = *cmm_client_interface_set(client.get());
    config.lock = true;
    const size_t from = changes.size();
    ASSERT_EQ(cmm_client_set_system_config(client.get(), &config), AUD_SUCCESS);
    EXPECT_EQ(cmm_client_set_system_config(client.get(), &config), AUD_INVALIDSTATE);
    const Change done = completion();
    EXPECT_EQ(done.result, AUD_SUCCESS);
    EXPECT_TRUE(fake->expect("RECV", 2000, &line, "\"op\":272"));
    EXPECT_NE(line.find("\"mask\":3"), std::string::npos) << line;
    EXPECT_EQ(currentName(), u"eth1");
    EXPECT_EQ(cmm_client_process_entry(client.get())->lock, 1u);
    EXPECT_EQ(bitsSince(from) & (CMM_CHANGE_LOCK | CMM_CHANGE_STATE), CMM_CHANGE_LOCK | CMM_CHANGE_STATE);

    const size_t before = changes.size();
    ASSERT_EQ(cmm_client_disconnect(client.get()), AUD_SUCCESS);
    EXPECT_EQ(connection(), CMM_CONNECTION_DISCONNECTED);
    EXPECT_EQ(cmm_client_options(client.get()), nullptr);
    EXPECT_EQ(cmm_client_system_state(client.get()), nullptr);
    EXPECT_EQ(cmm_client_server_info(client.get()), nullptr);
    EXPECT_EQ(bitsSince(before), CMM_CHANGE_CONNECTION | CMM_CHANGE_OPTIONS | CMM_CHANGE_STATE | CMM_CHANGE_LOCK);
    EXPECT_TRUE(fake->expect("RECV", 2000, nullptr, "\"op\":2,"));
    settle(100); // the late disconnect answer finds no request
    EXPECT_EQ(connection(), CMM_CONNECTION_DISCONNECTED);
}

TEST_F(CmmClient, TooManyClientsRefusesTheConnectWithItsResult)
{
    startFake({"--knob", "too_many=1"});
    ASSERT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
    const Change refused = completion();
    EXPECT_EQ(refused.bits & (CMM_CHANGE_CONNECTION | CMM_CHANGE_REQUEST_COMPLETED),
        CMM_CHANGE_CONNECTION | CMM_CHANGE_REQUEST_COMPLETED);
    EXPECT_EQ(refused.result, AUD_NOBUFS);
    EXPECT_EQ(connection(), CMM_CONNECTION_DISCONNECTED);
    EXPECT_EQ(cmm_client_server_info(client.get()), nullptr);
    EXPECT_FALSE(cmm_client_request_pending(client.get()));

    // The one request slot is free again.
    knob("too_many", "0");
    connect();
}

TEST_F(CmmClient, SetConfigRefusalsCompleteWithInvalidState)
{
    startFake({"--foreign", "tool:99:1"});
    connect();
    // Another process holds the lock: an interface change is refused.
    cmm_system_config config{};
    config.mask = CMM_CONFIG_INTERFACES;
    config.interfaces.count = 1;
    config.interfaces.entries[0] = *cmm_client_find_option_mac(client.get(), kEth1);
    ASSERT_EQ(cmm_client_set_system_config(client.get(), &config), AUD_SUCCESS);
    Change done = completion();
    EXPECT_EQ(done.result, AUD_INVALIDSTATE);
    EXPECT_EQ(currentName(), u"eth0");

    // "Invalid State" with a state body that differs: the state is still kept.
    knob("invalid_state", "1");
    fake->send("current eth1");
    ASSERT_TRUE(fake->expect("SENT", 2000, nullptr, "state"));
    cmm_system_config lock{};
    lock.mask = CMM_CONFIG_LOCK;
    lock.lock = true;
    ASSERT_EQ(cmm_client_set_system_config(client.get(), &lock), AUD_SUCCESS);
    done = completion();
    EXPECT_EQ(done.result, AUD_INVALIDSTATE);
    EXPECT_EQ(currentName(), u"eth1");
    EXPECT_EQ(cmm_client_process_entry(client.get())->lock, 0u);
}

TEST_F(CmmClient, ChangingShowsThePendingConfigurationUntilReady)
{
    startFake({"--knob", "changing=pending", "--knob", "changing_delay=0.4"});
    connect();
    cmm_system_config config{};
    config.mask = CMM_CONFIG_INTERFACES;
    config.interfaces.count = 1;
    config.interfaces.entries[0] = *cmm_client_find_option_mac(client.get(), kEth1);
    ASSERT_EQ(cmm_client_set_system_config(client.get(), &config), AUD_SUCCESS);
    EXPECT_EQ(completion().result, AUD_SUCCESS);
    EXPECT_STREQ(cmm_client_status_name(client.get()), "Changing");
    const cmm_interface_set* pending = cmm_client_pending_config(client.get());
    ASSERT_NE(pending, nullptr);
    EXPECT_EQ(std::u16string(cmm_interface_name(cmm_interface_set_entry(pending, 0))), u"eth1");
    EXPECT_EQ(currentName(), u"eth0");
    ASSERT_TRUE(pump([this] { return cmm_client_pending_config(client.get()) == nullptr; }));
    EXPECT_EQ(currentName(), u"eth1");
}

TEST_F(CmmClient, BigListsKeepTheirLimitsAndEarlyEventsAreDropped)
{
    startFake({"--options", "20", "--current", "eth0,eth1,eth2", "--knob", "early_events=1"});
    ASSERT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
    ASSERT_TRUE(pump([this] { return connection() == CMM_CONNECTION_CONNECTED; }));
    settle(200);
    // Events sent before the connect answer belong to no connection.
    EXPECT_EQ(cmm_client_options(client.get()), nullptr);
    EXPECT_EQ(cmm_client_system_state(client.get()), nullptr);
    fake->send("options");
    fake->send("state");
    ASSERT_TRUE(pump([this] { return connectedWithRecords(); }));
    EXPECT_EQ(cmm_client_options(client.get())->count, 16);
    EXPECT_EQ(cmm_interface_set_count(cmm_client_current_config(client.get())), 2u);
    EXPECT_NE(cmm_client_find_option_name(client.get(), u"eth15"), nullptr);
    EXPECT_EQ(cmm_client_find_option_name(client.get(), u"eth16"), nullptr);
}

TEST_F(CmmClient, AnsweredKeepalivesHoldTheConnection)
{
    startFake();
    connect();
    for (int i = 0; i < 8; ++i) {
        step(10);
        settle(60);
    }
    EXPECT_EQ(connection(), CMM_CONNECTION_CONNECTED);
    std::string line;
    ASSERT_TRUE(fake->expect("SENT", 2000, &line, "keepalive"));
    EXPECT_NE(line.find("\"status\":1"), std::string::npos);
}

TEST_F(CmmClient, SilentManagerIsLostAfter31SecondsAndNotConnectedIsNoSignOfLife)
{
    startFake();
    connect();
    knob("silent", "1");
    step(10);
    settle(50);
    ASSERT_TRUE(fake->expect("RECV", 2000, nullptr, "\"op\":0,")); // a keepalive went out
    step(10);
    fake->send("notconn");
    ASSERT_TRUE(fake->expect("SENT", 2000, nullptr, "notconn"));
    settle(100);
    step(10, 999999); // 30.999999 s of silence
    settle(50);
    EXPECT_EQ(connection(), CMM_CONNECTION_CONNECTED);
    const size_t from = changes.size();
    step(0, 1);
    ASSERT_TRUE(pump([this] { return connection() == CMM_CONNECTION_DISCONNECTED; }));
    ASSERT_LT(from, changes.size());
    EXPECT_EQ(changes.back().result, AUD_TIMEDOUT);
    EXPECT_EQ(bitsSince(from), CMM_CHANGE_CONNECTION | CMM_CHANGE_OPTIONS | CMM_CHANGE_STATE);
    EXPECT_EQ(cmm_client_options(client.get()), nullptr);
}

TEST_F(CmmClient, StoppedManagerDisconnectsAtOnce)
{
    startFake();
    connect();
    fake->send("close");
    ASSERT_TRUE(fake->expect("CLOSED"));
    const size_t from = changes.size();
    step(10); // the next keepalive meets a closed port
    ASSERT_TRUE(pump([this] { return connection() == CMM_CONNECTION_DISCONNECTED; }, 3000));
    EXPECT_EQ(changes.back().result, AUD_CONNREFUSED);
    EXPECT_EQ(bitsSince(from) & CMM_CHANGE_CONNECTION, CMM_CHANGE_CONNECTION);
    EXPECT_EQ(cmm_client_system_state(client.get()), nullptr);
}

TEST_F(CmmClient, NoManagerListeningEndsTheConnectAndFreesTheRequest)
{
    makeClient(qtest::freePort(SOCK_DGRAM));
    ASSERT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
    ASSERT_TRUE(pump([this] { return connection() == CMM_CONNECTION_DISCONNECTED && !changes.empty(); }));
    ASSERT_TRUE(pump([this] { return !cmm_client_request_pending(client.get()); }));
    EXPECT_EQ(connection(), CMM_CONNECTION_DISCONNECTED);
    EXPECT_EQ(changes.back().result, AUD_CONNREFUSED);
    EXPECT_EQ(changes.back().bits & CMM_CHANGE_REQUEST_COMPLETED, CMM_CHANGE_REQUEST_COMPLETED);
    // The slot was given back with the dropped request.
    EXPECT_EQ(cmm_client_connect(client.get()), AUD_SUCCESS);
}
