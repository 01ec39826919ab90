// ZPopup: rows from the group list, selection rules and signal order, the
// keyboard walk over the cells, and cell geometry when zoomed.
#include "ui/widgets/zpopup.h"

#include "tests/support/gui/gui_support.h"

#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<ZPopupEntry> numbered(int count)
{
    std::vector<ZPopupEntry> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back({i, QString::number(i), true, true});
    return entries;
}

struct PopupHost {
    explicit PopupHost(const QString& groups, std::vector<ZPopupEntry> entries)
    {
        host.resize(120, 60);
        popup = new ZPopup(&host);
        popup->setGeometryScaled(10, 10, 80, 20);
        popup->setGroupOverride(groups);
        popup->setMenuItems(entries);
        shownOk = qtest::showAndWait(&host);
        host.activateWindow();
        shownOk = shownOk && QTest::qWaitForWindowActive(&host, 5000);
    }
    // Opens the menu with a click on the button.
    bool open()
    {
        QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(5, 5));
        return qtest::waitUntil([this] { return popup->popupFrame() && popup->popupFrame()->isVisible(); }, 2000);
    }
    // Rows and widest row of the open menu, from the cells' places.
    QRect cell(int index) const { return popup->cells()[static_cast<size_t>(index)]->geometry(); }
    ZPopupItem* focused() const { return qobject_cast<ZPopupItem*>(QApplication::focusWidget()); }

    QWidget host;
    ZPopup* popup = nullptr;
    bool shownOk = false;
};

} // namespace

TEST(ZPopup, GroupListMakesTheRows)
{
    PopupHost h(QStringLiteral("1;8;8;8;8;8;8;8;2"), numbered(59));
    ASSERT_TRUE(h.shownOk);
    ASSERT_TRUE(h.open());
    EXPECT_EQ(h.popup->popupFrame()->size(), QSize(8 * 40 + 4, 9 * 13 + 4)) << "eight cells wide, nine rows";
    EXPECT_EQ(h.cell(0), QRect(2, 2, 40, 13));
    EXPECT_EQ(h.cell(1), QRect(2, 15, 40, 13));
    EXPECT_EQ(h.cell(8), QRect(282, 15, 40, 13));
    EXPECT_EQ(h.cell(57), QRect(2, 106, 40, 13));
    EXPECT_EQ(h.cell(58), QRect(42, 106, 40, 13));
    QTest::keyClick(h.popup->cells()[0], Qt::Key_Escape);
    EXPECT_TRUE(qtest::waitUntil([&] { return h.popup->popupFrame() == nullptr; }, 2000));
    EXPECT_TRUE(h.popup->cells().empty());
    EXPECT_FALSE(h.popup->isDown());
}

TEST(ZPopup, ShortAndBadGroupListsAndInvisibleEntries)
{
    struct Row {
        const char* groups;
        int entries;
        std::vector<int> lengths;
        QSize frame;
    };
    const Row rows[] = {
        {"", 3, {1, 1, 1}, QSize(44, 43)},
        {"0;-4;x;2", 5, {1, 1, 1, 2}, QSize(84, 56)},
        {"2;;99999999999", 4, {2, 1, 1}, QSize(84, 43)},
    };
    for (const Row& row : rows) {
        PopupHost h(QString::fromUtf8(row.groups), numbered(row.entries));
        ASSERT_TRUE(h.shownOk);
        ASSERT_TRUE(h.open()) << row.groups;
        EXPECT_EQ(h.popup->rowLengths(), row.lengths) << row.groups;
        EXPECT_EQ(h.popup->popupFrame()->size(), row.frame) << row.groups;
        h.popup->hidePopup();
    }

    // An invisible entry leaves no gap; a group of only invisible entries no row.
    std::vector<ZPopupEntry> entries = numbered(6);
    entries[1].visible = false;
    entries[3].visible = false;
    entries[4].visible = false;
    PopupHost h(QStringLiteral("3;2;1"), entries);
    ASSERT_TRUE(h.shownOk);
    ASSERT_TRUE(h.open());
    EXPECT_EQ(h.popup->cells()[1], nullptr);
    EXPECT_EQ(h.cell(2), QRect(42, 2, 40, 13));
    EXPECT_EQ(h.cell(5), QRect(2, 15, 40, 13));
    EXPECT_EQ(h.popup->popupFrame()->size(), QSize(84, 30));
}

