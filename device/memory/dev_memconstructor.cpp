#include "device/memory/dev_memconstructor.h"

#include "device/memory/dev_mmsarchiver.h"

#include <cstring>

namespace Quil {
namespace {

constexpr FamilyFunction kBroxFunctions[] = {
    {"Backup", kLayoutBroxBackup},
    {"Current", kLayoutBroxCurrent},
    {"Event", kLayoutEvent},
    {"DevInfo", kLayoutDevInfo},
    {"DevState", kLayoutDevState},
    {"ListItem", kLayoutBroxListItem},
    {"LogEvent", kLayoutBroxLogEvent},
};
constexpr FamilyFunction kMavikFunctions[] = {
    {"Current", kLayoutMavikCurrent},
    {"Event", kLayoutEvent},
    {"DevInfo", kLayoutDevInfo},
    {"DevState", kLayoutDevState},
};
constexpr FamilyFunction kSornFunctions[] = {
    {"Backup", kLayoutSornBackup},
    {"Current", kLayoutSornCurrent},
    {"Event", kLayoutSornEvent},
    {"DevInfo", kLayoutDevInfo},
    {"DevState", kLayoutDevState},
};

template <size_t N> constexpr FamilyLayout layoutOf(const FamilyFunction (&functions)[N])
{
    return FamilyLayout{functions, N};
}

} // namespace

const FamilyLayout& broxFamilyLayout()
{
    static constexpr FamilyLayout layout = layoutOf(kBroxFunctions);
    return layout;
}

const FamilyLayout& mavikFamilyLayout()
{
    static constexpr FamilyLayout layout = layoutOf(kMavikFunctions);
    return layout;
}

const FamilyLayout& sornFamilyLayout()
{
    static constexpr FamilyLayout layout = layoutOf(kSornFunctions);
    return layout;
}

JResult FamilyMemConstructor::load(MMSArchiver* archiver)
{
    if (!archiver)
        return DEV_E_FAIL;
    JResult result = DEV_OK;
    for (size_t i = 0; i < m_layout.count; ++i) {
        const FamilyFunction& function = m_layout.functions[i];
        const JResult r = archiver->loadDefinitionText(
            function.layout, static_cast<uint32_t>(std::strlen(function.layout) + 1), function.name);
        if (r < 0)
            result = r;
    }
    return result;
}

} // namespace Quil
