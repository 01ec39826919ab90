// Reaches into the firmware update window for the update run's tests, fuzz
// target and benchmarks: rows made as discovery makes them and analysed
// without units, the package's updater from the window's own factory, the
// Dante front handed in and a package chosen without the file dialog.
#pragma once

#include "device/discovery/dev_recorder.h"
#include "ui/fwupdate_ui/fw_deviceobject.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"

#include <memory>

namespace Quil {

// A model updater without an engine: every unit is older than the package;
// subclasses say what a start does.
class StubModelUpdater : public IModelFirmUpdater {
public:
    void destroy() override { }
    int32_t init(IModelUICallback* window, const QString&, const QString&, int32_t, const QString&) override
    {
        m_window = window;
        return 0;
    }
    int32_t prepare(uint32_t, const QString&) override { return 0; }
    QString unitFirmwareVersion(uint32_t) override { return QStringLiteral("v100a"); }
    int32_t versionRelation(uint32_t) override { return 1; }
    int32_t startUpdate(uint32_t) override { return 0; }
    int32_t versionError(uint32_t) override { return 0; }
    void releaseEngine() override { }
    int32_t overallProgress(int32_t* value) override
    {
        *value = m_overall;
        return 0;
    }
    int32_t transferPercent(uint32_t, int32_t* value) override
    {
        *value = m_transfer;
        return 0;
    }
    void setupFinished() override { }

protected:
    IModelUICallback* m_window = nullptr;
    int32_t m_overall = 0;
    int32_t m_transfer = 0;
};

class FirmRunAccess {
public:
    // As a package of this type loads: the factory's updater, initialised
    // for the package file and its version.
    static bool setPackage(FirmUpdateUI& w, int32_t type, bool danteMode, bool thirdGeneration = false,
        const QString& file = QString(), const QString& version = QStringLiteral("v200a"))
    {
        w.m_packageType = type;
        w.m_packageVersion = version;
        w.m_updater = w.m_factory ? w.m_factory(type) : nullptr;
        w.m_danteMode = danteMode;
        w.m_thirdGeneration = thirdGeneration;
        if (!w.m_updater)
            return false;
        w.m_updater->init(&w, QStringLiteral("127.0.0.1"), file, type, version);
        return true;
    }

    // A drawn row named `name` at `address`. analysed: its ticked sides are
    // analysed as out of date in place; otherwise the row counts as
    // connected and waits for requestSetup.
    static DeviceObject* addRow(FirmUpdateUI& w, const QString& name, bool model, bool dante,
        const QString& address = QStringLiteral("127.0.0.1"), bool analysed = true)
    {
        DeviceEntry entry;
        entry.key = QStringLiteral("svc-") + name;
        entry.model = QStringLiteral("BroxL-D");
        entry.address = address;
        entry.port = 9;
        entry.id = static_cast<uint16_t>(w.m_rows.size() + 1);
        if (w.createDeviceObject(entry) < 0)
            return nullptr;
        DeviceObject* row = w.m_rows.back().get();
        row->m_deviceName = name;
        w.addRowWidget(row);
        if (!analysed) {
            row->m_associated = true;
            return row;
        }
        row->setModelVersion(QStringLiteral("v1.00"), QStringLiteral("v200a"), model ? 1 : 0);
        row->modelAnalyzed(true);
        row->setDanteVersion(QStringLiteral("4.1.2"), dante ? 1 : 0);
        row->danteAnalyzed(true);
        return row;
    }

    // The model analysis of every row through the window's updater, as the
    // window starts it for a connected unit in update mode.
    static void requestSetup(FirmUpdateUI& w)
    {
        w.setUiState(FirmUpdateUI::UPDATE_UI_DEVICE_ANALYZING);
        for (const auto& row : w.m_rows) {
            row->setModelState(DeviceObject::Analyzing);
            w.requestModelSetup(row.get());
        }
    }

    // The package as the file dialog hands it over: rows made for the
    // fitting units and their analysis started.
    static int32_t choosePackage(FirmUpdateUI& w, const QString& path) { return w.loadPackage(path); }
    static void removeRow(FirmUpdateUI& w, DeviceObject* row) { w.removeRow(row, false); }
    // The front the window calls, as init makes it; the caller starts its
    // agent with the window as its callback.
    static DanteFirmwareUpdateModule* setFront(FirmUpdateUI& w, std::unique_ptr<DanteFirmwareUpdateModule> front)
    {
        w.m_dfu = std::move(front);
        w.m_dfuLive = w.m_dfu.get();
        return w.m_dfu.get();
    }
    static void lost(FirmUpdateUI& w, const QString& serviceName) { w.onJsdpLostDevice(serviceName); }
    static bool cancelRequested(const FirmUpdateUI& w) { return w.m_cancelRequested; }
    static QStringList modelFailed(const FirmUpdateUI& w) { return w.m_modelFailed; }
    static QStringList danteFailed(const FirmUpdateUI& w) { return w.m_danteFailed; }
};

} // namespace Quil