TEST(ZPopup, SelectionRulesAndSignalOrder)
{
    std::vector<ZPopupEntry> entries = numbered(4);
    entries[2].enabled = false;
    PopupHost h(QStringLiteral("4"), entries);
    ASSERT_TRUE(h.shownOk);
    std::vector<std::string> order;
    QObject::connect(
        h.popup, &ZPopup::signalItemSelected, [&](int id) { order.push_back("item " + std::to_string(id)); });
    QObject::connect(
        h.popup, &ZPopup::selectionChanged, [&](int id) { order.push_back("changed " + std::to_string(id)); });

    EXPECT_FALSE(h.popup->setSelectionID(9)) << "no entry has it";
    EXPECT_FALSE(h.popup->setSelectionID(2)) << "disabled";
    EXPECT_TRUE(order.empty());
    EXPECT_FALSE(h.popup->hasSelection());
    EXPECT_TRUE(h.popup->setSelectionID(1));
    EXPECT_EQ(h.popup->text(), QStringLiteral("1"));
    EXPECT_TRUE(h.popup->setSelectionID(1)) << "already selected";
    EXPECT_EQ(order, std::vector<std::string>({"changed 1"}));

    order.clear();
    EXPECT_TRUE(h.popup->chooseItem(3));
    EXPECT_EQ(order, std::vector<std::string>({"item 3", "changed 3"}));
    order.clear();
    EXPECT_TRUE(h.popup->chooseItem(3));
    EXPECT_EQ(order, std::vector<std::string>({"item 3"}));

    // A click on an open cell chooses it; a disabled cell does nothing.
    order.clear();
    ASSERT_TRUE(h.open());
    ZPopupItem* disabled = h.popup->cells()[2];
    QTest::mouseClick(disabled, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(order.empty());
    ASSERT_NE(h.popup->popupFrame(), nullptr);
    QTest::mouseClick(h.popup->cells()[0], Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(order, std::vector<std::string>({"item 0", "changed 0"}));
    EXPECT_TRUE(qtest::waitUntil([&] { return h.popup->popupFrame() == nullptr; }, 2000));

    // Replacing the list keeps the selection's text when the id is still there.
    std::vector<ZPopupEntry> renamed = numbered(4);
    renamed[0].text = QStringLiteral("zero");
    h.popup->setMenuItems(renamed);
    EXPECT_EQ(h.popup->text(), QStringLiteral("zero"));
}

TEST(ZPopup, KeysWalkTheCells)
{
    // "NONE" and 128 ids in eight rows of sixteen.
    PopupHost h(QStringLiteral("1;16;16;16;16;16;16;16;16"), numbered(129));
    ASSERT_TRUE(h.shownOk);
    ASSERT_TRUE(h.popup->setSelectionID(0));
    ASSERT_TRUE(h.open());
    ASSERT_TRUE(qtest::waitUntil([&] { return h.focused() != nullptr; }, 2000));
    EXPECT_EQ(h.focused()->index(), 0) << "the selected cell takes focus";

    struct Step {
        Qt::Key key;
        int to;
    };
    const Step walk[] = {
        {Qt::Key_Down, 1},
        {Qt::Key_Down, 17},
        {Qt::Key_Right, 18},
        {Qt::Key_Up, 2},
        {Qt::Key_Left, 1},
        {Qt::Key_Up, 0},
        {Qt::Key_Left, 128},
        {Qt::Key_Right, 0},
        {Qt::Key_Up, 128},
        {Qt::Key_Down, 0},
        {Qt::Key_Down, 1},
        {Qt::Key_Right, 2},
    };
    for (const Step& s : walk) {
        ZPopupItem* from = h.focused();
        ASSERT_NE(from, nullptr);
        QTest::keyClick(from, s.key);
        ASSERT_NE(h.focused(), nullptr);
        EXPECT_EQ(h.focused()->index(), s.to) << "key " << s.key << " from " << from->index();
        EXPECT_TRUE(h.focused()->hovered);
        EXPECT_FALSE(from->hovered);
    }
    QSignalSpy chosen(h.popup, &ZPopup::signalItemSelected);
    QTest::keyClick(h.focused(), Qt::Key_Return);
    ASSERT_EQ(chosen.count(), 1);
    EXPECT_EQ(chosen.at(0).at(0).toInt(), 2);
    EXPECT_EQ(h.popup->selectionID(), 2);
}

TEST(ZPopup, CellsFollowTheButtonZoom)
{
    PopupHost h(QStringLiteral("2"), numbered(4));
    ASSERT_TRUE(h.shownOk);
    h.popup->applyScale(2);
    ASSERT_TRUE(h.open());
    EXPECT_EQ(h.cell(0), QRect(4, 4, 80, 26));
    EXPECT_EQ(h.cell(1), QRect(84, 4, 80, 26));
    // Rows of 2, then 1 and 1 for the entries past the list.
    EXPECT_EQ(h.popup->popupFrame()->size(), QSize(168, 86));
}

TEST(ZPopup, MenuWiderThanTheScreenStartsAtItsLeftEdge)
{
    PopupHost h(QStringLiteral("40"), numbered(40));
    ASSERT_TRUE(h.shownOk);
    ASSERT_TRUE(h.open());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GE(h.popup->popupFrame()->width(), area.width());
    // The offscreen platform puts a 2-pixel frame margin around every window.
    const QPoint at = h.popup->popupFrame()->pos();
    const int margin = at.x() - area.left();
    EXPECT_GE(margin, 0);
    EXPECT_LE(margin, 2);
    // Below the button, overlapping its last row.
    EXPECT_EQ(at.y() - margin, h.popup->mapToGlobal(QPoint(0, h.popup->height() - 1)).y());
}
