// Session data, keep-alive countdown, meter subscriptions, and the
// defaults of the reporter and parameter bases.
#include "scp/scp_contracts.h"
#include "scp/scp_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace SCP;

namespace {

uint32_t g_sessionNow = 0;
uint32_t sessionTick()
{
    return g_sessionNow;
}

// Drives the OS wrapper's tick by hand for the duration of a test.
class ScpSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_sessionNow = 0xFFFFF000u; // close to the wrap, so it is crossed too
        oswrap_setTickSource(sessionTick);
    }
    void TearDown() override { oswrap_setTickSource(nullptr); }
};

std::vector<std::string> feedValues(ScpAbstractDecoder& decoder, const std::string& bytes)
{
    size_t consumed = 0;
    decoder.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &consumed);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < decoder.values().count(); ++i) {
        char buffer[512];
        scp_textToUtf8(*decoder.values().item(i), buffer, sizeof buffer);
        out.push_back(buffer);
    }
    return out;
}

} // namespace

TEST_F(ScpSessionTest, LifecycleAndDefaults)
{
    ScpSessionData session;
    EXPECT_EQ(session.decoderKind(), SCP_DECODER_NONE);
    EXPECT_EQ(session.activate(), SCP_E_FAIL) << "no decoder before init";
    EXPECT_EQ(session.init(0), SCP_E_FAIL);
    ASSERT_EQ(session.init(1), SCP_OK);
    EXPECT_EQ(session.init(1), SCP_E_FAIL) << "a decoder already exists";
    EXPECT_EQ(session.decoderKind(), SCP_DECODER_RAW);
    EXPECT_EQ(session.activate(), SCP_OK);
    EXPECT_TRUE(session.isActive());

    session.setDecoder(SCP_DECODER_JSON);
    session.setEncoding(SCP_ENCODING_UTF8);
    session.setValueType(SCP_VALUETYPE_NORMALIZED);
    session.setResolution(250);
    session.setKeepAlive(10000);
    ASSERT_EQ(session.reset(), SCP_OK);
    EXPECT_FALSE(session.isActive());
    EXPECT_EQ(session.decoderKind(), SCP_DECODER_RAW);
    EXPECT_NE(dynamic_cast<ScpDecoderRAW*>(session.decoder()), nullptr);
    EXPECT_EQ(session.encoding(), SCP_ENCODING_ASCII);
    EXPECT_EQ(session.valueType(), SCP_VALUETYPE_RAW);
    EXPECT_EQ(session.resolution(), 1000u);
    EXPECT_EQ(session.keepAlive(), 0u);
    EXPECT_FALSE(session.keepAliveDue());
}

TEST_F(ScpSessionTest, DecoderSwitching)
{
    ScpSessionData session;
    ASSERT_EQ(session.init(1), SCP_OK);
    ScpAbstractDecoder* raw = session.decoder();
    ASSERT_EQ(session.reset(), SCP_OK);
    EXPECT_EQ(session.decoder(), raw) << "reset keeps a RAW decoder";

    ASSERT_EQ(session.setDecoder(SCP_DECODER_JSON), SCP_OK);
    ScpAbstractDecoder* json = session.decoder();
    EXPECT_NE(dynamic_cast<ScpDecoderJSON*>(json), nullptr);
    ASSERT_EQ(session.setDecoder(SCP_DECODER_JSON), SCP_OK);
    EXPECT_EQ(session.decoder(), json) << "the same kind keeps its decoder";
    ASSERT_EQ(session.setDecoder(SCP_DECODER_RAW), SCP_OK);
    EXPECT_NE(dynamic_cast<ScpDecoderRAW*>(session.decoder()), nullptr);
}

// A connection that ended in the middle of a line must not leave that half
// line (or a held UTF-8 byte) in front of the next connection's first line.
TEST_F(ScpSessionTest, ResetLeavesACleanDecoder)
{
    ScpSessionData session;
    ASSERT_EQ(session.init(1), SCP_OK);
    feedValues(*session.decoder(), "OK get \"half a tok");
    session.reset();
    EXPECT_EQ(feedValues(*session.decoder(), "OK x\n"), (std::vector<std::string>{"OK", "x"}));

    session.decoder()->resetAll();
    feedValues(*session.decoder(), "NOTIFY \xc3");
    session.reset();
    EXPECT_EQ(feedValues(*session.decoder(), "\xa9 y\n"), (std::vector<std::string>{"\xef\xbf\xbd", "y"}));
}

TEST_F(ScpSessionTest, SettersRefuseValuesOutOfRange)
{
    ScpSessionData session;
    ASSERT_EQ(session.init(1), SCP_OK);
    EXPECT_EQ(session.setEncoding(2), SCP_E_ARG);
    EXPECT_EQ(session.setEncoding(-1), SCP_E_ARG);
    EXPECT_EQ(session.setValueType(2), SCP_E_ARG);
    EXPECT_EQ(session.setResolution(99), SCP_E_ARG);
    EXPECT_EQ(session.resolution(), 1000u);
    EXPECT_EQ(session.setResolution(100), SCP_OK);
    EXPECT_EQ(session.resolution(), 100u);
    EXPECT_EQ(session.encoding(), SCP_ENCODING_ASCII);
    EXPECT_EQ(session.valueType(), SCP_VALUETYPE_RAW);
}

