// The firmware update window's Dante side: the Dante agent and the TFTP side
// of the Dante front, the package's Dante file versions, the Dante device
// list and each unit's Dante module analysis. The front's callbacks arrive
// on the agent's or the TFTP task and are handed on as queued signals.
#include "app/app_log.h"
#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <vector>

namespace Quil {

namespace {

constexpr uint16_t kDanteTftpPort = 1999;
constexpr size_t kDanteLabelChars = 32;
constexpr uint32_t kLastNamedStage = DFU_STAGE_SET_DANTE_IF;

const char* const kStageNames[] = {"", "INITIALIZE", "DEVICE_LIST", "ETHER_IF_LIST", "DANTE_IF", "ETHER_IF",
    "GET_DEVICE", "DEVICE_STATUS", "START_UPDATE", "UPDATE_STATUS", "TYPE_REBOOT", "TFTP", "SET_FILE", "SET_DANTE_IF"};

bool decimalField(const QString& text, uint max, uint* out)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, 10);
    if (!ok || value > max)
        return false;
    *out = value;
    return true;
}

QString dotted(const DfuVersion& v)
{
    return QString::asprintf("%u.%u.%u", v.major, v.minor, v.third);
}

} // namespace

bool danteLineVersion(const QString& line, DfuVersion* version, int* moduleType)
{
    static const QRegularExpression separators(QStringLiteral("[ ,.]+"));
    const QStringList fields = line.split(separators);
    uint major = 0, minor = 0, third = 0;
    if (fields.size() < 3 || !decimalField(fields.at(0), 0xff, &major) || !decimalField(fields.at(1), 0xff, &minor)
        || !decimalField(fields.at(2), 0xffff, &third))
        return false;
    const int type = danteLineModuleType(line);
    if (type < 0)
        return false;
    *version = DfuVersion{static_cast<uint8_t>(major), static_cast<uint8_t>(minor), static_cast<uint16_t>(third)};
    *moduleType = type;
    return true;
}

bool danteTftpAddress(const QString& text, uint8_t out[4])
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() > 4)
        return false;
    uint8_t bytes[4] = {};
    for (int i = 0; i < parts.size(); ++i) {
        uint value = 0;
        if (!decimalField(parts.at(i), 0xff, &value))
            return false;
        bytes[i] = static_cast<uint8_t>(value);
    }
    std::memcpy(out, bytes, sizeof bytes);
    return true;
}

bool danteFileSlot(const QString& path, std::array<char16_t, DFU_PATH_CHARS>* slot)
{
    slot->fill(0);
    // The slot keeps its terminator; a cut path would name another file.
    if (path.size() >= static_cast<int>(DFU_PATH_CHARS))
        return false;
    const ushort* units = path.utf16();
    std::copy(units, units + path.size(), slot->begin());
    return true;
}

// IDfuAppCallback: on the agent's or the TFTP task --------------------------

QString FirmUpdateUI::danteLabel() const
{
    char name[kDanteLabelChars + 1] = {};
    DanteFirmwareUpdateModule* front = m_dfuLive.load();
    if (!front || !front->getTargetDeviceName(name, sizeof name))
        return QString();
    return QString::fromUtf8(name);
}

void FirmUpdateUI::dfuAppCallback(uint32_t event)
{
    emit signalDfuAppCallback(event, danteLabel());
}

void FirmUpdateUI::dfuAppErrorCallback(const DfuErrorInfo& error)
{
    emit signalDfuAppErrorCallback(error.stage, danteLabel());
}

void FirmUpdateUI::dfuAppDeviceErrorCallback(const DfuErrorInfo& error, const char* deviceName)
{
    const QString label = danteLabel();
    // Only an error about the target, or one naming no device without a
    // target, concerns the window.
    if (!deviceName || std::strncmp(deviceName, label.toUtf8().constData(), kDanteLabelChars) != 0)
        return;
    emit signalDfuAppErrorCallback(error.stage, label);
}

void FirmUpdateUI::dfuSendDataCallback(uint16_t childId, uint32_t state)
{
    emit signalDfuSendDataCallback(childId, state, danteLabel());
}

