// The device information dialog over a rack that finds its units on the
// network: unit processes in the peer namespace announce themselves, the
// rack places and connects them, and the dialog lists what they reported.
#include "tests/support/netns.h"
#include "tests/support/unit_process.h"
#include "tests/ui/dialogs/dialog_bed.h"

#include "ui/dialogs/devinfodlg.h"

#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

TEST(DevInfoDlg, ListsUnitsTheRackFoundOnTheNetwork)
{
    QTEST_IN_NETNS();
    qtest::NetnsBed netns;
    ASSERT_TRUE(netns.ready()) << netns.error();
    qtest::UnitRack units(netns);
    qtest::UnitSpec brox;
    brox.modelType = Quil::MODEL_BROXL_D2;
    brox.host = 2; // unit id 2: slot 1
    brox.deviceName = "Stage Left";
    qtest::UnitSpec mavik;
    mavik.modelType = Quil::MODEL_MAVIK_D;
    mavik.host = 5; // slot 4
    mavik.deviceName = "FOH Rack";
    ASSERT_TRUE(units.start({brox, mavik})) << units.error();

    dlgtest::DialogBed bed;
    ASSERT_TRUE(bed.ready()) << bed.error();
    ASSERT_GE(bed.rack().setNetworkInterface(qtest::NetnsBed::kLocalMac, qtest::NetnsBed::kLocalAddress, false), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return bed.rack().isConnected(1) && bed.rack().isConnected(4); }, 20000));

    Quil::DevInfoDlg dlg;
    ASSERT_EQ(dlg.setup(&bed.rack()), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    QTreeWidget* tree = dlg.treeWidget();
    ASSERT_EQ(tree->topLevelItemCount(), 24);
    const QTreeWidgetItem* broxRow = tree->topLevelItem(1);
    EXPECT_EQ(broxRow->text(1), "BroxL-D2");
    EXPECT_EQ(broxRow->text(2), "Stage Left");
    EXPECT_EQ(broxRow->text(4), "198.18.0.2");
    EXPECT_EQ(broxRow->text(5), "49280");
    EXPECT_EQ(tree->topLevelItem(4)->text(1), "Mavik-D");
    EXPECT_EQ(tree->topLevelItem(4)->text(4), "198.18.0.5");
    EXPECT_TRUE(tree->topLevelItem(0)->text(1).isEmpty());

    tree->setCurrentItem(tree->topLevelItem(1));
    EXPECT_TRUE(dlg.ipAddrButton()->isEnabled());
    // A unit that drops off the network keeps its row but takes no setting.
    units[0].kill();
    ASSERT_TRUE(qtest::waitUntil([&] { return !bed.rack().isConnected(1); }, 20000));
    tree->setCurrentItem(tree->topLevelItem(0));
    tree->setCurrentItem(tree->topLevelItem(1));
    EXPECT_FALSE(dlg.ipAddrButton()->isEnabled());
}

} // namespace
