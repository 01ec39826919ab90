// The summary dialog fetching a connected BroxL-D2's current summary
// through the rack: memory, connection thread, SCP and back.
#include "tests/support/gui/modal_driver.h"
#include "tests/ui/dialogs/dialog_bed.h"

#include "ui/dialogs/summarydlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QScrollArea>

#include <gtest/gtest.h>

#include <mutex>

using dlgtest::DialogBed;
using Dialog = Quil::SummaryDlg;

namespace {

constexpr int kSlot = 2;

class SummaryDlg : public testing::Test {
protected:
    void start(int32_t count, int32_t first)
    {
        ASSERT_TRUE(bed.ready()) << bed.error();
        simtest::SimUnitConfig config = dlgtest::unitConfig(Quil::MODEL_BROXL_D2);
        config.lists = {{"IO:_CurSummary", {count, first, first + count - 1}}};
        unit = bed.addUnit(kSlot, Quil::MODEL_BROXL_D2, config);
        ASSERT_NE(unit, nullptr) << bed.error();
    }
    bool waitShown(Dialog& dlg)
    {
        return qtest::waitUntil([&] { return dlg.buttonBox()->isVisibleTo(&dlg); }, 20000);
    }

    DialogBed bed;
    simtest::SimUnit* unit = nullptr;
};

} // namespace

TEST_F(SummaryDlg, ShowsEveryLineWithItsProgress)
{
    start(4, 0);
    Dialog dlg;
    dlgtest::LabelTrail trail(dlg.messageLabel());
    ASSERT_TRUE(trail.follow(bed.rack(), kSlot, "/ListItem/listitem:0/CurSummaryItemReceived:0"));
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    ASSERT_TRUE(waitShown(dlg));
    qtest::waitUntil([&] { return trail.texts.size() >= 4; }, 2000);
    EXPECT_EQ(trail.texts, QStringList({"Summary 25%", "Summary 50%", "Summary 75%", "Summary 100%"}));
    EXPECT_EQ(dlg.textLabel()->text(),
        "IO:_CurSummary item 0\nIO:_CurSummary item 1\nIO:_CurSummary item 2\nIO:_CurSummary item 3\n");
    EXPECT_TRUE(dlg.textView()->isVisibleTo(&dlg));
    EXPECT_EQ(dlg.size(), QSize(900, 500));
    EXPECT_EQ(dlgtest::wordCount(*unit, "LISTITEM"), 4u);
}

TEST_F(SummaryDlg, AnEmptySummaryShowsTheEmptyViewAtOnce)
{
    start(0, 0);
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(waitShown(dlg));
    EXPECT_TRUE(dlg.textLabel()->text().isEmpty());
    EXPECT_EQ(dlg.messageLabel()->text(), "Getting Summary ...");
    EXPECT_EQ(dlgtest::wordCount(*unit, "LISTITEM"), 0u);
}

TEST_F(SummaryDlg, AHugeSummaryIsFetchedAsItsFirstThousandLines)
{
    start(2500, 0);
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return dlg.buttonBox()->isVisibleTo(&dlg); }, 60000));
    EXPECT_EQ(dlg.lines().size(), 1000);
    EXPECT_EQ(dlg.lines().last(), "IO:_CurSummary item 999");
    EXPECT_EQ(dlgtest::wordCount(*unit, "LISTITEM"), 1000u);
    EXPECT_EQ(dlg.textLabel()->height(), 1000 * 15);
}

TEST_F(SummaryDlg, NoAnswerEndsInTheFailureTextAndNoFurtherRequest)
{
    start(4, 0);
    Dialog dlg;
    dlg.handshake().setTimeoutMs(300);
    unit->goSilent(true);
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return dlg.messageLabel()->text() == "Can't Get Summary."; }, 5000));
    EXPECT_FALSE(dlg.buttonBox()->isVisibleTo(&dlg));
    EXPECT_FALSE(dlg.handshake().isWaiting());
}

TEST_F(SummaryDlg, AFailedSubscriptionOpensOnTheFailureText)
{
    ASSERT_TRUE(bed.ready()) << bed.error();
    // An empty slot has no memory to subscribe to.
    Dialog dlg;
    EXPECT_EQ(dlg.setup(&bed.rack(), 7), 0);
    EXPECT_EQ(dlg.messageLabel()->text(), "Can't Get Summary.");
    EXPECT_EQ(dlg.setup(&bed.rack(), 7), static_cast<JResult>(0x80000000u));
}
