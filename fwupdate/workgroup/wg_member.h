// The record the PC keeps of one workgroup unit, filled from its heartbeats.
// Both member tables and their snapshots hold copies of it; the model
// catalogue reads it to place members and offer candidates.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace WG {

class WMSession;

// Membership of a unit, as the document sees it.
enum Membership : int32_t {
    MembershipFree = 1, // free, or holds the PC's own id
    MembershipJoined = 2, // joined by the PC
    MembershipForeign = 4, // held by another workgroup
};

// Each heartbeat reloads a member's countdown to this.
constexpr uint16_t kMemberCountdown = 30;

class WorkgroupMember {
public:
    virtual ~WorkgroupMember() = default;

    uint16_t modelType = 0; // low byte of the heartbeat's model code
    uint16_t announcedWord = 0;
    uint16_t word26 = 0;
    uint32_t value28 = 0;
    uint64_t deviceId = 0; // the key of both tables
    uint64_t heldWorkgroupId = 0;
    QString label;
    QString displayName;
    QString deviceIdText;
    uint16_t statusWord = 0; // low three bits: the unit state
    uint16_t linkStateA = 0;
    uint16_t linkStateB = 0;
    uint16_t sessionPort = 0;
    int32_t membership = MembershipFree;
    int32_t catalogueKind = 0;
    bool connected = false;
    uint64_t mac = 0;
    QString addressText;
    uint16_t slotWord = 0; // the role key; carried in the management request
    uint16_t countdown = 0;
    bool releaseFlag = false;
    bool remoteControlFlag = false;
    bool bit15Flag = false; // bit 15 of the previous heartbeat's status word
    WMSession* session = nullptr; // not owned
    int32_t arrayA[5] = {0, 0, 0, 0, 0};
    int32_t arrayB[5] = {3, 3, 3, 3, 3};
    uint16_t attemptCount = 0;
    bool attemptsExhausted = false;
    uint32_t scopeId = 0;
    bool expireFlag = false;
    bool pendingLink[2] = {false, false};

    // Stores a new device id text and makes the display name from it;
    // false when the text is unchanged.
    bool setIdText(const QString& text);

    uint16_t unitState() const { return statusWord & 7; }
    // A member holds a role when its slot word is not 0; it holds key k
    // when its slot word is k (so a member without a role holds key 0).
    bool holdsRole() const { return slotWord != 0; }
    bool holdsKey(int key) const { return slotWord == key; }
};

// The name a unit is shown by: "Mavik-D (a1:b2:c3)" for an id text of the
// unit-id form "Jxxx-Valdor-Mavik-D-A1B2C3" (or VELMAR with LX8A8D, LX16D or
// LX16A), else the id text itself.
QString memberDisplayName(const QString& idText);

// A table's ordered members; the table owns them.
using MemberList = std::vector<std::unique_ptr<WorkgroupMember>>;

// What the model catalogue asks of the document: its joined and its
// discovered members.
class MemberListsIF {
public:
    virtual ~MemberListsIF() = default;
    virtual const MemberList& joinedMembers() const = 0;
    virtual const MemberList& discoveredMembers() const = 0;
};

} // namespace WG
