#include "ui/main/mountdlg.h"

#include "device/memory/dev_result.h"
#include "ui/main/dialogscale.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// The model types 0..12 in button order, then the three models this program
// cannot mount; their buttons stay hidden and out of the group.
const char* const kButtonTexts[MountDlg::kButtonCount] = {
    QT_TRANSLATE_NOOP("MountDlg", "BLANK"),
    QT_TRANSLATE_NOOP("MountDlg", "BroxL-D"),
    QT_TRANSLATE_NOOP("MountDlg", "BroxM-D"),
    QT_TRANSLATE_NOOP("MountDlg", "BroxI-D"),
    QT_TRANSLATE_NOOP("MountDlg", "BroxO-D"),
    QT_TRANSLATE_NOOP("MountDlg", "Sorn-D"),
    QT_TRANSLATE_NOOP("MountDlg", "Mavik-D"),
    QT_TRANSLATE_NOOP("MountDlg", "PellM-D"),
    QT_TRANSLATE_NOOP("MountDlg", "BroxL-D2"),
    QT_TRANSLATE_NOOP("MountDlg", "BroxM-D2"),
    QT_TRANSLATE_NOOP("MountDlg", "PellM-D2"),
    QT_TRANSLATE_NOOP("MountDlg", "BroxL-D3"),
    QT_TRANSLATE_NOOP("MountDlg", "BroxM-D3"),
    QT_TRANSLATE_NOOP("MountDlg", "DovanSB-D"),
    QT_TRANSLATE_NOOP("MountDlg", "DovanS-D"),
    QT_TRANSLATE_NOOP("MountDlg", "DovanFX-D"),
};

constexpr int kMountableCount = Quil::MODEL_LAST + 1;

Qt::WindowFlags mountFlags(Qt::WindowFlags flags)
{
    flags &= ~(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint);
    return flags | Qt::CustomizeWindowHint;
}

} // namespace

MountDlg::MountDlg(unsigned slotIndex, QWidget* parent, Qt::WindowFlags flags)
    : ZScaledDialog(parent, flags)
{
    setObjectName(QStringLiteral("MountDlg"));
    setWindowFlags(mountFlags(windowFlags()));
    resize(395, 541);
    setWindowTitle(tr("Mount"));

    auto* layout = new QVBoxLayout(this);
    auto* box = new QGroupBox(this);
    auto* boxLayout = new QVBoxLayout(box);
    for (int i = 0; i < kButtonCount; ++i) {
        m_buttons[i] = new QRadioButton(tr(kButtonTexts[i]), box);
        boxLayout->addWidget(m_buttons[i]);
        if (i < kMountableCount)
            m_group.addButton(m_buttons[i], i);
        else
            m_buttons[i]->hide();
    }
    layout->addWidget(box);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    setWindowTitle(tr("Mount ") + QStringLiteral("#%1").arg(slotIndex + 1));
    m_buttons[0]->setChecked(true);
}

int MountDlg::setCurrentModel(Quil::ModelType type)
{
    if (type < Quil::MODEL_NONE || type > Quil::MODEL_LAST)
        return Quil::DEV_E_FAIL;
    setWindowTitle(windowTitle() + QLatin1Char(' ') + QLatin1String(Quil::modelNameOrBlank(type)));
    m_group.button(type)->setChecked(true);
    // Kept as the callers have always seen it: they ignore the result.
    return Quil::DEV_E_FAIL;
}

bool MountDlg::applyScale(ZoomCode code)
{
    return QuilMain::scaleDialogOnce(this, code);
}
