// Sheets of every generated picture: controls at their own size, panels and
// long strips shrunk to fit.
#include "tests/screens/screen_sheet.h"
#include "tests/screens/screens.h"

#include "tests/support/gui/skin_table.h"

#include <QFileInfo>

namespace screens {
namespace {

bool isLarge(const qtest::SkinRow& row)
{
    return row.width * row.height >= 300 * 100 || row.width > 600 || row.height > 600;
}

QString shortName(const char* path)
{
    QString p = QString::fromUtf8(path).mid(1);
    return p.startsWith(QLatin1Char('/')) ? p.mid(1) : p;
}

std::unique_ptr<QWidget> controlSkins(ZoomCode code)
{
    Sheet sheet(1000);
    for (const qtest::SkinRow& row : qtest::kSkins)
        if (!isLarge(row) && QFileInfo(QString::fromUtf8(row.path)).suffix() == QLatin1String("png"))
            sheet.frames(QString::fromUtf8(row.path), row.frames, shortName(row.path));
    sheet.frames(QStringLiteral(":sorn/images/tbtn_PRESET.png"), 2, QStringLiteral("sorn/images/tbtn_PRESET.png"));
    sheet.frames(QStringLiteral(":sorn/images/tbtn_CLEARALL.png"), 2, QStringLiteral("sorn/images/tbtn_CLEARALL.png"));
    return sheet.finish(code);
}

std::unique_ptr<QWidget> panelSkins(ZoomCode code)
{
    Sheet sheet(1000);
    for (const qtest::SkinRow& row : qtest::kSkins)
        if (isLarge(row) && row.width < 1000 && row.height < 1000)
            sheet.frames(QString::fromUtf8(row.path), row.frames, shortName(row.path), 1, 2);
    for (int n = 0; n < 8; ++n)
        sheet.frames(QStringLiteral(":sorn/images/bg_pattern_%1.png").arg(n), 1,
            QStringLiteral("sorn/images/bg_pattern_%1.png").arg(n), 1, 2);
    return sheet.finish(code);
}

std::unique_ptr<QWidget> stripSkins(ZoomCode code)
{
    Sheet sheet(1000);
    for (const qtest::SkinRow& row : qtest::kSkins) {
        if (row.width < 1000 && row.height < 1000)
            continue;
        // Long strips: the first 500 pixels are enough to judge the look.
        const QPixmap picture(QString::fromUtf8(row.path));
        const bool wide = row.width > row.height;
        auto* l = new ZScaledLabel;
        const QRect part = wide ? QRect(0, 0, 500, row.height) : QRect(0, 0, row.width, 500);
        l->setPixmap(picture.copy(part));
        sheet.place(l, part.size(), shortName(row.path));
    }
    return sheet.finish(code);
}

const ScreenRegistrar kControls({QStringLiteral("skins-controls"), controlSkins, nullptr});
const ScreenRegistrar kPanels({QStringLiteral("skins-panels"), panelSkins, nullptr});
const ScreenRegistrar kStrips({QStringLiteral("skins-strips"), stripSkins, nullptr});

} // namespace
} // namespace screens
