// The mapper, the address holder and the code translation.
#include "tests/pbd/vcom/test_vcom_support.h"

namespace {

using namespace VCOM;

TEST(VcomTranslate, ServiceCodes)
{
    struct {
        VSockResult in;
        bool datagram;
        VComResult out;
    } cases[] = {
        {0, false, VCOM_OK},
        {VSOCK_E_EMPTY, false, VCOM_OK},
        {VSOCK_E_PARAM, false, VCOM_E_ARG},
        {VSOCK_E_NOTOPEN, false, VCOM_E_STATE},
        {VSOCK_E_OBJ, false, VCOM_E_OBJ},
        {VSOCK_E_RESOURCE, false, VCOM_E_RESOURCE},
        {VSOCK_E_RESOURCE, true, VCOM_E_DGRAM_RESOURCE},
        {VSOCK_E_PENDING, false, VCOM_PENDING},
        {VSOCK_E_TIMEOUT, false, VCOM_E_TIMEOUT},
        {VSOCK_E_SOCKET, false, VCOM_E_FAIL},
        {VSOCK_E_BUFFER, true, VCOM_E_FAIL},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vcom_translate(c.in, c.datagram), c.out) << std::hex << c.in;
}

TEST(VcomAddress, TextAndRecord)
{
    VComSocketAddress a;
    EXPECT_EQ(a.record().family, 0u);
    EXPECT_EQ(a.setAddressText(4, "10.1.2.3"), 0);
    VSockAddress r{};
    a.copyTo(&r);
    EXPECT_EQ(r.family, 4u);
    EXPECT_EQ(memcmp(r.addr, "\x0a\x01\x02\x03", 4), 0);
    EXPECT_EQ(a.setAddressText(4, "10.1.2"), VCOM_E_MAPPER);
    EXPECT_EQ(a.record().family, 4u) << "a bad text leaves the address as it was";
    EXPECT_EQ(a.setAddressText(6, "FE80::1"), 0);
    a.clear();
    EXPECT_EQ(a.record().family, 0u);
}

// Ids far outside the service's range, so that no real event matches.
constexpr int kFakeId = 100000;

class VcomMapper : public vcomtest::ServiceTest {
protected:
    void TearDown() override
    {
        for (int i = 0; i < VCOM_MAPPER_ENTRIES + 1; ++i)
            VComSocketMapper::instance().remove(kFakeId + i);
        ServiceTest::TearDown();
    }
};

TEST_F(VcomMapper, LowestFreeEntryAndHighestIndex)
{
    VComSocketMapper& m = VComSocketMapper::instance();
    VComUdpSocket dummy;
    EXPECT_EQ(m.add(&dummy, kFakeId), 0);
    EXPECT_EQ(m.add(&dummy, kFakeId + 1), 1);
    EXPECT_EQ(m.add(&dummy, kFakeId + 2), 2);
    EXPECT_EQ(m.remove(kFakeId + 1), 0);
    EXPECT_EQ(m.highestIndex(), 2);
    EXPECT_EQ(m.add(&dummy, kFakeId + 3), 1);
    EXPECT_EQ(m.remove(kFakeId + 2), 0);
    EXPECT_EQ(m.highestIndex(), 1);
    EXPECT_EQ(m.remove(kFakeId + 2), VCOM_E_MAPPER);
    EXPECT_EQ(m.add(nullptr, kFakeId + 4), VCOM_E_MAPPER);
}

TEST_F(VcomMapper, FullMapperRefusesAndClosesTheServiceSocket)
{
    VComSocketMapper& m = VComSocketMapper::instance();
    VComUdpSocket dummy;
    int added = 0;
    while (m.add(&dummy, kFakeId + added) >= 0)
        ++added;
    EXPECT_EQ(added, VCOM_MAPPER_ENTRIES);

    VComTcpClientSocket tcp;
    EXPECT_EQ(tcp.connect(vcomtest::address("127.0.0.1"), vcomtest::address("127.0.0.1"), 9), VCOM_E_RESOURCE);
    EXPECT_EQ(tcp.state(), VCOM_STATE_CLOSED);
    VComUdpSocket udp;
    EXPECT_EQ(udp.open(vcomtest::address("127.0.0.1"), 0), VCOM_E_RESOURCE);
    EXPECT_EQ(udp.state(), VCOM_STATE_CLOSED);
    // Both service sockets were closed again: all 64 ids are free.
    VSockOpenParams p{};
    p.mode = VSOCK_MODE_CONNECT;
    p.local.address.family = VSOCK_FAMILY_IPV4;
    VSockEventOptions o{VSOCK_EVF_DELIVER, &VComSocketMapper::eventFunction, nullptr};
    EXPECT_EQ(vsock_open(&p, &o), 0);
    vsock_close(0);
}

} // namespace
