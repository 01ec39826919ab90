// The identity and state of the unit in one rack slot as a two-column
// table, read once when the dialog is set up.
#pragma once

#include "device/memory/dev_result.h"
#include "ui/widgets/zscaled.h"

class QDialogButtonBox;
class QTableWidget;

namespace Quil {

class QuilObject;

class PropDlg : public ZScaledDialog {
    Q_OBJECT

public:
    static constexpr int kRowCount = 16;
    static constexpr int kParameterRow = 8;

    explicit PropDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~PropDlg() override;

    // DEV_E_FAIL when a core is already set or `core` is null; 0 also when
    // the slot's record could not be read (the table stays empty).
    JResult setup(QuilObject* core, int slot);
    bool applyScale(ZoomCode code) override;

    QTableWidget* infoArea() const { return m_infoArea; }

private:
    JResult fill();
    // Grows the dialog until no row is cut.
    void fitRows();

    QuilObject* m_core = nullptr;
    int m_slot = 0;
    QTableWidget* m_infoArea = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
    int m_parameterRowHeight = 0; // at 100 %; 0 when the row keeps the default
};

} // namespace Quil
