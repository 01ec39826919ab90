#include "ui/fwupdate_ui/fw_modelupdater.h"

#include "app/app_log.h"
#include "device/layouts/dev_modeltypes.h"
#include "fwupdate/mfu/mfu_rules.h"

#include <cstdio>
#include <cstring>

namespace Quil {

namespace {

void logModelIndex(const char* format, uint32_t index)
{
    char line[96];
    snprintf(line, sizeof(line), format, static_cast<int>(index));
    appLogWrite(line);
}

} // namespace

uint32_t modelCodeOfDeviceType(int32_t deviceType)
{
    const ModelTraits* traits = modelTraits(deviceType);
    return traits && traits->firmware.mfuModel ? static_cast<uint32_t>(traits->firmware.mfuModel) : MFU_MODEL_UNKNOWN;
}

ModelFirmUpdater::ModelFirmUpdater(QObject* parent)
    : QObject(parent)
{
}

ModelFirmUpdater::~ModelFirmUpdater()
{
    // The task stops before the object goes: nothing more is emitted, and
    // the queued callbacks still pending go with the object.
    releaseEngine();
}

int32_t ModelFirmUpdater::init(IModelUICallback* callback, const QString& pcAddress, const QString& filePath,
    int32_t deviceType, const QString& packageVersion)
{
    releaseEngine();
    m_window = callback;
    m_pcAddress = pcAddress;
    m_filePath = filePath;
    m_packageVersion = packageVersion;
    m_expectedModel = modelCodeOfDeviceType(deviceType);
    m_heardFromUnit = false;
    connect(this, &ModelFirmUpdater::signalMfuAppCallback, this, &ModelFirmUpdater::slotMfuAppCallback,
        static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
    m_engine = std::make_unique<FirmwareUpdateManager>();
    m_engine->setAppCallback(this);
    return 0;
}

int32_t ModelFirmUpdater::prepare(uint32_t index, const QString& unitAddress)
{
    if (!m_engine)
        return MFU_E_FAIL;
    m_engine->removeDevice(index);
    QString version = m_packageVersion;
    if (version.endsWith(QLatin1Char('a')))
        version.chop(1);
    const int32_t added = m_engine->addDevice(index, m_pcAddress.toUtf8().constData(), unitAddress.toUtf8().constData(),
        m_filePath.toUtf8().constData(), m_expectedModel, version.toUtf8().constData());
    if (added < 0) {
        logModelIndex("!!! Mfu addDevice Err %d", index);
        logModelIndex("!!! Mfu recreateDevice Err %d", index);
        return added;
    }
    logModelIndex("Mfu getReady %d", index);
    const int32_t ready = m_engine->getReady(index);
    if (ready < 0)
        logModelIndex("!!! Mfu getReady Err %d", index);
    return ready;
}

QString ModelFirmUpdater::unitFirmwareVersion(uint32_t index)
{
    char version[16] = {};
    if (!m_engine || m_engine->unitVersion(index, version) < 0)
        return QString();
    return QString::fromLatin1(version, static_cast<int>(strnlen(version, sizeof(version))));
}

int32_t ModelFirmUpdater::versionRelation(uint32_t index)
{
    return m_engine ? m_engine->versionRelation(index) : -1;
}

int32_t ModelFirmUpdater::startUpdate(uint32_t index)
{
    return m_engine ? m_engine->startUpdate(index) : MFU_E_FAIL;
}

int32_t ModelFirmUpdater::versionError(uint32_t index)
{
    return m_engine ? m_engine->versionErrorFlag(index) : 0;
}

void ModelFirmUpdater::releaseEngine()
{
    if (m_engine) {
        m_engine->destroy();
        m_engine.reset();
    }
}

int32_t ModelFirmUpdater::overallProgress(int32_t* value)
{
    if (value)
        *value = m_engine && m_heardFromUnit ? static_cast<int32_t>(m_engine->writePercent(m_lastIndex)) : 0;
    return 0;
}

int32_t ModelFirmUpdater::transferPercent(uint32_t index, int32_t* value)
{
    if (value)
        *value = m_engine ? static_cast<int32_t>(m_engine->transferPercent(index)) : 0;
    return 0;
}

void ModelFirmUpdater::mfuAppCallback(uint32_t code, uint32_t index)
{
    emit signalMfuAppCallback(code, index);
}

void ModelFirmUpdater::slotMfuAppCallback(uint code, uint index)
{
    uint32_t kind = 0;
    switch (code) {
    case MFU_APP_START_WAIT:
        logModelIndex("MFU_CALLBACK_WAITING_START : index %d", index);
        kind = MODEL_CB_WAITING_START;
        break;
    case MFU_APP_TRANSFER_PROGRESS:
        kind = MODEL_CB_TRANSFER_PROGRESS;
        break;
    case MFU_APP_WRITE_STARTED:
    case MFU_APP_WRITE_PROGRESS:
        kind = MODEL_CB_WRITING_PROGRESS;
        break;
    case MFU_APP_FINISHED:
        logModelIndex("MFU_CALLBACK_FINISH : index %d", index);
        kind = MODEL_CB_FINISHED;
        break;
    case MFU_APP_ERROR:
        logModelIndex("MFU_CALLBACK_ERROR : index %d", index);
        kind = MODEL_CB_ERROR;
        break;
    default:
        return;
    }
    m_heardFromUnit = true;
    m_lastIndex = index;
    if (m_window)
        m_window->modelCallback(kind, index);
}

} // namespace Quil
