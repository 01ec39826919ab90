#include "ui/dialogs/ipaddrdlg.h"

#include "app/app_quilobject.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_mmsaccessor.h"
#include "pbd/jlib/jvariant.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QVBoxLayout>

namespace Quil {

namespace {

constexpr char kCurrentModePath[] = "/Current/Dev:0/CurrIPSelectMode:0";
constexpr char kNextModePath[] = "/Current/Dev:0/NextIPSelectMode:0";
constexpr char kAddressPath[] = "/Current/Dev:0/NextIPAddress:%1";
constexpr char kMaskPath[] = "/Current/Dev:0/NextSubnetMask:%1";
constexpr char kGatewayPath[] = "/Current/Dev:0/NextDefaultGateway:%1";
constexpr int kManualMode = 3;

constexpr char kInvalidIp[] = "Invalid IP Address.";
constexpr char kInvalidMask[] = "Invalid Subnet Mask.";
constexpr char kInvalidGateway[] = "Invalid Gateway Address.";

struct ModeButton {
    const char* text;
    const char* name;
};
constexpr ModeButton kModeButtons[IpAddrDlg::kModeCount] = {
    {"Auto IP", "m_btnLinkLocal"},
    {"DHCP", "m_btnDhcp"},
    {"Static IP (Auto)", "m_btnIpUnitId"},
    {"Static IP (Manual)", "m_btnIpManual"},
};

// A field's number as written and checked: 0 when it is not a number.
uint32_t fieldNumber(const QString& text, bool* ok = nullptr)
{
    return text.toUInt(ok, 10);
}

// Class A, B or C unicast, loopback excluded.
bool isUsableFirstOctet(const QString& text)
{
    const uint32_t octet = fieldNumber(text) & 0xFFu;
    return (octet >= 1 && octet <= 126) || (octet >= 128 && octet <= 223);
}

// The four octets packed, octet 1 in the top byte; -1 for the first field
// that is not a number (4 when the list is not four long).
int packOctets(const QStringList& texts, uint32_t* out)
{
    if (texts.size() != 4)
        return 4;
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const uint32_t octet = fieldNumber(texts[i], &ok);
        if (!ok)
            return i;
        value = (value << 8) | (octet & 0xFFu);
    }
    *out = value;
    return -1;
}

bool isContiguousMask(uint32_t mask)
{
    const uint32_t hostBits = ~mask;
    return mask != 0 && (hostBits & (hostBits + 1u)) == 0;
}

bool isUsableHost(uint32_t address, uint32_t mask)
{
    const uint32_t host = address & ~mask;
    return host != 0 && host != ~mask;
}

IpValidation refusal(IpValidation::Field field, int octet, const char* message)
{
    IpValidation why;
    why.field = field;
    why.octet = octet < 4 ? octet : 0;
    why.message = message;
    return why;
}

QStringList textsOf(const QList<QLineEdit*>& fields)
{
    QStringList texts;
    for (const QLineEdit* field : fields)
        texts.append(field->text());
    return texts;
}

} // namespace

IpValidation validateStaticIp(const QStringList& ip, const QStringList& mask, const QStringList& gateway)
{
    if (ip.isEmpty() || !isUsableFirstOctet(ip[0]))
        return refusal(IpValidation::IpOctet, 0, kInvalidIp);
    if (gateway.isEmpty() || !isUsableFirstOctet(gateway[0]))
        return refusal(IpValidation::GatewayOctet, 0, kInvalidGateway);
    uint32_t address = 0;
    uint32_t netmask = 0;
    uint32_t router = 0;
    int bad = packOctets(ip, &address);
    if (bad >= 0)
        return refusal(IpValidation::IpOctet, bad, kInvalidIp);
    bad = packOctets(mask, &netmask);
    if (bad >= 0)
        return refusal(IpValidation::MaskOctet, bad, kInvalidMask);
    bad = packOctets(gateway, &router);
    if (bad >= 0)
        return refusal(IpValidation::GatewayOctet, bad, kInvalidGateway);
    if (!isContiguousMask(netmask))
        return refusal(IpValidation::MaskOctet, 0, kInvalidMask);
    if (!isUsableHost(address, netmask))
        return refusal(IpValidation::IpOctet, 0, kInvalidIp);
    if (router == address || (router & netmask) != (address & netmask) || !isUsableHost(router, netmask))
        return refusal(IpValidation::GatewayOctet, 0, kInvalidGateway);
    return IpValidation();
}

