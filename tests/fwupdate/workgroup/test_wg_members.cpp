// Member names and the two member tables, placed through the real model
// catalogue.
#include "fwupdate/workgroup/wg_catalogue.h"
#include "fwupdate/workgroup/wg_tables.h"

#include <gtest/gtest.h>

using namespace WG;

namespace {

WorkgroupMember unit(uint64_t id, uint16_t code, const char* name = "")
{
    WorkgroupMember m;
    m.deviceId = id;
    m.modelType = code;
    m.catalogueKind = code == 1 || code == 2 || code == 3 ? CategoryDaw : CategoryDevice;
    m.deviceIdText = QString::fromLatin1(name);
    return m;
}

std::vector<uint64_t> memberIds(const WorkgroupData& table)
{
    std::vector<uint64_t> out;
    for (const auto& m : table.members())
        out.push_back(m->deviceId);
    return out;
}

// The workgroup table is also what the catalogue consults as "joined".
struct Tables : MemberListsIF {
    ModelInfoList catalogue;
    WorkgroupData joined{&catalogue, this};
    EnumData seen{&catalogue, this};
    const MemberList& joinedMembers() const override { return joined.members(); }
    const MemberList& discoveredMembers() const override { return seen.members(); }
};

} // namespace

TEST(WorkgroupMembers, DisplayNames)
{
    const struct {
        const char* id;
        const char* shown;
    } cases[] = {
        {"J001-Valdor-Mavik-D-a1b2c3", "Mavik-D (a1:b2:c3)"},
        {"J01F-Valdor-Mavik-D-A1B2C3", "Mavik-D (A1:B2:C3)"},
        {"J001-Valdor-Mavik-D-A1B2C3-extra", "Mavik-D (A1:B2:C3)"},
        {"J001-Valdor-VELMAR-LX8A8D-0a0b0c", "VELMAR-LX8A8D (0a:0b:0c)"},
        {"J001-Valdor-VELMAR-LX16D-0a0b0c", "VELMAR-LX16D (0a:0b:0c)"},
        {"J001-Valdor-VELMAR-LX16A-0a0b0c", "VELMAR-LX16A (0a:0b:0c)"},
        // Part 0 is not of the unit-id form: shown as it is.
        {"V001-Valdor-Mavik-D-A1B2C3", "V001-Valdor-Mavik-D-A1B2C3"},
        {"J001-Valdor-Mavik-E-A1B2C3", "J001-Valdor-Mavik-E-A1B2C3"},
        {"J001-valdor-Mavik-D-A1B2C3", "J001-valdor-Mavik-D-A1B2C3"},
        {"J001-Valdor-mavik-D-A1B2C3", "J001-Valdor-mavik-D-A1B2C3"},
        {"J001-Valdor-Mavik-D", "J001-Valdor-Mavik-D"},
        {"J0012-Valdor-Mavik-D-A1B2C3", "J0012-Valdor-Mavik-D-A1B2C3"},
        {"J001-Valdor-Mavik-D-A1B2C", "J001-Valdor-Mavik-D-A1B2C"},
        {"J001-Valdor-VELMAR-LX8-0a0b0c", "J001-Valdor-VELMAR-LX8-0a0b0c"},
        {"J001-Valdor-VELMAR-D-0a0b0c", "J001-Valdor-VELMAR-D-0a0b0c"},
        {"", ""},
    };
    for (const auto& c : cases) {
        WorkgroupMember m;
        m.deviceIdText = QStringLiteral("previous");
        EXPECT_TRUE(m.setIdText(QString::fromLatin1(c.id))) << c.id;
        EXPECT_EQ(m.deviceIdText, c.id);
        EXPECT_EQ(m.displayName.toStdString(), c.shown) << c.id;
        EXPECT_FALSE(m.setIdText(QString::fromLatin1(c.id))) << "unchanged";
    }
}