// The agent and the TFTP side -------------------------------------------------

int32_t FirmUpdateUI::initDanteAgent()
{
    if (m_danteReady) {
        log(QStringLiteral("[ERROR] DFA has already initialized!"));
        return 0;
    }
    // The agent needs the six bytes of the adapter's hardware address.
    const QStringList parts = m_interface.mac.split(QLatin1Char(':'));
    uint8_t mac[6] = {};
    bool valid = m_core && parts.size() >= 6;
    for (int i = 0; valid && i < 6; ++i) {
        bool ok = false;
        const uint value = parts.at(i).toUInt(&ok, 16);
        valid = ok && value <= 0xff;
        mac[i] = static_cast<uint8_t>(value);
    }
    if (!valid) {
        setUiState(UPDATE_UI_NOFILE);
        showMessage(this, firmMessages().invalidNetwork);
        log(QStringLiteral("!!! Network Invalid"));
        return FWUI_E_FAIL;
    }
    const DfuResult rc = m_dfu ? m_dfu->InitializeDfa(this, mac) : DFU_E_FAIL;
    if (rc < 0) {
        log(QStringLiteral("!!! Dfu InitializeDfa Error!"));
        m_agentResult = rc;
        return FWUI_E_FAIL;
    }
    m_agentTimer.start(m_timings.agentMs);
    return 0;
}

void FirmUpdateUI::releaseDanteTftp()
{
    // Only Dante packages need the front's server; the model pulls take
    // port 1999 for their own.
    m_danteReady = false;
    if (m_dfu)
        m_dfu->releaseTftp();
}

int32_t FirmUpdateUI::initDanteTftp()
{
    log(QStringLiteral("DfuCallback_DANTE_IF"));
    m_danteReady = false;
    std::array<std::array<char16_t, DFU_PATH_CHARS>, DFU_SLOTS> paths{};
    for (int i = 0; i < static_cast<int>(DFU_SLOTS) && i < m_danteFiles.size(); ++i) {
        if (!danteFileSlot(m_danteFiles.at(i), &paths[static_cast<size_t>(i)])) {
            log(QStringLiteral("[ERROR] Dante file path too long : %1").arg(m_danteFiles.at(i)));
            showMessage(this, packageErrorMessage(static_cast<JResult>(0x80000002u)));
            ui.m_lblFileName->clear();
            return FWUI_E_FAIL;
        }
    }
    uint8_t address[4] = {};
    if (!m_dfu || !danteTftpAddress(m_interface.address, address)
        || m_dfu->InitializeTftp(address, kDanteTftpPort, paths[0].data(), paths[1].data()) < 0) {
        log(QStringLiteral("[ERROR] Dfu InitializeTftp Err"));
        for (const auto& row : m_rows)
            onDanteError(row.get());
        return FWUI_E_FAIL;
    }
    m_danteReady = true;
    if (setDanteFileVersions() < 0)
        log(QStringLiteral("[ERROR] setDanteFileVersions failed"));
    return 0;
}

int32_t FirmUpdateUI::setDanteFileVersions()
{
    for (int i = 0; i < static_cast<int>(DFU_SLOTS) && i < m_danteLines.size(); ++i) {
        DfuVersion version{};
        int type = -1;
        if (!danteLineVersion(m_danteLines.at(i), &version, &type))
            return FWUI_E_FAIL;
        if (const DfuResult rc = m_dfu->setDanteFileVersion(version, static_cast<uint32_t>(type)); rc < 0)
            return rc;
    }
    return 0;
}

void FirmUpdateUI::showDanteFileInfo(const QStringList& lines)
{
    const struct {
        QLabel* version;
        QLabel* model;
        int type;
        const char* text;
    } modules[] = {
        {ui.m_lblInfo_danteVersion_BN2, ui.m_lblInfo_danteModel_BN2, 0, "for Brooklyn-2"},
        {ui.m_lblInfo_danteVersion_BN3, ui.m_lblInfo_danteModel_BN3, 1, "for Brooklyn-3"},
    };
    for (const auto& m : modules) {
        const auto line = std::find_if(
            lines.begin(), lines.end(), [&](const QString& l) { return danteLineModuleType(l) == m.type; });
        m.version->setText(line != lines.end() ? *line : QStringLiteral("Not Available"));
        m.model->setText(QLatin1String(m.text));
    }
}