IpAddrDlg::IpAddrDlg(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    buildForm();
    m_noteLabel->setText(
        QStringLiteral("To enable this setting,\n Please restart the target device in Static IP (Manual) mode."));
    connect(m_buttonBox, &QDialogButtonBox::accepted, this, &IpAddrDlg::aboutToAccept);
    connect(m_buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

IpAddrDlg::~IpAddrDlg() = default;

void IpAddrDlg::buildForm()
{
    setObjectName(QStringLiteral("IpAddrDlg"));
    resize(537, 360);
    QFont base = font();
    base.setFamily(QStringLiteral("Arial"));
    setFont(base);
    setWindowFlags(
        (windowFlags()
            & ~(Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint))
        | Qt::CustomizeWindowHint);

    auto* layout = new QVBoxLayout(this);
    m_modeBox = new QGroupBox(tr("IP Select Mode"), this);
    m_modeBox->setObjectName(QStringLiteral("m_ipSelectMode"));
    auto* modeRow = new QHBoxLayout(m_modeBox);
    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->setExclusive(true);
    QWidget* previous = nullptr;
    for (int id = 0; id < kModeCount; ++id) {
        auto* button = new QRadioButton(tr(kModeButtons[id].text), m_modeBox);
        button->setObjectName(QString::fromLatin1(kModeButtons[id].name));
        modeRow->addWidget(button);
        m_modeGroup->addButton(button, id);
        if (previous)
            setTabOrder(previous, button);
        previous = button;
    }
    layout->addWidget(m_modeBox);

    auto* staticBox = new QGroupBox(tr("Static IP (Manual)"), this);
    staticBox->setObjectName(QStringLiteral("m_staticIpGroup"));
    new QGridLayout(staticBox);
    m_ipFields = addOctetRow(staticBox, 0, QStringLiteral("m_ipLbl"), tr("IP Address"), QStringLiteral("m_ipOct"),
        QStringLiteral("m_ipDot"));
    m_maskFields = addOctetRow(staticBox, 1, QStringLiteral("m_subLbl"), tr("Subnet Mask"), QStringLiteral("m_subOct"),
        QStringLiteral("m_subDot"));
    m_gatewayFields = addOctetRow(staticBox, 2, QStringLiteral("m_gwLbl"), tr("Default Gateway"),
        QStringLiteral("m_gwOct"), QStringLiteral("m_gwDot"));
    layout->addWidget(staticBox);
    for (const QList<QLineEdit*>* list : {&m_ipFields, &m_maskFields, &m_gatewayFields})
        for (QLineEdit* field : *list) {
            setTabOrder(previous, field);
            previous = field;
        }

    m_noteLabel = new QLabel(this);
    m_noteLabel->setObjectName(QStringLiteral("m_noteLabel"));
    layout->addWidget(m_noteLabel);

    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    m_buttonBox->setCenterButtons(false);
    layout->addWidget(m_buttonBox);
}

QList<QLineEdit*> IpAddrDlg::addOctetRow(QGroupBox* box, int row, const QString& name, const QString& title,
    const QString& fieldPrefix, const QString& dotPrefix)
{
    auto* grid = static_cast<QGridLayout*>(box->layout());
    auto* label = new QLabel(title, box);
    label->setObjectName(name);
    grid->addWidget(label, row, 0);
    QList<QLineEdit*> fields;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), box);
            dot->setObjectName(dotPrefix + QString::number(i));
            grid->addWidget(dot, row, 2 * i);
        }
        auto* field = new QLineEdit(box);
        field->setObjectName(fieldPrefix + QString::number(i + 1));
        field->setValidator(new QIntValidator(0, 255, field));
        grid->addWidget(field, row, 2 * i + 1);
        fields.append(field);
    }
    return fields;
}

JResult IpAddrDlg::setup(QuilObject* core, int slot)
{
    if (m_core)
        return DEV_E_FAIL;
    m_core = core;
    m_slot = slot;
    return load();
}

bool IpAddrDlg::isMavik() const
{
    return m_core && servedByKit(m_core->modelType(m_slot), ModelKit::Mavik);
}