TEST_F(ScpSessionTest, KeepAliveCountdown)
{
    ScpSessionData session;
    ASSERT_EQ(session.init(1), SCP_OK);
    EXPECT_EQ(session.restartKeepAlive(), SCP_E_FAIL) << "keep-alive is off";
    EXPECT_FALSE(session.keepAliveDue());

    // One bound for what the unit may announce: below it refused and
    // reported, from it on stored and started.
    EXPECT_EQ(session.setKeepAlive(999), SCP_E_ARG);
    EXPECT_EQ(session.keepAlive(), 0u);
    ASSERT_EQ(session.setKeepAlive(1500), SCP_OK);
    g_sessionNow += 1499;
    EXPECT_FALSE(session.keepAliveDue());
    g_sessionNow += 1;
    EXPECT_TRUE(session.keepAliveDue());
    EXPECT_TRUE(session.keepAliveDue()) << "stays due until restarted";

    ASSERT_EQ(session.restartKeepAlive(), SCP_OK);
    EXPECT_FALSE(session.keepAliveDue());
    g_sessionNow += 1500;
    EXPECT_TRUE(session.keepAliveDue());

    EXPECT_EQ(session.setKeepAlive(500), SCP_E_ARG);
    EXPECT_EQ(session.keepAlive(), 1500u) << "a refused value leaves the interval";
}

TEST_F(ScpSessionTest, TimerStates)
{
    ScpTimer timer;
    EXPECT_FALSE(timer.isStarted());
    EXPECT_FALSE(timer.hasExpired());
    ASSERT_EQ(timer.start(10), SCP_OK);
    EXPECT_TRUE(timer.isStarted());
    g_sessionNow += 10;
    EXPECT_TRUE(timer.hasExpired());
    ASSERT_EQ(timer.clear(), SCP_OK);
    EXPECT_FALSE(timer.isStarted());
}

TEST_F(ScpSessionTest, MeterSubscriptions)
{
    ScpSessionData unsized;
    EXPECT_EQ(unsized.addMeter(0, 100), SCP_E_INDEX);

    ScpSessionData session;
    ASSERT_EQ(session.init(1), SCP_OK);
    EXPECT_EQ(session.addMeter(1, 100), SCP_E_INDEX);
    EXPECT_EQ(session.addMeter(-1, 100), SCP_E_INDEX);
    EXPECT_EQ(session.removeMeter(0), SCP_OK) << "removing an absent subscription";
    EXPECT_EQ(session.addMeter(0, 100), SCP_OK);
    EXPECT_EQ(session.addMeter(0, 250), SCP_OK);
    EXPECT_EQ(session.meters().count(), 1u);
    ASSERT_NE(session.meters().first(), nullptr);
    EXPECT_EQ(session.meters().first()->interval, 250u);
    EXPECT_EQ(session.removeMeter(0), SCP_OK);
    EXPECT_EQ(session.meters().first(), nullptr);
    EXPECT_EQ(session.removeMeter(1), SCP_E_INDEX);
}

TEST(ScpList, FreeSlotsAndWalkOrder)
{
    ScpList<ScpMeterSetting> list;
    EXPECT_EQ(list.allocate(0), SCP_E_FAIL);
    ASSERT_EQ(list.allocate(3), SCP_OK);
    EXPECT_EQ(list.allocate(3), SCP_E_FAIL);
    ScpMeterSetting* a = list.insert({10, 1});
    ScpMeterSetting* b = list.insert({11, 1});
    list.insert({12, 1});
    EXPECT_EQ(list.insert({13, 1}), nullptr) << "no free slot: not stored";
    list.remove(b);
    list.remove(a);
    list.insert({14, 1});
    std::vector<int32_t> order;
    for (ScpMeterSetting* s = list.first(); s; s = list.next(s))
        order.push_back(s->meterIndex);
    EXPECT_EQ(order, (std::vector<int32_t>{12, 14}));
    EXPECT_EQ(list.count(), 2u);
}

TEST(ScpContracts, BasesClearTheirOutputs)
{
    ScpParameter parameter;
    ScpParameterInfo info;
    info.xCount = 4;
    EXPECT_EQ(parameter.parameterInfo(info, 0), SCP_OK);
    EXPECT_EQ(info.xCount, 0);
    JLIB::JVariant value(int32_t(3));
    EXPECT_EQ(parameter.readValue(value, 0, 0, 0), SCP_OK);
    EXPECT_EQ(value.type(), JLIB::JVARIANT_EMPTY);
    int32_t number = 5, flag = 1;
    EXPECT_EQ(parameter.currentScene(number, flag), SCP_OK);
    EXPECT_EQ(number + flag, 0);
    ScpText name(64);
    name.append(JLIB::JUnicode('x'));
    EXPECT_EQ(parameter.nameOf(name, 0), SCP_OK);
    EXPECT_EQ(name.length(), 0u);

    ScpMeterReporter meter;
    int32_t index = 7;
    // As its contract says: an unknown meter, never meter 0.
    EXPECT_EQ(meter.indexOf(index, name), SCP_E_INDEX);
    EXPECT_EQ(index, -1);
    ScpDeviceReporter device;
    EXPECT_EQ(device.deviceMode(0, name), SCP_OK);
}
