// The model catalogue over plain member lists: roles, limits, places,
// candidates and the Tarn set-up texts.
#include "fwupdate/workgroup/wg_catalogue.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace WG;

namespace {

struct Lists : MemberListsIF {
    MemberList joined;
    MemberList discovered;
    const MemberList& joinedMembers() const override { return joined; }
    const MemberList& discoveredMembers() const override { return discovered; }
};

std::unique_ptr<WorkgroupMember> member(uint16_t code, int kind, uint16_t slot, const char* name = "", uint64_t id = 0,
    uint16_t stateA = 0, uint16_t stateB = 0)
{
    auto m = std::make_unique<WorkgroupMember>();
    m->modelType = code;
    m->catalogueKind = kind;
    m->slotWord = slot;
    m->deviceIdText = QString::fromLatin1(name);
    m->deviceId = id;
    m->linkStateA = stateA;
    m->linkStateB = stateB;
    return m;
}

struct Role {
    bool ok = false;
    QString name;
    int key = -1;
    int index = -1;
};

Role assign(const ModelInfoList& list, uint16_t code, const Lists& doc, const char* newName = "")
{
    Role r;
    const auto incoming = member(code, list.categoryKind(code), 0, newName);
    r.ok = list.findEntry(code)->assignRole(&doc, *incoming, &r.name, &r.key, &r.index);
    return r;
}

} // namespace

TEST(ModelCatalogue, HoldsTheEightEntriesInOrder)
{
    ModelInfoList list;
    struct Row {
        uint16_t code;
        const char* id;
        int limit;
        int kind;
        std::vector<int> keys;
        const char* icon;
        bool flags;
        int deviceKind;
    };
    const Row rows[] = {
        {1, "portavo", 3, 0, {0, 1, 2}, ":/images/Portavo_icon.png", false, -1},
        {3, "lyrand", 3, 0, {0, 1, 2}, ":/images/Lyrand_icon.png", false, -1},
        {2, "trakker", 1, 0, {1, 2}, ":/images/TK_icon.png", false, -1},
        {48, "harth-fd", 3, 1, {64, 65, 66}, ":/images/fdh.png", true, 3},
        {16, "harth-ct", 1, 1, {32}, ":/images/cth.png", false, 3},
        {80, "tarn-d16", 8, 1, {96, 97, 98, 99, 100, 101, 102, 103}, ":/images/tarnd.png", false, 4},
        {81, "tarn-a16", 8, 1, {96, 97, 98, 99, 100, 101, 102, 103}, ":/images/tarnd.png", false, 4},
        {82, "tarn-d8a8", 8, 1, {96, 97, 98, 99, 100, 101, 102, 103}, ":/images/tarnd.png", false, 4},
    };
    ASSERT_EQ(list.count(), 8u);
    for (size_t i = 0; i < 8; ++i) {
        const ModelInfo* e = list.at(i);
        const Row& row = rows[i];
        EXPECT_EQ(e->modelCode(), row.code) << i;
        EXPECT_EQ(e->idText(), row.id);
        EXPECT_EQ(e->modelLimit(), row.limit);
        EXPECT_EQ(e->category().kind(), row.kind);
        EXPECT_EQ(e->category().limit(), 3);
        const QList<int32_t> keys = e->roles().keys();
        EXPECT_EQ(std::vector<int>(keys.begin(), keys.end()), row.keys) << row.id;
        EXPECT_EQ(e->firstFlag(), row.flags);
        EXPECT_EQ(e->secondFlag(), row.flags);
        EXPECT_EQ(e->reserved(), 0);
        EXPECT_TRUE(QFile::exists(QString::fromLatin1(row.icon))) << row.icon;
        EXPECT_FALSE(e->icon().isNull()) << row.icon;
        const auto* device = dynamic_cast<const DeviceModel*>(e);
        EXPECT_EQ(device ? device->deviceKind() : -1, row.deviceKind);
        EXPECT_EQ(list.findEntry(row.code), e);
        EXPECT_EQ(e->fixedRoles(), row.code < 80);
        EXPECT_EQ(device && device->reAddOnRename(), row.code >= 80);
    }
    EXPECT_EQ(list.at(1)->roles().value(0), "DAW A");
    EXPECT_EQ(list.at(5)->roles().value(103), "IO 8");
    EXPECT_EQ(list.at(4)->roles().value(32), "MASTER");
    EXPECT_TRUE(QFile::exists(":/images/morvath.png"));

    const auto* d16 = dynamic_cast<const Tarn_D16Model*>(list.findEntry(80));
    const auto* a16 = dynamic_cast<const Tarn_D16Model*>(list.findEntry(81));
    const auto* a8d8 = dynamic_cast<const Tarn_D16Model*>(list.findEntry(82));
    const auto channels = [](const Tarn_D16Model* m) {
        return std::vector<int>{m->digitalInputs(), m->digitalOutputs(), m->analogInputs(), m->analogOutputs()};
    };
    EXPECT_EQ(channels(d16), (std::vector<int>{16, 16, 0, 0}));
    EXPECT_EQ(channels(a16), (std::vector<int>{0, 0, 16, 16}));
    EXPECT_EQ(channels(a8d8), (std::vector<int>{8, 8, 8, 8}));
    EXPECT_EQ(d16->mixerPath(), "tarn/setup_data/mixer");
}