JResult IpAddrDlg::load()
{
    if (!m_core || !m_core->rackDevice(m_slot) || m_core->modelType(m_slot) == MODEL_NONE)
        return DEV_E_FAIL;
    setWindowTitle(tr("IP Address ") + QLatin1Char('#') + QString::number(m_slot + 1));

    JLIB::JVariant value;
    JResult result
        = m_core->getValue(m_slot, QString::fromLatin1(isMavik() ? kNextModePath : kCurrentModePath), &value);
    if (result < 0)
        return result;
    const int32_t mode = static_cast<int32_t>(value.toInteger());
    if (mode < 0 || mode >= kModeCount)
        return DEV_E_FAIL;
    m_modeGroup->button(mode)->setChecked(true);
    if (isMavik()) {
        m_modeBox->setEnabled(true);
    } else {
        for (int id = 0; id < kModeCount; ++id)
            m_modeGroup->button(id)->setEnabled(id == mode);
    }

    const std::pair<const QList<QLineEdit*>*, const char*> lists[]
        = {{&m_ipFields, kAddressPath}, {&m_maskFields, kMaskPath}, {&m_gatewayFields, kGatewayPath}};
    for (const auto& list : lists)
        for (int i = 0; i < 4; ++i) {
            result = m_core->getValue(m_slot, QString::fromLatin1(list.second).arg(i), &value);
            if (result < 0)
                return result;
            (*list.first)[i]->setText(QString::number(value.toInteger()));
        }
    return result;
}

JResult IpAddrDlg::writeFields(const QList<QLineEdit*>& fields, const char* pathFormat)
{
    for (int i = 0; i < fields.size(); ++i) {
        const JResult result = m_core->setValue(
            m_slot, QString::fromLatin1(pathFormat).arg(i), JLIB::JVariant(fieldNumber(fields[i]->text())), SOURCE_UI);
        if (result < 0)
            return result;
    }
    return DEV_OK;
}

JResult IpAddrDlg::refuse(const IpValidation& why)
{
    QMessageBox::warning(nullptr, tr("IP Address"), tr(why.message), QMessageBox::Ok);
    const QList<QLineEdit*>& fields = why.field == IpValidation::IpOctet ? m_ipFields
        : why.field == IpValidation::MaskOctet                           ? m_maskFields
                                                                         : m_gatewayFields;
    fields[why.octet]->setFocus(Qt::OtherFocusReason);
    return DEV_E_FAIL;
}

JResult IpAddrDlg::aboutToAccept()
{
    if (!m_core || !m_core->rackDevice(m_slot))
        return DEV_E_FAIL;
    int mode = 0;
    for (int id = 0; id < kModeCount; ++id)
        if (m_modeGroup->button(id)->isChecked()) {
            mode = id;
            break;
        }
    if (mode == kManualMode) {
        const IpValidation why = validateStaticIp(textsOf(m_ipFields), textsOf(m_maskFields), textsOf(m_gatewayFields));
        if (why.message)
            return refuse(why);
    }

    bool written = true;
    if (isMavik()) {
        const JResult result
            = m_core->setValue(m_slot, QString::fromLatin1(kNextModePath), JLIB::JVariant(int32_t(mode)), SOURCE_UI);
        if (result == DEV_E_WGM) {
            QMessageBox::information(
                this, tr("Confirmation"), tr("Access denied by\n Workgroup Manager"), QMessageBox::Ok);
            return DEV_E_WGM;
        }
        written = result >= 0;
    }
    // Each list is written on its own: one refused list does not keep the
    // others from the unit.
    written = writeFields(m_ipFields, kAddressPath) >= 0 && written;
    written = writeFields(m_maskFields, kMaskPath) >= 0 && written;
    written = writeFields(m_gatewayFields, kGatewayPath) >= 0 && written;
    if (!written) {
        // A unit that refuses the writes (it is still connecting) must not
        // look configured.
        QMessageBox::warning(nullptr, tr("IP Address"),
            tr("The IP address setting was not written to the unit.\nPlease try again when it is connected."),
            QMessageBox::Ok);
        return DEV_E_FAIL;
    }
    accept();
    return DEV_OK;
}

} // namespace Quil
