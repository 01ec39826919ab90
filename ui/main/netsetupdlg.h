// The network setup dialog: the PC interface on which the program finds and
// reaches the units, or "Offline". OK hands the choice to the rack owner,
// which may ask to save the current setup first and then resets the rack.
// GUI thread only.
#pragma once

#include "device/memory/dev_result.h"
#include "ui/widgets/zscaled.h"

class QDialogButtonBox;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;

namespace Quil {
class QuilObject;
}

class NetSetupDlg : public ZScaledDialog {
    Q_OBJECT
public:
    enum Column { ColName = 0, ColAddress = 1, ColNetmask = 2, ColMac = 3 };

    explicit NetSetupDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // Refused when a core is already set; otherwise fills the list.
    JResult setup(Quil::QuilObject* core, bool withSaveConfirm);
    bool applyScale(ZoomCode code) override;

    QTreeWidget* treeWidget() const { return m_treeWidget; }

public slots:
    void accept() override;
    void itemDoubleClickedSlot(QTreeWidgetItem* item, int column);

private:
    JResult fillList();

    QVBoxLayout* m_verticalLayout = nullptr;
    QTreeWidget* m_treeWidget = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
    Quil::QuilObject* m_core = nullptr;
    bool m_withSaveConfirm = true;
};
