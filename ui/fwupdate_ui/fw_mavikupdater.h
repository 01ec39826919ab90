// The model firmware updater for Mavik-D units: the firmware update
// window's IModelFirmUpdater over the Mavik update manager, whose reports
// reach the window through a queued signal to this object.
#pragma once

#include "fwupdate/mavik/manager/mavik_manager.h"
#include "ui/fwupdate_ui/fw_modelupdater.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace Quil {

// Unit version text ("V" major, minor in two digits, "a") against the
// package version ("major.minor"): 1 package newer, 0 same, -1 older.
int32_t mavikVersionRelation(const QString& unitVersion, const QString& packageVersion);

class ModelFirmUpdater_Mavik : public QObject, public IModelFirmUpdater, public MfuAppCallbackIF_Mavik {
    Q_OBJECT
public:
    explicit ModelFirmUpdater_Mavik(QObject* parent = nullptr);
    ~ModelFirmUpdater_Mavik() override;

    void destroy() override { releaseEngine(); }
    // Makes the engine and loads the package at filePath.
    int32_t init(IModelUICallback* callback, const QString& pcAddress, const QString& filePath, int32_t deviceType,
        const QString& packageVersion) override;
    // One waiting-start flag serves every row: a row prepared while it is
    // set is ready as well.
    int32_t prepare(uint32_t index, const QString& unitAddress) override;
    QString unitFirmwareVersion(uint32_t index) override;
    int32_t versionRelation(uint32_t index) override;
    int32_t startUpdate(uint32_t index) override;
    int32_t versionError(uint32_t) override { return 0; }
    void releaseEngine() override { m_engine.reset(); }
    int32_t overallProgress(int32_t* value) override;
    int32_t transferPercent(uint32_t, int32_t* value) override;
    void setupFinished() override;

    // MfuAppCallbackIF_Mavik.
    void appCallback_devID(uint32_t kind, uint32_t rowIndex) override;
    void rowUnitText(uint32_t rowIndex, QString* text) override;
    bool rowForUnitText(const QString& text, uint32_t* rowIndex) override;

    FirmwareUpdateManager_Mavik* engine() const { return m_engine.get(); }

signals:
    void signalMfuAppCallback_devID(uint kind, uint index);

private slots:
    void slotMfuAppCallback_devID(uint kind, uint index);

private:
    std::unique_ptr<FirmwareUpdateManager_Mavik> m_engine;
    IModelUICallback* m_window = nullptr;
    QString m_pcAddress;
    QString m_filePath;
    QString m_packageVersion;
    bool m_loading = false;
};

} // namespace Quil
