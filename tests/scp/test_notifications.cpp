// Notifications the client sends: filled from the parameter, encoded like
// the independent peer in tests/peers/scp2_words.py encodes them.
#include "scp/scp_notification.h"
#include "scp/scp_session.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <utility>

using namespace SCP;

namespace {

std::string hexOf(const ScpRing& ring)
{
    return qtest::hex(ring.buffer(), ring.count());
}

ScpText textOf(const char* s)
{
    ScpText t(128);
    t.assign(s, 128);
    return t;
}

// name -> (RAW hex, JSON hex) of the peer's notification lines.
const std::map<std::string, std::pair<std::string, std::string>>& peerLines()
{
    static const auto lines = [] {
        std::map<std::string, std::pair<std::string, std::string>> out;
        std::string output;
        qtest::runCommand(std::string("python3 ") + QUILLON_PEERS_DIR + "/scp2_words.py", &output);
        std::istringstream in(output);
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string kind, name, raw, json;
            fields >> kind >> name >> raw >> json;
            if (kind == "note")
                out[name] = {raw, json};
        }
        return out;
    }();
    return lines;
}

// Parameter 7 is "Gain": value 9, normalized value three quarters of the
// resolution. Its text can never be read, which a set line does not need.
class GainParameter : public ScpParameter {
public:
    JResult nameResult = SCP_OK;
    JResult valueResult = SCP_OK;
    uint32_t askedResolution = 0;

    JResult nameOf(ScpText& address, int32_t index) override
    {
        if (jlib_failed(nameResult))
            return nameResult;
        address.assign(index == 7 ? "Gain" : "Other", 16);
        return SCP_OK;
    }
    JResult readValue(JLIB::JVariant& value, int32_t, int32_t, int32_t) override
    {
        value.setInt32(9);
        return valueResult;
    }
    JResult readNormalized(int32_t& value, uint32_t resolution, int32_t, int32_t, int32_t) override
    {
        askedResolution = resolution;
        value = static_cast<int32_t>(resolution * 3 / 4);
        return valueResult;
    }
    JResult readText(ScpText&, int32_t, int32_t, int32_t) override { return SCP_E_READ; }
};

void expectPeerLines(const ScpClientNotification& note, const std::string& name)
{
    SCOPED_TRACE(name);
    ASSERT_EQ(peerLines().count(name), 1u) << "the word peer did not run";
    ScpRing ring;
    ASSERT_EQ(ring.allocate(0, 2048), JLIB_OK);
    EXPECT_EQ(note.encode(false, false, ring), SCP_OK);
    EXPECT_EQ(hexOf(ring), peerLines().at(name).first);
    EXPECT_EQ(note.encode(true, false, ring), SCP_OK);
    EXPECT_EQ(hexOf(ring), peerLines().at(name).second);
}

TEST(ScpNotifications, EncodeAsThePeerDoes)
{
    GainParameter parameter;
    ScpSessionData session;
    ASSERT_EQ(session.init(1), SCP_OK);

    ScpClientNotificationSET set;
    ASSERT_EQ(set.fill(parameter, 7, 2, 1), SCP_OK);
    expectPeerLines(set, "set");

    ScpClientNotificationSETN setn;
    ASSERT_EQ(setn.fill(parameter, session, 7, 2, 1), SCP_OK);
    expectPeerLines(setn, "setn");

    ScpClientNotificationSSRECALL recall;
    ASSERT_EQ(recall.set(5), SCP_OK);
    expectPeerLines(recall, "ssrecall");

    ScpClientNotificationMTRSTART start;
    ASSERT_EQ(start.set(textOf("MTR:1"), 50), SCP_OK);
    expectPeerLines(start, "mtrstart");

    ScpClientNotificationMTRSTOP stop;
    ASSERT_EQ(stop.set(textOf("MTR:1")), SCP_OK);
    expectPeerLines(stop, "mtrstop");
}

// A set line carries no text: a parameter whose text cannot be read still
// has its change sent (the text read above always fails).
TEST(ScpNotifications, ChangeIsSentWithoutAReadableText)
{
    GainParameter parameter;
    ScpClientNotificationSET set;
    EXPECT_EQ(set.fill(parameter, 7, 0, 0), SCP_OK);
    EXPECT_TRUE(set.allPresent(SCP_FLAG_NOTIFICATION));
}

TEST(ScpNotifications, FailedReadReturnsItsCodeAndKeepsTheElements)
{
    GainParameter parameter;
    ScpClientNotificationSET set;
    ASSERT_EQ(set.fill(parameter, 7, 2, 1), SCP_OK);

    parameter.nameResult = SCP_E_INDEX;
    EXPECT_EQ(set.fill(parameter, 8, 3, 0), SCP_E_INDEX);
    parameter.nameResult = SCP_OK;
    parameter.valueResult = SCP_E_READ;
    EXPECT_EQ(set.fill(parameter, 8, 3, 0), SCP_E_READ);
    EXPECT_EQ(set.x.value(), 2); // still the last good fill
    expectPeerLines(set, "set");

    ScpClientNotificationSETN setn;
    ScpSessionData session;
    session.init(1);
    EXPECT_EQ(setn.fill(parameter, session, 7, 2, 1), SCP_E_READ);
    EXPECT_FALSE(setn.allPresent(SCP_FLAG_NOTIFICATION));
}

// The normalized value is read at the resolution the unit announced.
TEST(ScpNotifications, NormalizedValueUsesTheSessionResolution)
{
    GainParameter parameter;
    ScpSessionData session;
    session.init(1);
    ASSERT_EQ(session.setResolution(400), SCP_OK);
    ScpClientNotificationSETN setn;
    ASSERT_EQ(setn.fill(parameter, session, 7, 0, 0), SCP_OK);
    EXPECT_EQ(parameter.askedResolution, 400u);
    EXPECT_EQ(setn.nparam.value(), 300);
}

TEST(ScpNotifications, MeterAddressLongerThanAWordIsRefused)
{
    ScpClientNotificationMTRSTOP stop;
    EXPECT_EQ(stop.set(textOf(std::string(65, 'm').c_str())), SCP_E_ARG);
    EXPECT_FALSE(stop.allPresent(SCP_FLAG_NOTIFICATION));
}

} // namespace
