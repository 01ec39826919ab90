// The IP address dialog reading and writing a unit's IP settings through
// the rack, typed into its real fields.
#include "tests/support/gui/modal_driver.h"
#include "tests/ui/dialogs/dialog_bed.h"

#include "device/memory/dev_mmsaccessor.h"
#include "pbd/jlib/jvariant.h"
#include "ui/dialogs/ipaddrdlg.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using dlgtest::DialogBed;
using Dialog = Quil::IpAddrDlg;

namespace {

constexpr int kBroxSlot = 0;
constexpr int kMavikSlot = 11;
constexpr JResult kFail = static_cast<JResult>(0x80000000u);

const char* const kOctetPaths[]
    = {"/Current/Dev:0/NextIPAddress:%1", "/Current/Dev:0/NextSubnetMask:%1", "/Current/Dev:0/NextDefaultGateway:%1"};
const char* const kUnitAddresses[]
    = {"IO:NextBoot/Dev/IPAddress", "IO:NextBoot/Dev/SubnetMask", "IO:NextBoot/Dev/DefaultGateway"};

void typeInto(QLineEdit* field, const QString& text)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

// "a.b.c.d" into four fields; an empty part leaves its field empty.
void typeAddress(const QList<QLineEdit*>& fields, const QString& address)
{
    const QStringList parts = address.split('.');
    for (int i = 0; i < 4; ++i)
        typeInto(fields[i], parts.value(i));
}

void typeSetting(Dialog& dlg, const QString& ip, const QString& mask, const QString& gateway)
{
    typeAddress(dlg.ipFields(), ip);
    typeAddress(dlg.maskFields(), mask);
    typeAddress(dlg.gatewayFields(), gateway);
}

void press(Dialog& dlg, QDialogButtonBox::StandardButton which)
{
    QTest::mouseClick(dlg.buttonBox()->button(which), Qt::LeftButton);
}

class IpAddrDlg : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bed.ready()) << bed.error();
        brox = bed.addUnit(kBroxSlot, Quil::MODEL_BROXL_D2);
        ASSERT_NE(brox, nullptr) << bed.error();
        mavik = bed.addUnit(kMavikSlot, Quil::MODEL_MAVIK_D);
        ASSERT_NE(mavik, nullptr) << bed.error();
    }
    // The twelve octets of a slot as its memory holds them.
    std::vector<int32_t> octets(int slot)
    {
        std::vector<int32_t> out;
        for (const char* path : kOctetPaths)
            for (int i = 0; i < 4; ++i)
                out.push_back(bed.value(slot, QString::fromLatin1(path).arg(i)));
        return out;
    }
    std::vector<int32_t> unitOctets(simtest::SimUnit& unit)
    {
        std::vector<int32_t> out;
        for (const char* address : kUnitAddresses)
            for (int i = 0; i < 4; ++i)
                out.push_back(dlgtest::unitValue(unit, address, i));
        return out;
    }
    // OK closes the dialog and the twelve octets reach the unit.
    void acceptAndExpect(Dialog& dlg, simtest::SimUnit& unit, const std::vector<int32_t>& wanted)
    {
        press(dlg, QDialogButtonBox::Ok);
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
        EXPECT_TRUE(qtest::waitUntil([&] { return unitOctets(unit) == wanted; }));
        EXPECT_EQ(unitOctets(unit), wanted);
    }

    DialogBed bed;
    simtest::SimUnit* brox = nullptr;
    simtest::SimUnit* mavik = nullptr;
};

