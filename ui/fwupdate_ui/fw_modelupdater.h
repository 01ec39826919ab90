// The model firmware updater of the firmware update window: one object per
// package that drives the model firmware of every unit through the MFU
// engine (FirmwareUpdateManager) and reports to the window on the GUI
// thread.
//
// Threads: the engine calls mfuAppCallback on the MFU task; it only emits
// signalMfuAppCallback, connected queued to slotMfuAppCallback, so the
// window's IModelUICallback is always called on the updater's thread.
// Destroying the updater (or releasing the engine) stops the task first, so
// no callback is emitted afterwards.
#pragma once

#include "fwupdate/mfu/mfu_manager.h"
#include "fwupdate/mfu/mfu_rules.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace Quil {

// Window callback kinds.
constexpr uint32_t MODEL_CB_WAITING_START = 1;
constexpr uint32_t MODEL_CB_TRANSFER_PROGRESS = 2;
constexpr uint32_t MODEL_CB_WRITING_PROGRESS = 3;
constexpr uint32_t MODEL_CB_FINISHED = 4;
constexpr uint32_t MODEL_CB_ERROR = 5;

// What the model updater calls on the window.
class IModelUICallback {
public:
    virtual void modelCallback(uint32_t kind, uint32_t unitId) = 0;
    // Copies the row's device name; 0x80000000 when there is no row.
    virtual int32_t deviceName(uint32_t unitId, char* name) = 0;
    // The unit id of the row with that name, true only while it analyses.
    virtual bool unitIdOf(const char* name, uint32_t* unitId) = 0;
    virtual ~IModelUICallback() = default;
};

// The window's view of a model firmware engine; units by their index.
class IModelFirmUpdater {
public:
    virtual void destroy() = 0;
    virtual int32_t init(IModelUICallback* callback, const QString& pcAddress, const QString& filePath,
        int32_t deviceType, const QString& packageVersion)
        = 0;
    virtual int32_t prepare(uint32_t index, const QString& unitAddress) = 0;
    virtual QString unitFirmwareVersion(uint32_t index) = 0;
    // 1 package newer, 0 same, -1 package older.
    virtual int32_t versionRelation(uint32_t index) = 0;
    virtual int32_t startUpdate(uint32_t index) = 0;
    virtual int32_t versionError(uint32_t index) = 0;
    virtual void releaseEngine() = 0;
    virtual int32_t overallProgress(int32_t* value) = 0;
    virtual int32_t transferPercent(uint32_t index, int32_t* value) = 0;
    virtual void setupFinished() = 0;
    virtual ~IModelFirmUpdater() = default;
};

// The expected model code of a device type (Quil::ModelType).
uint32_t modelCodeOfDeviceType(int32_t deviceType);

class ModelFirmUpdater : public QObject, public IModelFirmUpdater, public MfuAppCallbackIF {
    Q_OBJECT
public:
    explicit ModelFirmUpdater(QObject* parent = nullptr);
    ~ModelFirmUpdater() override;

    void destroy() override { releaseEngine(); }
    int32_t init(IModelUICallback* callback, const QString& pcAddress, const QString& filePath, int32_t deviceType,
        const QString& packageVersion) override;
    int32_t prepare(uint32_t index, const QString& unitAddress) override;
    QString unitFirmwareVersion(uint32_t index) override;
    int32_t versionRelation(uint32_t index) override;
    int32_t startUpdate(uint32_t index) override;
    int32_t versionError(uint32_t index) override;
    void releaseEngine() override;
    // The write percent of the unit whose callback came last, 0 before any.
    int32_t overallProgress(int32_t* value) override;
    int32_t transferPercent(uint32_t index, int32_t* value) override;
    void setupFinished() override { }

    // MfuAppCallbackIF, on the MFU task.
    void mfuAppCallback(uint32_t code, uint32_t index) override;

    uint32_t expectedModel() const { return m_expectedModel; }

signals:
    void signalMfuAppCallback(uint code, uint index);

private slots:
    void slotMfuAppCallback(uint code, uint index);

private:
    std::unique_ptr<FirmwareUpdateManager> m_engine;
    IModelUICallback* m_window = nullptr;
    uint32_t m_expectedModel = MFU_MODEL_UNKNOWN;
    QString m_pcAddress;
    QString m_filePath;
    QString m_packageVersion;
    bool m_heardFromUnit = false;
    uint32_t m_lastIndex = 0;
};

} // namespace Quil
