// The main window, the skinned panels, the firmware update window and the
// recovery updater against reviewed pictures.
//
// A pixel matches when no colour channel differs by more than kTolerance
// levels. Qt's raster engine picks its blending and smooth-scaling code by
// the processor it runs on, and those paths round differently by a level or
// two; anything a user would see (a moved edge or glyph, a wrong colour or
// picture) differs by far more. Sizes must match exactly.
//
// QUILLON_GOLDENS_UPDATE=1 writes the pictures instead (scripts/goldens).
#include "tests/screens/screens.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

constexpr int kTolerance = 8;

struct Golden {
    const char* test;
    const char* screen;
    ZoomCode code;
};

// One of each family's main panel, one edit window and one meter window at
// 100 %; the window and one panel of each kind again at 150 %, where scaled
// pictures meet fractional sizes (the rest share their drawing code). The
// firmware window with a package read and its units analysed at 100 and
// 150 %, and the recovery updater as it starts (it does not zoom).
const Golden kGoldens[] = {
    {"MainWindowEmpty100", "main-window-empty", 0},
    {"MainWindowMounted100", "main-window-mounted", 0},
    {"MainWindowMounted150", "main-window-mounted", 1},
    {"BroxPanel100", "brox_main_type11", 0},
    {"BroxPanel150", "brox_main_type11", 1},
    {"PellPanel100", "brox_main_type10", 0},
    {"SornPanel100", "iofam_sorn_online", 0},
    {"MavikPanel100", "iofam_mavik_online", 0},
    {"MavikPanel150", "iofam_mavik_online", 1},
    {"BroxEditWindow100", "brox_edit_type11", 0},
    {"BroxEditWindow150", "brox_edit_type11", 1},
    {"MeterWindow100", "meter_1line", 0},
    {"MeterWindow150", "meter_1line", 1},
    {"FirmUpdateReady100", "firmupdate_ready", 0},
    {"FirmUpdateReady150", "firmupdate_ready", 1},
    {"RecoveryIdle100", "updater_idle", 0},
};

struct Comparison {
    int differing = 0;
    int worst = 0;
    QPoint worstAt;
    QImage diff;
};

int channelDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// Both images in RGB32 and of one size. The diff shows the expected picture
// faded, with every pixel beyond the tolerance in red.
Comparison compare(const QImage& expected, const QImage& actual)
{
    Comparison result;
    result.diff = expected.convertToFormat(QImage::Format_RGB32);
    {
        QPainter fade(&result.diff);
        fade.fillRect(result.diff.rect(), QColor(255, 255, 255, 190));
    }
    for (int y = 0; y < expected.height(); ++y) {
        const auto* e = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
        const auto* a = reinterpret_cast<const QRgb*>(actual.constScanLine(y));
        auto* d = reinterpret_cast<QRgb*>(result.diff.scanLine(y));
        for (int x = 0; x < expected.width(); ++x) {
            const int distance = channelDistance(e[x], a[x]);
            if (distance <= kTolerance)
                continue;
            ++result.differing;
            d[x] = qRgb(255, 0, 0);
            if (distance > result.worst) {
                result.worst = distance;
                result.worstAt = QPoint(x, y);
            }
        }
    }
    return result;
}

// Lossless and small: a palette when the picture has few colours (most
// screens do), otherwise plain RGB at the strongest compression.
bool savePng(const QImage& image, const QString& path)
{
    QVector<QRgb> colours;
    QHash<QRgb, int> index;
    for (int y = 0; y < image.height() && colours.size() <= 256; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width() && colours.size() <= 256; ++x) {
            if (!index.contains(line[x])) {
                index.insert(line[x], colours.size());
                colours.push_back(line[x]);
            }
        }
    }
    if (colours.size() > 256)
        return image.save(path, "PNG", 0);
    QImage indexed(image.size(), QImage::Format_Indexed8);
    indexed.setColorTable(colours);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        uchar* out = indexed.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            out[x] = static_cast<uchar>(index.value(line[x]));
    }
    return indexed.save(path, "PNG", 0);
}

class GoldenTest : public testing::Test {
public:
    explicit GoldenTest(const Golden& golden)
        : m_golden(golden)
    {
    }

    void TestBody() override
    {
        const screens::ScreenEntry* entry = screens::findScreen(QLatin1String(m_golden.screen));
        ASSERT_NE(entry, nullptr) << "no screen named " << m_golden.screen;
        const QImage actual = screens::renderScreen(*entry, m_golden.code).convertToFormat(QImage::Format_RGB32);
        ASSERT_FALSE(actual.isNull());
        const QString name = QLatin1String(m_golden.test);
        const QString goldenPath = QStringLiteral(QUILLON_GOLDENS_DIR "/%1.png").arg(name);
        if (qEnvironmentVariableIntValue("QUILLON_GOLDENS_UPDATE") == 1) {
            ASSERT_TRUE(savePng(actual, goldenPath)) << goldenPath.toStdString();
            std::printf("wrote %s\n", qPrintable(goldenPath));
            return;
        }
        const QImage expected(goldenPath);
        ASSERT_FALSE(expected.isNull()) << "no golden picture " << goldenPath.toStdString()
                                        << " (scripts/goldens writes it)";
        const QString out = QStringLiteral(QUILLON_GOLDENS_OUT);
        QDir().mkpath(out);
        const QString actualPath = QStringLiteral("%1/%2.actual.png").arg(out, name);
        if (expected.size() != actual.size()) {
            actual.save(actualPath);
            FAIL() << name.toStdString() << ": size " << actual.width() << "x" << actual.height() << ", golden "
                   << expected.width() << "x" << expected.height() << "; picture in " << actualPath.toStdString();
        }
        const Comparison result = compare(expected.convertToFormat(QImage::Format_RGB32), actual);
        if (result.differing == 0)
            return;
        const QString diffPath = QStringLiteral("%1/%2.diff.png").arg(out, name);
        result.diff.save(diffPath);
        actual.save(actualPath);
        ADD_FAILURE() << name.toStdString() << ": " << result.differing << " pixels differ by more than " << kTolerance
                      << " (worst " << result.worst << " at " << result.worstAt.x() << "," << result.worstAt.y()
                      << "); diff in " << diffPath.toStdString() << ", picture in " << actualPath.toStdString();
    }

private:
    const Golden m_golden;
};

const bool kRegistered = [] {
    for (const Golden& golden : kGoldens) {
        testing::RegisterTest("Goldens", golden.test, nullptr, nullptr, __FILE__, __LINE__,
            [golden]() -> testing::Test* { return new GoldenTest(golden); });
    }
    return true;
}();

} // namespace
