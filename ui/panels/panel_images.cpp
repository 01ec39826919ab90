#include "ui/panels/panel_images.h"

#include <QFile>

namespace Panels {

QPixmap loadPicture(const QString& path)
{
    if (QFile::exists(path))
        return QPixmap(path);
    return QPixmap(path + QStringLiteral(".png"));
}

} // namespace Panels
