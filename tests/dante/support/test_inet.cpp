// IPv4 address texts and socket address records.
#include "dante/support/aud_inet.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <string>

namespace {

uint32_t ip(const char* text)
{
    in_addr a{};
    EXPECT_EQ(inet_pton(AF_INET, text, &a), 1) << text;
    return a.s_addr;
}

TEST(AudInet, AtonIsAStrictDottedQuad)
{
    const char* texts[] = {"255.255.255.255", "0.0.0.0", "192.168.0.1", "1.2.3", "1.2.3.4.5", "256.1.1.1", "a",
        "01.2.3.4", "1.2.3.4 ", " 1.2.3.4", "0x7f.0.0.1", "127.1", "", "1..2.3"};
    for (const char* t : texts) {
        uint32_t ours = 0xA5A5A5A5u;
        in_addr ref{};
        const bool refOk = inet_pton(AF_INET, t, &ref) == 1;
        const aud_error e = aud_inet_aton(t, &ours);
        EXPECT_EQ(e == AUD_SUCCESS, refOk) << t;
        if (refOk)
            EXPECT_EQ(ours, ref.s_addr) << t;
        else
            EXPECT_EQ(e, AUD_INVALIDPARAMETER) << t;
    }
    uint32_t all = 0;
    ASSERT_EQ(aud_inet_aton("255.255.255.255", &all), AUD_SUCCESS);
    EXPECT_EQ(all, 0xFFFFFFFFu);
    EXPECT_EQ(aud_inet_aton(nullptr, &all), AUD_INVALIDPARAMETER);
}

TEST(AudInet, NtoaNeedsRoomForTheWholeText)
{
    char buffer[16];
    EXPECT_STREQ(aud_inet_ntoa(ip("10.20.30.40"), buffer, sizeof buffer), "10.20.30.40");
    EXPECT_EQ(aud_inet_ntoa(ip("10.20.30.40"), buffer, 11), nullptr);
    EXPECT_STREQ(aud_inet_ntoa(ip("1.2.3.4"), buffer, 8), "1.2.3.4");
    EXPECT_STREQ(aud_inet_ntoa(ip("255.255.255.255"), buffer, 16), "255.255.255.255");
}

TEST(AudInet, MulticastRange)
{
    const struct {
        const char* text;
        bool multicast;
    } cases[] = {{"224.0.0.0", true}, {"239.255.255.255", true}, {"224.0.0.251", true}, {"223.255.255.255", false},
        {"240.0.0.0", false}, {"192.168.0.1", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(aud_addr_is_multicast(ip(c.text)), c.multicast) << c.text;
        aud_sockaddr record{};
        aud_sockaddr_set(&record, ip(c.text), 9875);
        EXPECT_EQ(aud_sockaddr_is_multicast(&record), c.multicast) << c.text;
    }
    EXPECT_FALSE(aud_sockaddr_is_multicast(nullptr));
}

TEST(AudInet, SocketAddressRecords)
{
    aud_sockaddr a{};
    ASSERT_EQ(aud_sockaddr_from_text(&a, AF_INET, "127.0.0.1", 8900), AUD_SUCCESS);
    EXPECT_EQ(a.len, 16);
    EXPECT_EQ(a.addr.in.sin_family, AF_INET);
    EXPECT_EQ(a.addr.in.sin_port, htons(8900));
    EXPECT_EQ(aud_sockaddr_port(&a), 8900);
    EXPECT_EQ(aud_sockaddr_address(&a), ip("127.0.0.1"));
    char text[AUD_SOCKADDR_TEXT_SIZE];
    EXPECT_STREQ(aud_sockaddr_text(&a, text, sizeof text), "127.0.0.1:8900 (len=16)");
    EXPECT_STREQ(aud_sockaddr_text(&a, text, 10), "");

    EXPECT_EQ(aud_sockaddr_from_text(&a, AF_INET, "a", 1), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_sockaddr_any(&a, 0, 1), AUD_INVALIDPARAMETER);
    EXPECT_EQ(aud_sockaddr_any(&a, AF_INET6, 1), AUD_NOTSUPPORTED);
    ASSERT_EQ(aud_sockaddr_any(&a, AF_INET, 8850), AUD_SUCCESS);
    EXPECT_EQ(aud_sockaddr_address(&a), 0u);

    aud_sockaddr b{};
    aud_sockaddr_set(&b, 0, 8850);
    EXPECT_TRUE(aud_sockaddr_equal(&a, &b));
    ASSERT_EQ(aud_sockaddr_set_port(&b, 8851), AUD_SUCCESS);
    EXPECT_FALSE(aud_sockaddr_equal(&a, &b));
    EXPECT_FALSE(aud_sockaddr_equal(&a, nullptr));

    aud_sockaddr empty{};
    EXPECT_FALSE(aud_sockaddr_equal(&empty, &empty)); // no family
    EXPECT_EQ(aud_sockaddr_set_port(&empty, 1), AUD_AFNOSUPPORT);
    EXPECT_EQ(aud_sockaddr_port(&empty), 0);
    EXPECT_STREQ(aud_sockaddr_text(&empty, text, sizeof text), "");

    aud_sockaddr lying = a; // a length beyond the record never reads past it
    lying.len = 255;
    aud_sockaddr lying2 = lying;
    EXPECT_FALSE(aud_sockaddr_equal(&lying, &lying2));
}

} // namespace
