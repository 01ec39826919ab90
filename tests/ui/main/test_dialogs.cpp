// The network setup and mount dialogs on their own: what they list, what
// they preselect, what a choice hands on, and their zoom.
#include "tests/ui/main/main_fixture.h"
#include "ui/main/mountdlg.h"
#include "ui/main/netsetupdlg.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace {

using qtest::hostInterface;
using qtest::NetCore;

QStringList rowTexts(QTreeWidget* tree, int column)
{
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        texts << tree->topLevelItem(i)->text(column);
    return texts;
}

void doubleClickRow(QTreeWidget* tree, int row)
{
    const QRect rect = tree->visualItemRect(tree->topLevelItem(row));
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

TEST(NetSetupDlg, ListsUsableInterfacesAfterOfflineAndPreselectsTheCurrentOne)
{
    const auto eth = hostInterface("eth0", "02:00:00:00:00:01", "192.168.1.5");
    const auto wlan = hostInterface("wlan0", "02:00:00:00:00:02", "10.0.0.7");
    const auto aux = hostInterface("Aux", "02:00:00:00:00:03", "172.16.0.2");
    struct Case {
        const char* what;
        Quil::HostInterface current;
        QStringList names; // in list order
        QString preselected;
    };
    const auto moved = hostInterface("wlan0", "02:00:00:00:00:02", "10.0.0.99");
    const Case cases[] = {
        {"no current interface", {}, {"Offline", "Aux", "eth0", "wlan0"}, "Offline"},
        {"current by MAC and address", wlan, {"Offline", "Aux", "eth0", "wlan0"}, "wlan0"},
        {"current interface's address moved", moved, {"Offline", "Aux", "eth0", "wlan0"}, "Offline"},
    };
    for (const Case& c : cases) {
        NetCore core;
        core.interfaces = {wlan, eth, hostInterface("down0", "02:00:00:00:00:04", "1.1.1.1", false),
            hostInterface("idle0", "02:00:00:00:00:05", "1.1.1.2", true, false),
            hostInterface("nomc0", "02:00:00:00:00:06", "1.1.1.3", true, true, false), aux};
        core.current = c.current;
        NetSetupDlg dialog;
        ASSERT_EQ(dialog.setup(&core, true), 0) << c.what;
        QTreeWidget* tree = dialog.treeWidget();
        EXPECT_EQ(rowTexts(tree, NetSetupDlg::ColName), c.names) << c.what;
        ASSERT_NE(tree->currentItem(), nullptr) << c.what;
        EXPECT_EQ(tree->currentItem()->text(NetSetupDlg::ColName), c.preselected) << c.what;
        EXPECT_TRUE(tree->isColumnHidden(NetSetupDlg::ColMac));
        EXPECT_EQ(tree->topLevelItem(1)->text(NetSetupDlg::ColMac), "02:00:00:00:00:03") << c.what;
    }
}

TEST(NetSetupDlg, FormAndSecondSetupRefused)
{
    NetCore core;
    core.interfaces = {hostInterface("eth0", "02:00:00:00:00:01", "192.168.1.5")};
    NetSetupDlg dialog;
    EXPECT_EQ(dialog.objectName(), "NetSetupDlg");
    EXPECT_EQ(dialog.windowTitle(), "Network Setup");
    EXPECT_EQ(dialog.size(), QSize(628, 276));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowContextHelpButtonHint);
    const QStringList headers = {"Name", "IP Address", "Subnet Mask", "MAC Address"};
    for (int i = 0; i < headers.size(); ++i)
        EXPECT_EQ(dialog.treeWidget()->headerItem()->text(i), headers[i]);
    ASSERT_EQ(dialog.setup(&core, false), 0);
    core.interfaces.append(hostInterface("eth1", "02:00:00:00:00:09", "192.168.2.5"));
    EXPECT_EQ(dialog.setup(&core, true), static_cast<JResult>(0x80000000u));
    EXPECT_EQ(dialog.treeWidget()->topLevelItemCount(), 2);
    EXPECT_EQ(NetSetupDlg().setup(nullptr, true), static_cast<JResult>(0x80000000u));
}

