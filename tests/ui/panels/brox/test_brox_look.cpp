// What the Brox pictures must leave alone: the widgets sit at fixed places
// over them, so a frame line or caption drawn there shows through a column,
// a transparent label or a button that writes its own text. And the set-up
// block's captions must fit their fixed labels at every zoom.
#include "tests/support/gui/gui_support.h"
#include "ui/panels/brox_delayscaleunit.h"
#include "ui/widgets/zscaled.h"

#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QStringList>
#include <gtest/gtest.h>

#include <vector>

namespace {

// Every pixel of the area has one colour: nothing is drawn there.
::testing::AssertionResult isPlain(const QImage& image, const QRect& area)
{
    const QRgb first = image.pixel(area.topLeft());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (image.pixel(x, y) != first)
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

QImage picture(const char* name)
{
    return QImage(QStringLiteral(":brox/images/") + QLatin1String(name)).convertToFormat(QImage::Format_ARGB32);
}

} // namespace

TEST(BroxLook, MainBackgroundsLeaveEveryColumnPlaceClear)
{
    // Columns are 58 x 120 (HPF switch included) at 57 + 68 (i mod 8),
    // 14 + 132 (i div 8).
    const struct {
        const char* name;
        int columns;
    } rows[] = {
        {"bg_dev_BroxLD.png", 32},
        {"bg_dev_BroxMD.png", 16},
        {"bg_dev_BroxID.png", 8},
        {"bg_dev_BroxLD3Output.png", 24},
    };
    for (const auto& row : rows) {
        const QImage image = picture(row.name);
        ASSERT_FALSE(image.isNull()) << row.name;
        for (int i = 0; i < row.columns; ++i) {
            const QRect place(57 + 68 * (i % 8), 14 + 132 * (i / 8), 58, 120);
            EXPECT_TRUE(isPlain(image, place)) << row.name << " column " << i;
        }
    }
}

TEST(BroxLook, SetupBlockPictureIsPlainUnderItsWidgets)
{
    const QImage image = picture("bg_delayscale_output.png");
    ASSERT_EQ(image.size(), QSize(554, 130));
    const QRect widgets[] = {
        {98, 23, 48, 18}, {186, 23, 48, 18}, {274, 23, 48, 18}, {362, 23, 48, 18}, {450, 23, 48, 18}, // scales
        {502, 23, 42, 11}, // frame rate
        {147, 14, 38, 38}, {234, 14, 38, 38}, {322, 14, 38, 38}, {502, 34, 38, 13}, // labels
        {34, 102, 58, 11}, {142, 102, 58, 11}, // phones sources
        {94, 72, 9, 45}, {201, 72, 9, 45}, // phones meters
        {451, 100, 48, 18}, // impedance
    };
    for (const QRect& area : widgets)
        EXPECT_TRUE(isPlain(image, area)) << area.x() << "," << area.y();
}

TEST(BroxLook, ImpedanceButtonPictureCarriesNoText)
{
    // The panel writes "600" or "10k" on it; each row inside the border
    // must be one colour in both frames.
    const QImage image = picture("tbtn_impedance.png");
    ASSERT_EQ(image.size(), QSize(48, 36));
    for (int frame = 0; frame < 2; ++frame) {
        for (int y = 4; y < 14; ++y)
            EXPECT_TRUE(isPlain(image, QRect(4, frame * 18 + y, 40, 1))) << "frame " << frame;
    }
}

TEST(BroxLook, HpfFaceEndsAboveTheColumnFoot)
{
    // The switch at 100 in a 118-pixel column loses its last two rows.
    const QImage image = picture("tbtn_HPF.png");
    ASSERT_EQ(image.size(), QSize(56, 80));
    for (int frame = 0; frame < 4; ++frame) {
        EXPECT_GT(qAlpha(image.pixel(28, frame * 20 + 16)), 0) << "frame " << frame;
        for (int y = 18; y < 20; ++y)
            EXPECT_TRUE(isPlain(image, QRect(0, frame * 20 + y, 56, 1))) << "frame " << frame << " row " << y;
        EXPECT_EQ(qAlpha(image.pixel(28, frame * 20 + 18)), 0) << "frame " << frame;
    }
}

TEST(BroxLook, SetupBlockCaptionsFitTheirLabelsAtEveryZoom)
{
    Brox::MainDelayScaleUnitOutput block(11, 32, 24);
    const QStringList rates = {QStringLiteral("44.1kHz"), QStringLiteral("48kHz"), QStringLiteral("88.2kHz"),
        QStringLiteral("96kHz"), QStringLiteral("176.4kHz"), QStringLiteral("192kHz")};
    for (const ZoomCode zoom : {0u, 1u, 2u}) {
        block.applyScale(zoom);
        for (QLabel* label : block.findChildren<QLabel*>()) {
            QStringList texts = {label->text()};
            if (label->text().isEmpty()) { // the word-clock rate
                texts.clear();
                for (const QString& rate : rates)
                    texts << QStringLiteral("Fs=\n") + rate;
            }
            const QFontMetrics metrics(label->font());
            const QRect room = label->contentsRect();
            for (const QString& text : texts) {
                const QStringList lines = text.split(QLatin1Char('\n'));
                for (const QString& line : lines)
                    EXPECT_LE(metrics.horizontalAdvance(line), room.width()) << qPrintable(line) << " zoom " << zoom;
                EXPECT_LE(metrics.height() * lines.size(), room.height()) << qPrintable(text) << " zoom " << zoom;
            }
        }
    }
}
