#include "ui/panels/panel_images.h"

#include <QFile>
#include <QImage>
#include <QPixmapCache>

namespace Panels {

QPixmap loadPicture(const QString& path)
{
    // Kept under the path alone: the resources never change while the
    // program runs, and QPixmap's own lookup asks every resource for its
    // time of change first (a time-zone check each), many times per panel.
    const QString key = QStringLiteral("quillon-picture:") + path;
    QPixmap picture;
    if (QPixmapCache::find(key, &picture))
        return picture;
    const QString file = QFile::exists(path) ? path : path + QStringLiteral(".png");
    picture = QPixmap::fromImage(QImage(file));
    if (!picture.isNull())
        QPixmapCache::insert(key, picture);
    return picture;
}

QPixmap loadPicture(const char* path)
{
    return loadPicture(QString::fromUtf8(path));
}

} // namespace Panels
