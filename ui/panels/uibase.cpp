#include "uibase.h"

#include "device/dev_result.h"
#include "panels/brox_uiedit.h"
#include "panels/brox_uimain.h"
#include "panels/mavik_uimain.h"
#include "panels/sorn_uimain.h"

namespace Quil {

namespace {

constexpr uint32_t kFirstType = 1;
constexpr uint32_t kLastType = 12;

bool isKnownType(uint32_t type)
{
    return type >= kFirstType && type <= kLastType;
}

} // namespace

UIBase::UIBase(uint32_t type, QObject* parent)
    : QObject(parent)
    , m_type(type)
{
}

JResult UIBase::init(uint32_t unitId, IZDev* accessor)
{
    if (!accessor)
        return DEV_E_FAIL;
    m_accessor = accessor;
    m_unitId = unitId;
    return DEV_OK;
}

bool UIBase::hasEditWindow() const
{
    // BroxO-D (4), Sorn-D (5) and Mavik-D (6) have no edit window.
    return isKnownType(m_type) && m_type != 4 && m_type != 5 && m_type != 6;
}

QWidget* UIBase::createEditWindow(
    int /*kind*/, const QVariant& /*page*/, QWidget* parent, Qt::WindowFlags flags, bool option)
{
    // The family edit windows add themselves here.
    switch (m_type) {
    case 1:
    case 2:
    case 3:
    case 7:
    case 8:
    case 9:
    case 10:
        return new Brox::UIEdit(static_cast<int>(m_type), parent, flags, false);
    case 11:
    case 12:
        return new Brox::UIEdit(static_cast<int>(m_type), parent, flags, option);
    default:
        return nullptr;
    }
}

IZDevUI* UIBase::asDevUI(QWidget* widget) const
{
    return dynamic_cast<IZDevUI*>(widget);
}

IZDevUIBase* createUIBase(uint32_t type, QObject* parent)
{
    if (!isKnownType(type))
        return nullptr;
    return new UIBase(type, parent);
}

QWidget* createUIMain(uint32_t type, QWidget* parent, Qt::WindowFlags flags)
{
    switch (type) {
    // The family panels add their rows here.
    case 1:
    case 2:
    case 3:
    case 4:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
        return new Brox::UIMain(static_cast<int>(type), parent, flags);
    case 5:
        return new Sorn::UIMain(parent, flags);
    case 6:
        return new Mavik::UIMain(parent, flags);
    default:
        return nullptr;
    }
}

} // namespace Quil
