// The two-entry table of edit windows, with a stand-in module and edit
// window in place of a family's: at most two open, one per unit and kind,
// refused for a slot not shown, closed when the slot's mount changes.
#include "tests/support/gui/modal_driver.h"
#include "tests/ui/main/main_fixture.h"

#include <gtest/gtest.h>

#include <QPointer>

namespace {

constexpr int kFail = static_cast<int>(0x80000000u);

struct StandInEdit : ZScaledWidget, IZDevUI {
    using ZScaledWidget::ZScaledWidget;
    std::vector<int> pages;
    uint32_t unit = 99;
    JResult init(uint32_t unitId, Quil::IZDev* accessor, IZMainUICallback* host) override
    {
        if (!accessor || !host)
            return kFail;
        unit = unitId;
        return 0;
    }
    JResult setPage(const QVariant& page) override
    {
        pages.push_back(page.toInt());
        return 0;
    }
    JResult setDeviceName(const QString&) override { return 0; }
};

struct StandInModule : IZDevUIBase {
    bool editWindows = true;
    int created = 0;
    JResult init(uint32_t, Quil::IZDev* accessor) override { return accessor ? 0 : kFail; }
    bool hasEditWindow() const override { return editWindows; }
    QWidget* createEditWindow(int, const QVariant&, QWidget* parent, Qt::WindowFlags flags, bool) override
    {
        ++created;
        auto* window = new StandInEdit(parent, flags);
        window->resizeScaled(200, 100);
        return window;
    }
    IZDevUI* asDevUI(QWidget* widget) const override { return dynamic_cast<StandInEdit*>(widget); }
};

class HostWindow : public QLMainWindow {
public:
    bool withEditWindows = true;
    StandInModule* module = nullptr;

protected:
    IZDevUIBase* createUIModule(Quil::ModelType type) override
    {
        if (type == Quil::MODEL_NONE)
            return nullptr;
        module = new StandInModule;
        module->editWindows = withEditWindows;
        return module;
    }
};

class EditWindowTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GE(core.mountModel(0, Quil::MODEL_BROXL_D), 0);
        ASSERT_GE(core.mountModel(1, Quil::MODEL_BROXM_D), 0);
        qtest::wireAsTheProgram(&window, &core);
        ASSERT_NE(window.module, nullptr);
    }
    StandInEdit* windowAt(int entry) const
    {
        return static_cast<StandInEdit*>(window.editWindows()[entry].window.data());
    }
    void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    qtest::MemThreadHolder memThread;
    qtest::WatchedCore core;
    HostWindow window;
};

TEST_F(EditWindowTable, TwoWindowsAtMostOnePerUnitAndKind)
{
    EXPECT_EQ(window.openEditWindow(0, 0, QVariant(3), false), 0);
    EXPECT_EQ(window.openEditWindow(0, 1, QVariant(0), true), 0);
    ASSERT_NE(windowAt(0), nullptr);
    ASSERT_NE(windowAt(1), nullptr);
    EXPECT_EQ(windowAt(0)->pages, std::vector<int>({3}));
    EXPECT_EQ(windowAt(0)->unit, 0u);
    EXPECT_TRUE(windowAt(0)->isVisible());
    EXPECT_TRUE(windowAt(0)->windowFlags() & Qt::Dialog);
    EXPECT_TRUE(windowAt(0)->testAttribute(Qt::WA_DeleteOnClose));

    qtest::ModalDriver driver;
    driver.pressButton("OK");
    EXPECT_EQ(window.openEditWindow(0, 2, QVariant(0), false), kFail);
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].title, "information");
    EXPECT_EQ(driver.seen()[0].text, "No more Edit Window can be opened!");

    // The same unit and kind again: the open window shows the new page.
    windowAt(0)->showMinimized();
    EXPECT_EQ(window.openEditWindow(0, 0, QVariant(7), false), 0);
    EXPECT_EQ(windowAt(0)->pages, std::vector<int>({3, 7}));
    EXPECT_FALSE(windowAt(0)->isMinimized());
    EXPECT_EQ(window.module->created, 2);

    // Closing one frees its entry.
    QPointer<QWidget> first = windowAt(0);
    first->close();
    flushDeletes();
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(window.openEditWindow(0, 2, QVariant(1), false), 0);
    EXPECT_EQ(window.module->created, 3);
    EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
}

TEST_F(EditWindowTable, RefusedForAnotherSlotAndForAModelWithout)
{
    qtest::ModalDriver driver;
    EXPECT_EQ(window.openEditWindow(1, 0, QVariant(0), false), kFail);
    EXPECT_EQ(window.module->created, 0);

    window.withEditWindows = false;
    window.setSelectId(1);
    driver.pressButton("OK");
    EXPECT_EQ(window.openEditWindow(1, 0, QVariant(0), false), 0);
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].title, "information");
    EXPECT_EQ(driver.seen()[0].text, "No Edit Window!");
    EXPECT_EQ(window.module->created, 0);
}

TEST_F(EditWindowTable, MountChangeClosesTheSlotsWindowsAndZoomReachesThem)
{
    ASSERT_EQ(window.openEditWindow(0, 0, QVariant(0), false), 0);
    ASSERT_EQ(window.openEditWindow(0, 1, QVariant(0), false), 0);
    QPointer<QWidget> a = windowAt(0);
    QPointer<QWidget> b = windowAt(1);

    window.setZoom(1);
    EXPECT_EQ(windowAt(0)->scale(), 1u);
    EXPECT_EQ(windowAt(0)->size(), QSize(300, 150));

    // Another slot's mount leaves them; this slot's closes both.
    window.mountChangedSlot(5, Quil::MODEL_SORN_D);
    EXPECT_FALSE(a.isNull());
    ASSERT_GE(core.mountModel(0, Quil::MODEL_NONE), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return a.isNull() && b.isNull(); }));
    EXPECT_TRUE(window.editWindows()[0].isFree());
    EXPECT_TRUE(window.editWindows()[1].isFree());
    // The emptied selected slot shows no panel and takes no edit window.
    EXPECT_EQ(window.uiModule(), nullptr);
    EXPECT_EQ(window.openEditWindow(0, 0, QVariant(0), false), kFail);
}

} // namespace
