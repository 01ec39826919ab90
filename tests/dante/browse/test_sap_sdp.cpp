// SAP headers and SDP bodies written by hand from the two formats, the
// session table on a stepped clock, and the mended reads.
#include "dante/browse/db_browse.h"
#include "dante/browse/db_sap.h"

#include "dante/support/aud_socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string kSdp = "v=0\r\n"
                         "o=- 1311738121 1311738121 IN IP4 192.168.1.10\r\n"
                         "s=Stage box 1\r\n"
                         "i=2 channels\r\n"
                         "c=IN IP4 239.69.1.10/32\r\n"
                         "t=0 0\r\n"
                         "a=keywds:Dante\r\n"
                         "m=audio 5004 RTP/AVP 96\r\n"
                         "i=Channels 1-2\r\n"
                         "a=rtpmap:96 L24/48000/2\r\n"
                         "a=sendonly\r\n"
                         "a=ptime:1\r\n"
                         "a=ts-refclk:ptp=IEEE1588-2008:00-11-22-FF-FE-33-44-55:0\r\n"
                         "a=mediaclk:direct=1266592\r\n";

std::string sapPacket(const std::string& sdp, uint8_t first = 0x20, uint16_t hash = 0x1234, uint8_t authWords = 0,
    const std::string& auth = "")
{
    std::string p;
    p += static_cast<char>(first);
    p += static_cast<char>(authWords);
    p += static_cast<char>(hash >> 8);
    p += static_cast<char>(hash & 0xFF);
    p += std::string("\xC0\xA8\x01\x0A", 4);
    p += auth;
    p += std::string("application/sdp", 16);
    return p + sdp;
}

aud_error parse(const std::string& packet, sdp_session* s)
{
    // Exactly the packet's bytes, so a read past them is caught under ASan.
    std::vector<uint8_t> bytes(packet.begin(), packet.end());
    return get_sdp_parsed_structure(bytes.data(), bytes.size(), s);
}

TEST(SapSdp, AnAes67AnnouncementIsReadWhole)
{
    sdp_session s{};
    ASSERT_EQ(parse(sapPacket(kSdp), &s), AUD_SUCCESS);
    EXPECT_EQ(s.deletion, 0u);
    EXPECT_EQ(s.msg_id_hash, 0x1234);
    EXPECT_EQ(s.presence, SDP_HAS_ORIGIN | SDP_HAS_CONNECTION | SDP_HAS_TIME | SDP_HAS_MEDIA);
    EXPECT_EQ(s.session_id, 1311738121u);
    EXPECT_EQ(ntohl(s.origin_address), 0xC0A8010Au);
    EXPECT_STREQ(s.user_name, "-");
    EXPECT_STREQ(s.session_name, "Stage box 1");
    EXPECT_STREQ(s.session_info, "2 channels");
    EXPECT_STREQ(s.title, "Channels 1-2");
    EXPECT_EQ(ntohl(s.connection_address), 0xEF45010Au);
    EXPECT_EQ(s.ttl, 32);
    EXPECT_EQ(s.num_addresses, 1);
    EXPECT_EQ(s.media_port, 5004);
    EXPECT_EQ(s.port_count, 1);
    EXPECT_EQ(s.payload_type, 96);
    EXPECT_EQ(s.attributes, SDP_ATTR_RTPMAP | SDP_ATTR_PTIME | SDP_ATTR_REFCLK | SDP_ATTR_MEDIACLK);
    EXPECT_EQ(s.sample_rate, 48000u);
    EXPECT_EQ(s.encoding_bits, 24);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.direction, SDP_DIR_SENDONLY);
    EXPECT_EQ(s.packet_time_us, 1000u);
    const uint8_t gm[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(std::memcmp(s.ptp_grandmaster, gm, 6), 0);
    EXPECT_STREQ(s.ptp_domain, "0");
    EXPECT_EQ(s.media_clock_offset, 1266592u);
    EXPECT_EQ(s.dante, 1);
}

std::string replaced(const std::string& line, const std::string& with)
{
    std::string sdp = kSdp;
    const size_t at = sdp.find(line);
    return sdp.replace(at, line.size(), with);
}

