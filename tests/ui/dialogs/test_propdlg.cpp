// The properties dialog showing a connected unit's record through the rack.
#include "tests/ui/dialogs/dialog_bed.h"

#include "ui/dialogs/propdlg.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTableWidget>

#include <gtest/gtest.h>

using dlgtest::DialogBed;
using Dialog = Quil::PropDlg;

namespace {

const QStringList kLabels = {"Device Name", "Manufacturer", "Product", "Category", "Input", "Output", "Firmware",
    "Protocol", "Parameter", "", "Unit ID", "IP Address", "Port No", "", "Run Mode", "Error"};

QStringList labelsOf(const Dialog& dlg)
{
    QStringList labels;
    for (int row = 0; row < dlg.infoArea()->rowCount(); ++row)
        labels << dlg.infoArea()->verticalHeaderItem(row)->text();
    return labels;
}

QStringList valuesOf(const Dialog& dlg)
{
    QStringList values;
    for (int row = 0; row < dlg.infoArea()->rowCount(); ++row)
        values << dlg.infoArea()->item(row, 0)->text();
    return values;
}

class PropDlg : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bed.ready()) << bed.error(); }
    DialogBed bed;
};

TEST_F(PropDlg, ShowsTheRecordWithTheParameterSetOnLinesOfItsOwn)
{
    simtest::SimUnitConfig config = dlgtest::unitConfig(Quil::MODEL_BROXL_D2);
    config.devInfo["paramsetver"] = "P1.0,P2.0,P3.0";
    ASSERT_NE(bed.addUnit(3, Quil::MODEL_BROXL_D2, config), nullptr) << bed.error();
    Dialog dlg;
    const int defaultHeight = dlg.infoArea()->rowHeight(Dialog::kParameterRow);
    ASSERT_EQ(dlg.setup(&bed.rack(), 3), 0);
    EXPECT_EQ(dlg.windowTitle(), "Properties #4");
    EXPECT_EQ(labelsOf(dlg), kLabels);
    const QStringList values = valuesOf(dlg);
    EXPECT_EQ(values[0], "Stage Left");
    EXPECT_EQ(values[2], "BroxL-D2");
    EXPECT_EQ(values[8], "P1.0\nP2.0\nP3.0");
    EXPECT_EQ(values[9], "");
    EXPECT_EQ(values[14], "normal");
    EXPECT_EQ(dlg.infoArea()->rowHeight(Dialog::kParameterRow), 56);
    EXPECT_NE(defaultHeight, 56);
    EXPECT_EQ(dlg.infoArea()->rowHeight(Dialog::kParameterRow + 1), defaultHeight);
    // The main window zooms after the set-up; the lines stay visible.
    dlg.applyScale(1);
    EXPECT_EQ(dlg.infoArea()->rowHeight(Dialog::kParameterRow), 84);
}

TEST_F(PropDlg, AParameterSetWithoutCommasKeepsTheRowHeight)
{
    ASSERT_NE(bed.addUnit(0, Quil::MODEL_BROXL_D2), nullptr) << bed.error();
    Dialog dlg;
    const int defaultHeight = dlg.infoArea()->rowHeight(Dialog::kParameterRow);
    ASSERT_EQ(dlg.setup(&bed.rack(), 0), 0);
    EXPECT_EQ(valuesOf(dlg)[8], "2.1");
    EXPECT_EQ(dlg.infoArea()->rowHeight(Dialog::kParameterRow), defaultHeight);
}

TEST_F(PropDlg, AnEmptySlotOpensWithItsLabelsOnly)
{
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), 23), 0);
    EXPECT_EQ(dlg.windowTitle(), "Properties #24");
    EXPECT_EQ(labelsOf(dlg), kLabels);
    for (const QString& value : valuesOf(dlg))
        EXPECT_TRUE(value.isEmpty()) << value.toStdString();
    EXPECT_LT(dlg.setup(&bed.rack(), 23), 0);
    Dialog none;
    EXPECT_LT(none.setup(nullptr, 0), 0);
}

// The dialog opens tall enough that no row hides behind the table's edge or
// a scroll bar, with the parameter set on lines of its own and when zoomed.
TEST_F(PropDlg, OpensShowingEveryRowUpToTheLast)
{
    simtest::SimUnitConfig config = dlgtest::unitConfig(Quil::MODEL_BROXL_D2);
    config.devInfo["paramsetver"] = "P1.0,P2.0,P3.0,P4.0";
    ASSERT_NE(bed.addUnit(3, Quil::MODEL_BROXL_D2, config), nullptr) << bed.error();
    for (ZoomCode code : {0u, 2u}) {
        Dialog dlg;
        ASSERT_EQ(dlg.setup(&bed.rack(), 3), 0);
        dlg.applyScale(code);
        ASSERT_TRUE(qtest::showAndWait(&dlg));
        QTableWidget* table = dlg.infoArea();
        const QRect last = table->visualItemRect(table->item(Dialog::kRowCount - 1, 0));
        EXPECT_TRUE(table->viewport()->rect().contains(last))
            << code << " last row " << last.bottom() << " of " << table->viewport()->height();
        EXPECT_FALSE(table->verticalScrollBar()->isVisible()) << code;
    }
}

TEST_F(PropDlg, ZoomScalesTheRowsAndTheDialog)
{
    Dialog dlg;
    const int rowHeight = dlg.infoArea()->verticalHeader()->defaultSectionSize();
    const QSize size = dlg.size();
    dlg.applyScale(2);
    EXPECT_EQ(dlg.infoArea()->verticalHeader()->defaultSectionSize(), rowHeight * 2);
    EXPECT_EQ(dlg.size(), size * 2);
    EXPECT_EQ(dlg.scale(), 2u);
}

} // namespace