TEST_F(IpAddrDlg, AManualSettingIsCheckedStepByStep)
{
    const struct {
        const char* ip;
        const char* mask;
        const char* gateway;
        const char* message;
        const char* focus;
    } rows[] = {
        {"127.0.0.1", "255.255.255.0", "127.0.0.2", "Invalid IP Address.", "m_ipOct1"},
        {"224.0.0.1", "255.255.255.0", "192.168.0.1", "Invalid IP Address.", "m_ipOct1"},
        {"0.1.2.3", "255.255.255.0", "192.168.0.1", "Invalid IP Address.", "m_ipOct1"},
        {".1.2.3", "255.255.255.0", "192.168.0.1", "Invalid IP Address.", "m_ipOct1"},
        {"192.168.0.10", "255.255.255.0", "0.168.0.1", "Invalid Gateway Address.", "m_gwOct1"},
        {"192..0.10", "255.255.255.0", "192.168.0.1", "Invalid IP Address.", "m_ipOct2"},
        {"192.168.0.10", "255.255..0", "192.168.0.1", "Invalid Subnet Mask.", "m_subOct3"},
        {"192.168.0.10", "255.255.255.0", "192.168.0.", "Invalid Gateway Address.", "m_gwOct4"},
        {"192.168.0.10", "255.0.255.0", "192.168.0.1", "Invalid Subnet Mask.", "m_subOct1"},
        {"192.168.0.10", "0.0.0.0", "192.168.0.1", "Invalid Subnet Mask.", "m_subOct1"},
        {"192.168.0.10", "255.255.255.255", "192.168.0.1", "Invalid IP Address.", "m_ipOct1"},
        {"192.168.0.0", "255.255.255.0", "192.168.0.1", "Invalid IP Address.", "m_ipOct1"},
        {"192.168.0.255", "255.255.255.0", "192.168.0.1", "Invalid IP Address.", "m_ipOct1"},
        {"192.168.0.10", "255.255.255.0", "192.168.0.10", "Invalid Gateway Address.", "m_gwOct1"},
        {"192.168.0.10", "255.255.255.0", "192.168.1.1", "Invalid Gateway Address.", "m_gwOct1"},
        {"192.168.0.10", "255.255.255.0", "192.168.0.255", "Invalid Gateway Address.", "m_gwOct1"},
    };
    const std::vector<int32_t> before = octets(kMavikSlot);
    const std::vector<int32_t> unitBefore = unitOctets(*mavik);
    const int32_t modeBefore = bed.value(kMavikSlot, "/Current/Dev:0/NextIPSelectMode:0");
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.ip) + " " + row.mask + " " + row.gateway);
        Dialog dlg;
        ASSERT_GE(dlg.setup(&bed.rack(), kMavikSlot), 0);
        ASSERT_TRUE(qtest::showAndWait(&dlg));
        QTest::mouseClick(dlg.modeGroup()->button(3), Qt::LeftButton);
        typeSetting(dlg, row.ip, row.mask, row.gateway);
        qtest::ModalDriver driver;
        driver.pressButton("OK");
        press(dlg, QDialogButtonBox::Ok);
        ASSERT_TRUE(driver.waitAllAnswered());
        ASSERT_EQ(driver.seen().size(), 1u);
        EXPECT_EQ(driver.seen()[0].title, "IP Address");
        EXPECT_EQ(driver.seen()[0].text, row.message);
        ASSERT_NE(dlg.focusWidget(), nullptr);
        EXPECT_EQ(dlg.focusWidget()->objectName(), row.focus);
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(octets(kMavikSlot), before);
        EXPECT_EQ(bed.value(kMavikSlot, "/Current/Dev:0/NextIPSelectMode:0"), modeBefore);
    }
    racktest::RackFixture::spinFor(100);
    EXPECT_EQ(unitOctets(*mavik), unitBefore);
}

TEST_F(IpAddrDlg, AValidSettingReachesTheUnitAsTwelveOctets)
{
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kMavikSlot), 0);
    EXPECT_EQ(dlg.windowTitle(), "IP Address #12");
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    for (int id = 0; id < Dialog::kModeCount; ++id)
        EXPECT_TRUE(dlg.modeGroup()->button(id)->isEnabled()) << id;
    QTest::mouseClick(dlg.modeGroup()->button(3), Qt::LeftButton);
    typeSetting(dlg, "192.168.0.10", "255.255.255.0", "192.168.0.1");
    acceptAndExpect(dlg, *mavik, {192, 168, 0, 10, 255, 255, 255, 0, 192, 168, 0, 1});
    EXPECT_EQ(dlgtest::unitValue(*mavik, "IO:NextBoot/Dev/IPSelectMode", 0), 3);
}

