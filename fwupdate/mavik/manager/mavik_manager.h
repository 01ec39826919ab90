// Runs a Mavik-D firmware update for the firmware update window: unpacks the
// package, finds the workgroup members that are the row's unit, opens their
// update sessions, starts the update on each and folds their progress into
// one figure. Everything runs on the GUI thread; the workgroup sessions hand
// their replies and status over as posted events.
#pragma once

#include "fwupdate/mavik/mavik_contents.h" // MAVIK_OK, MAVIK_E_FAIL

#include <QMap>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace WG {
class Heartbeat;
class WorkgroupManagerDoc;
} // namespace WG

// Report kinds of appCallback_devID.
enum MavikCallbackKind : uint32_t {
    MAVIK_CB_WAITING_START = 1,
    MAVIK_CB_PROGRESS = 2,
    MAVIK_CB_FINISH = 3,
    MAVIK_CB_ERROR = 4,
};

// What the manager asks of its owner (the model updater of the window).
class MfuAppCallbackIF_Mavik {
public:
    virtual ~MfuAppCallbackIF_Mavik() = default;
    virtual void appCallback_devID(uint32_t kind, uint32_t rowIndex) = 0;
    // The text by which the row's unit is known in the workgroup.
    virtual void rowUnitText(uint32_t rowIndex, QString* text) = 0;
    // The row that shows the unit with that text, if any.
    virtual bool rowForUnitText(const QString& text, uint32_t* rowIndex) = 0;
};

// The manager's clock; tests shorten it.
struct MavikManagerTimes {
    int tickMs = 200; // the coarse timer
    int readyTicks = 50; // ticks a member may take to reach its session
};
MavikManagerTimes& mavikManagerTimes();

constexpr uint16_t MAVIK_MODEL_CODE = 83;
constexpr char MAVIK_PACKAGE_ROOT[] = "MAVIK-D";
constexpr int MAVIK_UNIT_TEXT_MAX = 30; // characters of a row's unit text compared
constexpr int MAVIK_PACKAGE_VERSION_MAX = 4;

// The members' progress folded into one figure: the integer average over the
// members, reported only when it rises.
class MavikProgress {
public:
    // The member takes part at 0; the figure starts again from 0.
    void start(uint64_t deviceId);
    // The member's percentage (above 100 read as 100); true when the
    // figure rose. Members not started are ignored.
    bool update(uint64_t deviceId, uint32_t percent);
    void clear();
    uint32_t reported() const { return m_reported; }

private:
    QMap<uint64_t, uint8_t> m_members;
    uint32_t m_reported = 0;
};

class FirmwareUpdateManager_Mavik : public QObject {
    Q_OBJECT
public:
    enum RunState : int32_t { Idle = 0, WaitingForSessions = 1, Started = 2 };

    explicit FirmwareUpdateManager_Mavik(QObject* parent = nullptr);
    ~FirmwareUpdateManager_Mavik() override;

    void setCallback(MfuAppCallbackIF_Mavik* callback) { m_callback = callback; }
    bool loadPackage(const QString& path);
    // At most four characters of the package version.
    void getPackageVersion(QString* text) const;
    // "V" + major + minor in two digits + "a" of the row's member, cut to
    // size characters; text stays as it was without a member.
    void getUnitVersion(uint32_t rowIndex, QString* text, int size);
    int32_t getProgress(uint32_t* value) const;
    int32_t setWaitingStart();
    void clearWaitingStart() { m_waitingStart = false; }
    int32_t startUpdate(uint32_t rowIndex);

    // The whole package version text and what the tests look at.
    QString packageVersion() const { return m_packageVersion; }
    QString extractionFolder() const { return m_folder; }
    QString descriptionPath() const { return m_descriptionPath; }
    RunState runState() const { return m_runState; }
    // Null until slotInit ran.
    WG::WorkgroupManagerDoc* document() const { return m_document.get(); }

public slots:
    void slotInit();
    void slotStartUpdate();

protected:
    void timerEvent(QTimerEvent* event) override;
    void customEvent(QEvent* event) override;

private:
    void report(uint32_t kind, uint32_t row);
    void startMembers();
    // A member's reply; reportIt false ends the session without a report.
    void handleReply(uint16_t result, uint64_t deviceId, bool reportIt);
    bool isSessionMember(uint64_t deviceId) const;
    void endRunIfNoMemberLeft();
    void resetRun();
    void removeFolder();
    bool failLoad(bool reportIt);

    std::unique_ptr<WG::WorkgroupManagerDoc> m_document;
    std::unique_ptr<WG::Heartbeat> m_heartbeat;
    MfuAppCallbackIF_Mavik* m_callback = nullptr;
    MavikProgress m_progress;
    RunState m_runState = Idle;
    QString m_folder;
    QString m_descriptionPath;
    QString m_packagePath;
    QString m_packageRoot;
    QString m_packageVersion;
    uint8_t m_row = 0;
    int32_t m_ticks = 0;
    int m_timerId = 0;
    bool m_waitingStart = false;
};

// A new folder for the package below base: base + "/" + name, then name
// with 1, 2, 3 ... appended while the name is taken. Made with mode 0700;
// empty when base takes no new folder.
QString mavik_makeExtractionFolder(const QString& base, const QString& name);
