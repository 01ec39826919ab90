// The program as its entry brings it up inside the namespace bed, and the
// slot-strip moves the tests make on it: choosing a unit id by mouse,
// waiting for a slot picture, answering the slot's context menu.
#pragma once

#include "app/app_prefs.h"
#include "app/app_quilobject.h"
#include "device/link/dev_vsockobject.h"
#include "device/memory/dev_globaltimers.h"
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/modal_driver.h"
#include "ui/main/qlapp.h"
#include "ui/main/qlmainwindow.h"
#include "ui/panels/devlistframe.h"
#include "ui/widgets/blinktimer.h"
#include "ui/widgets/zpopup.h"

#include <gtest/gtest.h>

#include <QMap>

#include <set>

namespace qtest {

constexpr int kProgramWaitMs = 30000;

inline int foundCount(Quil::QuilObject* core)
{
    QMap<QString, Quil::DeviceEntry> found;
    core->getFoundDevices(&found);
    return found.size();
}

// The program as its entry brings it up, with the stored interface given.
struct Program {
    explicit Program(const QString& mac) { Quil::QuilPrefs::instance().setValue(Quil::QuilPrefs::kMacAddr, mac); }
    bool start()
    {
        if (app.init() < 0)
            return false;
        window = app.mainWindow();
        core = app.core();
        // The entry starts the meter and blink timers once the window is up.
        Quil::GlobalTimer().startGlobalTimers();
        Quil::startBlinkTimer();
        return window && core && qtest::showAndWait(window);
    }
    bool waitFound(int units)
    {
        return qtest::waitUntil([&] { return foundCount(core) == units; }, kProgramWaitMs);
    }
    Quil::VSockObject socketLayer;
    Quil::QLApp app;
    QLMainWindow* window = nullptr;
    Quil::QuilObject* core = nullptr;
};

inline void chooseUnitId(DevSelFrame* button, int id)
{
    ZPopup* popup = button->deviceIdPopup();
    QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(qtest::waitUntil([&] { return popup->popupFrame() && popup->popupFrame()->isVisible(); }, 2000));
    QWidget* cell = popup->cells().at(static_cast<size_t>(id + 1));
    ASSERT_NE(cell, nullptr);
    QTest::mouseClick(cell, Qt::LeftButton, {}, QPoint(5, 5));
}

// Waits for the slot picture `until`, noting every picture shown on the way.
inline bool waitForPicture(DevSelFrame* button, int until, std::set<int>* seen = nullptr)
{
    return qtest::waitUntil(
        [&] {
            if (seen)
                seen->insert(button->indicator());
            return button->indicator() == until;
        },
        kProgramWaitMs);
}

inline void rightClickChoose(QLMainWindow* window, int slot, const QString& entry)
{
    qtest::ModalDriver driver;
    driver.chooseMenuItem(entry);
    window->contextMenuRequestSlot(static_cast<uint>(slot));
    EXPECT_TRUE(driver.waitAllAnswered());
}

} // namespace qtest
