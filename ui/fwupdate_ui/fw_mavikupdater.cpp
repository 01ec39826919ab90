#include "ui/fwupdate_ui/fw_mavikupdater.h"

#include "app/app_log.h"

#include <QStringList>

#include <cstdio>
#include <cstring>

namespace Quil {

namespace {

constexpr int kUnitVersionMax = 16;
// The window copies a row's device name whole; names are far shorter.
constexpr size_t kDeviceNameBuffer = 512;
constexpr int32_t kFail = static_cast<int32_t>(0x80000000u);

void logIndex(const char* format, uint32_t index)
{
    char line[96];
    snprintf(line, sizeof(line), format, static_cast<int>(index));
    appLogWrite(line);
}

// "major.minor" read as two decimal numbers; what does not read is 0.
void splitVersion(const QString& text, long long* major, long long* minor)
{
    const QStringList parts = text.split('.');
    bool ok = false;
    *major = parts.value(0).toLongLong(&ok);
    if (!ok)
        *major = 0;
    *minor = parts.value(1).toLongLong(&ok);
    if (!ok)
        *minor = 0;
}

// "V201a" -> "2.01": the last two digits before the "a" are the minor.
QString unitMajorMinor(QString text)
{
    if (text.startsWith('V'))
        text.remove(0, 1);
    if (text.endsWith('a'))
        text.chop(1);
    if (text.size() <= 2)
        return "0." + text;
    return text.left(text.size() - 2) + "." + text.right(2);
}

} // namespace

int32_t mavikVersionRelation(const QString& unitVersion, const QString& packageVersion)
{
    long long unitMajor = 0, unitMinor = 0, packageMajor = 0, packageMinor = 0;
    splitVersion(unitMajorMinor(unitVersion), &unitMajor, &unitMinor);
    splitVersion(packageVersion, &packageMajor, &packageMinor);
    if (unitMajor != packageMajor)
        return unitMajor < packageMajor ? 1 : -1;
    if (unitMinor != packageMinor)
        return unitMinor < packageMinor ? 1 : -1;
    return 0;
}

ModelFirmUpdater_Mavik::ModelFirmUpdater_Mavik(QObject* parent)
    : QObject(parent)
{
}

ModelFirmUpdater_Mavik::~ModelFirmUpdater_Mavik()
{
    releaseEngine();
}

int32_t ModelFirmUpdater_Mavik::init(IModelUICallback* callback, const QString& pcAddress, const QString& filePath,
    int32_t, const QString& packageVersion)
{
    releaseEngine();
    m_window = callback;
    m_pcAddress = pcAddress;
    m_filePath = filePath;
    m_packageVersion = packageVersion;
    connect(this, &ModelFirmUpdater_Mavik::signalMfuAppCallback_devID, this,
        &ModelFirmUpdater_Mavik::slotMfuAppCallback_devID,
        static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
    m_engine = std::make_unique<FirmwareUpdateManager_Mavik>();
    m_engine->setCallback(this);
    // A failed load is reported here once; the engine's own report of it
    // would end the window's next job as well.
    m_loading = true;
    const bool loaded = m_engine->loadPackage(filePath);
    m_loading = false;
    if (loaded)
        return 0;
    if (m_window)
        m_window->modelCallback(MODEL_CB_ERROR, 0);
    return kFail;
}

int32_t ModelFirmUpdater_Mavik::prepare(uint32_t, const QString&)
{
    if (!m_engine)
        return kFail;
    m_engine->setWaitingStart();
    return 0;
}

QString ModelFirmUpdater_Mavik::unitFirmwareVersion(uint32_t index)
{
    QString text;
    if (m_engine)
        m_engine->getUnitVersion(index, &text, kUnitVersionMax);
    return text;
}

int32_t ModelFirmUpdater_Mavik::versionRelation(uint32_t index)
{
    if (!m_engine)
        return -1;
    // The whole package version: four characters would turn "10.05" into "10.0".
    return mavikVersionRelation(unitFirmwareVersion(index), m_engine->packageVersion());
}

int32_t ModelFirmUpdater_Mavik::startUpdate(uint32_t index)
{
    return m_engine ? m_engine->startUpdate(index) : kFail;
}

int32_t ModelFirmUpdater_Mavik::overallProgress(int32_t* value)
{
    uint32_t progress = 0;
    if (m_engine)
        m_engine->getProgress(&progress);
    *value = static_cast<int32_t>(progress);
    return 0;
}

int32_t ModelFirmUpdater_Mavik::transferPercent(uint32_t, int32_t* value)
{
    *value = 0;
    return 0;
}

void ModelFirmUpdater_Mavik::setupFinished()
{
    if (m_engine)
        m_engine->clearWaitingStart();
}

void ModelFirmUpdater_Mavik::appCallback_devID(uint32_t kind, uint32_t rowIndex)
{
    if (!m_loading)
        emit signalMfuAppCallback_devID(kind, rowIndex);
}

void ModelFirmUpdater_Mavik::rowUnitText(uint32_t rowIndex, QString* text)
{
    if (!m_window)
        return;
    char name[kDeviceNameBuffer] = {};
    if (m_window->deviceName(rowIndex, name) == kFail)
        return;
    *text = QString::fromLocal8Bit(name, static_cast<int>(strnlen(name, sizeof(name))));
}

bool ModelFirmUpdater_Mavik::rowForUnitText(const QString& text, uint32_t* rowIndex)
{
    return m_window && m_window->unitIdOf(text.toLocal8Bit().constData(), rowIndex);
}

void ModelFirmUpdater_Mavik::slotMfuAppCallback_devID(uint kind, uint index)
{
    uint32_t windowKind = 0;
    switch (kind) {
    case MAVIK_CB_WAITING_START:
        logIndex("Mavik MFU_CALLBACK_WAITING_START : index %d", index);
        windowKind = MODEL_CB_WAITING_START;
        break;
    case MAVIK_CB_PROGRESS:
        logIndex("Mavik MFU_CALLBACK_PROGRESS : index %d", index);
        windowKind = MODEL_CB_WRITING_PROGRESS;
        break;
    case MAVIK_CB_FINISH:
        logIndex("Mavik MFU_CALLBACK_FINISH : index %d", index);
        windowKind = MODEL_CB_FINISHED;
        break;
    case MAVIK_CB_ERROR:
        logIndex("Mavik MFU_CALLBACK_ERROR : index %d", index);
        windowKind = MODEL_CB_ERROR;
        break;
    default:
        return;
    }
    if (m_window)
        m_window->modelCallback(windowKind, index);
}

} // namespace Quil
