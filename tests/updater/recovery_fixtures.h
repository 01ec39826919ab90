// Image files for the recovery tests: sparse files of an accepted size with
// an offset pattern every 64 KiB (so equal lengths at different offsets
// differ) and a footer at the used length.
#pragma once

#include "updater/update_file.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>

namespace recoverytest {

inline bool writeImage(
    const QString& path, int64_t size, uint32_t footerAt, const QByteArray& version, const QByteArray& model)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size))
        return false;
    for (int64_t offset = 0; offset + 8 <= size; offset += 0x10000) {
        QByteArray mark = QByteArray::number(static_cast<qlonglong>(offset), 16).rightJustified(8, '0');
        if (!file.seek(offset) || file.write(mark) != mark.size())
            return false;
    }
    if (footerAt != 0 && footerAt <= size) {
        if (!file.seek(footerAt - UpdateFile::kVersionBack) || file.write(version) != version.size())
            return false;
        QByteArray name = model.leftJustified(UpdateFile::kModelSize, '\0', true);
        if (!file.seek(footerAt - UpdateFile::kModelBack) || file.write(name) != name.size())
            return false;
    }
    return true;
}

} // namespace recoverytest
