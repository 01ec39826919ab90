// The device information dialog over a rack with connected BroxL-D2 and
// Mavik-D units, an offline Sorn-D and empty slots.
#include "tests/support/gui/modal_driver.h"
#include "tests/ui/dialogs/dialog_bed.h"

#include "ui/dialogs/devinfodlg.h"

#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTreeWidget>

#include <gtest/gtest.h>

using dlgtest::DialogBed;
using Dialog = Quil::DevInfoDlg;

namespace {

constexpr int kBroxSlot = 0;
constexpr int kSornSlot = 2;
constexpr int kFirstMavikSlot = 4;
// Firmware texts of the Mavik-D units and whether each takes an IP setting.
const struct {
    const char* version;
    bool enabled;
} kMaviks[] = {
    {"3.11.9", false}, {"3.12.0", true}, {"3.20.1", true},
    {"3.9.0", false}, // 9 < 12, though "3.9" sorts after "3.1" as text
    {"10.0.0", true}, // 10 > 3, though "1" sorts before "3" as text
};

QPoint rowCentre(QTreeWidget* tree, int row)
{
    tree->scrollToItem(tree->topLevelItem(row));
    return tree->visualItemRect(tree->topLevelItem(row)).center();
}

void clickRow(QTreeWidget* tree, int row)
{
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, rowCentre(tree, row));
}

class DevInfoDlg : public testing::Test {
protected:
    static void SetUpTestSuite() { }
    void SetUp() override
    {
        ASSERT_TRUE(bed.ready()) << bed.error();
        ASSERT_NE(bed.addUnit(kBroxSlot, Quil::MODEL_BROXL_D2), nullptr) << bed.error();
        simtest::SimUnitConfig sorn = dlgtest::unitConfig(Quil::MODEL_SORN_D);
        sorn.devStatus["runmode"] = "booting";
        simtest::SimUnit* sornUnit = bed.addUnit(kSornSlot, Quil::MODEL_SORN_D, sorn);
        ASSERT_NE(sornUnit, nullptr) << bed.error();
        // It went off the network while booting: the slot keeps what it read.
        sornUnit->stop();
        int slot = kFirstMavikSlot;
        for (const auto& mavik : kMaviks) {
            simtest::SimUnitConfig config = dlgtest::unitConfig(Quil::MODEL_MAVIK_D);
            config.devInfo["version"] = mavik.version;
            ASSERT_NE(bed.addUnit(slot++, Quil::MODEL_MAVIK_D, config), nullptr) << bed.error();
        }
        ASSERT_TRUE(qtest::waitUntil([&] {
            return bed.text(kSornSlot, "/DevInfo/devstatus:0/runmode:0") == "booting"
                && !bed.rack().isConnected(kSornSlot);
        }));
    }
    DialogBed bed;
};

TEST_F(DevInfoDlg, ListsEverySlotOnceAsReadAtSetUp)
{
    Dialog dlg;
    ASSERT_EQ(dlg.setup(&bed.rack()), 0);
    QTreeWidget* tree = dlg.treeWidget();
    ASSERT_EQ(tree->topLevelItemCount(), 24);
    EXPECT_EQ(tree->currentItem(), tree->topLevelItem(0));
    EXPECT_EQ(tree->headerItem()->text(5), "Port No");
    EXPECT_TRUE(tree->isColumnHidden(5));

    const QTreeWidgetItem* brox = tree->topLevelItem(kBroxSlot);
    EXPECT_EQ(brox->text(0), "1");
    EXPECT_EQ(brox->text(1), "BroxL-D2");
    EXPECT_EQ(brox->text(2), "Stage Left");
    EXPECT_EQ(brox->text(3), "normal");
    EXPECT_TRUE(brox->text(4).startsWith("127.0.1.")) << brox->text(4).toStdString();
    EXPECT_EQ(brox->text(5), "49280");
    EXPECT_EQ(brox->text(6), "V1.30");
    EXPECT_EQ(tree->topLevelItem(kSornSlot)->text(3), "initialize");
    for (int row = 0; row < 24; ++row) {
        EXPECT_EQ(tree->topLevelItem(row)->text(0), QString::number(row + 1));
        if (row == 1 || row == 3 || row > kFirstMavikSlot + 4) {
            for (int column = 1; column < 7; ++column)
                EXPECT_TRUE(tree->topLevelItem(row)->text(column).isEmpty()) << row << " " << column;
        }
    }
    EXPECT_TRUE(dlg.firmUpdateButton()->isHidden());
    EXPECT_EQ(dlg.setup(&bed.rack()), static_cast<JResult>(0x80000000u));
}

