// The blink patterns bit by bit against their written forms, and the
// process-wide blink timer on the real event loop.
#include "ui/widgets/blinktimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Quil;

namespace {

// Each pattern as the 40 on/off steps it is meant to show, spaces for reading.
struct PatternRow {
    int pattern;
    const char* steps;
};

const PatternRow kPatternRows[] = {
    {0, "0000000000 0000000000 0000000000 0000000000"},
    {1, "1111111111 1111111111 1111111111 1111111111"},
    {2, "1111111111 0000000000 1111111111 0000000000"},
    {3, "11111 00000 11111 0000000000000000000000000"},
    {4, "1111 0000 1111 0000 1111 00000000000000000000"},
    {5, "111 000 111 000 111 000 111 0000000000000000000"},
    {6, "0000000000 0000000000 0000000000 0000000000"},
    {-1, "0000000000 0000000000 0000000000 0000000000"},
    {255, "0000000000 0000000000 0000000000 0000000000"},
};

std::string onSteps(const char* written)
{
    std::string bits;
    for (const char* p = written; *p; ++p)
        if (*p != ' ')
            bits += *p;
    return bits;
}

class Receiver : public QObject {
    Q_OBJECT
public:
    std::vector<uint32_t> states;
public slots:
    void onStateChanged(uint32_t state) { states.push_back(state); }
};

// Runs the event loop until pred holds or ms pass.
template <typename Pred> bool spinUntil(Pred pred, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    return pred();
}

} // namespace

TEST(BlinkTimers, PatternsFollowTheirStepStrings)
{
    for (const PatternRow& row : kPatternRows) {
        const std::string expected = onSteps(row.steps);
        ASSERT_EQ(expected.size(), BLINK_STEPS) << row.pattern;
        std::string got;
        for (uint32_t step = 0; step < BLINK_STEPS; ++step)
            got += blinkPatternOn(row.pattern, step) ? '1' : '0';
        EXPECT_EQ(got, expected) << "pattern " << row.pattern;
    }
    // A step past the cycle is never read past the five bytes.
    EXPECT_FALSE(blinkPatternOn(2, BLINK_STEPS));
    EXPECT_FALSE(blinkPatternOn(2, 0xFFFFFFFFu));
}

TEST(BlinkTimers, OnTimeoutCountsToThirtyNineThenWraps)
{
    BlinkTimer timer;
    Receiver r;
    QObject::connect(&timer, &BlinkTimer::stateChanged, &r, &Receiver::onStateChanged);
    for (uint32_t i = 0; i < BLINK_STEPS + 1; ++i)
        timer.onTimeout();
    ASSERT_EQ(r.states.size(), BLINK_STEPS + 1);
    EXPECT_EQ(r.states.front(), 1u);
    EXPECT_EQ(r.states[38], 39u);
    EXPECT_EQ(r.states[39], 0u);
    EXPECT_EQ(r.states[40], 1u);
    EXPECT_TRUE(timer.wire());
    EXPECT_FALSE(timer.wire());
}

TEST(BlinkTimers, StartTwiceRunsTheTimerOnceAtFiftyMilliseconds)
{
    Receiver r;
    ASSERT_EQ(connectBlinkTimer(&r, SLOT(onStateChanged(uint32_t))), BLINK_OK);
    EXPECT_EQ(startBlinkTimer(), BLINK_OK);
    EXPECT_EQ(startBlinkTimer(), BLINK_OK);
    ASSERT_NE(blinkTimer(), nullptr);
    EXPECT_TRUE(blinkTimer()->isActive());
    EXPECT_EQ(blinkTimer()->interval(), BLINK_INTERVAL_MS);

    ASSERT_TRUE(spinUntil([&] { return r.states.size() >= 3; }, 5000));
    // Wired once: every timeout is one step, so consecutive states differ by one.
    for (size_t i = 1; i < r.states.size(); ++i)
        EXPECT_EQ(r.states[i], (r.states[i - 1] + 1) % BLINK_STEPS);
    EXPECT_EQ(blinkPhase(2), blinkPatternOn(2, blinkTimer()->step()));
    EXPECT_TRUE(blinkPhase(1));
    EXPECT_FALSE(blinkPhase(6));
}

TEST(BlinkTimers, ConnectRefusesUnknownSlotsAndNullReceivers)
{
    Receiver r;
    EXPECT_EQ(connectBlinkTimer(&r, SLOT(noSuchSlot(uint32_t))), BLINK_E_FAIL);
    EXPECT_EQ(connectBlinkTimer(nullptr, SLOT(onStateChanged(uint32_t))), BLINK_E_FAIL);
    EXPECT_EQ(connectBlinkTimer(&r, nullptr), BLINK_E_FAIL);
}

#include "test_blinktimer.moc"
