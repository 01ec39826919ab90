#include "fwupdate/mavik/manager/mavik_manager.h"

#include "fwupdate/mavik/mavik_contents.h"
#include "fwupdate/mavik/mavik_decompress.h"
#include "fwupdate/workgroup/wg_document.h"
#include "fwupdate/workgroup/wg_handoff.h"
#include "fwupdate/workgroup/wg_heartbeat.h"
#include "fwupdate/workgroup/wg_session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QTimerEvent>

#include <cerrno>
#include <sys/stat.h>

namespace {

constexpr int kInitDelayMs = 10;
constexpr int kSessionReady = 3; // unit state of an established session
constexpr int kFolderNamesTried = 100000;
constexpr char kDescriptionFilter[] = "updater_contents*.xml";

// The unit reports its progress in the first status byte of 3/1.
uint32_t statusPercent(const WG::FirmUpdateStatusEvent& e)
{
    return e.byte22;
}

bool sessionReady(const WG::WorkgroupMember& m)
{
    return m.session && m.unitState() == kSessionReady;
}

} // namespace

MavikManagerTimes& mavikManagerTimes()
{
    static MavikManagerTimes times;
    return times;
}

QString mavik_makeExtractionFolder(const QString& base, const QString& name)
{
    if (base.isEmpty())
        return QString(); // not the root folder
    const QString stem = base + "/" + name;
    for (int n = 0; n < kFolderNamesTried; ++n) {
        const QString candidate = n == 0 ? stem : stem + QString::number(n);
        // mkdir itself decides whether the name is free: no window between
        // a check and the creation.
        if (::mkdir(QFile::encodeName(candidate).constData(), 0700) == 0)
            return candidate + "/";
        if (errno != EEXIST)
            return QString();
    }
    return QString();
}

void MavikProgress::start(uint64_t deviceId)
{
    m_members[deviceId] = 0;
    m_reported = 0;
}

bool MavikProgress::update(uint64_t deviceId, uint32_t percent)
{
    auto it = m_members.find(deviceId);
    if (it == m_members.end())
        return false;
    it.value() = static_cast<uint8_t>(percent > 100 ? 100 : percent);
    uint32_t sum = 0;
    for (uint8_t p : m_members)
        sum += p;
    const uint32_t average = sum / static_cast<uint32_t>(m_members.size());
    if (average <= m_reported)
        return false;
    m_reported = average;
    return true;
}

void MavikProgress::clear()
{
    m_members.clear();
    m_reported = 0;
}

FirmwareUpdateManager_Mavik::FirmwareUpdateManager_Mavik(QObject* parent)
    : QObject(parent)
{
    QTimer::singleShot(kInitDelayMs, this, &FirmwareUpdateManager_Mavik::slotInit);
}

FirmwareUpdateManager_Mavik::~FirmwareUpdateManager_Mavik()
{
    if (m_document)
        m_document->removeAll();
    removeFolder();
    if (m_timerId)
        killTimer(m_timerId);
    m_heartbeat.reset();
    m_document.reset();
}

void FirmwareUpdateManager_Mavik::slotInit()
{
    if (m_document)
        return;
    m_document = std::make_unique<WG::WorkgroupManagerDoc>(this);
    m_heartbeat = std::make_unique<WG::Heartbeat>(m_document.get());
    m_timerId = startTimer(mavikManagerTimes().tickMs, Qt::CoarseTimer);
}

void FirmwareUpdateManager_Mavik::report(uint32_t kind, uint32_t row)
{
    if (m_callback)
        m_callback->appCallback_devID(kind, row);
}

void FirmwareUpdateManager_Mavik::removeFolder()
{
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
    m_folder.clear();
}

bool FirmwareUpdateManager_Mavik::failLoad(bool reportIt)
{
    removeFolder();
    m_descriptionPath.clear();
    if (reportIt)
        report(MAVIK_CB_ERROR, 0);
    return false;
}