TEST_F(IpAddrDlg, ANonMavikInDhcpWritesTheOctetsAndNoMode)
{
    ASSERT_GE(brox->setLocal("Current/Dev/IPSelectMode", 0, 0, JLIB::JVariant(1)), 0);
    ASSERT_TRUE(qtest::waitUntil([&] { return bed.value(kBroxSlot, "/Current/Dev:0/CurrIPSelectMode:0") == 1; }));
    const int32_t nextMode = dlgtest::unitValue(*brox, "IO:NextBoot/Dev/IPSelectMode", 0);
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kBroxSlot), 0);
    EXPECT_EQ(dlg.windowTitle(), "IP Address #1");
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    EXPECT_TRUE(dlg.modeGroup()->button(1)->isChecked());
    for (int id = 0; id < Dialog::kModeCount; ++id)
        EXPECT_EQ(dlg.modeGroup()->button(id)->isEnabled(), id == 1) << id;
    // Any content goes in this mode; an empty field is written as 0.
    typeSetting(dlg, "10.0.0.", "255.0.0.0", "10.0.0.1");
    acceptAndExpect(dlg, *brox, {10, 0, 0, 0, 255, 0, 0, 0, 10, 0, 0, 1});
    EXPECT_EQ(dlgtest::unitValue(*brox, "IO:NextBoot/Dev/IPSelectMode", 0), nextMode);
}

TEST_F(IpAddrDlg, AWorkgroupManagerRefusesWithABox)
{
    const QByteArray wgm("WGM");
    ASSERT_GE(bed.rack().setValue(
                  kMavikSlot, "/DevInfo/devstatus:0/runmode:0", JLIB::JVariant(wgm.constData(), 3), Quil::SOURCE_LINK),
        0);
    const std::vector<int32_t> before = octets(kMavikSlot);
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kMavikSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    typeAddress(dlg.ipFields(), "10.1.1.1");
    qtest::ModalDriver driver;
    driver.pressButton("OK");
    EXPECT_EQ(dlg.aboutToAccept(), static_cast<JResult>(0x80030401u));
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].title, "Confirmation");
    EXPECT_EQ(driver.seen()[0].text, "Access denied by\n Workgroup Manager");
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(octets(kMavikSlot), before);
}

// Writes refused while the unit connects must not look like a setting
// that was made: the dialog says so and stays open.
TEST_F(IpAddrDlg, AUnitStillConnectingKeepsTheDialogOpenWithAWarning)
{
    constexpr int kSlot = 5;
    ASSERT_GE(bed.rack().mountModel(kSlot, Quil::MODEL_BROXL_D2), 0);
    ASSERT_TRUE(bed.writeAsLink(kSlot, "/DevState/devstate:0/ConnectionState:0", 1));
    Dialog dlg;
    ASSERT_GE(dlg.setup(&bed.rack(), kSlot), 0);
    ASSERT_TRUE(qtest::showAndWait(&dlg));
    typeAddress(dlg.ipFields(), "10.1.1.1");
    qtest::ModalDriver driver;
    driver.pressButton("OK");
    press(dlg, QDialogButtonBox::Ok);
    ASSERT_TRUE(driver.waitAllAnswered());
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].title, "IP Address");
    EXPECT_TRUE(driver.seen()[0].text.contains("not written")) << driver.seen()[0].text.toStdString();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(bed.value(kSlot, "/Current/Dev:0/NextIPAddress:0"), 0);
}

TEST_F(IpAddrDlg, SetUpFailsForAnEmptySlotAndTwice)
{
    Dialog empty;
    EXPECT_LT(empty.setup(&bed.rack(), 7), 0);
    Dialog twice;
    ASSERT_GE(twice.setup(&bed.rack(), kMavikSlot), 0);
    EXPECT_EQ(twice.setup(&bed.rack(), kMavikSlot), kFail);
}

} // namespace
