// The PC's picture of the workgroup units on the link: the workgroup table
// (units in the PC's workgroup) and the enumeration table (units seen that
// are not), both filled from heartbeats. It decides when to open or close a
// session, when a silent unit is gone, and it sets up one file server per
// unit for a firmware update. The heartbeat thread, the sessions' threads
// and the update manager's (GUI) thread all enter it; the document mutex
// guards the tables, the maps and every member.
#pragma once

#include "fwupdate/workgroup/wg_heartbeat.h"
#include "fwupdate/workgroup/wg_member.h"
#include "fwupdate/workgroup/wg_session.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class TFTPServer_Mavik;

namespace WG {

class EnumData;
class Ipv6AdapterList;
class ModelInfoList;
class WorkgroupData;

// Event types the document handles or sends.
constexpr QEvent::Type kTableChangedEvent = static_cast<QEvent::Type>(1000);
constexpr QEvent::Type kWakeManagerEvent = static_cast<QEvent::Type>(1003);
// Management sessions tried per member until the count is zeroed.
constexpr uint16_t kManagementAttempts = 3;

class WorkgroupManagerDoc : public QObject, public HeartbeatSinkIF, public SessionDocumentIF, public MemberListsIF {
    Q_OBJECT
public:
    // Enumerates the adapters once; the own workgroup id is the selected
    // adapter's MAC shifted left by 16 bits.
    explicit WorkgroupManagerDoc(QObject* parent = nullptr);
    // Clears the enabled flag, ends every session (management and interrupt)
    // and frees everything.
    ~WorkgroupManagerDoc() override;

    // For the update manager.
    std::vector<WorkgroupMember> snapshot(bool enumerated);
    bool joinMember(uint64_t deviceId, bool byCatalogue, uint16_t slot);
    void removeMember(uint64_t deviceId, uint64_t newId);
    void removeAll();
    void setFirmwareManager(QObject* manager);
    // One file server per workgroup member with a session and none yet.
    // False with "No Device", "Cannot use update port" or "Invalid file".
    bool prepareFirmwareUpdate(
        const QString& firmwareFile, const QString& workFolder, const QString& archivePath, QString* errorText);
    bool startMemberUpdate(uint64_t deviceId, const QByteArray& fileName, QObject* receiver);
    // One ageing step (the manager's 200 ms tick).
    void ageMembers();

    // HeartbeatSinkIF (the heartbeat thread).
    void onHeartbeat(const HeartbeatInfo& record) override;
    Ipv6AdapterList* adapterList() override { return m_adapters.get(); }

    // SessionDocumentIF (the sessions' threads).
    void detachSession(uint64_t deviceId) override;
    void dropSession(uint64_t deviceId) override;
    void closeSession(uint64_t deviceId, bool resetAttempts) override;
    void openManagementSession(uint64_t deviceId) override;
    void startInterruptTask(uint64_t deviceId, int task) override;
    void assignWorkgroupId(uint64_t deviceId, uint64_t id) override;
    void recordError(uint64_t deviceId, uint32_t code) override;
    void expireErrors() override;
    void setPendingLink(uint64_t deviceId, bool value) override;
    void remoteCloseDone() override;
    void markConnected(uint64_t deviceId) override;
    DocumentMutex& documentMutex() override { return m_mutex; }
    WorkgroupData* workgroupTable() override { return m_workgroup; }
    EnumData* enumerationTable() override { return m_enumeration; }
    uint64_t ownWorkgroupId() const override { return m_ownId; }
    bool enabled() const override { return m_enabled; }
    QObject* eventTarget() override { return this; }

    // MemberListsIF (the catalogue, under the mutex).
    const MemberList& joinedMembers() const override;
    const MemberList& discoveredMembers() const override;

    // State the tests and the window read.
    const ModelInfoList& catalogue() const { return *m_catalogue; }
    QList<uint64_t> releasedList();
    uint32_t errorCode(uint64_t deviceId);
    bool hasFileServer(uint64_t deviceId);
    QObject* firmwareManager();
    std::vector<uint64_t> idSet(bool listB);
    // Sessions made and not yet deleted.
    int liveSessions();

signals:
    void signalUpdateTable();

public slots:
    void slotInteranlErrTimeOut();
    void slotFirmwareUpdateFinished();

protected:
    void customEvent(QEvent* event) override;

private:
    struct ErrorEntry {
        std::chrono::steady_clock::time_point recorded;
        uint32_t code = 0;
    };

    WorkgroupMember* joined(uint64_t deviceId);
    WorkgroupMember* enumerated(uint64_t deviceId);
    WorkgroupMember memberFrom(const HeartbeatInfo& r, int32_t membership) const;
    bool applyLinks(const HeartbeatInfo& r, bool listB);
    void updateEnumerated(const HeartbeatInfo& r);
    void updateWorkgroupMember(WorkgroupMember& m, const HeartbeatInfo& r);
    void moveToEnumeration(uint64_t deviceId);
    WMSession* newSession(const WorkgroupMember& m, SessionMode mode);
    // Sends the disconnect request, detaches and asks for the deletion.
    void endSession(WorkgroupMember& m, bool resetAttempts);
    void expire(uint64_t deviceId, bool inWorkgroup);
    void wakeManager();
    bool addWithCatalogue(WorkgroupData* table, const WorkgroupMember& m, bool byCatalogue, uint16_t slot);

    std::unique_ptr<Ipv6AdapterList> m_adapters;
    ModelInfoList* m_catalogue; // children
    WorkgroupData* m_workgroup;
    EnumData* m_enumeration;
    const uint64_t m_ownId;
    const uint16_t m_documentWord = kDocumentWord;
    DocumentMutex m_mutex;
    std::vector<uint64_t> m_idsA;
    std::vector<uint64_t> m_idsB;
    std::atomic<bool> m_enabled{true};
    QList<uint64_t> m_released;
    QPointer<QObject> m_manager;
    QMap<uint64_t, ErrorEntry> m_errors;
    std::map<uint64_t, std::unique_ptr<TFTPServer_Mavik>> m_servers;
    std::vector<QPointer<WMSession>> m_sessions;
};

} // namespace WG