TEST(SapSdp, HeadersAndTextsThatAreRefused)
{
    const std::string auth(8, 'x');
    struct Case {
        const char* what;
        std::string packet;
        aud_error expected;
    } cases[] = {
        {"eight bytes", sapPacket("").substr(0, 8), AUD_NODATA},
        {"version 2", sapPacket(kSdp, 0x40), AUD_NOTSUPPORTED},
        {"compressed", sapPacket(kSdp, 0x21), AUD_NOTSUPPORTED},
        {"encrypted", sapPacket(kSdp, 0x22), AUD_NOTSUPPORTED},
        {"zero hash", sapPacket(kSdp, 0x20, 0), AUD_INVALIDDATA},
        {"other payload type", sapPacket(kSdp).replace(8, 11, "applicatiom"), AUD_INVALIDDATA},
        {"no SDP byte", sapPacket(""), AUD_INVALIDDATA},
        {"authentication data", sapPacket(kSdp, 0x20, 1, 2, auth), AUD_SUCCESS},
        // Mended: the authentication length and the payload type are checked
        // against the datagram's length.
        {"authentication beyond the end", sapPacket("", 0x20, 1, 255).substr(0, 30), AUD_INVALIDDATA},
        {"payload type cut", sapPacket("").substr(0, 20), AUD_INVALIDDATA},
        // Mended: an IPv6 originating source is not read as IPv4.
        {"IPv6 origin", sapPacket(kSdp, 0x30), AUD_NOTSUPPORTED},
        {"last line without line end", sapPacket(kSdp + "a=recvonly"), AUD_NOTSUPPORTED},
        {"version 1", sapPacket(replaced("v=0", "v=1")), AUD_NOTSUPPORTED},
        {"a= before t=", sapPacket(replaced("t=0 0\r\n", "")), AUD_NOTSUPPORTED},
        {"s= after i=", sapPacket(replaced("s=Stage box 1\r\ni=2 channels", "i=2 channels\r\ns=x")), AUD_NOTSUPPORTED},
        {"session id overflow", sapPacket(replaced("1311738121 1311738121", "18446744073709551616 1")),
            AUD_NOTSUPPORTED},
        {"mediaclk not direct", sapPacket(replaced("a=mediaclk:direct=1266592", "a=mediaclk:sender")),
            AUD_NOTSUPPORTED},
        {"ptp with 7 pairs", sapPacket(replaced("00-11-22-FF-FE-33-44-55", "00-11-22-FF-FE-33-44")), AUD_NOTSUPPORTED},
    };
    for (const auto& c : cases) {
        sdp_session s{};
        EXPECT_EQ(parse(c.packet, &s), c.expected) << c.what;
    }
}

TEST(SapSdp, LinesThatAreIgnored)
{
    struct Case {
        const char* what;
        std::string sdp;
        uint8_t attributes;
    } cases[] = {
        {"rtpmap without channels", replaced("a=rtpmap:96 L24/48000/2", "a=rtpmap:96 L24/48000"),
            SDP_ATTR_PTIME | SDP_ATTR_REFCLK | SDP_ATTR_MEDIACLK},
        {"rtpmap of another payload", replaced("a=rtpmap:96", "a=rtpmap:97"),
            SDP_ATTR_PTIME | SDP_ATTR_REFCLK | SDP_ATTR_MEDIACLK},
        {"ptp without FF-FE", replaced("FF-FE", "FF-FF"), SDP_ATTR_RTPMAP | SDP_ATTR_PTIME | SDP_ATTR_MEDIACLK},
        {"unknown attribute", replaced("a=sendonly", "a=framecount:48"), 0x0F},
    };
    for (const auto& c : cases) {
        sdp_session s{};
        ASSERT_EQ(parse(sapPacket(c.sdp), &s), AUD_SUCCESS) << c.what;
        EXPECT_EQ(s.attributes, c.attributes) << c.what;
    }
    // A second stream is ignored with its group; the first one's values stay.
    sdp_session s{};
    ASSERT_EQ(parse(sapPacket(kSdp + "m=audio 6000 RTP/AVP 97\r\ni=Other\r\na=ptime:4\r\n"), &s), AUD_SUCCESS);
    EXPECT_EQ(s.media_port, 5004);
    EXPECT_STREQ(s.title, "Channels 1-2");
    EXPECT_EQ(s.packet_time_us, 1000u);
    // A video stream first: its group goes, the audio one is read.
    const std::string video = "m=video 5000 RTP/AVP 31\r\ni=Cam\r\na=ptime:9\r\n";
    std::string sdp = kSdp;
    sdp.insert(sdp.find("m=audio"), video);
    ASSERT_EQ(parse(sapPacket(sdp), &s), AUD_SUCCESS);
    EXPECT_EQ(s.media_port, 5004);
    EXPECT_EQ(s.packet_time_us, 1000u);
}

// Mended: the digits after the point are scaled by their count.
TEST(SapSdp, PacketTimeInMicroseconds)
{
    const std::pair<const char*, uint32_t> cases[]
        = {{"1", 1000}, {"0.250", 250}, {"0.25", 250}, {"1.5", 1500}, {"0.125", 125}, {"0.1234", 123}, {"4", 4000}};
    for (const auto& c : cases) {
        sdp_session s{};
        ASSERT_EQ(
            parse(sapPacket(replaced("a=ptime:1\r\n", std::string("a=ptime:") + c.first + "\r\n")), &s), AUD_SUCCESS);
        EXPECT_EQ(s.packet_time_us, c.second) << c.first;
    }
}

