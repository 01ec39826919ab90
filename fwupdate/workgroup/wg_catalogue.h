// The workgroup model catalogue: one entry per model a member may be, with
// its category (DAW or device), how many may join, the roles members of it
// occupy, its icon, and the rules that give a new member a role and a place
// in the document's member list. The Tarn I/O boxes also build the XML
// set-up data of their mixer.
#pragma once

#include "fwupdate/workgroup/wg_member.h"

#include <QIcon>
#include <QMap>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace WG {

enum CategoryKind : int32_t { CategoryDaw = 0, CategoryDevice = 1 };
// categoryKind() of a model code that has none.
constexpr int32_t kNoCategoryKind = -1;
// The Mavik units: no catalogue entry, but heartbeats of the device kind.
constexpr uint16_t kMavikModelCode = 83;

class CategoryInfo {
public:
    virtual ~CategoryInfo() = default;
    int32_t kind() const { return m_kind; }
    int32_t limit() const { return m_limit; }

protected:
    CategoryInfo(int32_t kind, int32_t limit)
        : m_kind(kind)
        , m_limit(limit)
    {
    }

private:
    int32_t m_kind;
    int32_t m_limit;
};

class CategoryInfoDaw : public CategoryInfo {
public:
    CategoryInfoDaw()
        : CategoryInfo(CategoryDaw, 3)
    {
    }
};

class CategoryInfoDevice : public CategoryInfo {
public:
    CategoryInfoDevice()
        : CategoryInfo(CategoryDevice, 3)
    {
    }
};

using CandidateList = std::vector<const WorkgroupMember*>;

class ModelInfo {
public:
    virtual ~ModelInfo();
    ModelInfo(const ModelInfo&) = delete;
    ModelInfo& operator=(const ModelInfo&) = delete;

    // The role a new member of this model takes, its key and where it goes
    // in the joined list; false when none is free.
    virtual bool assignRole(const MemberListsIF* doc, const WorkgroupMember& newMember, QString* roleName, int* roleKey,
        int* insertIndex) const;
    virtual bool canRegister(const MemberListsIF* doc, QString* errorText) const;
    // May the discovered member newMemberId take the joined memberId's place?
    virtual bool canReplace(
        const MemberListsIF* doc, uint64_t newMemberId, uint64_t memberId, QString* errorText) const;
    // Appends the joined, then the discovered members offered for this
    // model; false without a document.
    virtual bool collectCandidates(const MemberListsIF* doc, int roleKey, CandidateList* out) const;
    virtual int insertIndex(const MemberList& members, int roleKey, int categoryKind, uint16_t modelCode) const;
    virtual QString idText() const;
    virtual bool canJoin(const MemberListsIF* doc) const;
    bool firstFlag() const { return m_flags[0]; }
    bool secondFlag() const { return m_flags[1]; }
    int reserved() const { return 0; }
    virtual QString setupData(const QString& mixerText) const;
    virtual void insertMember(MemberList& members, std::unique_ptr<WorkgroupMember> member, int index) const;
    // Destroys the member at index and removes it from the list.
    virtual void removeMember(MemberList& members, int index) const;
    // False for models whose roles follow their members' names.
    virtual bool fixedRoles() const { return true; }
    virtual QString alarmText(uint32_t flags) const;

    const CategoryInfo& category() const { return *m_category; }
    uint16_t modelCode() const { return m_code; }
    int32_t modelLimit() const { return m_modelLimit; }
    const QMap<int32_t, QString>& roles() const { return m_roles; }
    // Made when asked for: a QIcon needs the application object, which the
    // catalogue itself does not.
    QIcon icon() const { return QIcon(m_iconPath); }
    const QString& iconPath() const { return m_iconPath; }

protected:
    ModelInfo(std::unique_ptr<CategoryInfo> category, uint16_t code, int32_t modelLimit, QMap<int32_t, QString> roles,
        const QString& iconPath, bool flag1 = false, bool flag2 = false);
    // A joined member of this model's family holding the role's key blocks it.
    virtual bool blocksRole(const WorkgroupMember& member) const = 0;
    // The members insertIndex looks at, and where it ends without any.
    virtual bool placesBeside(const WorkgroupMember& member, int categoryKind, uint16_t modelCode) const;
    virtual bool fallbackAtEnd() const { return false; }

private:
    std::unique_ptr<CategoryInfo> m_category;
    uint16_t m_code;
    int32_t m_modelLimit;
    QMap<int32_t, QString> m_roles;
    QString m_iconPath;
    bool m_flags[2];
};

class DAWModel : public ModelInfo {
public:
    DAWModel();
    bool collectCandidates(const MemberListsIF* doc, int roleKey, CandidateList* out) const override;
    bool canJoin(const MemberListsIF* doc) const override;

protected:
    DAWModel(uint16_t code, int32_t modelLimit, QMap<int32_t, QString> roles, const QString& iconPath);
    bool blocksRole(const WorkgroupMember& member) const override;
};

