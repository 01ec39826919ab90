#include "device/memory/dev_mempath.h"

#include <QStringList>

namespace Quil {

bool readIndex(const QStringRef& text, uint32_t* out)
{
    if (text.isEmpty())
        return false;
    uint64_t value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        value = value * 10 + static_cast<uint64_t>(c.unicode() - '0');
        if (value > UINT32_MAX)
            return false;
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

JResult buildMemPath(const char* function, const char* namePath, const uint32_t* indexes, uint32_t count, QString* out)
{
    if (!function || !namePath || !indexes || !out)
        return DEV_E_FAIL;
    const QStringList parts = QString::fromUtf8(namePath).split(QLatin1Char('/'));
    if (static_cast<uint32_t>(parts.size()) != count)
        return DEV_E_FAIL;
    QString path = QLatin1Char('/') + QString::fromUtf8(function);
    for (uint32_t i = 0; i < count; ++i)
        // Concatenated, not arg(): a name may hold "%1" itself.
        path += QLatin1Char('/') + parts[static_cast<int>(i)] + QLatin1Char(':') + QString::number(indexes[i]);
    *out = path;
    return DEV_OK;
}

JResult parseMemPath(const QString& path, MemAddress* out)
{
    if (!out)
        return DEV_E_FAIL;
    // Names go to the memory as C strings: a NUL would cut one short and
    // make the path name another element than its text says.
    if (path.contains(QChar(0)))
        return DEV_E_FAIL;
    const QVector<QStringRef> parts = path.splitRef(QLatin1Char('/'));
    if (parts.size() < 2 || !parts[0].isEmpty() || parts[1].isEmpty())
        return DEV_E_FAIL;
    MemAddress address;
    address.function = parts[1].toUtf8().toStdString();
    QStringList names;
    for (int i = 2; i < parts.size(); ++i) {
        const QStringRef& part = parts[i];
        const int colon = part.indexOf(QLatin1Char(':'));
        names << (colon < 0 ? part.toString() : part.left(colon).toString());
        uint32_t index = 0;
        if (colon >= 0 && readIndex(part.mid(colon + 1), &index))
            address.indexes.push_back(index);
    }
    if (!address.indexes.empty() && address.indexes.size() != static_cast<size_t>(names.size()))
        return DEV_E_FAIL;
    address.namePath = names.join(QLatin1Char('/')).toUtf8().toStdString();
    *out = std::move(address);
    return DEV_OK;
}

} // namespace Quil