bool FirmwareUpdateManager_Mavik::loadPackage(const QString& path)
{
    m_waitingStart = false;
    if (path.isEmpty())
        return false;
    removeFolder();
    m_descriptionPath.clear();
    m_packageRoot.clear();
    m_packageVersion.clear();

    const QString name = QFileInfo(path).completeBaseName();
    m_folder = mavik_makeExtractionFolder(QDir::tempPath(), name);
    if (m_folder.isEmpty())
        m_folder = mavik_makeExtractionFolder(QDir::homePath(), name);
    if (m_folder.isEmpty())
        return failLoad(true); // nothing unpacked, nothing of the user's removed

    Decompress decompress;
    QStringList files;
    if (!decompress.extractMatching(path, m_folder, &files, kDescriptionFilter))
        return failLoad(true);
    if (!files.isEmpty()) {
        m_descriptionPath = files.first();
        QStringList all;
        if (!decompress.extractAll(path, m_folder, &all))
            return failLoad(true);
        // Units must not reboot by themselves: the window decides when.
        if (disableRebootAfterUpdate(m_descriptionPath) != MAVIK_OK)
            return failLoad(true);
    }
    m_packagePath = path;
    UpdaterContentsReader reader;
    QString root;
    QString version;
    if (m_descriptionPath.isEmpty() || !reader.read(m_descriptionPath, &root, &version))
        return failLoad(false);
    m_packageRoot = root;
    m_packageVersion = version;
    return true;
}

void FirmwareUpdateManager_Mavik::getPackageVersion(QString* text) const
{
    *text = m_packageVersion.left(MAVIK_PACKAGE_VERSION_MAX);
}

void FirmwareUpdateManager_Mavik::getUnitVersion(uint32_t rowIndex, QString* text, int size)
{
    if (!m_callback || !m_document)
        return;
    QString unit;
    m_callback->rowUnitText(rowIndex, &unit);
    unit.truncate(MAVIK_UNIT_TEXT_MAX);
    if (unit.isEmpty())
        return; // an empty text would match every member
    for (bool discovered : {false, true}) {
        for (const WG::WorkgroupMember& m : m_document->snapshot(discovered)) {
            if (!m.deviceIdText.startsWith(unit))
                continue;
            const uint32_t major = (m.value28 >> 24) & 0xff;
            const uint32_t minor = (m.value28 >> 16) & 0xff;
            *text = QString("V%1%2a").arg(major).arg(minor, 2, 10, QChar('0')).left(size < 0 ? 0 : size);
        }
    }
}

int32_t FirmwareUpdateManager_Mavik::getProgress(uint32_t* value) const
{
    *value = m_progress.reported();
    return MAVIK_OK;
}

int32_t FirmwareUpdateManager_Mavik::setWaitingStart()
{
    if (m_waitingStart)
        return MAVIK_E_FAIL;
    m_waitingStart = true;
    return MAVIK_OK;
}

int32_t FirmwareUpdateManager_Mavik::startUpdate(uint32_t rowIndex)
{
    QString unit;
    if (m_callback)
        m_callback->rowUnitText(rowIndex, &unit);
    m_row = static_cast<uint8_t>(rowIndex);
    if (!m_document) {
        report(MAVIK_CB_ERROR, m_row);
        return MAVIK_E_FAIL;
    }
    m_document->removeAll(); // sessions left from a previous run

    std::vector<uint64_t> ids;
    if (m_packageRoot.compare(QLatin1String(MAVIK_PACKAGE_ROOT), Qt::CaseInsensitive) == 0 && !unit.isEmpty()) {
        for (const WG::WorkgroupMember& m : m_document->snapshot(true))
            if (m.modelType == MAVIK_MODEL_CODE && m.deviceIdText == unit)
                ids.push_back(m.deviceId);
    }
    if (ids.empty()) {
        report(MAVIK_CB_ERROR, m_row);
        return MAVIK_E_FAIL;
    }
    m_ticks = 0;
    for (uint64_t id : ids)
        m_document->joinMember(id, false, 0); // the next heartbeat opens the session
    m_runState = WaitingForSessions;
    return MAVIK_OK;
}

