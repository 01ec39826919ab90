// Every picture the panels name, loaded from the compiled-in resources with
// its size and frame count (a control takes its size from its picture), and
// the generator's output compared between two runs.
#include "support/gui/gui_support.h"
#include "support/test_support.h"

#include <QBitmap>
#include <QDirIterator>
#include <QFile>
#include <QPixmap>
#include <QProcess>
#include <gtest/gtest.h>

#include <map>

namespace {

// Written from the panels' needs, not from the generator's list.
struct SkinRow {
    const char* path;
    int width; // frame width
    int height; // frame height
    int frames;
};

const SkinRow kSkins[] = {
    {":/images/cbtn_seldevice.png", 110, 66, 3},
    {":/images/ind_mode_blank.png", 98, 18, 2},
    {":/images/ind_mode_virtual.png", 98, 18, 2},
    {":/images/ind_mode_disconnected.png", 98, 18, 2},
    {":/images/ind_mode_connecting.png", 98, 18, 2},
    {":/images/ind_mode_connected.png", 98, 18, 2},
    {":/images/ind_mode_conflict.png", 98, 18, 2},
    {":/images/ind_mode_duplicated.png", 98, 18, 2},
    {":/images/bg_SelDevArea_24.png", 114, 1776, 1},
    {":/images/bg_Right.png", 752, 594, 1},
    {":/images/bg_dev_area.png", 752, 543, 1},
    {":/images/bg_DispArea.png", 752, 51, 1},
    {":common/images/bg_dev_txt_SYNC.png", 49, 26, 1},
    {":common/images/bg_dev_txt_SYSTEM.png", 49, 26, 1},
    {":common/images/ind_dev_led_circle_green", 16, 16, 2},
    {":common/images/ind_dev_led_circle_green.png", 16, 16, 2},
    {":common/images/ind_dev_led_circle_yellow.png", 16, 16, 2},
    {":common/images/ind_dev_led_circle_red.png", 16, 16, 2},
    {":common/images/ind_icon_alert.png", 14, 13, 1},
    {":common/images/ind_icon_info.png", 14, 13, 1},
    {":display/images/meter_base.png", 9, 45, 1},
    {":display/images/meter_value.png", 5, 41, 1},
    {":display/images/meter_scale.png", 5, 45, 1},
    {":brox/images/meter_base.png", 9, 45, 1},
    {":brox/images/meter_value.png", 5, 41, 1},
    {":brox/images/knob_white.png", 42, 42, 101},
    {":brox/images/knob_green.png", 42, 42, 101},
    {":brox/images/bg_textbox.png", 52, 16, 1},
    {":brox/images/tbtn_+48V.png", 56, 20, 4},
    {":brox/images/tbtn_HPF.png", 56, 20, 4},
    {":brox/images/tbtn_delay.png", 56, 20, 4},
    {":brox/images/tbtn_GC.png", 56, 20, 4},
    {":brox/images/tbtn_phase.png", 56, 20, 4},
    {":brox/images/tbtn_PEAKHOLD.png", 96, 20, 4},
    {":brox/images/tbtn_input.png", 90, 18, 4},
    {":brox/images/tbtn_output.png", 90, 18, 4},
    {":brox/images/ind_+48V.png", 28, 14, 2},
    {":brox/images/bg_dev_Brox_txt_+48V.png", 98, 10, 1},
    {":brox/images/bg_dev_Brox_txt_+48V_active.png", 98, 10, 1},
    {":brox/images/bg_dev_BroxLD.png", 752, 543, 1},
    {":brox/images/bg_dev_BroxMD.png", 752, 543, 1},
    {":brox/images/bg_dev_BroxID.png", 752, 543, 1},
    {":brox/images/bg_dev_BroxOD.png", 752, 543, 1},
    {":brox/images/bg_dev_BroxLD3Output.png", 752, 543, 1},
    {":brox/images/tab_edit.png", 138, 30, 3},
    {":brox/images/bg_edit_device.png", 604, 394, 1},
    {":brox/images/bg_edit_output.png", 604, 394, 1},
    {":brox/images/bg_delayscale_output.png", 554, 130, 1},
    {":brox/images/tbtn_meter.png", 48, 18, 4},
    {":brox/images/tbtn_feet.png", 48, 18, 4},
    {":brox/images/tbtn_sample.png", 48, 18, 4},
    {":brox/images/tbtn_msec.png", 48, 18, 4},
    {":brox/images/tbtn_frame.png", 48, 18, 4},
    {":brox/images/tbtn_impedance.png", 48, 18, 2},
    {":mavik/images/bg_dev_MavikD.png", 750, 410, 1},
    {":mavik/images/btn_SW.png", 96, 20, 4},
    {":mavik/images/ind_dev_circle_green.png", 16, 16, 2},
    {":sorn/images/bg_dev_SornD.png", 750, 410, 1},
    {":sorn/images/btn_SW.png", 96, 20, 4},
    {":sorn/images/ind_dev_led_circle_green.png", 16, 16, 2},
    {":sorn/images/ind_dev_led_circle_yellow.png", 16, 16, 2},
    {":sorn/images/ind_dev_led_circle_green_red_x2.png", 16, 16, 5},
    {":sorn/images/ind_dev_led_circle_red_green.png", 16, 16, 3},
    {":sorn/images/cbtn_black.png", 165, 25, 2},
    {":sorn/images/cbtn_gray.png", 165, 25, 2},
    {":sorn/images/txt_input.png", 44, 16, 1},
    {":sorn/images/txt_output.png", 58, 16, 1},
    {":sorn/images/bg_patch_ball.png", 10, 10, 1},
    {":sorn/images/bg_InputName.png", 1940, 15, 1},
    {":sorn/images/bg_InputPatchNo_default.png", 1940, 14, 1},
    {":sorn/images/bg_InputPatchNo_Sel.png", 1940, 14, 1},
    {":sorn/images/bg_OutputName.png", 60, 1940, 1},
    {":sorn/images/bg_OutputPatchNo_default.png", 14, 1940, 1},
    {":sorn/images/bg_OutputPatchNo_Sel.png", 14, 1940, 1},
};

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
