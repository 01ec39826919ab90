// The panel framework: which device types get a module and an edit window,
// and how a widget is recognised as a panel.
#include "tests/support/recording_dev.h"
#include "ui/panels/uibase.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <memory>

namespace {

struct PanelStandIn : QWidget, IZDevUI {
    JResult init(uint32_t, Quil::IZDev*, IZMainUICallback*) override { return 0; }
    JResult setPage(const QVariant&) override { return 0; }
    JResult setDeviceName(const QString&) override { return 0; }
};

TEST(UIFramework, ModulesAndEditWindowsByType)
{
    struct Row {
        uint32_t type;
        bool module;
        bool editWindow;
    };
    const Row rows[] = {{0, false, false}, {1, true, true}, {2, true, true}, {3, true, true}, {4, true, false},
        {5, true, false}, {6, true, false}, {7, true, true}, {8, true, true}, {9, true, true}, {10, true, true},
        {11, true, true}, {12, true, true}, {13, false, false}, {255, false, false}};
    for (const Row& row : rows) {
        std::unique_ptr<IZDevUIBase> base(Quil::createUIBase(row.type));
        EXPECT_EQ(base != nullptr, row.module) << "type " << row.type;
        if (base) {
            EXPECT_EQ(base->hasEditWindow(), row.editWindow) << "type " << row.type;
        }
    }
    EXPECT_EQ(Quil::createUIMain(0, nullptr), nullptr);
    EXPECT_EQ(Quil::createUIMain(13, nullptr), nullptr);
}

TEST(UIFramework, InitNeedsAnAccessorAndKeepsTheOldOne)
{
    Quil::UIBase base(1);
    qtest::RecordingDev dev(nullptr);
    EXPECT_LT(base.init(7, nullptr), 0);
    EXPECT_EQ(base.accessor(), nullptr);
    EXPECT_EQ(base.unitId(), 0u);
    EXPECT_EQ(base.init(7, &dev), 0);
    EXPECT_EQ(base.accessor(), &dev);
    EXPECT_EQ(base.unitId(), 7u);
    EXPECT_LT(base.init(9, nullptr), 0);
    EXPECT_EQ(base.unitId(), 7u);
}

TEST(UIFramework, AsDevUIRecognisesOnlyPanels)
{
    Quil::UIBase base(1);
    PanelStandIn panel;
    QLabel label;
    EXPECT_EQ(base.asDevUI(nullptr), nullptr);
    EXPECT_EQ(base.asDevUI(&label), nullptr);
    EXPECT_EQ(base.asDevUI(&panel), static_cast<IZDevUI*>(&panel));
}

} // namespace