void FirmwareUpdateManager_Mavik::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timerId || !m_document) {
        QObject::timerEvent(event);
        return;
    }
    m_document->ageMembers();
    if (m_waitingStart && m_callback) {
        for (bool discovered : {false, true}) {
            for (const WG::WorkgroupMember& m : m_document->snapshot(discovered)) {
                uint32_t row = 0;
                if (m_callback->rowForUnitText(m.deviceIdText, &row))
                    report(MAVIK_CB_WAITING_START, row);
            }
        }
    }
    if (m_runState != WaitingForSessions)
        return;
    uint64_t notReady = 0;
    bool allReady = true;
    for (const WG::WorkgroupMember& m : m_document->snapshot(false)) {
        if (!sessionReady(m)) {
            allReady = false;
            notReady = m.deviceId;
            break;
        }
    }
    if (allReady) {
        QTimer::singleShot(0, this, &FirmwareUpdateManager_Mavik::slotStartUpdate);
        return;
    }
    if (++m_ticks > mavikManagerTimes().readyTicks)
        handleReply(1, notReady, true);
}

void FirmwareUpdateManager_Mavik::slotStartUpdate()
{
    // Ticks may have scheduled it twice; the start goes out once.
    if (m_runState != WaitingForSessions || !m_document)
        return;
    m_runState = Started;
    QString error;
    if (m_document->prepareFirmwareUpdate(m_descriptionPath, m_folder, m_packagePath, &error)) {
        uint64_t last = 0;
        for (const WG::WorkgroupMember& m : m_document->snapshot(false))
            if (m.session)
                last = m.deviceId;
        if (last != 0)
            m_document->setFirmwareManager(this);
        return;
    }
    resetRun();
    report(MAVIK_CB_ERROR, m_row);
}

void FirmwareUpdateManager_Mavik::customEvent(QEvent* event)
{
    WG::acceptHandoff();
    if (event->type() == WG::kWakeManagerEvent) {
        startMembers();
    } else if (event->type() == WG::FirmUpdateReplyEvent::kType) {
        const auto* e = static_cast<WG::FirmUpdateReplyEvent*>(event);
        handleReply(e->result, e->deviceId, true);
    } else if (event->type() == WG::FirmUpdateStatusEvent::kType) {
        // Only members whose start went out take part in the average.
        const auto* e = static_cast<WG::FirmUpdateStatusEvent*>(event);
        if (m_progress.update(e->deviceId, statusPercent(*e)))
            report(MAVIK_CB_PROGRESS, m_row);
    }
}

void FirmwareUpdateManager_Mavik::startMembers()
{
    if (!m_document || m_runState != Started)
        return;
    const QByteArray fileName = QFile::encodeName(QFileInfo(m_descriptionPath).fileName());
    for (const WG::WorkgroupMember& m : m_document->snapshot(false)) {
        if (!m.session)
            continue;
        if (m_document->startMemberUpdate(m.deviceId, fileName, this)) {
            m_progress.start(m.deviceId);
            report(MAVIK_CB_PROGRESS, m_row);
        } else {
            // One report per member: its failure ends the row's job.
            report(MAVIK_CB_ERROR, m_row);
            handleReply(1, m.deviceId, false);
        }
    }
}

bool FirmwareUpdateManager_Mavik::isSessionMember(uint64_t deviceId) const
{
    for (const WG::WorkgroupMember& m : m_document->snapshot(false))
        if (m.deviceId == deviceId)
            return true;
    return false;
}

void FirmwareUpdateManager_Mavik::handleReply(uint16_t result, uint64_t deviceId, bool reportIt)
{
    if (!m_document || !isSessionMember(deviceId))
        return;
    if (reportIt && result == 0)
        report(MAVIK_CB_FINISH, m_row);
    else if (reportIt && result != 8)
        report(MAVIK_CB_ERROR, m_row);
    m_document->removeMember(deviceId, 0);
    endRunIfNoMemberLeft();
}

void FirmwareUpdateManager_Mavik::endRunIfNoMemberLeft()
{
    if (m_document->snapshot(false).empty())
        resetRun();
}

void FirmwareUpdateManager_Mavik::resetRun()
{
    m_runState = Idle;
    m_progress.clear();
    m_ticks = 0;
}