TEST_F(DevInfoDlg, SetIpAddressFollowsTheConnectionAndTheMavikFirmware)
{
    Dialog dlg;
    ASSERT_EQ(dlg.setup(&bed.rack()), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    QTreeWidget* tree = dlg.treeWidget();
    QSignalSpy setIp(&dlg, &Dialog::requestSetIPAddress);
    QSignalSpy detail(&dlg, &Dialog::requestDetail);
    for (size_t i = 0; i < std::size(kMaviks); ++i) {
        SCOPED_TRACE(kMaviks[i].version);
        const int slot = kFirstMavikSlot + static_cast<int>(i);
        clickRow(tree, slot);
        EXPECT_EQ(dlg.ipAddrButton()->isEnabled(), kMaviks[i].enabled);
        QTest::mouseClick(dlg.detailButton(), Qt::LeftButton);
        ASSERT_EQ(detail.size(), static_cast<int>(i) + 1);
        EXPECT_EQ(detail.last().at(0).toUInt(), static_cast<uint>(slot));
    }
    clickRow(tree, kSornSlot);
    EXPECT_FALSE(dlg.ipAddrButton()->isEnabled());
    clickRow(tree, kBroxSlot);
    ASSERT_TRUE(dlg.ipAddrButton()->isEnabled());
    QTest::mouseClick(dlg.ipAddrButton(), Qt::LeftButton);
    ASSERT_EQ(setIp.size(), 1);
    EXPECT_EQ(setIp.last().at(0).toUInt(), static_cast<uint>(kBroxSlot));
    clickRow(tree, 20);
    EXPECT_FALSE(dlg.ipAddrButton()->isEnabled());
}

TEST_F(DevInfoDlg, TheRowMenuOffersSetIpAddressByConnectionAlone)
{
    Dialog dlg;
    ASSERT_EQ(dlg.setup(&bed.rack()), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    QTreeWidget* tree = dlg.treeWidget();
    QSignalSpy setIp(&dlg, &Dialog::requestSetIPAddress);
    QSignalSpy detail(&dlg, &Dialog::requestDetail);
    const int oldMavik = kFirstMavikSlot; // 3.11.9: the button is off
    clickRow(tree, oldMavik);
    ASSERT_FALSE(dlg.ipAddrButton()->isEnabled());
    qtest::ModalDriver driver;
    driver.chooseMenuItem("Set IP Address");
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, rowCentre(tree, oldMavik));
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(setIp.size(), 1);
    EXPECT_EQ(setIp.last().at(0).toUInt(), static_cast<uint>(oldMavik));

    // The offline Sorn: "Properties" only.
    clickRow(tree, kSornSlot);
    driver.chooseMenuItem("Set IP Address");
    driver.chooseMenuItem("Properties");
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, rowCentre(tree, kSornSlot));
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, rowCentre(tree, kSornSlot));
    driver.waitAllAnswered(8000);
    EXPECT_EQ(setIp.size(), 1);
    ASSERT_EQ(detail.size(), 1);
    EXPECT_EQ(detail.last().at(0).toUInt(), static_cast<uint>(kSornSlot));
}

TEST_F(DevInfoDlg, TheColumnMenuHidesColumnsForThisDialogOnly)
{
    {
        Dialog dlg;
        ASSERT_EQ(dlg.setup(&bed.rack()), 0);
        ASSERT_TRUE(qtest::showAndWait(&dlg));
        QHeaderView* header = dlg.treeWidget()->header();
        qtest::ModalDriver driver;
        driver.chooseMenuItem("Name");
        QTest::mouseClick(header->viewport(), Qt::RightButton, {}, QPoint(header->sectionPosition(2) + 10, 5));
        ASSERT_TRUE(driver.waitAllAnswered());
        ASSERT_EQ(driver.seen().size(), 1u);
        EXPECT_EQ(driver.seen()[0].text, "Name\nMode\nIP Address\nPort No\nFirmware");
        EXPECT_TRUE(dlg.treeWidget()->isColumnHidden(2));
        EXPECT_FALSE(dlg.treeWidget()->isColumnHidden(1));
    }
    Dialog again;
    ASSERT_EQ(again.setup(&bed.rack()), 0);
    EXPECT_FALSE(again.treeWidget()->isColumnHidden(2));
    EXPECT_TRUE(again.treeWidget()->isColumnHidden(5));
}

TEST_F(DevInfoDlg, ZoomScalesTheColumns)
{
    Dialog dlg;
    ASSERT_EQ(dlg.setup(&bed.rack()), 0);
    dlg.applyScale(1);
    EXPECT_EQ(dlg.treeWidget()->header()->sectionSize(0), 120);
    EXPECT_EQ(dlg.treeWidget()->header()->sectionSize(2), 300);
    EXPECT_EQ(dlg.size(), QSize(1176, 450));
}

// What the style measures takes the zoom too: the list's bars and every
// button's icon are twice as large at 200 %, and a 100 % dialog keeps them.
TEST_F(DevInfoDlg, ScrollBarsAndButtonIconsTakeTheZoom)
{
    Dialog plain;
    ASSERT_EQ(plain.setup(&bed.rack()), 0);
    plain.applyScale(0);
    Dialog zoomed;
    ASSERT_EQ(zoomed.setup(&bed.rack()), 0);
    zoomed.applyScale(2);
    for (auto bar : {&QAbstractScrollArea::verticalScrollBar, &QAbstractScrollArea::horizontalScrollBar}) {
        const QSize base = (plain.treeWidget()->*bar)()->sizeHint();
        const QSize twice = (zoomed.treeWidget()->*bar)()->sizeHint();
        EXPECT_EQ(2 * qMin(base.width(), base.height()), qMin(twice.width(), twice.height()));
    }
    const QList<QPushButton*> base = plain.findChildren<QPushButton*>();
    const QList<QPushButton*> twice = zoomed.findChildren<QPushButton*>();
    ASSERT_EQ(base.size(), twice.size());
    ASSERT_FALSE(base.isEmpty());
    for (int i = 0; i < base.size(); ++i)
        EXPECT_EQ(base[i]->iconSize() * 2, twice[i]->iconSize()) << twice[i]->text().toStdString();
}

} // namespace
