#include "fwupdate/workgroup/wg_tables.h"

#include "fwupdate/workgroup/wg_catalogue.h"

#include <algorithm>

namespace WG {

namespace {

int indexOf(const MemberList& members, uint64_t deviceId)
{
    for (size_t i = 0; i < members.size(); ++i)
        if (members[i]->deviceId == deviceId)
            return static_cast<int>(i);
    return -1;
}

} // namespace

WorkgroupMember* findMember(const WorkgroupData& table, uint64_t deviceId)
{
    std::vector<WorkgroupMember*> copy;
    copy.reserve(table.members().size());
    for (const auto& m : table.members())
        copy.push_back(m.get());
    for (WorkgroupMember* m : copy)
        if (m->deviceId == deviceId)
            return m;
    return nullptr;
}

WorkgroupData::WorkgroupData(const ModelInfoList* catalogue, const MemberListsIF* document, QObject* parent)
    : QObject(parent)
    , m_catalogue(catalogue)
    , m_document(document)
{
}

int32_t WorkgroupData::addedMembership(const WorkgroupMember&) const
{
    return MembershipJoined;
}

bool WorkgroupData::add(const WorkgroupMember& member, int mode, bool byCatalogue, uint16_t slot)
{
    if (mode != AddAtPosition && mode != AddAppend)
        return false;
    const ModelInfo* entry = m_catalogue ? m_catalogue->findEntry(member.modelType) : nullptr;
    int position = 0;
    uint16_t slotWord = slot;
    if (byCatalogue) {
        if (!entry)
            return false;
        QString roleName;
        int roleKey = 0;
        if (!entry->assignRole(m_document, member, &roleName, &roleKey, &position))
            return false;
        slotWord = static_cast<uint16_t>(roleKey);
    } else if (entry) {
        if (!entry->roles().contains(slot))
            return false;
        position = entry->insertIndex(m_members, slot, member.catalogueKind, member.modelType);
    }
    auto copy = std::make_unique<WorkgroupMember>(member);
    copy->membership = addedMembership(member);
    copy->slotWord = slotWord;
    int row = static_cast<int>(m_members.size());
    if (mode == AddAppend) {
        m_members.push_back(std::move(copy));
    } else {
        row = std::min(std::max(position, 0), row);
        if (entry)
            entry->insertMember(m_members, std::move(copy), row);
        else
            m_members.insert(m_members.begin() + row, std::move(copy));
    }
    emit signalRegistWorkgroupMember(row);
    emit signalWorkgroupDataChanged();
    return true;
}

bool WorkgroupData::remove(uint64_t deviceId)
{
    const int index = indexOf(m_members, deviceId);
    if (index < 0)
        return false;
    if (const ModelInfo* entry = m_catalogue ? m_catalogue->findEntry(m_members[index]->modelType) : nullptr)
        entry->removeMember(m_members, index);
    else
        m_members.erase(m_members.begin() + index);
    emit signalRemoveWorkgroupMember(index);
    emit signalWorkgroupDataChanged();
    return true;
}

std::vector<WorkgroupMember> WorkgroupData::snapshot() const
{
    std::vector<WorkgroupMember> out;
    out.reserve(m_members.size());
    for (const auto& m : m_members)
        out.push_back(*m);
    return out;
}

int WorkgroupData::countByKind(int32_t kind) const
{
    return static_cast<int>(
        std::count_if(m_members.begin(), m_members.end(), [&](const auto& m) { return m->catalogueKind == kind; }));
}

int WorkgroupData::countByModel(uint16_t modelType) const
{
    return static_cast<int>(
        std::count_if(m_members.begin(), m_members.end(), [&](const auto& m) { return m->modelType == modelType; }));
}

bool EnumData::insertSorted(const WorkgroupMember& member)
{
    if (indexOf(m_members, member.deviceId) >= 0)
        return false;
    size_t at = m_members.size();
    for (size_t i = m_members.size(); i-- > 0;) {
        const WorkgroupMember& m = *m_members[i];
        if (m.catalogueKind == member.catalogueKind && m.modelType == member.modelType) {
            at = i + 1;
            break;
        }
    }
    m_members.insert(m_members.begin() + static_cast<std::ptrdiff_t>(at), std::make_unique<WorkgroupMember>(member));
    emit signalRegistWorkgroupMember(static_cast<int>(at));
    emit signalWorkgroupDataChanged();
    return true;
}

} // namespace WG
