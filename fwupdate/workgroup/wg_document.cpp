#include "fwupdate/workgroup/wg_document.h"

#include "fwupdate/mavik/mavik_tftp.h"
#include "fwupdate/workgroup/wg_adapters.h"
#include "fwupdate/workgroup/wg_catalogue.h"
#include "fwupdate/workgroup/wg_handoff.h"
#include "fwupdate/workgroup/wg_tables.h"

#include <QHostAddress>

#include <algorithm>

namespace WG {

namespace {

using Lock = std::lock_guard<DocumentMutex>;

uint16_t firstState(const std::vector<HeartbeatLink>& links)
{
    return links.empty() ? 0 : links.front().stateWord;
}

bool anyLinkInState4(const HeartbeatInfo& r)
{
    const auto state4 = [](const HeartbeatLink& l) { return (l.stateWord & 7) == 4; };
    return std::any_of(r.linksA.begin(), r.linksA.end(), state4)
        || std::any_of(r.linksB.begin(), r.linksB.end(), state4);
}

} // namespace

WorkgroupManagerDoc::WorkgroupManagerDoc(QObject* parent)
    : QObject(parent)
    , m_adapters(std::make_unique<Ipv6AdapterList>())
    , m_catalogue(new ModelInfoList(this))
    , m_workgroup(new WorkgroupData(m_catalogue, this, this))
    , m_enumeration(new EnumData(m_catalogue, this, this))
    , m_ownId(m_adapters->selectedMac() << 16)
{
}

WorkgroupManagerDoc::~WorkgroupManagerDoc()
{
    m_enabled = false;
    std::vector<QPointer<WMSession>> sessions;
    {
        Lock guard(m_mutex);
        // Interrupt sessions of enumerated units too: an identify still
        // running would call into the freed document.
        for (WorkgroupData* table : {m_workgroup, static_cast<WorkgroupData*>(m_enumeration)})
            for (const auto& m : table->members())
                if (m->session) {
                    if (table == m_workgroup)
                        m->session->requestManagementDisconnect(m->heldWorkgroupId);
                    m->session = nullptr;
                }
        sessions.swap(m_sessions);
        m_servers.clear();
    }
    // Outside the mutex: each deletion waits for its session's thread.
    for (QPointer<WMSession>& s : sessions)
        delete s.data();
}

// ---------------------------------------------------------------------------
// Lookups and member records.

const MemberList& WorkgroupManagerDoc::joinedMembers() const
{
    return m_workgroup->members();
}

const MemberList& WorkgroupManagerDoc::discoveredMembers() const
{
    return m_enumeration->members();
}

WorkgroupMember* WorkgroupManagerDoc::joined(uint64_t deviceId)
{
    return findMember(*m_workgroup, deviceId);
}

WorkgroupMember* WorkgroupManagerDoc::enumerated(uint64_t deviceId)
{
    return findMember(*m_enumeration, deviceId);
}

WorkgroupMember WorkgroupManagerDoc::memberFrom(const HeartbeatInfo& r, int32_t membership) const
{
    WorkgroupMember m;
    m.modelType = r.modelCode & 0xff;
    m.announcedWord = r.announcedWord;
    m.word26 = r.word26;
    m.value28 = r.value28;
    m.deviceId = r.deviceId;
    m.heldWorkgroupId = r.workgroupId;
    m.setIdText(r.deviceIdText);
    m.statusWord = r.statusWord;
    m.linkStateA = firstState(r.linksA);
    m.linkStateB = firstState(r.linksB);
    m.sessionPort = r.sessionPort;
    m.membership = membership;
    m.catalogueKind = m_catalogue->categoryKind(r.modelCode);
    m.mac = r.mac;
    m.addressText = QString::fromStdString(r.addressText);
    m.countdown = kMemberCountdown;
    m.scopeId = r.scopeId;
    return m;
}

bool WorkgroupManagerDoc::addWithCatalogue(
    WorkgroupData* table, const WorkgroupMember& m, bool byCatalogue, uint16_t slot)
{
    // Members without a catalogue entry (the Mavik units) take the tables'
    // no-entry road.
    if (!m_catalogue->findEntry(m.modelType))
        byCatalogue = false;
    return table->add(m, AddAtPosition, byCatalogue, slot);
}

// ---------------------------------------------------------------------------
// Heartbeats.

void WorkgroupManagerDoc::onHeartbeat(const HeartbeatInfo& r)
{
    Lock guard(m_mutex);
    WorkgroupMember* member = joined(r.deviceId);
    WorkgroupMember* seen = member ? nullptr : enumerated(r.deviceId);
    if (member)
        member->countdown = kMemberCountdown;
    else if (seen)
        seen->countdown = kMemberCountdown;
    if (member && member->session)
        member->session->sendKeepAlive(member->heldWorkgroupId);
    if (!m_enabled || !applyLinks(r, false) || !applyLinks(r, true))
        return;
    if (member)
        updateWorkgroupMember(*member, r);
    else
        updateEnumerated(r);
    // The update may have moved the member between the tables.
    if (WorkgroupMember* m = joined(r.deviceId))
        m->countdown = kMemberCountdown;
    if (WorkgroupMember* e = enumerated(r.deviceId)) {
        e->countdown = kMemberCountdown;
        e->linkStateA = firstState(r.linksA);
        e->linkStateB = firstState(r.linksB);
    }
}

bool WorkgroupManagerDoc::applyLinks(const HeartbeatInfo& r, bool listB)
{
    const std::vector<HeartbeatLink>& links = listB ? r.linksB : r.linksA;
    WorkgroupMember* member = joined(r.deviceId);
    switch (m_catalogue->categoryKind(r.modelCode)) {
    case CategoryDevice:
        if (member) {
            (listB ? member->linkStateB : member->linkStateA) = firstState(links);
            if (!listB && links.empty())
                member->remoteControlFlag = false;
        }
        return true;
    case CategoryDaw: {
        std::vector<uint64_t>& ids = listB ? m_idsB : m_idsA;
        ids.clear();
        for (const HeartbeatLink& l : links)
            if (l.stateWord & 7)
                ids.push_back(l.peerId);
        if (member)
            (listB ? member->linkStateB : member->linkStateA) = firstState(links);
        return true;
    }
    default:
        return false;
    }
}

void WorkgroupManagerDoc::updateEnumerated(const HeartbeatInfo& r)
{
    const uint16_t unitState = r.statusWord & 7;
    if (WorkgroupMember* e = enumerated(r.deviceId)) {
        e->scopeId = r.scopeId;
        e->addressText = QString::fromStdString(r.addressText);
        e->heldWorkgroupId = r.workgroupId;
        if (r.workgroupId == 0) {
            e->membership = MembershipFree;
        } else if (r.workgroupId == m_ownId) {
            e->membership = MembershipFree;
            if (unitState == 0)
                assignWorkgroupId(r.deviceId, 0);
        } else {
            e->membership = MembershipForeign;
        }
        e->statusWord = r.statusWord;
        e->setIdText(r.deviceIdText);
        return;
    }
    if (unitState == 4 || anyLinkInState4(r))
        return;
    const bool foreign = r.workgroupId != 0 && r.workgroupId != m_ownId;
    // A unit that claims our id but has no links left holds it from an
    // earlier run: clear it. (Id 0 is no claim, even with no adapter.)
    const bool stale = r.workgroupId != 0 && r.workgroupId == m_ownId && r.linksA.empty() && r.linksB.empty();
    if (m_enumeration->insertSorted(memberFrom(r, foreign ? MembershipForeign : MembershipFree)) && stale)
        assignWorkgroupId(r.deviceId, 0);
}

void WorkgroupManagerDoc::updateWorkgroupMember(WorkgroupMember& m, const HeartbeatInfo& r)
{
    m.announcedWord = r.announcedWord;
    m.word26 = r.word26;
    m.sessionPort = r.sessionPort;
    m.addressText = QString::fromStdString(r.addressText);
    m.scopeId = r.scopeId;
    const uint16_t unitState = r.statusWord & 7;
    const uint64_t id = m.deviceId;
    if (r.workgroupId != 0 && r.workgroupId == m_ownId) {
        m.modelType = r.modelCode & 0xff;
        m.value28 = r.value28;
        m.heldWorkgroupId = r.workgroupId;
        m.statusWord = r.statusWord;
        m.mac = r.mac;
        for (int list = 0; list < 2; ++list)
            if (((list ? m.linkStateB : m.linkStateA) & 7) == 3)
                m.pendingLink[list] = false;
        if (m.setIdText(r.deviceIdText)) {
            const auto* device = dynamic_cast<const DeviceModel*>(m_catalogue->findEntry(m.modelType));
            if (device && device->reAddOnRename()) {
                const WorkgroupMember copy = m;
                m_workgroup->remove(id);
                // Placed anew by its new name; kept where it was if no role
                // is free for it (it is never dropped from the table).
                if (!addWithCatalogue(m_workgroup, copy, true, 0))
                    m_workgroup->add(copy, AddAppend, false, copy.slotWord);
                return;
            }
        }
        if (unitState == 0) {
            if (!m.session)
                openManagementSession(id);
            else if (m.bit15Flag)
                closeSession(id, false);
        } else if (unitState == 3) {
            m.connected = m.session != nullptr;
        }
        if (WorkgroupMember* still = joined(id))
            still->bit15Flag = (r.statusWord & 0x8000) != 0;
    } else if (r.workgroupId != 0) {
        if (m.releaseFlag) {
            moveToEnumeration(id);
            return;
        }
        if (unitState == 3 && r.linksA.empty() && r.linksB.empty()) {
            m.connected = true;
            if (!m.session)
                startInterruptTask(id, TaskInterception);
        } else if (unitState == 0 && !m.session) {
            openManagementSession(id);
        }
    } else {
        m.connected = false;
        if (unitState == 0 && !m.session)
            openManagementSession(id);
    }
}

// The unit was released by the PC and now belongs to another workgroup.
void WorkgroupManagerDoc::moveToEnumeration(uint64_t deviceId)
{
    WorkgroupMember copy = *joined(deviceId);
    copy.releaseFlag = false;
    copy.membership = MembershipForeign;
    m_workgroup->remove(deviceId);
    // The catalogue may find no role for it there; the unit is listed anyway
    // rather than lost from both tables.
    if (!enumerated(deviceId) && !addWithCatalogue(m_enumeration, copy, true, 0))
        m_enumeration->insertSorted(copy);
}

// ---------------------------------------------------------------------------
// Sessions.

WMSession* WorkgroupManagerDoc::newSession(const WorkgroupMember& m, SessionMode mode)
{
    auto* s = new WMSession(this, m.deviceId, m.modelType, negotiatedWord(m.announcedWord), mode);
    m_sessions.erase(std::remove_if(m_sessions.begin(), m_sessions.end(), [](const auto& p) { return p.isNull(); }),
        m_sessions.end());
    m_sessions.push_back(s);
    return s;
}

void WorkgroupManagerDoc::openManagementSession(uint64_t deviceId)
{
    Lock guard(m_mutex);
    WorkgroupMember* m = joined(deviceId);
    if (!m || m->session)
        return;
    if (m->attemptCount >= kManagementAttempts) {
        m->attemptsExhausted = false;
        return;
    }
    m->session = newSession(*m, SessionMode::Management);
    m->session->connectTo(m->addressText, m->sessionPort, ConnectManagement, static_cast<int>(m->scopeId));
    if (++m->attemptCount == kManagementAttempts)
        m->attemptsExhausted = true;
}

void WorkgroupManagerDoc::startInterruptTask(uint64_t deviceId, int task)
{
    Lock guard(m_mutex);
    WorkgroupMember* m = task == TaskInterception ? joined(deviceId) : enumerated(deviceId);
    if (!m || m->session || task < TaskInterception || task > TaskInitWorkgroupId)
        return;
    m->session = newSession(*m, SessionMode::Interrupt);
    const int scope = task == TaskInterception ? -1 : static_cast<int>(m->scopeId);
    m->session->connectTo(m->addressText, m->sessionPort, task + 1, scope);
}

void WorkgroupManagerDoc::assignWorkgroupId(uint64_t deviceId, uint64_t id)
{
    Lock guard(m_mutex);
    if (WorkgroupMember* m = joined(deviceId)) {
        if (m->session)
            m->session->setWorkgroupId(id);
    } else if (WorkgroupMember* e = enumerated(deviceId)) {
        if (!e->session)
            startInterruptTask(deviceId, TaskInitWorkgroupId);
    }
}

void WorkgroupManagerDoc::detachSession(uint64_t deviceId)
{
    Lock guard(m_mutex);
    if (WorkgroupMember* m = joined(deviceId))
        m->session = nullptr;
    if (WorkgroupMember* e = enumerated(deviceId))
        e->session = nullptr;
}

void WorkgroupManagerDoc::dropSession(uint64_t deviceId)
{
    Lock guard(m_mutex);
    WorkgroupMember* m = joined(deviceId);
    if (!m || !m->session)
        return;
    WMSession* session = m->session;
    if (!m_released.contains(deviceId))
        m_released.append(deviceId);
    m->expireFlag = false;
    m->session = nullptr;
    m->connected = false;
    m->releaseFlag = false;
    m->membership = MembershipFree;
    m_workgroup->remove(deviceId);
    // Deleted on the document's thread, as every session is.
    postHandoff(this, new DeleteWMSession(session));
}

void WorkgroupManagerDoc::endSession(WorkgroupMember& m, bool resetAttempts)
{
    WMSession* session = m.session;
    session->requestManagementDisconnect(m.heldWorkgroupId);
    if (resetAttempts)
        m.attemptCount = 0;
    m.expireFlag = false;
    m.session = nullptr;
    m.connected = false;
    postHandoff(this, new DeleteWMSession(session));
}

void WorkgroupManagerDoc::closeSession(uint64_t deviceId, bool resetAttempts)
{
    Lock guard(m_mutex);
    WorkgroupMember* m = joined(deviceId);
    if (!m || !m->session)
        m = enumerated(deviceId);
    if (m && m->session)
        endSession(*m, resetAttempts);
}

void WorkgroupManagerDoc::recordError(uint64_t deviceId, uint32_t code)
{
    Lock guard(m_mutex);
    m_errors[deviceId] = {std::chrono::steady_clock::now(), code};
}

void WorkgroupManagerDoc::expireErrors()
{
    slotInteranlErrTimeOut();
}

void WorkgroupManagerDoc::slotInteranlErrTimeOut()
{
    Lock guard(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    const std::chrono::milliseconds wait(sessionTimes().errorWaitMs.load());
    for (ErrorEntry& e : m_errors)
        if (now - e.recorded >= wait)
            e.code = 0;
}

void WorkgroupManagerDoc::setPendingLink(uint64_t deviceId, bool value)
{
    Lock guard(m_mutex);
    if (WorkgroupMember* m = joined(deviceId))
        m->pendingLink[0] = m->pendingLink[1] = value;
}

void WorkgroupManagerDoc::remoteCloseDone()
{
    wakeManager();
}

void WorkgroupManagerDoc::markConnected(uint64_t deviceId)
{
    Lock guard(m_mutex);
    if (WorkgroupMember* m = joined(deviceId))
        m->connected = m->session != nullptr;
}

// ---------------------------------------------------------------------------
// The update manager's side.

std::vector<WorkgroupMember> WorkgroupManagerDoc::snapshot(bool enumerated)
{
    Lock guard(m_mutex);
    return enumerated ? m_enumeration->snapshot() : m_workgroup->snapshot();
}

bool WorkgroupManagerDoc::joinMember(uint64_t deviceId, bool byCatalogue, uint16_t slot)
{
    Lock guard(m_mutex);
    const WorkgroupMember* e = enumerated(deviceId);
    if (!e || joined(deviceId))
        return false;
    WorkgroupMember copy = *e;
    copy.attemptCount = 0;
    if (copy.membership == MembershipForeign) {
        copy.membership = MembershipJoined;
        copy.heldWorkgroupId = m_ownId;
    }
    copy.releaseFlag = false;
    if (!addWithCatalogue(m_workgroup, copy, byCatalogue, slot))
        return false;
    m_enumeration->remove(deviceId);
    return true;
}

void WorkgroupManagerDoc::removeMember(uint64_t deviceId, uint64_t newId)
{
    Lock guard(m_mutex);
    WorkgroupMember* m = joined(deviceId);
    if (!m)
        return;
    if (WMSession* session = m->session) {
        const uint64_t held = m->heldWorkgroupId; // setWorkgroupId changes it
        session->setWorkgroupId(newId);
        session->requestManagementDisconnect(held);
        m->session = nullptr;
        postHandoff(this, new DeleteWMSession(session));
    }
    if (!m_released.contains(deviceId))
        m_released.append(deviceId);
    // A file server never outlives its member.
    m_servers.erase(deviceId);
    m_workgroup->remove(deviceId);
}

void WorkgroupManagerDoc::removeAll()
{
    for (const WorkgroupMember& m : snapshot(false))
        removeMember(m.deviceId, 0);
}

void WorkgroupManagerDoc::setFirmwareManager(QObject* manager)
{
    {
        Lock guard(m_mutex);
        m_manager = manager;
    }
    wakeManager();
}

void WorkgroupManagerDoc::wakeManager()
{
    Lock guard(m_mutex);
    if (m_manager)
        postHandoff(m_manager, new QEvent(kWakeManagerEvent));
}

bool WorkgroupManagerDoc::prepareFirmwareUpdate(
    const QString& firmwareFile, const QString& workFolder, const QString& archivePath, QString* errorText)
{
    Lock guard(m_mutex);
    if (m_workgroup->members().empty()) {
        *errorText = QStringLiteral("No Device");
        return false;
    }
    std::vector<uint64_t> made;
    const auto fail = [&](const char* text) {
        // A failed preparation leaves none of the servers it made.
        for (uint64_t id : made)
            m_servers.erase(id);
        *errorText = QString::fromLatin1(text);
        return false;
    };
    for (const auto& m : m_workgroup->members()) {
        if (!m->session || m_servers.count(m->deviceId))
            continue;
        auto server = std::make_unique<TFTPServer_Mavik>();
        QHostAddress any(QHostAddress::AnyIPv6);
        any.setScopeId(QString::number(m->scopeId));
        m_servers[m->deviceId] = std::move(server);
        made.push_back(m->deviceId);
        TFTPServer_Mavik* s = m_servers[m->deviceId].get();
        if (!s->start(any, this))
            return fail("Cannot use update port");
        if (!s->setFile(firmwareFile, archivePath, workFolder))
            return fail("Invalid file");
    }
    if (made.empty()) {
        *errorText = QStringLiteral("No Device");
        return false;
    }
    return true;
}

bool WorkgroupManagerDoc::startMemberUpdate(uint64_t deviceId, const QByteArray& fileName, QObject* receiver)
{
    Lock guard(m_mutex);
    WorkgroupMember* m = joined(deviceId);
    const auto server = m_servers.find(deviceId);
    if (!m || !m->session || server == m_servers.end())
        return false;
    for (size_t i = 0; i < m_adapters->count(); ++i) {
        const auto adapter = m_adapters->at(i);
        if (adapter && adapter->interfaceIndex == m->scopeId)
            return m->session->startFirmwareUpdate(fileName, server->second->port(), receiver, adapter->address);
    }
    return false;
}

// ---------------------------------------------------------------------------
// Ageing.

void WorkgroupManagerDoc::expire(uint64_t deviceId, bool inWorkgroup)
{
    WorkgroupMember* m = inWorkgroup ? joined(deviceId) : enumerated(deviceId);
    if (!m)
        return;
    m->countdown = 0;
    m->expireFlag = false;
    m->pendingLink[0] = m->pendingLink[1] = false;
    if (m->session)
        endSession(*m, true);
    if (WorkgroupMember* w = joined(deviceId)) {
        w->connected = false;
        w->statusWord = 0;
        w->linkStateA = 0;
    }
    m_enumeration->remove(deviceId);
}

void WorkgroupManagerDoc::ageMembers()
{
    for (const bool inWorkgroup : {true, false}) {
        for (const WorkgroupMember& s : snapshot(!inWorkgroup)) {
            if (s.countdown == 0)
                continue;
            Lock guard(m_mutex);
            WorkgroupMember* m = inWorkgroup ? joined(s.deviceId) : enumerated(s.deviceId);
            if (!m || m->countdown == 0)
                continue;
            if (m->countdown == 1 || m->expireFlag)
                expire(s.deviceId, inWorkgroup);
            else
                --m->countdown;
        }
    }
}

// ---------------------------------------------------------------------------
// Events and state.

void WorkgroupManagerDoc::customEvent(QEvent* event)
{
    acceptHandoff();
    if (event->type() == kTableChangedEvent) {
        emit signalUpdateTable();
    } else if (event->type() == DeleteWMSession::kType) {
        // Outside the mutex: the deletion waits for the session's thread.
        delete static_cast<DeleteWMSession*>(event)->session.data();
    } else if (event->type() == FirmUpdateReplyEvent::kType) {
        Lock guard(m_mutex);
        m_servers.erase(static_cast<FirmUpdateReplyEvent*>(event)->deviceId);
        if (m_servers.empty())
            m_manager = nullptr;
    }
}

void WorkgroupManagerDoc::slotFirmwareUpdateFinished()
{
    Lock guard(m_mutex);
    m_manager = nullptr;
}

QList<uint64_t> WorkgroupManagerDoc::releasedList()
{
    Lock guard(m_mutex);
    return m_released;
}

uint32_t WorkgroupManagerDoc::errorCode(uint64_t deviceId)
{
    Lock guard(m_mutex);
    return m_errors.value(deviceId).code;
}

bool WorkgroupManagerDoc::hasFileServer(uint64_t deviceId)
{
    Lock guard(m_mutex);
    return m_servers.count(deviceId) != 0;
}

QObject* WorkgroupManagerDoc::firmwareManager()
{
    Lock guard(m_mutex);
    return m_manager.data();
}

std::vector<uint64_t> WorkgroupManagerDoc::idSet(bool listB)
{
    Lock guard(m_mutex);
    return listB ? m_idsB : m_idsA;
}

int WorkgroupManagerDoc::liveSessions()
{
    Lock guard(m_mutex);
    return static_cast<int>(
        std::count_if(m_sessions.begin(), m_sessions.end(), [](const auto& p) { return !p.isNull(); }));
}

} // namespace WG
