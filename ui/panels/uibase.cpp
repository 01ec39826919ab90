#include "ui/panels/uibase.h"

#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_result.h"
#include "ui/panels/brox_uiedit.h"
#include "ui/panels/brox_uimain.h"
#include "ui/panels/mavik_uimain.h"
#include "ui/panels/sorn_uimain.h"

namespace Quil {

namespace {

const ModelTraits* traitsOf(uint32_t type)
{
    return type <= static_cast<uint32_t>(MODEL_LAST) ? modelTraits(static_cast<ModelType>(type)) : nullptr;
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
    const ModelTraits* traits = traitsOf(m_type);
    return traits && traits->edit != EditWindow::None;
}

QWidget* UIBase::createEditWindow(
    int /*kind*/, const QVariant& /*page*/, QWidget* parent, Qt::WindowFlags flags, bool option)
{
    if (!hasEditWindow())
        return nullptr;
    // Only models with an output view open its edit window on the outputs.
    const bool outputs = option && traitsOf(m_type)->outputView > 0;
    return new Brox::UIEdit(static_cast<int>(m_type), parent, flags, outputs);
}

IZDevUI* UIBase::asDevUI(QWidget* widget) const
{
    return dynamic_cast<IZDevUI*>(widget);
}

IZDevUIBase* createUIBase(uint32_t type, QObject* parent)
{
    if (!traitsOf(type))
        return nullptr;
    return new UIBase(type, parent);
}

QWidget* createUIMain(uint32_t type, QWidget* parent, Qt::WindowFlags flags)
{
    const ModelTraits* traits = traitsOf(type);
    if (!traits)
        return nullptr;
    switch (traits->kit) {
    case ModelKit::Sorn:
        return new Sorn::UIMain(parent, flags);
    case ModelKit::Mavik:
        return new Mavik::UIMain(parent, flags);
    case ModelKit::Brox:
        break;
    }
    return new Brox::UIMain(static_cast<int>(type), parent, flags);
}

} // namespace Quil
