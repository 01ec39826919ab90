// A raw firmware image file: its used length by file size, the image bytes,
// and the model name and version kept in the footer near the end.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>

class UpdateFile : public QFile {
    Q_OBJECT
public:
    // Every boot image uses this many bytes, whatever the file's size.
    static constexpr uint32_t kBootUsedLength = 0xE0000;
    // Footer offsets counted back from the used length.
    static constexpr uint32_t kVersionBack = 245;
    static constexpr uint32_t kModelBack = 225;
    static constexpr int kVersionSize = 5;
    static constexpr int kModelSize = 16;

    explicit UpdateFile(QObject* parent = nullptr);

    // True when the file could be read and its size is one of the accepted.
    bool load(const QString& path, bool bootMode);
    // The program image's used length for a file size, 0 when refused.
    static uint32_t usedLengthForSize(int64_t fileSize);
    // Display text of a 5-byte footer version ("r0107" reads "R0.107").
    static QString versionText(const QByteArray& bytes);

    // From `offset`, at most `length` bytes; a negative length means to the end.
    QByteArray data(int64_t offset, int64_t length) const;
    void clear();
    void setUpdated(bool updated) { m_updated = updated ? 1 : 0; }

    const QString& path() const { return m_path; }
    const QString& modelName() const { return m_modelName; }
    const QString& versionText() const { return m_versionText; }
    uint32_t usedLength() const { return m_usedLengthInEffect; }
    int64_t fileSize() const { return m_fileSize; }
    bool isUpdated() const { return m_updated != 0; }
    // The image bytes held (at most the used length).
    const QByteArray& imageData() const { return m_data; }

private:
    QString m_path;
    QString m_modelName;
    QString m_versionText;
    uint32_t m_usedLength = 0;
    uint32_t m_usedLengthInEffect = 0;
    QByteArray m_data;
    uint32_t m_updated = 0;
    int64_t m_fileSize = 0;
};