// The Dante analysis ------------------------------------------------------------

int32_t FirmUpdateUI::requestDanteDeviceList()
{
    if (!m_danteReady || !m_dfu) {
        log(QStringLiteral("[ERROR] DFA has not initialized!"));
        return FWUI_E_FAIL;
    }
    if (m_dfu->reqDeviceList() != DFU_OK) {
        log(QStringLiteral("[ERROR] Dfu reqDeviceList Error!"));
        return FWUI_E_FAIL;
    }
    m_danteListPending = true;
    return 0;
}

int32_t FirmUpdateUI::startDanteSearch()
{
    // One list for every unit: wait until each row has connected or failed.
    for (const auto& row : m_rows) {
        if (row->modelState() != DeviceObject::Disconnected && row->danteState() != DeviceObject::Disconnected
            && !row->isAssociated())
            return 0;
    }
    log(QStringLiteral("All MFU are ready. Start DANTE search"));
    if (requestDanteDeviceList() < 0) {
        for (const auto& row : m_rows)
            onDanteError(row.get());
        danteListFailed();
        return FWUI_E_FAIL;
    }
    for (const auto& row : m_rows) {
        const int model = row->modelState();
        const int dante = row->danteState();
        if (model != DeviceObject::Disconnected && dante != DeviceObject::Disconnected
            && (model == DeviceObject::StateNone || dante == DeviceObject::StateNone)) {
            row->setModelState(DeviceObject::Analyzing);
            row->setDanteState(DeviceObject::Analyzing);
        }
    }
    return 0;
}

void FirmUpdateUI::danteListFailed()
{
    // Without a list the model sides would wait for good: the Dante sides
    // fail and the model analysis starts at once.
    m_danteListPending = false;
    if (m_uiState != UPDATE_UI_DEVICE_ANALYZING)
        return;
    log(QStringLiteral("[ERROR] No DANTE device list. Start MODEL analysis"));
    for (const auto& row : m_rows) {
        if (!row->isAssociated())
            continue;
        if (row->modelState() == DeviceObject::StateNone)
            row->setModelState(DeviceObject::Analyzing);
        if (row->danteState() == DeviceObject::StateNone || row->danteState() == DeviceObject::Analyzing) {
            row->setDanteState(DeviceObject::Analyzing);
            row->danteAnalyzed(false);
        }
    }
    if ((startModelAnalysisAll() & 0xff) == 0)
        analysisSettled();
}

int32_t FirmUpdateUI::onDanteDeviceList()
{
    if (m_uiState != UPDATE_UI_DEVICE_ANALYZING) {
        log(QString::asprintf("[ERROR] DfuCallback_DEVICE_LIST in state %d", m_uiState));
        return FWUI_E_FAIL;
    }
    log(QStringLiteral("got DfuCallback_DEVICE_LIST"));
    m_danteListPending = false;
    // A message box runs events, which may delete rows: walk by id.
    for (uint id : rowIds()) {
        DeviceObject* row = rowById(id);
        if (!row || row->danteState() == DeviceObject::Disconnected)
            continue;
        row->setDanteListed(true);
        const int32_t rc = setupDanteList(row);
        if (rc < 0 && (static_cast<uint32_t>(rc) & 0xffffu) == 1)
            showMessage(this, firmMessages().danteSettingFailed);
    }
    if (m_uiState == UPDATE_UI_DEVICE_ANALYZING && (startModelAnalysisAll() & 0xff) == 0)
        analysisSettled();
    return 0;
}