TEST(NetSetupDlg, DoubleClickAndOkHandTheRowToTheRackOwner)
{
    NetCore core;
    core.interfaces = {hostInterface("eth0", "02:00:00:00:00:01", "192.168.1.5")};
    {
        NetSetupDlg dialog;
        ASSERT_EQ(dialog.setup(&core, false), 0);
        ASSERT_TRUE(qtest::showAndWait(&dialog));
        doubleClickRow(dialog.treeWidget(), 1);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(dialog.isVisible());
    }
    {
        // Nothing but "Offline" is usable: OK passes two empty texts.
        NetCore offline;
        offline.interfaces = {hostInterface("down0", "02:00:00:00:00:04", "1.1.1.1", false)};
        NetSetupDlg dialog;
        ASSERT_EQ(dialog.setup(&offline, true), 0);
        ASSERT_EQ(dialog.treeWidget()->topLevelItemCount(), 1);
        ASSERT_TRUE(qtest::showAndWait(&dialog));
        auto* buttons = dialog.findChild<QDialogButtonBox*>("buttonBox");
        QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
        ASSERT_EQ(offline.choices.size(), 1u);
        EXPECT_TRUE(offline.choices[0].mac.isEmpty());
        EXPECT_TRUE(offline.choices[0].address.isEmpty());
        EXPECT_TRUE(offline.choices[0].ask);
    }
    ASSERT_EQ(core.choices.size(), 1u);
    EXPECT_EQ(core.choices[0].mac, "02:00:00:00:00:01");
    EXPECT_EQ(core.choices[0].address, "192.168.1.5");
    EXPECT_FALSE(core.choices[0].ask);

    // Cancel hands on nothing.
    NetSetupDlg dialog;
    ASSERT_EQ(dialog.setup(&core, true), 0);
    ASSERT_TRUE(qtest::showAndWait(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(core.choices.size(), 1u);
}

TEST(NetSetupDlg, ZoomScalesSizeAndEveryColumnHiddenOneIncluded)
{
    NetCore core;
    NetSetupDlg dialog;
    ASSERT_EQ(dialog.setup(&core, true), 0);
    EXPECT_TRUE(dialog.applyScale(1));
    EXPECT_EQ(dialog.scale(), 1u);
    EXPECT_EQ(dialog.size(), QSize(942, 414));
    QHeaderView* header = dialog.treeWidget()->header();
    EXPECT_EQ(header->sectionSize(0), 300);
    EXPECT_EQ(header->sectionSize(1), 225);
    EXPECT_EQ(header->sectionSize(2), 225);
    EXPECT_TRUE(dialog.treeWidget()->isColumnHidden(NetSetupDlg::ColMac));
    dialog.treeWidget()->setColumnHidden(NetSetupDlg::ColMac, false);
    EXPECT_EQ(header->sectionSize(3), 300);
}

TEST(MountDlg, TitleAndSelectionFollowTheSlotAndModel)
{
    struct Case {
        unsigned slot;
        Quil::ModelType type;
        QString title;
        QString checked;
    };
    const Case cases[] = {
        {2, 1, "Mount #3 BroxL-D", "BroxL-D"},
        {0, 0, "Mount #1 BLANK", "BLANK"},
        {23, 12, "Mount #24 BroxM-D3", "BroxM-D3"},
        {4, 13, "Mount #5", "BLANK"}, // no such model: nothing changes
        {4, -1, "Mount #5", "BLANK"},
    };
    for (const Case& c : cases) {
        MountDlg dialog(c.slot);
        EXPECT_EQ(dialog.setCurrentModel(c.type), static_cast<int>(0x80000000u)) << c.type;
        EXPECT_EQ(dialog.windowTitle(), c.title);
        ASSERT_NE(dialog.group()->checkedButton(), nullptr);
        EXPECT_EQ(dialog.group()->checkedButton()->text(), c.checked);
    }
}

TEST(MountDlg, OnlyModelsZeroToTwelveCanBeChosen)
{
    MountDlg dialog(0);
    EXPECT_EQ(dialog.size(), QSize(395, 541));
    const char* names[] = {"BLANK", "BroxL-D", "BroxM-D", "BroxI-D", "BroxO-D", "Sorn-D", "Mavik-D", "PellM-D",
        "BroxL-D2", "BroxM-D2", "PellM-D2", "BroxL-D3", "BroxM-D3", "DovanSB-D", "DovanS-D", "DovanFX-D"};
    ASSERT_TRUE(qtest::showAndWait(&dialog));
    for (int i = 0; i < MountDlg::kButtonCount; ++i) {
        QRadioButton* button = dialog.button(i);
        EXPECT_EQ(button->text(), names[i]);
        EXPECT_EQ(dialog.group()->id(button), i <= 12 ? i : -1) << names[i];
        EXPECT_EQ(button->isVisible(), i <= 12) << names[i];
    }
    // A real click chooses; OK accepts with that model.
    QTest::mouseClick(dialog.button(5), Qt::LeftButton, Qt::NoModifier, QPoint(5, dialog.button(5)->height() / 2));
    EXPECT_EQ(dialog.chosenModel(), 5);
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    QTest::mouseClick(buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosenModel(), 5);
}

TEST(MountDlg, ZoomScalesTheFormOnce)
{
    MountDlg dialog(0);
    dialog.applyScale(2);
    EXPECT_EQ(dialog.size(), QSize(790, 1082));
    EXPECT_EQ(dialog.scale(), 2u);
}

} // namespace
