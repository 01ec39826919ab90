// Datagrams from the control-and-monitoring service: validation, then the
// parser of the message kind, then the whole client path on a connected
// client with handlers installed. Nothing may read past the datagram, and
// the client keeps its connection and its fixed tables.
#include "dante/conmon/conmon_client.h"
#include "dante/conmon/conmon_message.h"
#include "dante/support/aud_env.h"
#include "fuzz/fuzz_check.h"

#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

void onMessage(conmon_client* c, uint16_t, uint16_t, const conmon_envelope* env, const uint8_t* payload, size_t n)
{
    fuzzCheck(env->length == n + CONMON_ENVELOPE_SIZE && n <= CONMON_PAYLOAD_MAX);
    volatile uint8_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += payload[i];
    static_cast<void>(sum);
    const conmon_instance_id id{env->device_id, env->process_id};
    const char* name = conmon_client_get_sender_name(c, &id);
    fuzzCheck(!name || strlen(name) <= 32);
}

void onControl(conmon_client* c, const conmon_envelope* env, const uint8_t* payload, size_t n)
{
    onMessage(c, 0, 1, env, payload, n);
}

void onSubscriptions(conmon_client*, size_t count, const conmon_client_subscription* const*)
{
    fuzzCheck(count <= CONMON_CLIENT_SUBSCRIPTIONS);
}

// A client connected to a silent loopback socket: its Connect is answered
// by a hand-made response handed straight to the client.
struct Connected {
    aud_env* env = nullptr;
    int service = -1;
    conmon_client* client = nullptr;

    Connected()
    {
        aud_env_setup(&env);
        service = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof in;
        bind(service, reinterpret_cast<sockaddr*>(&in), sizeof in);
        getsockname(service, reinterpret_cast<sockaddr*>(&in), &len);
        conmon_client_config config;
        conmon_client_config_init(&config, "fuzz");
        aud_sockaddr_set(&config.server, in.sin_addr.s_addr, ntohs(in.sin_port));
        fuzzCheck(conmon_client_new_config(env, &config, &client) == AUD_SUCCESS);
        conmon_client_set_subscriptions_changed_callback(client, onSubscriptions);
        fuzzCheck(conmon_client_connect(client, nullptr, nullptr) == AUD_SUCCESS);
        std::vector<uint8_t> r(324);
        const uint8_t head[] = {0x00, 0x15, 0x44, 0x01, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00};
        memcpy(r.data(), head, sizeof head);
        memcpy(r.data() + 12, "fuzz-pc", 7);
        r[308] = 42;
        r[312] = 36;
        r[314] = 0x44;
        r[315] = 0x01;
        fuzzCheck(process_message(client, r.data(), r.size()) == AUD_SUCCESS);
        fuzzCheck(conmon_client_get_state(client) == CONMON_CLIENT_CONNECTED);
        conmon_client_register_control_messages(client, nullptr, nullptr, onControl);
        for (uint16_t type : {2, 3, 4, 6, 8})
            for (bool other : {false, true})
                conmon_client_register_monitoring_messages(client, nullptr, nullptr, type, other, onMessage);
        conmon_client_subscribe_global(client, nullptr, nullptr, 2);
    }
};

void parse(const uint8_t* d, size_t n)
{
    conmon_header h;
    fuzzCheck(conmon_header_read(d, n, &h) == AUD_SUCCESS);
    switch (h.opcode) {
    case CONMON_OP_CONNECT: {
        conmon_connect_info info;
        if (conmon_parse_connect_response(d, n, &info) == AUD_SUCCESS)
            fuzzCheck(info.interfaces.count <= CONMON_INTERFACES_MAX);
        break;
    }
    case CONMON_OP_NETWORKS_CHANGED: {
        conmon_interfaces ifs;
        conmon_parse_networks_changed(d, n, &ifs);
        break;
    }
    case CONMON_OP_SET_DEVICE_NAME:
    case CONMON_OP_DEVICE_NAME_CHANGED: {
        char name[CONMON_DEVICE_NAME_SIZE];
        conmon_parse_device_name(d, n, name);
        break;
    }
    case CONMON_OP_DNS_DOMAIN_NAME_CHANGED: {
        char domain[CONMON_DOMAIN_SIZE];
        conmon_parse_dns_domain(d, n, domain);
        break;
    }
    case CONMON_OP_SUBSCRIBE:
    case CONMON_OP_SUBSCRIPTIONS_CHANGED: {
        conmon_subscription_list list;
        if (n < 12 || conmon_parse_subscription_list(d, n, &list) != AUD_SUCCESS)
            break;
        for (size_t i = 0; i < list.count; ++i) {
            conmon_subscription_entry e;
            fuzzCheck(conmon_parse_subscription_entry(d, n, &list, i, &e) == AUD_SUCCESS);
        }
        break;
    }
    case CONMON_OP_CHANNEL_MESSAGE:
    case CONMON_OP_NAMED_CHANNEL_MESSAGE: {
        conmon_channel_message m;
        if ((h.status & CONMON_STATUS_KIND_MASK) == CONMON_STATUS_EVENT) {
            // Validation promised a payload that lies inside the datagram.
            fuzzCheck(conmon_parse_channel_message(d, n, &m) == AUD_SUCCESS);
            fuzzCheck(m.payload + m.payload_length <= d + n && m.payload_length <= CONMON_PAYLOAD_MAX);
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Connected connected;
    if (size > CONMON_MESSAGE_MAX)
        return 0;
    // An exact-size copy so the sanitizer sees any read past the datagram.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[size ? size : 1]);
    memcpy(exact.get(), data, size);
    const uint16_t status = conmon_message_validate(exact.get(), size);
    fuzzCheck(status == 0 || (status >= CONMON_STATUS_INVALID_VERSION && status <= CONMON_STATUS_NOT_SUPPORTED));
    if (status == 0)
        parse(exact.get(), size);
    const aud_error e = process_message(connected.client, exact.get(), size);
    fuzzCheck((e == AUD_INVALIDDATA) == (status != 0));
    fuzzCheck(conmon_client_get_state(connected.client) == CONMON_CLIENT_CONNECTED);
    return 0;
}
