// The mount dialog: which model sits in one rack slot, or none. The main
// window runs it for a slot, presets the slot's model and mounts the choice
// when the user accepts a different one. GUI thread only.
#pragma once

#include "device/layouts/dev_modeltypes.h"
#include "ui/widgets/zscaled.h"

#include <QButtonGroup>

class QRadioButton;

class MountDlg : public ZScaledDialog {
    Q_OBJECT
public:
    // Buttons of the form, hidden ones included.
    static constexpr int kButtonCount = 16;

    explicit MountDlg(unsigned slotIndex, QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // Appends the model name to the title and selects its button. Returns
    // DEV_E_FAIL whether or not it worked: callers ignore the result.
    int setCurrentModel(Quil::ModelType type);
    // The id of the selected button: a model type 0..12.
    Quil::ModelType chosenModel() const { return m_group.checkedId(); }
    QRadioButton* button(int index) const { return m_buttons[index]; }
    QButtonGroup* group() { return &m_group; }

    bool applyScale(ZoomCode code) override;

private:
    QButtonGroup m_group;
    QRadioButton* m_buttons[kButtonCount] = {};
};
