#include "fwupdate/workgroup/wg_catalogue.h"

#include <QStringList>

#include <algorithm>

// Q_INIT_RESOURCE declares the loader at file scope, so it may not sit in a namespace.
static void registerWorkgroupIcons()
{
    Q_INIT_RESOURCE(wg_icons);
}

namespace WG {

namespace {

constexpr int kTarnFirstKey = 96;
constexpr int kTarnLastKey = 103;
constexpr int kTarnLimit = 8;

const char* const kClockSources[] = {"Dante", "BNC", "AES/EBU1-1/2", "AES/EBU1-3/4", "AES/EBU1-5/6", "AES/EBU1-7/8",
    "AES/EBU2-1/2", "AES/EBU2-3/4", "AES/EBU2-5/6", "AES/EBU2-7/8"};
const char* const kOnOff[] = {"off", "on"};
const char* const kInputGains[] = {"+4dBu", "-10dBV"};

bool isTarnCode(uint16_t code)
{
    return code >= 80 && code <= 82;
}

bool lowBitsClear(uint16_t word)
{
    return (word & 7) == 0;
}

bool bothClear(const WorkgroupMember& m)
{
    return lowBitsClear(m.linkStateA) && lowBitsClear(m.linkStateB);
}

const WorkgroupMember* findIn(const MemberList& members, uint64_t deviceId)
{
    for (const auto& m : members)
        if (m->deviceId == deviceId)
            return m.get();
    return nullptr;
}

template <typename Pred> int countIf(const MemberList& members, Pred pred)
{
    return static_cast<int>(std::count_if(members.begin(), members.end(), [&](const auto& m) { return pred(*m); }));
}

template <typename Pred> void appendIf(const MemberList& members, CandidateList* out, Pred pred)
{
    for (const auto& m : members)
        if (pred(*m))
            out->push_back(m.get());
}

QMap<int32_t, QString> dawRoles()
{
    return {{0, QStringLiteral("DAW A")}, {1, QStringLiteral("DAW B")}, {2, QStringLiteral("DAW C")}};
}

QMap<int32_t, QString> tarnRoles()
{
    QMap<int32_t, QString> roles;
    for (int key = kTarnFirstKey; key <= kTarnLastKey; ++key)
        roles.insert(key, QStringLiteral("IO %1").arg(key - kTarnFirstKey + 1));
    return roles;
}

template <size_t N> int indexIn(const char* const (&list)[N], const QString& text)
{
    for (size_t i = 0; i < N; ++i)
        if (text.compare(QLatin1String(list[i]), Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return 0;
}

template <size_t N> QString valueIn(const char* const (&list)[N], int index)
{
    return index >= 0 && static_cast<size_t>(index) < N ? QString::fromLatin1(list[index]) : QString();
}

// <name value="value"/>, or the name alone for a negative index.
QString element(const QString& name, int index, const QString& value)
{
    if (index < 0)
        return name;
    return QStringLiteral("<") + name + QStringLiteral(" value=\"") + value + QStringLiteral("\"/>");
}

QString emptyElements(const char* name, int count)
{
    QString out;
    for (int i = 1; i <= count; ++i)
        out += QStringLiteral("<%1%2 />").arg(QLatin1String(name)).arg(i);
    return out;
}

const QString kFanAlarm = QStringLiteral("Cooling fan is not working.");

} // namespace

// ---------------------------------------------------------------------------

ModelInfo::ModelInfo(std::unique_ptr<CategoryInfo> category, uint16_t code, int32_t modelLimit,
    QMap<int32_t, QString> roles, const QString& iconPath, bool flag1, bool flag2)
    : m_category(std::move(category))
    , m_code(code)
    , m_modelLimit(modelLimit)
    , m_roles(std::move(roles))
    , m_iconPath(iconPath)
    , m_flags{flag1, flag2}
{
}

ModelInfo::~ModelInfo() = default;

bool ModelInfo::assignRole(
    const MemberListsIF* doc, const WorkgroupMember&, QString* roleName, int* roleKey, int* insertIndex) const
{
    if (!doc)
        return false;
    const MemberList& joined = doc->joinedMembers();
    for (auto it = m_roles.constBegin(); it != m_roles.constEnd(); ++it) {
        if (it.value().isEmpty())
            continue;
        const int key = it.key();
        if (countIf(joined, [&](const WorkgroupMember& m) { return m.holdsKey(key) && blocksRole(m); }) > 0)
            continue;
        *roleName = it.value();
        *roleKey = key;
        *insertIndex = this->insertIndex(joined, key, m_category->kind(), m_code);
        return true;
    }
    return false;
}

bool ModelInfo::canRegister(const MemberListsIF*, QString*) const
{
    return true;
}

bool ModelInfo::canReplace(const MemberListsIF* doc, uint64_t newMemberId, uint64_t memberId, QString*) const
{
    if (!doc)
        return false;
    const WorkgroupMember* incoming = findIn(doc->discoveredMembers(), newMemberId);
    const WorkgroupMember* joined = findIn(doc->joinedMembers(), memberId);
    return incoming && joined && incoming->catalogueKind == joined->catalogueKind;
}

bool ModelInfo::collectCandidates(const MemberListsIF* doc, int, CandidateList* out) const
{
    if (!doc)
        return false;
    appendIf(doc->joinedMembers(), out, [&](const WorkgroupMember& m) { return m.modelType == m_code; });
    appendIf(doc->discoveredMembers(), out,
        [&](const WorkgroupMember& m) { return m.modelType == m_code && lowBitsClear(m.linkStateA); });
    return true;
}

bool ModelInfo::placesBeside(const WorkgroupMember& member, int categoryKind, uint16_t) const
{
    return member.catalogueKind == categoryKind;
}

int ModelInfo::insertIndex(const MemberList& members, int roleKey, int categoryKind, uint16_t modelCode) const
{
    int fallback = -1;
    for (int i = static_cast<int>(members.size()) - 1; i >= 0; --i) {
        const WorkgroupMember& m = *members[static_cast<size_t>(i)];
        if (!placesBeside(m, categoryKind, modelCode))
            continue;
        if (m.slotWord < roleKey)
            return i + 1;
        if (m.slotWord > roleKey)
            fallback = i;
    }
    if (fallback >= 0)
        return fallback;
    return fallbackAtEnd() ? static_cast<int>(members.size()) : 0;
}

QString ModelInfo::idText() const
{
    return QString();
}

bool ModelInfo::canJoin(const MemberListsIF* doc) const
{
    return doc && countIf(doc->joinedMembers(), [&](const WorkgroupMember& m) {
        return m.modelType == m_code;
    }) < m_modelLimit;
}

QString ModelInfo::setupData(const QString&) const
{
    return QString();
}

void ModelInfo::insertMember(MemberList& members, std::unique_ptr<WorkgroupMember> member, int index) const
{
    const size_t at = std::min(static_cast<size_t>(std::max(index, 0)), members.size());
    members.insert(members.begin() + static_cast<std::ptrdiff_t>(at), std::move(member));
}

void ModelInfo::removeMember(MemberList& members, int index) const
{
    if (index >= 0 && static_cast<size_t>(index) < members.size())
        members.erase(members.begin() + index);
}

QString ModelInfo::alarmText(uint32_t) const
{
    return QString();
}

// ---------------------------------------------------------------------------

DAWModel::DAWModel()
    : DAWModel(0, 3, dawRoles(), QStringLiteral(":/images/morvath.png"))
{
}

DAWModel::DAWModel(uint16_t code, int32_t modelLimit, QMap<int32_t, QString> roles, const QString& iconPath)
    : ModelInfo(std::make_unique<CategoryInfoDaw>(), code, modelLimit, std::move(roles), iconPath)
{
}

bool DAWModel::blocksRole(const WorkgroupMember& member) const
{
    return member.catalogueKind == CategoryDaw;
}

bool DAWModel::canJoin(const MemberListsIF* doc) const
{
    if (!doc)
        return false;
    const MemberList& joined = doc->joinedMembers();
    return countIf(joined, [](const WorkgroupMember& m) { return m.catalogueKind == CategoryDaw; }) < category().limit()
        && countIf(joined, [&](const WorkgroupMember& m) { return m.modelType == modelCode(); }) < modelLimit();
}

bool DAWModel::collectCandidates(const MemberListsIF* doc, int roleKey, CandidateList* out) const
{
    if (!doc)
        return false;
    const auto isDaw = [](const WorkgroupMember& m) { return m.catalogueKind == CategoryDaw; };
    const auto isPair = [](const WorkgroupMember& m) { return m.modelType == 1 || m.modelType == 3; };
    if (roleKey != 0) {
        appendIf(doc->joinedMembers(), out, isDaw);
        if (countIf(doc->joinedMembers(), [](const WorkgroupMember& m) { return m.modelType == 2; }) == 0)
            appendIf(doc->discoveredMembers(), out, [&](const WorkgroupMember& m) { return isDaw(m) && bothClear(m); });
        return true;
    }
    appendIf(doc->joinedMembers(), out, [&](const WorkgroupMember& m) { return isDaw(m) && isPair(m); });
    appendIf(
        doc->discoveredMembers(), out, [&](const WorkgroupMember& m) { return isDaw(m) && isPair(m) && bothClear(m); });
    return true;
}

PortavoModel::PortavoModel()
    : DAWModel(1, 3, dawRoles(), QStringLiteral(":/images/Portavo_icon.png"))
{
}

LyrandModel::LyrandModel()
    : DAWModel(3, 3, dawRoles(), QStringLiteral(":/images/Lyrand_icon.png"))
{
}

TrakkerModel::TrakkerModel()
    : DAWModel(
        2, 1, {{1, QStringLiteral("DAW B")}, {2, QStringLiteral("DAW C")}}, QStringLiteral(":/images/TK_icon.png"))
{
}

bool TrakkerModel::canRegister(const MemberListsIF* doc, QString* errorText) const
{
    if (!doc)
        return true;
    const auto held = [&](int key) {
        return countIf(doc->joinedMembers(), [&](const WorkgroupMember& m) {
            return m.catalogueKind == CategoryDaw && m.holdsKey(key);
        }) > 0;
    };
    if (held(1) && held(2)) {
        *errorText = QStringLiteral("Cannot register");
        return false;
    }
    return true;
}

bool TrakkerModel::canReplace(
    const MemberListsIF* doc, uint64_t newMemberId, uint64_t memberId, QString* errorText) const
{
    bool ok = ModelInfo::canReplace(doc, newMemberId, memberId, errorText);
    if (ok) {
        const WorkgroupMember* joined = findIn(doc->joinedMembers(), memberId);
        ok = joined->holdsRole()
            && (joined->modelType == 2
                || countIf(doc->joinedMembers(), [](const WorkgroupMember& m) { return m.modelType == 2; }) == 0);
    }
    if (!ok)
        *errorText = QStringLiteral("Cannot assign as DAW-A");
    return ok;
}

bool TrakkerModel::collectCandidates(const MemberListsIF* doc, int, CandidateList* out) const
{
    if (!doc)
        return false;
    appendIf(doc->joinedMembers(), out,
        [](const WorkgroupMember& m) { return m.catalogueKind == CategoryDaw && m.holdsRole(); });
    appendIf(doc->discoveredMembers(), out,
        [](const WorkgroupMember& m) { return m.catalogueKind == CategoryDaw && bothClear(m); });
    return true;
}

// ---------------------------------------------------------------------------

DeviceModel::DeviceModel(uint16_t code, int32_t modelLimit, QMap<int32_t, QString> roles, const QString& iconPath,
    bool flags, int32_t deviceKind)
    : ModelInfo(std::make_unique<CategoryInfoDevice>(), code, modelLimit, std::move(roles), iconPath, flags, flags)
    , m_deviceKind(deviceKind)
{
}

bool DeviceModel::blocksRole(const WorkgroupMember& member) const
{
    return member.modelType == modelCode();
}

bool DeviceModel::placesBeside(const WorkgroupMember& member, int categoryKind, uint16_t code) const
{
    return member.catalogueKind == categoryKind && member.modelType == code;
}

bool DeviceModel::canReplace(
    const MemberListsIF* doc, uint64_t newMemberId, uint64_t memberId, QString* errorText) const
{
    return ModelInfo::canReplace(doc, newMemberId, memberId, errorText)
        && findIn(doc->discoveredMembers(), newMemberId)->modelType
        == findIn(doc->joinedMembers(), memberId)->modelType;
}

bool DeviceModel::canJoin(const MemberListsIF* doc) const
{
    return ModelInfo::canJoin(doc);
}

FDHModel::FDHModel()
    : DeviceModel(48, 3,
        {{64, QStringLiteral("FADER 1")}, {65, QStringLiteral("FADER 2")}, {66, QStringLiteral("FADER 3")}},
        QStringLiteral(":/images/fdh.png"), true, 3)
{
}

QString FDHModel::alarmText(uint32_t flags) const
{
    return (flags & 1) ? kFanAlarm : QString();
}

CTHModel::CTHModel()
    : DeviceModel(16, 1, {{32, QStringLiteral("MASTER")}}, QStringLiteral(":/images/cth.png"), false, 3)
{
}

// ---------------------------------------------------------------------------

Tarn_D16Model::Tarn_D16Model()
    : Tarn_D16Model(80, 16, 16, 0, 0)
{
}

Tarn_D16Model::Tarn_D16Model(uint16_t code, int digitalIn, int digitalOut, int analogIn, int analogOut)
    : DeviceModel(code, kTarnLimit, tarnRoles(), QStringLiteral(":/images/tarnd.png"), false, 4)
    , m_channels{digitalIn, digitalOut, analogIn, analogOut}
{
}

bool Tarn_D16Model::placesBeside(const WorkgroupMember& member, int categoryKind, uint16_t) const
{
    return member.catalogueKind == categoryKind && isTarnCode(member.modelType);
}

bool Tarn_D16Model::assignRole(
    const MemberListsIF* doc, const WorkgroupMember& newMember, QString* roleName, int* roleKey, int* insertIndex) const
{
    if (!doc)
        return false;
    const MemberList& joined = doc->joinedMembers();
    if (countIf(joined, [](const WorkgroupMember& m) { return isTarnCode(m.modelType) && m.holdsRole(); })
        >= modelLimit())
        return false;
    int key = kTarnFirstKey;
    int index = -1;
    for (size_t i = 0; i < joined.size(); ++i) {
        const WorkgroupMember& m = *joined[i];
        if (!isTarnCode(m.modelType))
            continue;
        if (m.deviceIdText.compare(newMember.deviceIdText, Qt::CaseInsensitive) < 0) {
            ++key;
            index = static_cast<int>(i) + 1;
            continue;
        }
        index = static_cast<int>(i);
        break;
    }
    if (key > kTarnLastKey)
        return false;
    *roleKey = key;
    *insertIndex = index < 0 ? static_cast<int>(joined.size()) : index;
    *roleName = QStringLiteral("IO %1").arg(key - kTarnFirstKey + 1);
    return true;
}

bool Tarn_D16Model::canReplace(
    const MemberListsIF* doc, uint64_t newMemberId, uint64_t memberId, QString* errorText) const
{
    return ModelInfo::canReplace(doc, newMemberId, memberId, errorText)
        && isTarnCode(findIn(doc->joinedMembers(), memberId)->modelType);
}

bool Tarn_D16Model::collectCandidates(const MemberListsIF* doc, int roleKey, CandidateList* out) const
{
    if (!doc)
        return false;
    appendIf(doc->joinedMembers(), out, [&](const WorkgroupMember& m) { return m.holdsKey(roleKey); });
    appendIf(doc->discoveredMembers(), out,
        [](const WorkgroupMember& m) { return isTarnCode(m.modelType) && lowBitsClear(m.linkStateA); });
    return true;
}

bool Tarn_D16Model::canJoin(const MemberListsIF* doc) const
{
    return doc
        && countIf(doc->joinedMembers(), [](const WorkgroupMember& m) { return isTarnCode(m.modelType); }) < kTarnLimit;
}

QString Tarn_D16Model::setupData(const QString& mixerText) const
{
    QString out = QStringLiteral("<tarn><attribute><format_version><version value=\"1.00\" /></format_version>"
                                 "</attribute><setup_data><mixer>");
    out += mixerText.isEmpty() ? QStringLiteral("<fs /><clock_source />") + emptyMixerBody() : mixerText;
    out += QStringLiteral("</mixer></setup_data></tarn>");
    return out;
}

QString Tarn_D16Model::alarmText(uint32_t flags) const
{
    return (flags & 1) ? kFanAlarm : QString();
}

int Tarn_D16Model::clockSourceIndex(const QString& text) const
{
    return indexIn(kClockSources, text);
}

QString Tarn_D16Model::clockSourceElement(int index) const
{
    return element(QStringLiteral("clock_source"), index, valueIn(kClockSources, index));
}

int Tarn_D16Model::onOffIndex(const QString& text) const
{
    return indexIn(kOnOff, text);
}

QString Tarn_D16Model::dualWireElement(int channel, int index) const
{
    return element(QStringLiteral("dual_wire%1").arg(channel / 8 + 1), index, valueIn(kOnOff, index));
}

QString Tarn_D16Model::srcElement(int channel, int index) const
{
    return element(QStringLiteral("src%1").arg(channel / 2 + 1), index, valueIn(kOnOff, index));
}

QString Tarn_D16Model::emptyMixerBody() const
{
    return emptyElements("src", digitalInputs() / 2) + emptyElements("input_trim", analogInputs())
        + emptyElements("output_trim", analogOutputs()) + emptyElements("dual_wire", digitalInputs() / 8);
}

Tarn_A16Model::Tarn_A16Model()
    : Tarn_A16Model(81, 0, 0, 16, 16)
{
}

Tarn_A16Model::Tarn_A16Model(uint16_t code, int digitalIn, int digitalOut, int analogIn, int analogOut)
    : Tarn_D16Model(code, digitalIn, digitalOut, analogIn, analogOut)
{
}

QString Tarn_A16Model::emptyMixerBody() const
{
    return Tarn_D16Model::emptyMixerBody() + emptyElements("input_gain", analogInputs() / 2);
}

double Tarn_A16Model::trimValue(const QString& text) const
{
    return text.trimmed().toDouble();
}

QString Tarn_A16Model::trimElement(bool isInput, int index, double value) const
{
    const QString name = QStringLiteral("%1%2").arg(isInput ? "input_trim" : "output_trim").arg(index + 1);
    if (value < -1)
        return name;
    return element(name, 0, QString::number(value, 'g', 2));
}

int Tarn_A16Model::inputGainIndex(const QString& text) const
{
    return indexIn(kInputGains, text);
}

QString Tarn_A16Model::inputGainElement(int channel, int index) const
{
    return element(QStringLiteral("input_gain%1").arg(channel / 2 + 1), index, valueIn(kInputGains, index));
}

Tarn_A8D8Model::Tarn_A8D8Model()
    : Tarn_A16Model(82, 8, 8, 8, 8)
{
}

// ---------------------------------------------------------------------------

ModelInfoList::ModelInfoList(QObject* document)
    : QObject(document)
{
    static const bool registered = (registerWorkgroupIcons(), true);
    (void)registered;
    m_entries.push_back(std::make_unique<PortavoModel>());
    m_entries.push_back(std::make_unique<LyrandModel>());
    m_entries.push_back(std::make_unique<TrakkerModel>());
    m_entries.push_back(std::make_unique<FDHModel>());
    m_entries.push_back(std::make_unique<CTHModel>());
    m_entries.push_back(std::make_unique<Tarn_D16Model>());
    m_entries.push_back(std::make_unique<Tarn_A16Model>());
    m_entries.push_back(std::make_unique<Tarn_A8D8Model>());
}

ModelInfoList::~ModelInfoList() = default;

ModelInfo* ModelInfoList::findEntry(uint16_t modelCode) const
{
    for (const auto& entry : m_entries)
        if (entry->modelCode() == modelCode)
            return entry.get();
    return nullptr;
}

int32_t ModelInfoList::categoryKind(uint16_t modelCode) const
{
    if (const ModelInfo* entry = findEntry(modelCode))
        return entry->category().kind();
    return modelCode == kMavikModelCode ? CategoryDevice : kNoCategoryKind;
}

} // namespace WG
