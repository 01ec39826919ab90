// The document's two member tables: the workgroup table (units in the PC's
// workgroup) and the enumeration table (units seen on the link that are
// not). Members are placed and removed through the model catalogue. The
// tables take no lock of their own: the document's mutex guards them.
#pragma once

#include "fwupdate/workgroup/wg_member.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <vector>

namespace WG {

class ModelInfoList;

// add() modes: let the catalogue entry insert at the position, or append.
enum AddMode : int { AddAtPosition = 0, AddAppend = 1 };

class WorkgroupData : public QObject {
    Q_OBJECT
public:
    // The catalogue places members; document is what its rules consult.
    WorkgroupData(const ModelInfoList* catalogue, const MemberListsIF* document, QObject* parent = nullptr);

    // Adds a copy of member. With byCatalogue the catalogue entry chooses
    // the slot word and the place (and must exist); without it an entry must
    // name `slot` among its roles and gives the place, and a member without
    // an entry goes to the front. The copy is a joined member (membership 2).
    virtual bool add(const WorkgroupMember& member, int mode, bool byCatalogue, uint16_t slot);
    virtual bool remove(uint64_t deviceId);

    const MemberList& members() const { return m_members; }
    std::vector<WorkgroupMember> snapshot() const;
    int countByKind(int32_t kind) const;
    int countByModel(uint16_t modelType) const;

signals:
    void signalItemChanged(int col, int row);
    void signalRegistWorkgroupMember(int row);
    void signalRemoveWorkgroupMember(int row);
    void signalAppendedGroup(QString group);
    void signalRemovedGroup(QString group);
    void signalWorkgroupDataChanged();
    void signalSelectedDaw();

protected:
    // The membership an added copy takes in this table.
    virtual int32_t addedMembership(const WorkgroupMember& member) const;

    MemberList m_members;
    const ModelInfoList* const m_catalogue;
    const MemberListsIF* const m_document;
};

class EnumData : public WorkgroupData {
    Q_OBJECT
public:
    using WorkgroupData::WorkgroupData;
    // Inserts a copy after the last member of the same catalogue kind and
    // model type, else at the end; false when the device id is there.
    virtual bool insertSorted(const WorkgroupMember& member);

protected:
    // A unit moved here keeps the membership it was given.
    int32_t addedMembership(const WorkgroupMember& member) const override { return member.membership; }
};

// The member with that device id, or null; searches a copy of the table's
// pointer vector.
WorkgroupMember* findMember(const WorkgroupData& table, uint64_t deviceId);

} // namespace WG
