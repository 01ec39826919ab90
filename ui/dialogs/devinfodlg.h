// Lists the 24 rack slots with the identity of the unit mounted in each and
// lets the user ask for the IP address or properties dialog of a slot. Read
// once, at set-up; later changes are not followed.
#pragma once

#include "device/memory/dev_result.h"
#include "ui/widgets/zscaled.h"

#include <QString>

#include <vector>

class QDialogButtonBox;
class QPushButton;
class QTreeWidget;

namespace Quil {

class QuilObject;

// Whether a Mavik-D firmware text is at least 3.12.0, the first that takes
// an IP setting. Dotted parts compare as numbers; a text that is not a
// dotted version counts as lower.
bool mavikTakesIpSetting(const QString& version);

class DevInfoDlg : public ZScaledDialog {
    Q_OBJECT

public:
    struct Column {
        const char* name;
        int width; // pixels at 100 %
        bool visible;
        bool fixed; // not offered in the header menu
    };

    explicit DevInfoDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~DevInfoDlg() override;

    // DEV_E_FAIL when a core is already set or `core` is null; else 0.
    JResult setup(QuilObject* core);
    bool applyScale(ZoomCode code) override;

    QTreeWidget* treeWidget() const { return m_treeWidget; }
    QPushButton* ipAddrButton() const { return m_btnIPAddr; }
    QPushButton* detailButton() const { return m_btnDetail; }
    QPushButton* firmUpdateButton() const { return m_btnFirmUpdate; }
    const std::vector<Column>& columns() const { return m_columns; }

signals:
    void requestSetIPAddress(uint unitId);
    void requestDetail(uint unitId);
    void requestFirmareUpdate();

public slots:
    void onSetIPAddr();
    void onFirmUpdate();
    void onDetail();
    void onItemSelectionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fill();
    // The selected slot, or -1.
    int selectedSlot() const;
    void applyColumns();
    void showRowMenu(int row, const QPoint& at);
    void showColumnMenu(const QPoint& at);

    QuilObject* m_core = nullptr;
    QTreeWidget* m_treeWidget = nullptr;
    QPushButton* m_btnIPAddr = nullptr;
    QPushButton* m_btnDetail = nullptr;
    QPushButton* m_btnFirmUpdate = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
    std::vector<Column> m_columns;
};

} // namespace Quil
