// The simulated unit's answers, one request line at a time through its own
// parameter, device and meter objects: it must not report work it did not do.
#include "tests/sim/sim_unit.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace simtest;

namespace {

class SimAnswers : public ::testing::Test {
protected:
    void SetUp() override
    {
        config.layoutPath = qtest::sourcePath("tests/sim/layouts/sim400.xml");
        std::string why;
        ASSERT_EQ(0, memory.loadFile(config.layoutPath, &why)) << why;
        ASSERT_EQ(SCP::SCP_OK, session.init(4));
    }

    // The reply to one request line, without its line feed.
    std::string ask(const std::string& line)
    {
        std::vector<uint8_t> out;
        const std::string bytes = line + "\n";
        EXPECT_EQ(SCP::SCP_OK, session.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out));
        std::string reply(out.begin(), out.end());
        if (!reply.empty() && reply.back() == '\n')
            reply.pop_back();
        return reply;
    }

    std::string value(const std::string& path, int32_t x, int32_t y)
    {
        return memory.valueText(SimCell{memory.indexOfPath(path), x, y});
    }

    SimUnitConfig config;
    SimMemory memory;
    SimParameter parameter{memory, SOURCE_LINK};
    SimDevice device{config};
    SimMeter meter{config};
    SCP::ScpServerSession session{&device, &parameter, &meter, 0};
};

} // namespace

// Normalized values span the parameter's limits: 0 is the minimum, the
// resolution (1000 by default) the maximum.
TEST_F(SimAnswers, NormalizedValuesAreStoredAndReadOverTheLimits)
{
    const struct {
        const char* request;
        const char* reply;
        const char* path;
        int32_t x, y;
        const char* stored; // null: not checked
    } cases[] = {
        {"setn Sim:in/gain 0 3 750", "OK setn Sim:in/gain 0 3 750 \"300\"", "in/gain", 0, 3, "300"},
        {"getn Sim:in/gain 0 3", "OK getn Sim:in/gain 0 3 750", "in/gain", 0, 3, "300"},
        {"setn Sim:in/hpf 0 5 0", "OK setn Sim:in/hpf 0 5 0 \"20\"", "in/hpf", 0, 5, "20"},
        {"setn Sim:out/delay 0 1 1000", "OK setn Sim:out/delay 0 1 1000 \"48000\"", "out/delay", 0, 1, "48000"},
        {"getn Sim:out/delay 0 1", "OK getn Sim:out/delay 0 1 1000", "out/delay", 0, 1, "48000"},
        {"setn Sim:power 0 0 0", "OK setn Sim:power 0 0 0 \"0\"", "power", 0, 0, "0"},
        // A text has no range: refused, nothing stored.
        {"setn Sim:in/label 0 0 5", "ERROR setn Sim:in/label 0 0 5", "in/label", 0, 0, "In"},
        {"getn Sim:in/label 0 0", "ERROR getn Sim:in/label 0 0", "in/label", 0, 0, "In"},
        // Past the resolution, or a cell outside the layout.
        {"setn Sim:in/gain 0 4 1001", "ERROR setn Sim:in/gain 0 4 1001", "in/gain", 0, 4, "0"},
        {"getn Sim:bus/level 0 9", "ERROR getn Sim:bus/level 0 9", nullptr, 0, 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_EQ(c.reply, ask(c.request));
        if (c.path) {
            EXPECT_EQ(c.stored, value(c.path, c.x, c.y));
        }
    }
}

TEST_F(SimAnswers, ParameterInfoCarriesTheLayoutsLimits)
{
    EXPECT_EQ("OK prminfo 3 \"Sim:matrix\" 48 1 -1380 100 -1380 \"\" integer any rw 1", ask("prminfo 3"));
    const int32_t gain = memory.indexOfPath("in/gain");
    const std::string reply = ask("prminfo " + std::to_string(gain));
    EXPECT_NE(std::string::npos, reply.find("\"Sim:in/gain\" 1 16 -600 600 0 ")) << reply;
    // No limits stated: the type's range.
    const int32_t level = memory.indexOfPath("bus/level");
    EXPECT_NE(std::string::npos, ask("prminfo " + std::to_string(level)).find(" -13800 1000 "));
    const int32_t src = memory.indexOfPath("bus/src");
    EXPECT_NE(std::string::npos, ask("prminfo " + std::to_string(src)).find(" 16 8 0 200 "));
}

TEST_F(SimAnswers, OnlyKnownMetersAreStarted)
{
    EXPECT_EQ("OK mtrstart meter/out 100", ask("mtrstart meter/out 100"));
    EXPECT_EQ("ERROR mtrstart meter/none 100", ask("mtrstart meter/none 100"));
    EXPECT_EQ("ERROR mtrstop meter/none", ask("mtrstop meter/none"));
    EXPECT_EQ("OK mtrnum 2", ask("mtrnum"));
}
