// Meter store: bytes from the device link, 50 ms ticks to the meter strips.
#include "device/memory/dev_meters.h"

#include <QObject>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace Quil;

namespace {

class DataRecorder : public QObject {
    Q_OBJECT

public:
    std::vector<std::pair<int, int>> ticks; // (peak, data)

public slots:
    void onData(uint8_t peak, uint8_t data) { ticks.emplace_back(peak, data); }
};

// A run of steps on channel 0: "u85" feeds byte 0x85, "t" ticks, "h1"/"h0"
// switches peak hold, "r" resets every meter.
struct MeterCase {
    const char* steps;
    std::vector<std::pair<int, int>> ticks;
};

const MeterCase kCases[] = {
    // Level and over flag are held apart: 0x85 then 0x10 shows 0x90.
    {"u85 u10 t", {{0x00, 0x90}}},
    {"u85 u10 t u10 t", {{0x00, 0x90}, {0x00, 0x10}}},
    {"u10 u85 t", {{0x00, 0x90}}},
    {"u05 u7f u20 t", {{0x00, 0x7f}}},
    // No byte between ticks: the last reading stays.
    {"u30 t t", {{0x00, 0x30}, {0x00, 0x30}}},
    {"t", {{0x00, 0x00}}},
    // Peak hold: the peak stays until hold is switched; switching clears it.
    {"h1 u85 t u10 t", {{0x85, 0x85}, {0x90, 0x10}}},
    {"h1 u40 u81 t", {{0xc0, 0xc0}}},
    {"h1 u85 t h0 t", {{0x85, 0x85}, {0x00, 0x85}}},
    {"h1 u85 h0 h1 u10 t", {{0x10, 0x90}}},
    {"h1 h1 u22 t", {{0x22, 0x22}}},
    // Reset clears levels and peaks, not the hold setting.
    {"h1 u85 r t u11 t", {{0x00, 0x00}, {0x11, 0x11}}},
};

std::vector<std::string> split(const char* text)
{
    std::vector<std::string> out;
    std::string word;
    for (const char* p = text;; ++p) {
        if (*p == ' ' || *p == 0) {
            if (!word.empty())
                out.push_back(word);
            word.clear();
            if (*p == 0)
                break;
        } else {
            word += *p;
        }
    }
    return out;
}

} // namespace

TEST(DeviceMemoryMeters, ByteRunsAndTicks)
{
    for (const MeterCase& c : kCases) {
        SCOPED_TRACE(c.steps);
        MemMeters meters;
        DataRecorder recorder;
        ASSERT_EQ(0, meters.addMeter("Dev/InputLevel", 2));
        ASSERT_EQ(0, meters.connect("Dev/InputLevel", 0, &recorder, SLOT(onData(uint8_t, uint8_t))));
        for (const std::string& step : split(c.steps)) {
            if (step[0] == 'u') {
                const uint8_t byte = static_cast<uint8_t>(std::stoi(step.substr(1), nullptr, 16));
                ASSERT_EQ(0, meters.update("Dev/InputLevel", &byte, 1));
            } else if (step == "t") {
                meters.notify();
            } else if (step[0] == 'h') {
                ASSERT_EQ(0, meters.setPeakHold(step[1] == '1'));
            } else if (step == "r") {
                ASSERT_EQ(0, meters.resetAll());
            }
        }
        EXPECT_EQ(c.ticks, recorder.ticks);
    }
}

TEST(DeviceMemoryMeters, ChannelsPathsAndBadInput)
{
    MemMeters meters;
    DataRecorder first;
    DataRecorder last;
    DataRecorder other;
    ASSERT_EQ(0, meters.addMeter("Dev/InputLevel", 3));
    ASSERT_EQ(0, meters.addMeter("Dev/OutputLevel", 1));
    EXPECT_EQ(DEV_E_FAIL, meters.addMeter("Dev/InputLevel", 8));
    ASSERT_EQ(0, meters.connect("Dev/InputLevel", 0, &first, SLOT(onData(uint8_t, uint8_t))));
    ASSERT_EQ(0, meters.connect("Dev/InputLevel", 2, &last, SLOT(onData(uint8_t, uint8_t))));
    ASSERT_EQ(0, meters.connect("Dev/OutputLevel", 0, &other, SLOT(onData(uint8_t, uint8_t))));
    EXPECT_EQ(DEV_E_FAIL, meters.connect("Dev/InputLevel", 3, &first, SLOT(onData(uint8_t, uint8_t))));
    EXPECT_EQ(DEV_E_FAIL, meters.connect("Dev/Nothing", 0, &first, SLOT(onData(uint8_t, uint8_t))));
    EXPECT_EQ(DEV_E_FAIL, meters.connect("Dev/InputLevel", 0, &first, SLOT(noSuchSlot(uint8_t, uint8_t))));

    // More bytes than channels: the rest is dropped; other meters untouched.
    const uint8_t bytes[] = {0x01, 0x02, 0x83, 0x7f, 0x7f};
    EXPECT_EQ(0, meters.update("Dev/InputLevel", bytes, sizeof bytes));
    EXPECT_EQ(DEV_E_FAIL, meters.update("Dev/Nothing", bytes, 1));
    EXPECT_EQ(DEV_E_FAIL, meters.update("Dev/InputLevel", nullptr, 1));
    EXPECT_EQ(0, meters.update("Dev/InputLevel", bytes, 0));
    meters.notify();
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0x01}}), first.ticks);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0x83}}), last.ticks);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0x00}}), other.ticks);
}

TEST(DeviceMemoryMeters, ListenersComeAndGoBetweenTicks)
{
    MemMeters meters;
    ASSERT_EQ(0, meters.addMeter("Dev/InputLevel", 2));
    const uint8_t loud = 0x85;
    const uint8_t soft = 0x10;

    // A tick with nobody listening still starts the next byte afresh.
    ASSERT_EQ(0, meters.update("Dev/InputLevel", &loud, 1));
    meters.notify();
    ASSERT_EQ(0, meters.update("Dev/InputLevel", &soft, 1));
    DataRecorder late;
    ASSERT_EQ(0, meters.connect("Dev/InputLevel", 0, &late, SLOT(onData(uint8_t, uint8_t))));
    meters.notify();
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0x10}}), late.ticks);

    // A listener that went leaves the channel silent; the next one hears it.
    {
        DataRecorder gone;
        ASSERT_EQ(0, meters.connect("Dev/InputLevel", 1, &gone, SLOT(onData(uint8_t, uint8_t))));
        meters.notify();
        EXPECT_EQ(1u, gone.ticks.size());
    }
    meters.notify();
    DataRecorder next;
    ASSERT_EQ(0, meters.connect("Dev/InputLevel", 1, &next, SLOT(onData(uint8_t, uint8_t))));
    const uint8_t both[] = {soft, loud};
    ASSERT_EQ(0, meters.update("Dev/InputLevel", both, 2));
    meters.notify();
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0x85}}), next.ticks);
    EXPECT_EQ(4u, late.ticks.size());

    // One of two listeners disconnected from everything: the other stays.
    DataRecorder second;
    ASSERT_EQ(0, meters.connect("Dev/InputLevel", 1, &second, SLOT(onData(uint8_t, uint8_t))));
    QObject::disconnect(meters.meter("Dev/InputLevel")->channel(1), nullptr, &next, nullptr);
    meters.notify();
    meters.notify();
    EXPECT_EQ(1u, next.ticks.size());
    EXPECT_EQ(2u, second.ticks.size());
}

#include "test_meters.moc"
