// Zoom arithmetic against worked examples, and a tree of all nine zoomable
// classes taken through 100 -> 150 -> 200 -> 100 %.
#include "ui/widgets/zscaled.h"

#include "tests/support/gui/gui_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <vector>

namespace {

struct ValueRow {
    const char* what;
    int got;
    int expected;
};

} // namespace

TEST(ZScale, WorkedExamples)
{
    const ValueRow rows[] = {
        {"scale 150% of 13", ZScale::scaleValue(1, 13), 20},
        {"scale 150% of 1", ZScale::scaleValue(1, 1), 2},
        {"scale 200% of 7", ZScale::scaleValue(2, 7), 14},
        {"scale 150% of -3", ZScale::scaleValue(1, -3), -5},
        {"scale code 7 of 40", ZScale::scaleValue(7, 40), 40},
        {"unscale 150% of 20", ZScale::unscaleValue(1, 20), 13},
        {"unscale 150% of 2", ZScale::unscaleValue(1, 2), 1},
        {"unscale 150% of -5", ZScale::unscaleValue(1, -5), -3},
        {"rescale 150% -> 200% of 20", ZScale::rescaleValue(2, 1, 20), 26},
        {"largest widget at 200%", ZScale::scaleValue(2, 16777215), 33554430},
        {"largest widget back", ZScale::unscaleValue(2, 33554430), 16777215},
        // Past the int range the result saturates; 32-bit products would wrap.
        {"int max at 200%", ZScale::scaleValue(2, INT_MAX), INT_MAX},
        {"int min at 200%", ZScale::scaleValue(2, INT_MIN), -INT_MAX},
        {"int max unscaled at 100%", ZScale::unscaleValue(0, INT_MAX), INT_MAX},
    };
    for (const ValueRow& row : rows)
        EXPECT_EQ(row.got, row.expected) << row.what;

    const QRect r = ZScale::scaleRect(1, QRect(10, 5, 41, 13));
    EXPECT_EQ(r, QRect(15, 8, 62, 20));
    EXPECT_EQ(r.right(), 76);
    EXPECT_EQ(r.bottom(), 27);
    EXPECT_EQ(ZScale::unscaleRect(1, r), QRect(10, 5, 41, 13));
    EXPECT_EQ(ZScale::scaleSize(2, QPoint(3, -4)), QPoint(6, -8));
}

TEST(ZScale, FontsKeepTheirKindOfSize)
{
    QFont points(QStringLiteral("Arial"));
    points.setPointSize(9);
    const QFont p1 = ZScale::scaleFont(1, 0, points);
    EXPECT_EQ(p1.pointSize(), 14);
    EXPECT_EQ(p1.pixelSize(), -1);

    QFont pixels(QStringLiteral("Arial"));
    pixels.setPixelSize(12);
    const QFont x2 = ZScale::scaleFont(2, 1, ZScale::scaleFont(1, 0, pixels));
    EXPECT_EQ(x2.pixelSize(), 24);
    EXPECT_EQ(x2.pointSize(), -1);
}

TEST(ZScale, RoundTripAndUnknownCodes)
{
    std::vector<int> values;
    for (int v = -1000; v <= 1000; ++v)
        values.push_back(v);
    values.insert(values.end(), {16777215, -16777215, 1 << 22, 3 << 20});
    for (ZoomCode code : {0u, 1u, 2u})
        for (int v : values)
            ASSERT_EQ(ZScale::unscaleValue(code, ZScale::scaleValue(code, v)), v) << "code " << code << " v " << v;
    for (ZoomCode code : {3u, 7u, 100u, 0xFFFFFFFFu}) {
        EXPECT_EQ(ZScale::factor(code), 100);
        for (int v : {-77, 0, 13, 16777215}) {
            EXPECT_EQ(ZScale::scaleValue(code, v), v);
            EXPECT_EQ(ZScale::unscaleValue(code, v), v);
        }
    }
}

