// The open and save-as flows of setup files: the file dialogs, the save
// question, the current file, the default folder and the dirty flag.
#pragma once

#include "device/memory/dev_result.h"
#include "pbd/FileCache/fcache_MBDF.h"

#include <QMessageBox>
#include <QObject>
#include <QString>

class QWidget;

namespace Quil {

class SetupRack;

// The user chose no file or declined to overwrite one.
constexpr JResult FILE_E_NOT_CHOSEN = static_cast<JResult>(0x80000001u);

class FileManager : public QObject {
    Q_OBJECT

public:
    explicit FileManager(SetupRack* rack, QObject* parent = nullptr);

    JResult open(QWidget* parent);
    JResult saveAs(QWidget* parent);
    QMessageBox::StandardButton maybeSave(QWidget* parent);
    bool saveIfWanted(QWidget* parent);

    bool isDirty() const { return m_dirty; }
    bool setDirty(bool dirty);
    JResult setDefaultDir(const QString& dir);
    const QString& defaultDir() const { return m_defaultDir; }
    JResult setCurrentFile(const QString& path);
    QString currentFilePath();
    QString untitledPath();
    // Raised by another thread, it stops the save in progress; the previous
    // file stays and the save counts as cancelled.
    void setAbortFlag(const FILECACHE::MBDFAbortFlag* flag) { m_abortFlag = flag; }

signals:
    void dirtyChanged(bool dirty);
    void fileChanged();

private:
    JResult load(const QString& path, const QString& filter, QString* errorText, bool* rackChanged);
    QString untitledPathWith(const QString& suffix);
    void warn(QWidget* parent, const char* what, const QString& errorText);

    SetupRack* const m_rack;
    QString m_currentFile;
    QString m_suffix = QStringLiteral("quil");
    bool m_dirty = false;
    int m_untitledCount = 1;
    QString m_untitledName;
    QString m_defaultDir;
    const FILECACHE::MBDFAbortFlag* m_abortFlag = nullptr;
};

} // namespace Quil