int32_t FirmUpdateUI::setupDanteList(DeviceObject* row)
{
    if (!row->isDanteListed())
        return FWUI_E_FAIL;
    const QByteArray name = row->deviceName().toUtf8();
    log(QString::asprintf("setupDanteList %u : Device Name is %s", row->id(), name.constData()));
    DfuVersion firmware{}, software{};
    if (!m_dfu || m_dfu->getDeviceVersion(name.constData(), DFU_VERSION_DANTE_FW, &firmware) < 0
        || m_dfu->getDeviceVersion(name.constData(), DFU_VERSION_MANF_SW, &software) < 0) {
        log(QString::asprintf("!!! getTargetDeviceVersion Err : id %u", row->id()));
        onDanteError(row);
        return FWUI_E_FAIL | 1;
    }
    row->setDanteVersion(
        dotted(firmware) + QStringLiteral(" ,  ") + dotted(software), m_dfu->compareVersion(name.constData()));
    const uint32_t module = m_dfu->getDeviceModuleType(name.constData());
    row->setDanteModule(module == DFU_MODULE_BKLYN2 ? QStringLiteral("Brooklyn-2")
            : module == DFU_MODULE_BKLYN3           ? QStringLiteral("Brooklyn-3")
                                                    : QString());
    char16_t path[DFU_PATH_CHARS] = {};
    if (m_dfu->getDntFilePath(name.constData(), path) < 0)
        row->setUpdatable(false);
    if (m_dfu->getDeviceUpdatePhase(name.constData()) != DFU_PHASE_NONE) {
        onDanteError(row);
        return FWUI_E_FAIL;
    }
    row->danteAnalyzed(true);
    return 0;
}

int32_t FirmUpdateUI::startModelAnalysisAll()
{
    int32_t count = 0;
    int32_t failures = 0;
    for (uint id : rowIds()) {
        DeviceObject* row = rowById(id);
        if (!row || row->modelState() == DeviceObject::Disconnected || row->modelState() == DeviceObject::Analyzed)
            continue;
        if (startModelAnalysis(row) < 0) {
            failures = FWUI_E_FAIL;
            continue;
        }
        if (failures == 0)
            ++count;
    }
    return (count & 0xff) | failures;
}

// Dante callbacks, queued to the GUI thread ---------------------------------------

void FirmUpdateUI::receiveDfuAppCallback(uint callbackType, QString targetDeviceLabel)
{
    log(QString::asprintf("receiveDfuAppCallback [Type %u]", callbackType));
    if (!targetDeviceLabel.isEmpty() && !rowByDeviceName(targetDeviceLabel)) {
        log(QStringLiteral("[ERROR] receiveDfuAppCallback : no device %1").arg(targetDeviceLabel));
        return;
    }
    switch (callbackType) {
    case DFU_EVENT_DEVICE_LIST:
        onDanteDeviceList();
        break;
    case DFU_EVENT_DANTE_IF:
        m_agentTimer.stop();
        m_agentResult = 0;
        break;
    case DFU_EVENT_UPDATE_STATUS:
        if (DeviceObject* row = rowByDeviceName(targetDeviceLabel); row && !targetDeviceLabel.isEmpty())
            danteUpdateStatusChanged(row);
        else
            log(QStringLiteral("[ERROR] receiveDfuAppCallback : upgrade status without a target"));
        break;
    default:
        log(QStringLiteral("   --- receiveDfuAppCallback other"));
        break;
    }
}

void FirmUpdateUI::receiveDfuAppErrorCallback(uint callbackType, QString targetDeviceLabel)
{
    if (callbackType == DFU_STAGE_DEVICE_STAT)
        return;
    if (callbackType <= kLastNamedStage)
        log(QStringLiteral("[ERROR] DfuAppErrorCallback : ") + QLatin1String(kStageNames[callbackType]));
    if (callbackType == DFU_STAGE_SET_DANTE_IF) {
        m_agentTimer.stop();
        showMessage(this, firmMessages().invalidNetwork);
    }
    if (!targetDeviceLabel.isEmpty()) {
        DeviceObject* row = rowByDeviceName(targetDeviceLabel);
        if (row && row->danteUpdateState() != DeviceObject::Failed)
            onDanteError(row);
    } else {
        for (uint id : rowIds()) {
            if (DeviceObject* row = rowById(id))
                onDanteError(row);
        }
    }
    if (m_danteListPending && (callbackType == DFU_STAGE_INITIALIZE || callbackType == DFU_STAGE_DEVICE_LIST))
        danteListFailed();
}

} // namespace Quil