TEST(ModelCatalogue, MavikCodeHasAKindButNoEntry)
{
    ModelInfoList list;
    EXPECT_EQ(list.categoryKind(83), CategoryDevice);
    EXPECT_EQ(list.findEntry(83), nullptr);
    EXPECT_EQ(list.categoryKind(99), kNoCategoryKind);
    EXPECT_EQ(list.findEntry(99), nullptr);
    EXPECT_EQ(list.categoryKind(2), CategoryDaw);
    EXPECT_EQ(list.categoryKind(81), CategoryDevice);
}

TEST(ModelCatalogue, RolesAndJoiningLimits)
{
    ModelInfoList list;
    Lists doc;
    // Faders: the fourth finds no role; a gap is filled first.
    doc.joined.push_back(member(48, 1, 64));
    doc.joined.push_back(member(48, 1, 66));
    Role r = assign(list, 48, doc);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.name, "FADER 2");
    EXPECT_EQ(r.key, 65);
    EXPECT_EQ(r.index, 1);
    EXPECT_TRUE(list.findEntry(48)->canJoin(&doc));
    doc.joined.insert(doc.joined.begin() + 1, member(48, 1, 65));
    EXPECT_FALSE(assign(list, 48, doc).ok);
    EXPECT_FALSE(list.findEntry(48)->canJoin(&doc));

    // A joined DAW member without a role holds key 0, so "DAW A" is taken.
    Lists daws;
    daws.joined.push_back(member(1, 0, 0));
    r = assign(list, 3, daws);
    EXPECT_EQ(r.name, "DAW B");
    EXPECT_EQ(r.index, 1);
    daws.joined.push_back(member(3, 0, 1));
    EXPECT_TRUE(list.findEntry(1)->canJoin(&daws));
    daws.joined.push_back(member(3, 0, 2));
    EXPECT_FALSE(list.findEntry(1)->canJoin(&daws)) << "a fourth DAW: the category holds 3";
    EXPECT_FALSE(list.findEntry(3)->canJoin(&daws)) << "and lyrand's own limit";

    // Trakker: never "DAW A"; both other roles held: cannot register.
    Lists empty;
    r = assign(list, 2, empty);
    EXPECT_EQ(r.name, "DAW B");
    EXPECT_EQ(r.key, 1);
    QString error;
    EXPECT_TRUE(list.findEntry(2)->canRegister(&empty, &error));
    EXPECT_FALSE(list.findEntry(2)->canRegister(&daws, &error));
    EXPECT_EQ(error, "Cannot register");
    EXPECT_TRUE(list.findEntry(1)->canRegister(&daws, &error));
    Lists oneTrakker;
    oneTrakker.joined.push_back(member(2, 0, 1));
    EXPECT_FALSE(list.findEntry(2)->canJoin(&oneTrakker)) << "model limit 1";
    EXPECT_FALSE(list.findEntry(1)->canJoin(nullptr));
}

TEST(ModelCatalogue, TarnRolesFollowNameOrder)
{
    ModelInfoList list;
    Lists doc;
    doc.joined.push_back(member(1, 0, 0, "daw"));
    doc.joined.push_back(member(80, 1, 96, "b"));
    doc.joined.push_back(member(81, 1, 97, "D"));
    doc.joined.push_back(member(82, 1, 98, "f"));
    Role r = assign(list, 81, doc, "c");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.name, "IO 2");
    EXPECT_EQ(r.key, 97);
    EXPECT_EQ(r.index, 2) << "the place of d";
    r = assign(list, 80, doc, "G");
    EXPECT_EQ(r.key, 99);
    EXPECT_EQ(r.index, 4);
    r = assign(list, 80, doc, "a");
    EXPECT_EQ(r.key, 96);
    EXPECT_EQ(r.index, 1);

    Lists three;
    three.joined.push_back(member(80, 1, 96, "b"));
    three.joined.push_back(member(80, 1, 97, "d"));
    three.joined.push_back(member(80, 1, 98, "f"));
    r = assign(list, 80, three, "c");
    EXPECT_EQ(r.name, "IO 2");
    EXPECT_EQ(r.index, 1);

    Lists boxes;
    EXPECT_EQ(assign(list, 82, boxes, "x").index, 0);
    for (int i = 0; i < 8; ++i)
        boxes.joined.push_back(member(80, 1, static_cast<uint16_t>(96 + i), "n"));
    EXPECT_FALSE(assign(list, 80, boxes, "z").ok) << "eight hold a role";
    EXPECT_FALSE(list.findEntry(82)->canJoin(&boxes));
}

