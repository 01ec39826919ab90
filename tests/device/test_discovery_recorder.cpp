// The table of present units, driven through the engine's callback with
// engine records and ticks given by hand: one scenario per row.
#include "tests/device/discovery_records.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <chrono>

#include <vector>

using namespace Quil;
using disctest::Announcement;
using disctest::keyOf;
using disctest::serviceOf;
using disctest::SignalLog;

namespace {

struct Step {
    enum Kind { Alive, Gone, Tick } kind;
    Announcement a;
    int ticks = 1;
};

Step alive(const Announcement& a)
{
    return {Step::Alive, a};
}
Step gone(const Announcement& a)
{
    return {Step::Gone, a};
}
Step ticks(int n)
{
    return {Step::Tick, {}, n};
}

Announcement unit(
    const std::string& unitId, const std::string& mac = "02:53:00:00:00:0a", const std::string& address = "198.18.0.2")
{
    Announcement a;
    a.unitId = unitId;
    a.mac = mac;
    a.address = address;
    return a;
}

template <typename F> Announcement with(Announcement a, F change)
{
    change(a);
    return a;
}

const Announcement kA = unit("J001");
const Announcement kAMoved = unit("J001", "02:53:00:00:00:0a", "198.18.0.3");
const Announcement kARenamed = unit("J002");
const Announcement kB = unit("J002", "02:53:00:00:00:0b", "198.18.0.4");
const Announcement kBOnA = unit("J005", "02:53:00:00:00:0b");
// Another host announcing the address of kA from its own address.
const Announcement kBOnAElsewhere = with(kBOnA, [](Announcement& a) { a.sender = "198.18.0.9"; });
const std::string kKeyA = keyOf(kA);

struct Scenario {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> emitted;
    std::vector<std::string> table; // "key address id model"
};

const Scenario kScenarios[] = {
    {"a new unit is found", {alive(kA)}, {"found " + kKeyA}, {kKeyA + " 198.18.0.2 0x1 BroxL-D"}},
    {"two units", {alive(kA), alive(kB)}, {"found " + kKeyA, "found " + keyOf(kB)},
        {kKeyA + " 198.18.0.2 0x1 BroxL-D", keyOf(kB) + " 198.18.0.4 0x2 BroxL-D"}},
    {"an unchanged announcement says nothing", {alive(kA), alive(kA)}, {"found " + kKeyA},
        {kKeyA + " 198.18.0.2 0x1 BroxL-D"}},
    {"a new address: lost, then found under the same key", {alive(kA), alive(kAMoved)},
        {"found " + kKeyA, "lost " + kKeyA, "found " + kKeyA}, {kKeyA + " 198.18.0.3 0x1 BroxL-D"}},
    {"the same unit with a new unit id", {alive(kA), alive(kARenamed)},
        {"found " + kKeyA, "lost " + kKeyA, "found " + keyOf(kARenamed)},
        {keyOf(kARenamed) + " 198.18.0.2 0x2 BroxL-D"}},
    {"another MAC on a present unit's address evicts it and is not taken", {alive(kA), alive(kBOnA)},
        {"found " + kKeyA, "dup " + keyOf(kBOnA) + " " + kKeyA + " 198.18.0.2", "lost " + kKeyA}, {}},
    {"an evicted unit still announcing is found again once the other host is gone",
        {alive(kA), alive(kBOnAElsewhere), ticks(3), gone(kBOnAElsewhere), ticks(10)},
        {"found " + kKeyA, "dup " + keyOf(kBOnA) + " " + kKeyA + " 198.18.0.2", "lost " + kKeyA, "found " + kKeyA},
        {kKeyA + " 198.18.0.2 0x1 BroxL-D"}},
    {"an evicted unit stays out while the other host announces", {alive(kA), alive(kBOnAElsewhere), ticks(20)},
        {"found " + kKeyA, "dup " + keyOf(kBOnA) + " " + kKeyA + " 198.18.0.2", "lost " + kKeyA}, {}},
    {"once the evicted unit fell silent, the other host is taken",
        {alive(kA), alive(kBOnAElsewhere), gone(kA), ticks(10)},
        {"found " + kKeyA, "dup " + keyOf(kBOnA) + " " + kKeyA + " 198.18.0.2", "lost " + kKeyA,
            "found " + keyOf(kBOnA)},
        {keyOf(kBOnA) + " 198.18.0.2 0x5 BroxL-D"}},
    {"the old address going silent does not age a unit that moved", {alive(kA), alive(kAMoved), gone(kA), ticks(10)},
        {"found " + kKeyA, "lost " + kKeyA, "found " + kKeyA}, {kKeyA + " 198.18.0.3 0x1 BroxL-D"}},
    {"a moved unit going silent at its new address is lost",
        {alive(kA), alive(kAMoved), gone(kA), gone(kAMoved), ticks(10)},
        {"found " + kKeyA, "lost " + kKeyA, "found " + kKeyA, "lost " + kKeyA}, {}},
    {"gone: still present after nine ticks", {alive(kA), gone(kA), ticks(9)}, {"found " + kKeyA},
        {kKeyA + " 198.18.0.2 0x1 BroxL-D"}},
    {"gone: lost on the tenth tick", {alive(kA), gone(kA), ticks(9), ticks(1)}, {"found " + kKeyA, "lost " + kKeyA},
        {}},
    {"back within nine ticks: no signal, ageing ends", {alive(kA), gone(kA), ticks(9), alive(kA), ticks(20)},
        {"found " + kKeyA}, {kKeyA + " 198.18.0.2 0x1 BroxL-D"}},
    {"a second gone report does not restart the count", {alive(kA), gone(kA), ticks(5), gone(kA), ticks(5)},
        {"found " + kKeyA, "lost " + kKeyA}, {}},
    {"gone for a unit never found ages out silently", {gone(kA), ticks(10)}, {}, {}},
    {"the maker in another case", {alive(with(kA, [](Announcement& a) { a.maker = "VALDOR"; }))}, {"found " + kKeyA},
        {kKeyA + " 198.18.0.2 0x1 BroxL-D"}},
    {"another maker", {alive(with(kA, [](Announcement& a) { a.maker = "Acme"; }))}, {}, {}},
    {"an unknown model", {alive(with(kA, [](Announcement& a) { a.model = "BroxX-D"; }))}, {}, {}},
    {"a known model with bytes after a NUL",
        {alive(with(kA, [](Announcement& a) { a.model = std::string("BroxL-D\0x", 9); }))}, {}, {}},
    {"a model name in another case", {alive(with(kA, [](Announcement& a) { a.model = "broxl-d"; }))}, {}, {}},
    {"every family's model", {alive(with(kA, [](Announcement& a) { a.model = "PellM-D2"; }))}, {"found " + kKeyA},
        {kKeyA + " 198.18.0.2 0x1 PellM-D2"}},
    {"an IPv6 host",
        {alive(with(kA,
            [](Announcement& a) {
                a.kind = JSDP_ADDRESS_KIND_IPV6;
                a.address = "fd00::2";
            }))},
        {}, {}},
    {"\"_jpa-scpX\"", {alive(with(kA, [](Announcement& a) { a.type = "_jpa-scpX"; }))}, {}, {}},
    {"\"_jpa-sc\"", {alive(with(kA, [](Announcement& a) { a.type = "_jpa-sc"; }))}, {}, {}},
    {"two strings only",
        {alive(with(kA,
            [](Announcement& a) {
                a.block = "\x06Valdor\x07"
                          "BroxL-D";
            }))},
        {}, {}},
    {"a string past the end",
        {alive(with(kA,
            [](Announcement& a) {
                a.block = "\x06Valdor\x07"
                          "BroxL-D\x05J00";
            }))},
        {}, {}},
    {"bytes after the third string are ignored",
        {alive(with(kA,
            [](Announcement& a) {
                a.block = "\x06Valdor\x07"
                          "BroxL-D\x04J001tail";
            }))},
        {"found " + kKeyA}, {kKeyA + " 198.18.0.2 0x1 BroxL-D"}},
    {"unit id \"j01f\" with a lower-case prefix", {alive(unit("j01f"))}, {"found j01f-02:53:00:00:00:0a"},
        {"j01f-02:53:00:00:00:0a 198.18.0.2 0x1f BroxL-D"}},
    {"unit id \"JFFFF\"", {alive(unit("JFFFF"))}, {"found JFFFF-02:53:00:00:00:0a"},
        {"JFFFF-02:53:00:00:00:0a 198.18.0.2 0xffff BroxL-D"}},
    {"unit id \"X01F\"", {alive(unit("X01F"))}, {}, {}},
    {"unit id \"J\"", {alive(unit("J"))}, {}, {}},
    {"unit id \"JZZ\"", {alive(unit("JZZ"))}, {}, {}},
    {"unit id \"J10001\" overflows 16 bits", {alive(unit("J10001"))}, {}, {}},
    {"unit id \"J-1\"", {alive(unit("J-1"))}, {}, {}},
    {"a bad unit id from a present unit does not evict it", {alive(kA), alive(unit("JZZ")), alive(unit("J10001"))},
        {"found " + kKeyA}, {kKeyA + " 198.18.0.2 0x1 BroxL-D"}},
};

class DeviceDiscoveryRecorder : public ::testing::TestWithParam<Scenario> { };

std::string tableLine(const DeviceEntry& e)
{
    char id[16];
    snprintf(id, sizeof id, "0x%x", e.id);
    return (e.key + " " + e.address + " " + QString::fromLatin1(id) + " " + e.model).toStdString();
}

TEST_P(DeviceDiscoveryRecorder, Scenario)
{
    const Scenario& s = GetParam();
    ScpRecorder recorder;
    SignalLog log(&recorder);
    for (const Step& step : s.steps) {
        if (step.kind == Step::Tick) {
            for (int i = 0; i < step.ticks; ++i)
                recorder.removeCheckTime();
            continue;
        }
        const JsdpService service = serviceOf(step.a);
        ScpRecorder::onService(&service, step.kind == Step::Alive ? 1 : 0, &recorder);
    }
    std::vector<std::string> emitted;
    for (const QString& line : log.lines)
        emitted.push_back(line.toStdString());
    EXPECT_EQ(s.emitted, emitted);

    std::vector<std::string> table;
    for (const DeviceEntry& e : recorder.devices()) {
        table.push_back(tableLine(e));
        EXPECT_EQ(kScpPort, e.port);
        EXPECT_EQ(e.key, e.unitId + "-" + macPartOfKey(e.key));
    }
    EXPECT_EQ(s.table, table);
    // Every unit that was let go has left the ageing table as well.
    for (auto it = recorder.ageingCounts().cbegin(); it != recorder.ageingCounts().cend(); ++it)
        EXPECT_LT(it.value(), kDefaultAgeingTicks) << it.key().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, DeviceDiscoveryRecorder, ::testing::ValuesIn(kScenarios),
    [](const ::testing::TestParamInfo<Scenario>& info) {
        std::string name = std::to_string(info.index) + "_";
        for (const char* c = info.param.name; *c; ++c)
            name += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

TEST(DeviceDiscoveryRecorderTable, LooksUpOneUnitAndFailsForAnUnknownKey)
{
    ScpRecorder recorder;
    const JsdpService service = serviceOf(unit("J01F"));
    ScpRecorder::onService(&service, 1, &recorder);
    DeviceEntry entry;
    ASSERT_EQ(DEV_OK, recorder.findDevice("J01F-02:53:00:00:00:0a", &entry));
    EXPECT_EQ("J01F", entry.unitId);
    EXPECT_EQ("198.18.0.2", entry.address);
    EXPECT_EQ(0x1F, entry.id);
    EXPECT_EQ(DEV_E_FAIL, recorder.findDevice("J01F-02:53:00:00:00:0b", &entry));
    recorder.clear();
    EXPECT_EQ(DEV_E_FAIL, recorder.findDevice("J01F-02:53:00:00:00:0a", &entry));
}

TEST(DeviceDiscoveryRecorderTable, TheAgeingTimerTicksOnTheEventLoop)
{
    ScpRecorder recorder;
    SignalLog log(&recorder);
    recorder.setAgeing(5, 3);
    ASSERT_EQ(DEV_OK, recorder.startAgeingTimer());
    EXPECT_EQ(DEV_E_FAIL, recorder.startAgeingTimer());
    const JsdpService service = serviceOf(kA);
    ScpRecorder::onService(&service, 1, &recorder);
    ScpRecorder::onService(&service, 0, &recorder);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (log.lines.size() < 2 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(
        QStringList({"found " + QString::fromStdString(kKeyA), "lost " + QString::fromStdString(kKeyA)}), log.lines);

    ASSERT_EQ(DEV_OK, recorder.stopAgeingTimer());
    EXPECT_EQ(DEV_E_FAIL, recorder.stopAgeingTimer());
    ScpRecorder::onService(&service, 1, &recorder);
    ScpRecorder::onService(&service, 0, &recorder);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(1, recorder.devices().size()) << "no tick while the timer is stopped";
}

TEST(DeviceDiscoveryRecorderTable, TheProcessWideRecorderBelongsToTheApplication)
{
    ScpRecorder* recorder = ScpRecorder::instance();
    ASSERT_NE(nullptr, recorder);
    EXPECT_EQ(recorder, ScpRecorder::instance());
    EXPECT_EQ(QCoreApplication::instance(), recorder->parent());
}

} // namespace
