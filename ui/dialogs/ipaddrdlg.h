// Shows and edits the IP configuration of the unit in one rack slot: its IP
// select mode and the manual static address, subnet mask and gateway, read
// from and written to the unit's memory.
#pragma once

#include "device/memory/dev_result.h"

#include <QDialog>
#include <QList>

#include <cstdint>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QDialogButtonBox;
class QRadioButton;

namespace Quil {

class QuilObject;

// Why a manual setting is refused, and the field that takes the focus.
struct IpValidation {
    enum Field { None, IpOctet, MaskOctet, GatewayOctet };
    Field field = None;
    int octet = 0; // 0..3
    const char* message = nullptr; // null when valid
};

// The checks of a manual setting on the twelve field texts.
IpValidation validateStaticIp(const QStringList& ip, const QStringList& mask, const QStringList& gateway);

class IpAddrDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kModeCount = 4;

    explicit IpAddrDlg(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~IpAddrDlg() override;

    // DEV_E_FAIL when a core is already set; else the load's result.
    JResult setup(QuilObject* core, int slot);

    QButtonGroup* modeGroup() const { return m_modeGroup; }
    const QList<QLineEdit*>& ipFields() const { return m_ipFields; }
    const QList<QLineEdit*>& maskFields() const { return m_maskFields; }
    const QList<QLineEdit*>& gatewayFields() const { return m_gatewayFields; }
    QDialogButtonBox* buttonBox() const { return m_buttonBox; }

public slots:
    JResult aboutToAccept();

private:
    void buildForm();
    QList<QLineEdit*> addOctetRow(QGroupBox* box, int row, const QString& name, const QString& title,
        const QString& fieldPrefix, const QString& dotPrefix);
    JResult load();
    bool isMavik() const;
    JResult writeFields(const QList<QLineEdit*>& fields, const char* pathFormat);
    JResult refuse(const IpValidation& why);

    QuilObject* m_core = nullptr;
    int m_slot = 0;
    QButtonGroup* m_modeGroup = nullptr;
    QGroupBox* m_modeBox = nullptr;
    QList<QLineEdit*> m_ipFields;
    QList<QLineEdit*> m_maskFields;
    QList<QLineEdit*> m_gatewayFields;
    QLabel* m_noteLabel = nullptr;
    QDialogButtonBox* m_buttonBox = nullptr;
};

} // namespace Quil