class PortavoModel : public DAWModel {
public:
    PortavoModel();
    QString idText() const override { return QStringLiteral("portavo"); }
};

class LyrandModel : public DAWModel {
public:
    LyrandModel();
    QString idText() const override { return QStringLiteral("lyrand"); }
};

class TrakkerModel : public DAWModel {
public:
    TrakkerModel();
    QString idText() const override { return QStringLiteral("trakker"); }
    bool canRegister(const MemberListsIF* doc, QString* errorText) const override;
    bool canReplace(
        const MemberListsIF* doc, uint64_t newMemberId, uint64_t memberId, QString* errorText) const override;
    bool collectCandidates(const MemberListsIF* doc, int roleKey, CandidateList* out) const override;
};

class DeviceModel : public ModelInfo {
public:
    int32_t deviceKind() const { return m_deviceKind; }
    // Whether a member whose id text changed is placed anew.
    virtual bool reAddOnRename() const { return false; }
    bool canReplace(
        const MemberListsIF* doc, uint64_t newMemberId, uint64_t memberId, QString* errorText) const override;
    bool canJoin(const MemberListsIF* doc) const override;

protected:
    DeviceModel(uint16_t code, int32_t modelLimit, QMap<int32_t, QString> roles, const QString& iconPath, bool flags,
        int32_t deviceKind);
    bool blocksRole(const WorkgroupMember& member) const override;
    bool placesBeside(const WorkgroupMember& member, int categoryKind, uint16_t modelCode) const override;
    bool fallbackAtEnd() const override { return true; }

private:
    int32_t m_deviceKind;
};

class FDHModel : public DeviceModel {
public:
    FDHModel();
    QString idText() const override { return QStringLiteral("harth-fd"); }
    QString alarmText(uint32_t flags) const override;
};

class CTHModel : public DeviceModel {
public:
    CTHModel();
    QString idText() const override { return QStringLiteral("harth-ct"); }
};

class Tarn_D16Model : public DeviceModel {
public:
    Tarn_D16Model();
    QString idText() const override { return QStringLiteral("tarn-d16"); }
    bool assignRole(const MemberListsIF* doc, const WorkgroupMember& newMember, QString* roleName, int* roleKey,
        int* insertIndex) const override;
    bool canReplace(
        const MemberListsIF* doc, uint64_t newMemberId, uint64_t memberId, QString* errorText) const override;
    bool collectCandidates(const MemberListsIF* doc, int roleKey, CandidateList* out) const override;
    bool canJoin(const MemberListsIF* doc) const override;
    QString setupData(const QString& mixerText) const override;
    bool fixedRoles() const override { return false; }
    QString alarmText(uint32_t flags) const override;
    bool reAddOnRename() const override { return true; }

    int digitalInputs() const { return m_channels[0]; }
    int digitalOutputs() const { return m_channels[1]; }
    int analogInputs() const { return m_channels[2]; }
    int analogOutputs() const { return m_channels[3]; }
    int clockSourceIndex(const QString& text) const;
    QString clockSourceElement(int index) const;
    int onOffIndex(const QString& text) const;
    QString dualWireElement(int channel, int index) const;
    QString srcElement(int channel, int index) const;
    QString mixerPath() const { return QStringLiteral("tarn/setup_data/mixer"); }
    virtual QString emptyMixerBody() const;

protected:
    Tarn_D16Model(uint16_t code, int digitalIn, int digitalOut, int analogIn, int analogOut);
    bool placesBeside(const WorkgroupMember& member, int categoryKind, uint16_t modelCode) const override;

private:
    int m_channels[4];
};

class Tarn_A16Model : public Tarn_D16Model {
public:
    Tarn_A16Model();
    QString idText() const override { return QStringLiteral("tarn-a16"); }
    QString emptyMixerBody() const override;
    // The text as a decimal number (0 when it is none).
    double trimValue(const QString& text) const;
    QString trimElement(bool isInput, int index, double value) const;
    int inputGainIndex(const QString& text) const;
    QString inputGainElement(int channel, int index) const;

protected:
    Tarn_A16Model(uint16_t code, int digitalIn, int digitalOut, int analogIn, int analogOut);
};

class Tarn_A8D8Model : public Tarn_A16Model {
public:
    Tarn_A8D8Model();
    QString idText() const override { return QStringLiteral("tarn-d8a8"); }
};

class ModelInfoList : public QObject {
    Q_OBJECT
public:
    explicit ModelInfoList(QObject* document = nullptr);
    ~ModelInfoList() override;

    // The first entry of that model code, or null.
    ModelInfo* findEntry(uint16_t modelCode) const;
    // The category kind heartbeats of that model code take: the entry's,
    // 1 for the Mavik units (which have no entry), else kNoCategoryKind.
    int32_t categoryKind(uint16_t modelCode) const;
    size_t count() const { return m_entries.size(); }
    const ModelInfo* at(size_t index) const { return index < m_entries.size() ? m_entries[index].get() : nullptr; }

private:
    std::vector<std::unique_ptr<ModelInfo>> m_entries;
};

} // namespace WG
