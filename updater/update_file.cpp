#include "updater/update_file.h"

#include <QFileInfo>

namespace {

struct SizeRow {
    int64_t fileSize;
    uint32_t usedLength;
};

constexpr SizeRow kSizes[] = {
    {0x100000, 0x10F010},
    {0x200000, 0x10F010},
    {0x300000, 0x20F010},
    {0x400000, 0x30F010},
    {0x420000, 0x40F010},
    {0x620000, 0x60F010},
    {0x700000, 0x60F010},
};

} // namespace

UpdateFile::UpdateFile(QObject* parent)
    : QFile(parent)
{
}

uint32_t UpdateFile::usedLengthForSize(int64_t fileSize)
{
    for (const SizeRow& row : kSizes) {
        if (row.fileSize == fileSize)
            return row.usedLength;
    }
    return 0;
}

bool UpdateFile::load(const QString& path, bool bootMode)
{
    clear();
    setFileName(path);
    if (!open(QIODevice::ReadOnly))
        return false;
    const int64_t fileSize = size();
    const uint32_t programLength = usedLengthForSize(fileSize);
    if (programLength == 0) {
        close();
        return false;
    }
    const uint32_t used = bootMode ? kBootUsedLength : programLength;
    QByteArray bytes = read(used);
    const bool complete = bytes.size() == std::min<int64_t>(used, fileSize);
    close();
    if (!complete)
        return false;

    m_usedLength = used;
    m_usedLengthInEffect = used;
    m_fileSize = fileSize;
    m_data = std::move(bytes);
    // The model name field ends 209 bytes before the used length; a file
    // shorter than that (a 1 MiB program image) has no footer in its data.
    if (static_cast<int64_t>(used) - kModelBack + kModelSize <= m_data.size()) {
        m_versionText = versionText(m_data.mid(static_cast<int>(used - kVersionBack), kVersionSize));
        const QByteArray name = m_data.mid(static_cast<int>(used - kModelBack), kModelSize);
        const int end = name.indexOf('\0');
        m_modelName = QString::fromUtf8(name.left(end < 0 ? name.size() : end));
    } else {
        m_versionText = QStringLiteral("Unknown");
    }
    m_path = path;
    return true;
}

QString UpdateFile::versionText(const QByteArray& bytes)
{
    const QString unknown = QStringLiteral("Unknown");
    if (bytes.size() != kVersionSize)
        return unknown;
    for (const char c : bytes) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte >= 0x7F)
            return unknown;
    }
    const QString text = QString::fromLatin1(bytes);
    const QChar first = text.at(0);
    const bool letter = first == 'R' || first == 'r' || first == 'V' || first == 'v';
    if (letter && text.at(1) >= '0' && text.at(1) <= '9') {
        QString shown = text.toUpper();
        shown.insert(2, '.');
        return shown;
    }
    return text;
}

QByteArray UpdateFile::data(int64_t offset, int64_t length) const
{
    if (offset < 0 || offset >= m_data.size())
        return QByteArray();
    const int64_t rest = m_data.size() - offset;
    const int64_t count = length < 0 ? rest : std::min(length, rest);
    return m_data.mid(static_cast<int>(offset), static_cast<int>(count));
}

void UpdateFile::clear()
{
    if (isOpen())
        close();
    m_path.clear();
    m_modelName.clear();
    m_versionText.clear();
    m_usedLength = 0;
    m_usedLengthInEffect = 0;
    m_data.clear();
    m_updated = 0;
    m_fileSize = 0;
}