TEST(WorkgroupMembers, InsertSortedPlacesByKindAndModel)
{
    Tables t;
    EXPECT_TRUE(t.seen.insertSorted(unit(1, 83)));
    EXPECT_TRUE(t.seen.insertSorted(unit(2, 1)));
    EXPECT_TRUE(t.seen.insertSorted(unit(3, 83)));
    EXPECT_TRUE(t.seen.insertSorted(unit(4, 48)));
    EXPECT_TRUE(t.seen.insertSorted(unit(5, 1)));
    EXPECT_EQ(memberIds(t.seen), (std::vector<uint64_t>{1, 3, 2, 5, 4}));
    WorkgroupMember again = unit(3, 48);
    again.label = QStringLiteral("changed");
    EXPECT_FALSE(t.seen.insertSorted(again));
    EXPECT_EQ(memberIds(t.seen), (std::vector<uint64_t>{1, 3, 2, 5, 4}));
    EXPECT_EQ(findMember(t.seen, 3)->modelType, 83);
    EXPECT_EQ(t.seen.countByModel(83), 2);
    EXPECT_EQ(t.seen.countByKind(CategoryDaw), 2);
    EXPECT_EQ(t.seen.countByKind(CategoryDevice), 3);
    EXPECT_EQ(findMember(t.seen, 9), nullptr);
}

TEST(WorkgroupMembers, AddAndRemoveThroughTheCatalogue)
{
    Tables t;
    // By catalogue: the entry chooses slot and place.
    ASSERT_TRUE(t.joined.add(unit(10, 48), AddAtPosition, true, 0));
    ASSERT_TRUE(t.joined.add(unit(11, 48), AddAtPosition, true, 0));
    EXPECT_EQ(findMember(t.joined, 10)->slotWord, 64);
    EXPECT_EQ(findMember(t.joined, 11)->slotWord, 65);
    EXPECT_EQ(findMember(t.joined, 11)->membership, MembershipJoined);
    ASSERT_TRUE(t.joined.add(unit(12, 48), AddAtPosition, true, 0));
    EXPECT_FALSE(t.joined.add(unit(13, 48), AddAtPosition, true, 0)) << "no fader role left";
    EXPECT_FALSE(t.joined.add(unit(14, 83), AddAtPosition, true, 0)) << "no entry to choose";

    // A given slot must be one of the entry's roles; the entry places it.
    EXPECT_FALSE(t.joined.add(unit(20, 1), AddAtPosition, false, 7));
    ASSERT_TRUE(t.joined.add(unit(20, 1), AddAtPosition, false, 2));
    ASSERT_TRUE(t.joined.add(unit(21, 3), AddAtPosition, false, 0));
    EXPECT_EQ(memberIds(t.joined), (std::vector<uint64_t>{21, 20, 10, 11, 12}));
    // Mode 1 appends where the entry would have placed it first.
    ASSERT_TRUE(t.joined.add(unit(22, 1), AddAppend, false, 1));
    EXPECT_EQ(memberIds(t.joined).back(), 22u);
    EXPECT_FALSE(t.joined.add(unit(23, 1), 2, false, 1)) << "no such mode";

    // Without an entry: the front, with the slot as given.
    ASSERT_TRUE(t.joined.add(unit(30, 83), AddAtPosition, false, 5));
    EXPECT_EQ(memberIds(t.joined).front(), 30u);
    EXPECT_EQ(findMember(t.joined, 30)->slotWord, 5);

    // The enumeration table keeps the membership a moved member brings.
    WorkgroupMember released = unit(40, 83);
    released.membership = MembershipForeign;
    ASSERT_TRUE(t.seen.add(released, AddAtPosition, false, 0));
    EXPECT_EQ(findMember(t.seen, 40)->membership, MembershipForeign);

    EXPECT_TRUE(t.joined.remove(11));
    EXPECT_TRUE(t.joined.remove(30));
    EXPECT_FALSE(t.joined.remove(30));
    EXPECT_EQ(memberIds(t.joined), (std::vector<uint64_t>{21, 20, 10, 12, 22}));

    // A snapshot is a copy.
    std::vector<WorkgroupMember> snap = t.joined.snapshot();
    ASSERT_EQ(snap.size(), 5u);
    snap[0].label = QStringLiteral("edited");
    EXPECT_TRUE(t.joined.members()[0]->label.isEmpty());
}
