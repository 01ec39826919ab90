// The fixture of the meter-window tests: a shown host for strips and the
// real event loop for the queued notifications.
#pragma once

#include "tests/support/gui/gui_support.h"
#include "tests/support/recording_dev.h"
#include "ui/panels/meterstrip.h"

#include <QWidget>
#include <gtest/gtest.h>

class MeterWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.resize(800, 100);
        ASSERT_TRUE(qtest::showAndWait(&host));
    }

    // Lets queued notifications arrive.
    static void settle()
    {
        qtest::waitUntil([] { return false; }, 100);
    }

    QWidget host;
};
