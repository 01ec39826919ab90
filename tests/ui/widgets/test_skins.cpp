// Every picture the panels name, loaded from the compiled-in resources with
// its size and frame count (a control takes its size from its picture), and
// the generator's output compared between two runs.
#include "tests/support/gui/gui_support.h"
#include "tests/support/gui/skin_table.h"
#include "tests/support/test_support.h"

#include <QBitmap>
#include <QDirIterator>
#include <QFile>
#include <QPixmap>
#include <QProcess>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

using qtest::kSkins;
using qtest::SkinRow;

// Every file under a folder, by path relative to it.
std::map<QString, QByteArray> readTree(const QString& root)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            files[path.mid(root.size())] = f.readAll();
    }
    return files;
}

bool runGenerator(const QString& out)
{
    QProcess p;
    p.start(QStringLiteral(QUILLON_SKINGEN), {out});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

TEST(Skins, EveryPathLoadsWithItsSizeAndFrames)
{
    for (const SkinRow& row : kSkins) {
        const QPixmap pixmap(QString::fromUtf8(row.path));
        ASSERT_FALSE(pixmap.isNull()) << row.path;
        EXPECT_EQ(pixmap.width(), row.width) << row.path;
        EXPECT_EQ(pixmap.height(), row.height * row.frames) << row.path;
    }
}

TEST(Skins, FreeSizedPicturesAndTheirRules)
{
    for (int n = 0; n < 8; ++n) {
        const QPixmap pattern(QStringLiteral(":sorn/images/bg_pattern_%1.png").arg(n));
        ASSERT_FALSE(pattern.isNull()) << n;
        EXPECT_GT(pattern.width(), 100);
        EXPECT_GT(pattern.height(), 100);
    }
    // Two frames each, and narrow enough for their places 93 pixels apart.
    for (const char* path : {":sorn/images/tbtn_PRESET.png", ":sorn/images/tbtn_CLEARALL.png"}) {
        const QPixmap p(QString::fromUtf8(path));
        ASSERT_FALSE(p.isNull()) << path;
        EXPECT_LE(p.width(), 93) << path;
        EXPECT_EQ(p.height() % 2, 0) << path;
    }
    // The patch ball is masked by its corner colour: all four corners agree
    // and the centre differs from them.
    const QImage ball(QStringLiteral(":sorn/images/bg_patch_ball.png"));
    const QRgb corner = ball.pixel(0, 0);
    EXPECT_EQ(ball.pixel(9, 0), corner);
    EXPECT_EQ(ball.pixel(0, 9), corner);
    EXPECT_EQ(ball.pixel(9, 9), corner);
    EXPECT_NE(ball.pixel(5, 5), corner);
    const QBitmap mask = QPixmap::fromImage(ball).createHeuristicMask();
    EXPECT_EQ(mask.toImage().pixelIndex(0, 0), mask.toImage().pixelIndex(9, 9));
    EXPECT_NE(mask.toImage().pixelIndex(0, 0), mask.toImage().pixelIndex(5, 5));
}

// The Mavik and Sorn switches are 96 pixels wide, but the next switch starts
// 53 pixels to the right (Mavik) and a display 39 pixels (Sorn): the key must
// show only at the left, or it is drawn under its neighbour.
TEST(Skins, IoSwitchKeysStayClearOfTheirNeighbours)
{
    for (const char* path : {":mavik/images/btn_SW.png", ":sorn/images/btn_SW.png"}) {
        const QImage image(QString::fromUtf8(path));
        ASSERT_FALSE(image.isNull()) << path;
        for (int frame = 0; frame < 4; ++frame) {
            const int top = frame * 20;
            EXPECT_EQ(qAlpha(image.pixel(13, top + 10)), 255) << path << " frame " << frame;
            int widest = -1;
            for (int y = top; y < top + 20; ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (qAlpha(image.pixel(x, y)) != 0)
                        widest = std::max(widest, x);
            EXPECT_LT(widest, 39) << path << " frame " << frame;
        }
    }
}

TEST(Skins, LedsAreDarkThenLitAndMetersGreenToRed)
{
    const QImage led(QStringLiteral(":common/images/ind_dev_led_circle_green"));
    const QColor dark = led.pixelColor(8, 8);
    const QColor lit = led.pixelColor(8, 16 + 8);
    EXPECT_GT(lit.green(), dark.green() + 60);
    const QImage meter(QStringLiteral(":brox/images/meter_value.png"));
    const QColor bottom = meter.pixelColor(2, 40);
    const QColor top = meter.pixelColor(2, 0);
    EXPECT_GT(bottom.green(), bottom.red());
    EXPECT_GT(top.red(), top.green());
}

TEST(Skins, TwoRunsWriteTheSameBytesAsTheCompiledResources)
{
    qtest::TempDir a;
    qtest::TempDir b;
    ASSERT_TRUE(runGenerator(QString::fromStdString(a.path())));
    ASSERT_TRUE(runGenerator(QString::fromStdString(b.path())));
    const auto first = readTree(QString::fromStdString(a.path()));
    const auto second = readTree(QString::fromStdString(b.path()));
    ASSERT_GT(first.size(), std::size(kSkins));
    ASSERT_EQ(first.size(), second.size());
    for (const auto& [name, bytes] : first) {
        const auto other = second.find(name);
        ASSERT_NE(other, second.end()) << qPrintable(name);
        EXPECT_EQ(bytes, other->second) << qPrintable(name);
    }
    // What the program shows is what the generator writes.
    QFile compiled(QStringLiteral(":brox/images/knob_white.png"));
    ASSERT_TRUE(compiled.open(QIODevice::ReadOnly));
    EXPECT_EQ(compiled.readAll(), first.at(QStringLiteral("/brox/images/knob_white.png")));
}