TEST(ModelCatalogue, InsertIndexes)
{
    ModelInfoList list;
    MemberList m;
    m.push_back(member(1, 0, 0));
    m.push_back(member(48, 1, 64));
    m.push_back(member(3, 0, 2));
    m.push_back(member(48, 1, 66));
    const ModelInfo* daw = list.findEntry(1);
    EXPECT_EQ(daw->insertIndex(m, 1, 0, 1), 1) << "after DAW A";
    EXPECT_EQ(daw->insertIndex(m, 3, 0, 1), 3) << "after DAW C";
    MemberList onlyHigher;
    onlyHigher.push_back(member(48, 1, 64));
    onlyHigher.push_back(member(3, 0, 2));
    EXPECT_EQ(daw->insertIndex(onlyHigher, 1, 0, 3), 1) << "before the higher key";
    EXPECT_EQ(daw->insertIndex(MemberList(), 1, 0, 3), 0);
    const ModelInfo* fader = list.findEntry(48);
    EXPECT_EQ(fader->insertIndex(m, 65, 1, 48), 2);
    EXPECT_EQ(fader->insertIndex(m, 67, 1, 48), 4);
    EXPECT_EQ(fader->insertIndex(m, 64, 1, 16), 4) << "no member of that code: the list's end";

    // Mode-0 insertion and removal through the entry.
    MemberList own;
    fader->insertMember(own, member(48, 1, 64, "x"), 0);
    fader->insertMember(own, member(48, 1, 65, "y"), 9);
    ASSERT_EQ(own.size(), 2u);
    EXPECT_EQ(own[1]->deviceIdText, "y");
    fader->removeMember(own, 0);
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0]->deviceIdText, "y");
    fader->removeMember(own, 5);
    EXPECT_EQ(own.size(), 1u);
}

TEST(ModelCatalogue, ReplacementAndCandidates)
{
    ModelInfoList list;
    Lists doc;
    doc.joined.push_back(member(1, 0, 0, "", 0x10));
    doc.joined.push_back(member(3, 0, 1, "", 0x11));
    doc.joined.push_back(member(48, 1, 64, "", 0x12));
    doc.joined.push_back(member(80, 1, 96, "", 0x13));
    doc.discovered.push_back(member(2, 0, 0, "", 0x20));
    doc.discovered.push_back(member(48, 1, 0, "", 0x21, 1, 0));
    doc.discovered.push_back(member(48, 1, 0, "", 0x22));
    doc.discovered.push_back(member(16, 1, 0, "", 0x23));
    doc.discovered.push_back(member(81, 1, 0, "", 0x24, 0, 3));

    QString error;
    const ModelInfo* trakker = list.findEntry(2);
    EXPECT_FALSE(trakker->canReplace(&doc, 0x20, 0x10, &error)) << "DAW A holds no role";
    EXPECT_EQ(error, "Cannot assign as DAW-A");
    EXPECT_TRUE(trakker->canReplace(&doc, 0x20, 0x11, &error));
    EXPECT_FALSE(trakker->canReplace(&doc, 0x20, 0x12, &error)) << "another category";
    EXPECT_FALSE(list.findEntry(48)->canReplace(&doc, 0x23, 0x12, &error)) << "another model code";
    EXPECT_TRUE(list.findEntry(48)->canReplace(&doc, 0x22, 0x12, &error));
    EXPECT_FALSE(list.findEntry(48)->canReplace(&doc, 0x99, 0x12, &error));
    EXPECT_TRUE(list.findEntry(81)->canReplace(&doc, 0x24, 0x13, &error));
    EXPECT_FALSE(list.findEntry(81)->canReplace(&doc, 0x24, 0x12, &error));

    const auto ids = [&](const ModelInfo* e, int key) {
        CandidateList out;
        EXPECT_TRUE(e->collectCandidates(&doc, key, &out));
        std::vector<uint64_t> v;
        for (const WorkgroupMember* m : out)
            v.push_back(m->deviceId);
        return v;
    };
    EXPECT_EQ(ids(list.findEntry(48), 0), (std::vector<uint64_t>{0x12, 0x22})) << "0x21's first state is busy";
    EXPECT_EQ(ids(trakker, 0), (std::vector<uint64_t>{0x11, 0x20}));
    EXPECT_EQ(ids(list.findEntry(1), 1), (std::vector<uint64_t>{0x10, 0x11, 0x20}));
    EXPECT_EQ(ids(list.findEntry(1), 0), (std::vector<uint64_t>{0x10, 0x11}));
    EXPECT_EQ(ids(list.findEntry(80), 96), (std::vector<uint64_t>{0x13, 0x24}));
    doc.joined.push_back(member(2, 0, 2, "", 0x14));
    EXPECT_EQ(ids(list.findEntry(3), 1), (std::vector<uint64_t>{0x10, 0x11, 0x14})) << "a Trakker joined";
    CandidateList none;
    EXPECT_FALSE(trakker->collectCandidates(nullptr, 0, &none));
}

