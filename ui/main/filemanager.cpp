#include "ui/main/filemanager.h"

#include "app/app_fileloaderv1.h"
#include "app/app_setupfile.h"
#include "ui/main/busycursor.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace Quil {

namespace {

const char* const kTitle = "Quillon";
const char* const kFilterQuil = "Quillon File(*.quil)";
const char* const kFilterQln = "QuillonV1 File(*.qln)";

QString filterNameOf(const QString& suffix)
{
    if (suffix.compare(QLatin1String("qln"), Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(kFilterQln);
    return QString::fromLatin1(kFilterQuil);
}

QString suffixOfFilter(const QString& filter)
{
    return filter == QLatin1String(kFilterQln) ? QStringLiteral("qln") : QStringLiteral("quil");
}

// The chosen name with the filter's suffix in place of its own.
QString withSuffix(QString name, const QString& suffix)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > name.lastIndexOf(QLatin1Char('/')))
        name.truncate(dot);
    return name + QLatin1Char('.') + suffix;
}

QString initialDefaultDir()
{
    for (const auto location : {QStandardPaths::DocumentsLocation, QStandardPaths::HomeLocation}) {
        const QString dir = QStandardPaths::writableLocation(location);
        if (!dir.isEmpty())
            return dir;
    }
    return QDir::homePath();
}

} // namespace

FileManager::FileManager(SetupRack* rack, QObject* parent)
    : QObject(parent)
    , m_rack(rack)
    , m_defaultDir(initialDefaultDir())
{
}

bool FileManager::setDirty(bool dirty)
{
    if (m_dirty != dirty) {
        m_dirty = dirty;
        emit dirtyChanged(dirty);
    }
    return m_dirty;
}

JResult FileManager::setDefaultDir(const QString& dir)
{
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return DEV_E_FAIL;
    m_defaultDir = dir;
    return 0;
}

JResult FileManager::setCurrentFile(const QString& path)
{
    const QString old = m_currentFile;
    if (path.isEmpty()) {
        m_currentFile.clear();
    } else {
        const QFileInfo info(path);
        if (!info.isFile())
            return DEV_E_FAIL;
        setDefaultDir(info.absolutePath());
        m_suffix = info.suffix().toUpper();
        m_currentFile = info.absoluteFilePath();
    }
    if (m_currentFile != old) {
        m_untitledName.clear();
        emit fileChanged();
    }
    return 0;
}

QString FileManager::currentFilePath()
{
    return m_currentFile.isEmpty() ? untitledPath() : m_currentFile;
}

QString FileManager::untitledPath()
{
    return untitledPathWith(m_suffix);
}

QString FileManager::untitledPathWith(const QString& suffix)
{
    if (m_untitledName.isEmpty())
        m_untitledName = QStringLiteral("Untitled %1").arg(m_untitledCount++);
    return m_defaultDir + QLatin1Char('/') + m_untitledName + QLatin1Char('.') + suffix;
}

QMessageBox::StandardButton FileManager::maybeSave(QWidget* parent)
{
    if (!m_dirty)
        return QMessageBox::No;
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kTitle),
        QStringLiteral("Save changes to %1 ?").arg(QStringLiteral("a new file")),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool FileManager::saveIfWanted(QWidget* parent)
{
    const QMessageBox::StandardButton answer = maybeSave(parent);
    if (answer == QMessageBox::Cancel || (answer == QMessageBox::Yes && saveAs(parent) < 0))
        return false;
    setDirty(false);
    return true;
}

JResult FileManager::open(QWidget* parent)
{
    if (!saveIfWanted(parent))
        return DEV_E_FAIL;
    QString filter = filterNameOf(m_suffix);
    const QString path = QFileDialog::getOpenFileName(parent, QStringLiteral("Choose a document to load"), m_defaultDir,
        QStringLiteral("Quillon File(*.quil);;QuillonV1 File(*.qln)"), &filter);
    if (path.isEmpty())
        return FILE_E_NOT_CHOSEN;
    QString errorText;
    bool rackChanged = false;
    const JResult r = load(path, filter, &errorText, &rackChanged);
    if (r < 0)
        warn(parent, "Load", errorText);
    // A partly refused file still changed the rack: it is what a save would
    // write, so it becomes the current file rather than the one opened before.
    if (r >= 0 || rackChanged)
        setCurrentFile(path);
    return r;
}

JResult FileManager::load(const QString& path, const QString& filter, QString* errorText, bool* rackChanged)
{
    if (!m_rack)
        return DEV_E_FAIL;
    if (filter == QLatin1String(kFilterQuil)) {
        const BusyCursor busy;
        return loadProject(*m_rack, path, errorText, rackChanged);
    }
    if (filter == QLatin1String(kFilterQln)) {
        const BusyCursor busy;
        return FileLoaderV1(*m_rack).load(path, errorText, rackChanged);
    }
    *errorText = QStringLiteral("Different kind of data.");
    return DEV_E_FAIL;
}

JResult FileManager::saveAs(QWidget* parent)
{
    QString start = currentFilePath();
    if (QFileInfo(start).suffix() != QLatin1String("quil"))
        start = untitledPathWith(QStringLiteral("quil"));
    QString filter = filterNameOf(QFileInfo(start).suffix());
    const QString chosen = QFileDialog::getSaveFileName(parent, QStringLiteral("Choose a filename to save under"),
        start, QString::fromLatin1(kFilterQuil), &filter, QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty())
        return FILE_E_NOT_CHOSEN;
    const QString name = withSuffix(chosen, suffixOfFilter(filter));
    if (QFileInfo::exists(name)) {
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(kTitle),
            QStringLiteral("%1 already exists.\nDo you want to overwrite it?").arg(name),
            QMessageBox::Yes | QMessageBox::No, parent);
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return FILE_E_NOT_CHOSEN;
    }
    if (!m_rack)
        return DEV_E_FAIL;
    QString errorText;
    JResult r = 0;
    {
        const BusyCursor busy;
        r = saveProject(*m_rack, name, &errorText, m_abortFlag);
    }
    // An abort was asked for: the previous file stays and nothing failed.
    if (r == FILECACHE::FCACHE_E_ABORTED)
        return FILE_E_NOT_CHOSEN;
    if (r < 0) {
        warn(parent, "Save", errorText);
        return DEV_E_FAIL;
    }
    setCurrentFile(name);
    return r;
}

void FileManager::warn(QWidget* parent, const char* what, const QString& errorText)
{
    QMessageBox::warning(parent, QString::fromLatin1(kTitle),
        QStringLiteral("%1 operation not complete due to an error.\n\n%2").arg(QLatin1String(what), errorText));
}

} // namespace Quil