TEST(ZScale, NullWidgetsAndRecording)
{
    EXPECT_EQ(ZScale::unscaledX(nullptr, 1), -1);
    EXPECT_EQ(ZScale::unscaledSize(nullptr, 1), QSize(-1, -1));
    EXPECT_EQ(ZScale::unscaledPos(nullptr, 1), QPoint(0, 0));
    EXPECT_TRUE(ZScale::unscaledRect(nullptr, 1).isNull());
    EXPECT_FALSE(ZScale::move(nullptr, 1, 1, 1));
    EXPECT_FALSE(ZScale::setGeometry(nullptr, 1, QRect()));
    EXPECT_FALSE(ZScale::scaleChildWidgets(nullptr, 1));

    ZScaledWidget w;
    // First geometry wins unless forced; sizes record only when none is stored.
    w.setGeometryScaled(1, 2, 30, 40);
    w.setGeometryScaled(5, 5, 5, 5);
    EXPECT_EQ(w.baseGeometry(), QRect(1, 2, 30, 40));
    w.setGeometryScaled(QRect(6, 7, 8, 9), true);
    EXPECT_EQ(w.baseGeometry(), QRect(6, 7, 8, 9));
    w.resizeScaled(11, 12);
    w.resizeScaled(13, 14);
    EXPECT_EQ(w.baseSize(), QSize(11, 12));
    w.move(10, 10);
    EXPECT_EQ(w.baseSize(), QSize(11, 12));
}

TEST(ZScale, ScaleChildWidgetsScalesEachDescendantOnce)
{
    QWidget form;
    auto* box = new QWidget(&form);
    box->setGeometry(10, 10, 100, 40);
    auto* inner = new QWidget(box);
    inner->setGeometry(4, 6, 20, 10);
    QFont f = inner->font();
    f.setPixelSize(10);
    inner->setFont(f);
    ASSERT_TRUE(ZScale::scaleChildWidgets(&form, 2));
    EXPECT_EQ(box->geometry(), QRect(20, 20, 200, 80));
    EXPECT_EQ(inner->geometry(), QRect(8, 12, 40, 20));
    EXPECT_EQ(inner->font().pixelSize(), 20);
}

namespace {

struct Snapshot {
    QRect geometry;
    QFont font;
};

// A main window holding one of each zoomable class, a scroll area inside a
// scroll area, and widgets placed by geometry, by size only and not at all.
struct Tree {
    ZScaledMainWindow window;
    ZScaledFrame* central;
    ZScaledDial* dial;
    ZScaledLabel* label;
    ZScaledLineEdit* edit;
    ZScaledPushButton* button;
    ZScaledWidget* sizedOnly;
    ZScaledWidget* unrecorded;
    ZScaledScrollArea* outer;
    ZScaledWidget* outerContent;
    ZScaledScrollArea* inner;
    ZScaledWidget* innerContent;
    ZScaledLabel* deepLabel;
    ZScaledDialog* dialog;

    Tree()
    {
        QFont pixelFont(QStringLiteral("Arial"));
        pixelFont.setPixelSize(12);
        QFont pointFont(QStringLiteral("Arial"));
        pointFont.setPointSize(9);

        window.setGeometryScaled(0, 0, 400, 300);
        window.setFontScaled(pixelFont);
        central = new ZScaledFrame;
        window.setCentralWidget(central);
        central->setGeometryScaled(0, 0, 400, 300);
        central->setFontScaled(pixelFont);
        dial = new ZScaledDial(central);
        dial->setGeometryScaled(10, 10, 41, 41);
        label = new ZScaledLabel(central);
        label->setGeometryScaled(60, 11, 53, 13);
        edit = new ZScaledLineEdit(central);
        edit->setGeometryScaled(60, 30, 77, 17);
        button = new ZScaledPushButton(central);
        button->setGeometryScaled(150, 10, 61, 23);
        sizedOnly = new ZScaledWidget(central);
        sizedOnly->moveScaled(7, 201);
        sizedOnly->resizeScaled(33, 17);
        unrecorded = new ZScaledWidget(central);
        unrecorded->setGeometry(3, 241, 27, 13); // plain Qt call: nothing recorded
        outer = new ZScaledScrollArea(central);
        outer->setGeometryScaled(220, 60, 171, 131);
        outerContent = new ZScaledWidget;
        outerContent->setGeometryScaled(0, 0, 301, 211);
        outer->setWidget(outerContent);
        inner = new ZScaledScrollArea(outerContent);
        inner->setGeometryScaled(9, 9, 121, 81);
        innerContent = new ZScaledWidget;
        innerContent->setGeometryScaled(0, 0, 201, 151);
        inner->setWidget(innerContent);
        deepLabel = new ZScaledLabel(innerContent);
        deepLabel->setGeometryScaled(5, 7, 45, 15);
        dialog = new ZScaledDialog(&window);
        dialog->setGeometry(50, 60, 70, 80);
        for (QWidget* w : widgets())
            ZScale::setFont(w, 0, w == label || w == deepLabel ? pointFont : pixelFont);
    }