struct Heard {
    std::vector<std::pair<db_node_event, std::string>> reports;
};

TEST(SapSessions, AnnounceChangeDeleteAndExpire)
{
    aud_env* env = nullptr;
    ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
    aud_stepped_clock clock{{100, 0}};
    aud_env_set_clock(env, aud_stepped_clock_read, &clock);
    db_browse* browse = nullptr;
    ASSERT_EQ(db_browse_new(env, 0x40, &browse), AUD_SUCCESS);
    Heard heard;
    db_browse_set_context(browse, &heard);
    db_browse_set_node_changed_callback(browse, [](db_browse* b, const db_node_report* r) {
        ASSERT_EQ(r->kind, DB_NODE_SESSION);
        static_cast<Heard*>(db_browse_get_context(b))->reports.emplace_back(r->event, r->session->session_name);
    });
    db_browse_sap* sap = db_browse_get_sap(browse);
    EXPECT_EQ(db_browse_sap_close(sap), AUD_SHUTDOWN);

    // Datagrams over loopback into the listener's processing.
    aud_socket rx = AUD_SOCKET_INVALID;
    aud_socket tx = AUD_SOCKET_INVALID;
    ASSERT_EQ(aud_socket_udp_open(&rx, AF_INET), AUD_SUCCESS);
    ASSERT_EQ(aud_socket_udp_open(&tx, AF_INET), AUD_SUCCESS);
    aud_sockaddr to{};
    ASSERT_EQ(aud_sockaddr_from_text(&to, AF_INET, "127.0.0.1", 0), AUD_SUCCESS);
    ASSERT_EQ(aud_socket_bind(rx, &to), AUD_SUCCESS);
    ASSERT_EQ(aud_socket_local_address(rx, &to), AUD_SUCCESS);
    auto deliver = [&](const std::string& packet) {
        size_t n = packet.size();
        EXPECT_EQ(aud_socket_sendto(tx, packet.data(), &n, &to), AUD_SUCCESS);
        aud_socket_set_blocking(rx, true);
        return db_browse_sap_process(rx, sap);
    };
    EXPECT_EQ(deliver(sapPacket(kSdp)), AUD_SUCCESS);
    EXPECT_EQ(deliver(sapPacket(kSdp)), AUD_SUCCESS); // same hash: no report
    EXPECT_EQ(deliver(sapPacket(replaced("Stage box 1", "Renamed"), 0x20, 0x5678)), AUD_SUCCESS);
    EXPECT_EQ(deliver(sapPacket(replaced("o=- 1311738121", "o=- 7"))), AUD_SUCCESS);
    EXPECT_EQ(deliver(sapPacket(kSdp, 0x21)), AUD_INVALIDDATA);
    ASSERT_EQ(db_browse_sap_count(sap), 2u);
    EXPECT_EQ(deliver(sapPacket(replaced("o=- 1311738121", "o=- 7"), 0x24)), AUD_SUCCESS); // deletion
    EXPECT_EQ(deliver(sapPacket(replaced("o=- 1311738121", "o=- 8"), 0x24)), AUD_SUCCESS); // unknown deletion
    ASSERT_EQ(db_browse_sap_count(sap), 1u);

    clock.now.seconds += 3599;
    db_browse_sap_expire(sap);
    EXPECT_EQ(db_browse_sap_count(sap), 1u);
    clock.now.seconds += 1;
    db_browse_sap_expire(sap);
    EXPECT_EQ(db_browse_sap_count(sap), 0u);
    const std::vector<std::pair<db_node_event, std::string>> expected
        = {{DB_NODE_ADDED, "Stage box 1"}, {DB_NODE_MODIFIED, "Renamed"}, {DB_NODE_ADDED, "Stage box 1"},
            {DB_NODE_REMOVED, "Stage box 1"}, {DB_NODE_REMOVED, "Renamed"}};
    EXPECT_EQ(heard.reports, expected);
    aud_socket_close(&rx);
    aud_socket_close(&tx);
    db_browse_free(browse);
    aud_env_release(env);
}

TEST(SapSessions, ListeningNeedsAnInterfaceIndex)
{
    aud_env* env = nullptr;
    ASSERT_EQ(aud_env_setup(&env), AUD_SUCCESS);
    db_browse* browse = nullptr;
    ASSERT_EQ(db_browse_new(env, 0x40, &browse), AUD_SUCCESS);
    db_browse_config config;
    db_browse_config_init(&config);
    EXPECT_EQ(db_browse_start_config(browse, &config), AUD_INVALIDPARAMETER);
    config.interface_indexes[0] = 0x7FFFFFF0;
    EXPECT_EQ(db_browse_start_config(browse, &config), AUD_NODEV);
    db_browse_free(browse);
    aud_env_release(env);
}

} // namespace
