// Pictures of the panels, from the skin resources.
#pragma once

#include <QPixmap>
#include <QString>

namespace Panels {

// The resource at `path`; a path without extension resolves to the PNG of
// that name.
QPixmap loadPicture(const QString& path);
// The same for a resource path written in the source (UTF-8).
QPixmap loadPicture(const char* path);

} // namespace Panels