    std::vector<QWidget*> widgets()
    {
        return {&window, central, dial, label, edit, button, sizedOnly, unrecorded, outer, outerContent, inner,
            innerContent, deepLabel};
    }

    std::vector<Snapshot> snapshot()
    {
        std::vector<Snapshot> s;
        for (QWidget* w : widgets())
            s.push_back({w->geometry(), w->font()});
        return s;
    }
};

} // namespace

TEST(ZScaledTree, ZoomRoundTripRestoresEveryGeometryAndFont)
{
    Tree tree;
    const std::vector<Snapshot> start = tree.snapshot();

    ASSERT_TRUE(tree.window.applyScale(1));
    EXPECT_EQ(tree.dial->geometry(), ZScale::scaleRect(1, QRect(10, 10, 41, 41)));
    EXPECT_EQ(tree.sizedOnly->geometry(), QRect(11, 302, 50, 26));
    EXPECT_EQ(tree.label->font().pointSize(), 14);
    EXPECT_EQ(tree.dial->font().pixelSize(), 18);
    EXPECT_EQ(tree.deepLabel->scale(), 1u) << "the scroll area passes the zoom to its inner widget";
    EXPECT_EQ(tree.deepLabel->geometry(), ZScale::scaleRect(1, QRect(5, 7, 45, 15)));

    ASSERT_TRUE(tree.window.applyScale(2));
    EXPECT_EQ(tree.innerContent->geometry().size(), QSize(402, 302));
    EXPECT_EQ(tree.unrecorded->geometry(), QRect(6, 482, 54, 26));
    EXPECT_EQ(tree.dialog->scale(), 2u);
    EXPECT_EQ(tree.dialog->geometry().size(), QSize(70, 80)) << "a dialog scales itself";

    ASSERT_TRUE(tree.window.applyScale(0));
    const std::vector<Snapshot> end = tree.snapshot();
    for (size_t i = 0; i < start.size(); ++i) {
        EXPECT_EQ(end[i].geometry, start[i].geometry) << "widget " << i;
        EXPECT_EQ(end[i].font, start[i].font) << "widget " << i;
    }
}

TEST(ZScaledTree, SameCodeStillReachesLaggingChildren)
{
    Tree tree;
    tree.dial->applyScale(2); // a child left at another zoom
    const QRect windowGeometry = tree.window.geometry();
    ASSERT_TRUE(tree.window.applyScale(0));
    EXPECT_EQ(tree.dial->scale(), 0u);
    EXPECT_EQ(tree.dial->geometry(), QRect(10, 10, 41, 41));
    EXPECT_EQ(tree.window.geometry(), windowGeometry);
}

TEST(ZScaledTree, SlotAndLabelContents)
{
    ZScaledWidget w;
    w.setGeometryScaled(2, 4, 10, 20);
    QMetaObject::invokeMethod(&w, "slot_scaleChanged", Q_ARG(uint, 2u));
    EXPECT_EQ(w.geometry(), QRect(4, 8, 20, 40));
    ZScaledLabel label;
    EXPECT_TRUE(label.hasScaledContents());
}