TEST(ModelCatalogue, TarnSetupTexts)
{
    ModelInfoList list;
    const auto* a8d8 = dynamic_cast<const Tarn_A16Model*>(list.findEntry(82));
    const auto* d16 = dynamic_cast<const Tarn_D16Model*>(list.findEntry(80));
    ASSERT_TRUE(a8d8 && d16);
    const QString setup = a8d8->setupData("");
    EXPECT_TRUE(setup.startsWith("<tarn><attribute><format_version><version value=\"1.00\" /></format_version>"
                                 "</attribute><setup_data><mixer><fs /><clock_source /><src1 />"));
    EXPECT_TRUE(setup.endsWith("<input_gain4 /></mixer></setup_data></tarn>"));
    EXPECT_EQ(setup.count("<src"), 4);
    EXPECT_EQ(setup.count("<input_trim"), 8);
    EXPECT_EQ(setup.count("<output_trim"), 8);
    EXPECT_EQ(setup.count("<dual_wire"), 1);
    EXPECT_EQ(setup.count("<input_gain"), 4);
    EXPECT_EQ(d16->emptyMixerBody().count("<src"), 8);
    EXPECT_EQ(d16->emptyMixerBody().count("<dual_wire"), 2);
    EXPECT_EQ(d16->emptyMixerBody().count("input_gain"), 0);
    EXPECT_TRUE(d16->setupData("<x/>").contains("<mixer><x/></mixer>"));
    EXPECT_EQ(list.findEntry(48)->setupData(""), "");

    EXPECT_EQ(a8d8->trimElement(true, 0, -1.5), "input_trim1");
    EXPECT_EQ(a8d8->trimElement(false, 3, 2.5), "<output_trim4 value=\"2.5\"/>");
    EXPECT_EQ(a8d8->trimElement(true, 1, -1), "<input_trim2 value=\"-1\"/>");
    EXPECT_EQ(a8d8->trimValue(" -3.25"), -3.25);
    EXPECT_EQ(a8d8->trimValue("loud"), 0);

    EXPECT_EQ(d16->clockSourceElement(-1), "clock_source");
    EXPECT_EQ(d16->clockSourceElement(0), "<clock_source value=\"Dante\"/>");
    EXPECT_EQ(d16->clockSourceElement(9), "<clock_source value=\"AES/EBU2-7/8\"/>");
    EXPECT_EQ(d16->clockSourceElement(10), "<clock_source value=\"\"/>");
    EXPECT_EQ(d16->srcElement(3, 1), "<src2 value=\"on\"/>");
    EXPECT_EQ(d16->srcElement(5, -1), "src3");
    EXPECT_EQ(d16->dualWireElement(9, 0), "<dual_wire2 value=\"off\"/>");
    EXPECT_EQ(d16->dualWireElement(0, 2), "<dual_wire1 value=\"\"/>");
    EXPECT_EQ(a8d8->inputGainElement(2, 1), "<input_gain2 value=\"-10dBV\"/>");
    EXPECT_EQ(a8d8->inputGainElement(0, -1), "input_gain1");

    EXPECT_EQ(d16->clockSourceIndex("aes/ebu2-1/2"), 6);
    EXPECT_EQ(d16->clockSourceIndex("BNC"), 1);
    EXPECT_EQ(d16->clockSourceIndex("word clock"), 0);
    EXPECT_EQ(d16->onOffIndex("ON"), 1);
    EXPECT_EQ(d16->onOffIndex("maybe"), 0);
    EXPECT_EQ(a8d8->inputGainIndex("-10dbv"), 1);
    EXPECT_EQ(a8d8->inputGainIndex(""), 0);

    EXPECT_EQ(list.findEntry(48)->alarmText(1), "Cooling fan is not working.");
    EXPECT_EQ(d16->alarmText(3), "Cooling fan is not working.");
    EXPECT_EQ(d16->alarmText(2), "");
    EXPECT_EQ(list.findEntry(16)->alarmText(1), "");
}
