// The process-wide meter timer on the real event loop.
#include "device/memory/dev_globaltimers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace Quil;

TEST(DeviceTimers, StartTwiceRunsTheMeterTimerOnceAtFiftyMilliseconds)
{
    GlobalTimer starter;
    EXPECT_EQ(starter.startGlobalTimers(), GTIMER_OK);
    EXPECT_EQ(starter.startGlobalTimers(), GTIMER_OK);
    ASSERT_NE(meterTimer(), nullptr);
    EXPECT_TRUE(meterTimer()->isActive());
    EXPECT_EQ(meterTimer()->interval(), GTIMER_INTERVAL_MS);

    int meterTicks = 0;
    QObject receiver;
    QObject::connect(meterTimer(), &QTimer::timeout, &receiver, [&] { ++meterTicks; });
    QElapsedTimer clock;
    clock.start();
    while (meterTicks < 2 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    EXPECT_GE(meterTicks, 2);
}
