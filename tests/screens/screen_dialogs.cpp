// The unit dialogs over an offline rack whose memory holds what connected
// units would have reported: device information, IP address, properties,
// about and legal, and the summary and device log dialogs fetching, failed
// and showing their lines. Requests are answered as the unit's reporter
// would answer them, by writing the replies into memory.
#ifdef QUILLON_SCREENS_DIALOGS

#include "tests/screens/screens.h"
#include "tests/support/gui/modal_driver.h"
#include "tests/support/rack_fixture.h"
#include "tests/support/test_support.h"

#include "app/app_rackobject.h"
#include "device/memory/dev_mmsaccessor.h"
#include "pbd/jlib/jvariant.h"
#include "ui/dialogs/aboutdlg.h"
#include "ui/dialogs/devinfodlg.h"
#include "ui/dialogs/devlogdlg.h"
#include "ui/dialogs/devlogdlg_tftp.h"
#include "ui/dialogs/ipaddrdlg.h"
#include "ui/dialogs/propdlg.h"
#include "ui/dialogs/summarydlg.h"
#include "ui/legal/legaldlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>

#include <map>

namespace screens {
namespace {

struct UnitRow {
    int slot;
    Quil::ModelType type;
    const char* name;
    const char* address;
    const char* runmode;
    const char* version;
    const char* paramset;
};

const UnitRow kUnits[] = {
    {0, Quil::MODEL_BROXL_D2, "Stage Left", "192.168.0.11", "normal", "V1.30", "P1.0,P2.0,P3.0"},
    {1, Quil::MODEL_MAVIK_D, "FOH Rack", "192.168.0.12", "normal", "3.12.0", "2.1"},
    {2, Quil::MODEL_SORN_D, "Monitor", "192.168.0.13", "booting", "V2.00", "1.4"},
    {3, Quil::MODEL_BROXM_D3, "Stage Right", "192.168.0.14", "normal", "V3.02", "3.0"},
};

void writeText(Quil::QuilObject& rack, int slot, const char* path, const char* text)
{
    rack.setValue(slot, QString::fromLatin1(path), JLIB::JVariant(text, 256), Quil::SOURCE_LINK);
}

void writeInt(Quil::QuilObject& rack, int slot, const char* path, int32_t value)
{
    rack.setValue(slot, QString::fromLatin1(path), JLIB::JVariant(value), Quil::SOURCE_LINK);
}

int32_t readInt(Quil::QuilObject& rack, int slot, const char* path)
{
    JLIB::JVariant value;
    return rack.getValue(slot, QString::fromLatin1(path), &value) < 0 ? INT32_MIN
                                                                      : static_cast<int32_t>(value.toInteger());
}

Quil::QuilObject& rack()
{
    static racktest::RackFixture* fixture = [] {
        auto* made = new racktest::RackFixture(50);
        Quil::QuilObject& r = made->rack();
        for (const UnitRow& unit : kUnits) {
            r.mountModel(unit.slot, unit.type);
            r.rackSlot(unit.slot)->setAddress(QString::fromLatin1(unit.address), 49280);
            writeText(r, unit.slot, "/DevInfo/devinfo:0/devicename:0", unit.name);
            writeText(r, unit.slot, "/DevInfo/devinfo:0/productname:0", Quil::modelNameOf(unit.type));
            writeText(r, unit.slot, "/DevInfo/devinfo:0/version:0", unit.version);
            writeText(r, unit.slot, "/DevInfo/devinfo:0/paramsetver:0", unit.paramset);
            writeText(r, unit.slot, "/DevInfo/devinfo:0/protocolver:0", "1.0");
            writeText(r, unit.slot, "/DevInfo/devinfo:0/deviceid:0", QByteArray::number(unit.slot + 1).constData());
            writeText(r, unit.slot, "/DevInfo/devinfo:0/manufacturer:0", "Quillon");
            writeText(r, unit.slot, "/DevInfo/devinfo:0/category:0", "IO");
            writeText(r, unit.slot, "/DevInfo/devinfo:0/inputport:0", "32");
            writeText(r, unit.slot, "/DevInfo/devinfo:0/outputport:0", "24");
            writeText(r, unit.slot, "/DevInfo/devstatus:0/runmode:0", unit.runmode);
            writeText(r, unit.slot, "/DevInfo/devstatus:0/error:0", "nothing");
        }
        return made;
    }();
    return fixture->rack();
}

// Answers the current summary requests of `slot` for up to `ms` or until
// `done` holds: `count` lines "Clock source: ... n".
void answerSummary(int slot, int32_t count, int ms, const std::function<bool()>& done)
{
    Quil::QuilObject& r = rack();
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        if (readInt(r, slot, "/ListItem/listitem:0/CurSummaryNumReq:0") == 1) {
            writeInt(r, slot, "/ListItem/listitem:0/CurSummaryNumReq:0", 0);
            writeInt(r, slot, "/ListItem/listitem:0/CurSummaryNum:0", count);
            writeInt(r, slot, "/ListItem/listitem:0/CurSummaryStart:0", 0);
            writeInt(r, slot, "/ListItem/listitem:0/CurSummaryEnd:0", count - 1);
            writeInt(r, slot, "/ListItem/listitem:0/CurSummaryNumReceived:0", 1);
        }
        const int32_t item = readInt(r, slot, "/ListItem/listitem:0/CurSummaryItemReq:0");
        if (item >= 0) {
            writeInt(r, slot, "/ListItem/listitem:0/CurSummaryItemReq:0", -1);
            const QByteArray text = QStringLiteral("%1  Word clock: Dante, 48 kHz, locked; input %2 level -18 dBFS")
                                        .arg(item, 3, 10, QLatin1Char('0'))
                                        .arg(item % 32 + 1)
                                        .toLatin1();
            writeText(r, slot, "/ListItem/listitem:0/CurSummaryItem:0", text.constData());
            writeInt(r, slot, "/ListItem/listitem:0/CurSummaryItemReceived:0", 1);
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

void waitFor(int ms, const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

const std::vector<ZoomCode> kUnzoomed = {0};

ScreenRegistrar devInfo({"dialog_devinfo", [](ZoomCode code) -> std::unique_ptr<QWidget> {
                             auto dlg = std::make_unique<Quil::DevInfoDlg>();
                             dlg->setup(&rack());
                             dlg->applyScale(code);
                             return dlg;
                         }});

ScreenRegistrar ipAddr({"dialog_ipaddr",
    [](ZoomCode) -> std::unique_ptr<QWidget> {
        auto dlg = std::make_unique<Quil::IpAddrDlg>();
        dlg->setup(&rack(), 1);
        return dlg;
    },
    nullptr, kUnzoomed});

ScreenRegistrar prop({"dialog_prop", [](ZoomCode code) -> std::unique_ptr<QWidget> {
                          auto dlg = std::make_unique<Quil::PropDlg>();
                          dlg->setup(&rack(), 0);
                          dlg->applyScale(code);
                          return dlg;
                      }});

ScreenRegistrar about({"dialog_about",
    [](ZoomCode) -> std::unique_ptr<QWidget> { return std::make_unique<Quil::AboutDlg>(); }, nullptr, kUnzoomed});

ScreenRegistrar legal({"dialog_legal",
    [](ZoomCode) -> std::unique_ptr<QWidget> { return std::make_unique<Quil::LegalDlg>(); }, nullptr, kUnzoomed});

ScreenRegistrar summaryFetching({"dialog_summary_fetching",
    [](ZoomCode) -> std::unique_ptr<QWidget> {
        auto dlg = std::make_unique<Quil::SummaryDlg>();
        dlg->setup(&rack(), 0);
        return dlg;
    },
    nullptr, kUnzoomed});

ScreenRegistrar summaryFailed({"dialog_summary_failed",
    [](ZoomCode) -> std::unique_ptr<QWidget> {
        auto dlg = std::make_unique<Quil::SummaryDlg>();
        dlg->setup(&rack(), 20);
        return dlg;
    },
    nullptr, kUnzoomed});

ScreenRegistrar summaryLines({"dialog_summary_lines",
    [](ZoomCode) -> std::unique_ptr<QWidget> {
        auto dlg = std::make_unique<Quil::SummaryDlg>();
        dlg->setup(&rack(), 0);
        return dlg;
    },
    [](QWidget* shown) -> QWidget* {
        auto* dlg = static_cast<Quil::SummaryDlg*>(shown);
        answerSummary(0, 40, 3000, [dlg] { return dlg->lines().size() == 40; });
        return nullptr;
    },
    kUnzoomed});

ScreenRegistrar devLogFetching({"dialog_devlog_fetching", [](ZoomCode code) -> std::unique_ptr<QWidget> {
                                    auto dlg = std::make_unique<Quil::DevLogDlg>();
                                    dlg->setup(&rack(), 0);
                                    dlg->applyScale(code);
                                    return dlg;
                                }});

ScreenRegistrar devLogProgress({"dialog_devlog_progress",
    [](ZoomCode code) -> std::unique_ptr<QWidget> {
        auto dlg = std::make_unique<Quil::DevLogDlg>();
        dlg->setup(&rack(), 0);
        dlg->applyScale(code);
        return dlg;
    },
    [](QWidget* shown) -> QWidget* {
        auto* dlg = static_cast<Quil::DevLogDlg*>(shown);
        // Half of the current summary: the label stands at 25 %.
        answerSummary(0, 8, 3000, [dlg] { return dlg->lines().size() == 4; });
        return nullptr;
    }});

ScreenRegistrar devLogFailed({"dialog_devlog_failed",
    [](ZoomCode code) -> std::unique_ptr<QWidget> {
        auto dlg = std::make_unique<Quil::DevLogDlg>();
        dlg->handshake().setTimeoutMs(50);
        dlg->setup(&rack(), 0);
        dlg->applyScale(code);
        return dlg;
    },
    [](QWidget* shown) -> QWidget* {
        auto* dlg = static_cast<Quil::DevLogDlg*>(shown);
        waitFor(2000, [dlg] { return dlg->handshake().failed(); });
        return nullptr;
    }});

// The third-generation log dialog once its folder is chosen, waiting for
// the unit to start logging.
ScreenRegistrar devLogTftp({"dialog_devlog_tftp", [](ZoomCode code) -> std::unique_ptr<QWidget> {
                                static const qtest::TempDir folder;
                                auto dlg = std::make_unique<Quil::DevLogDlg_TFTP>();
                                qtest::ModalDriver driver;
                                driver.typeFileName(QString::fromStdString(folder.path()));
                                dlg->setup(&rack(), 3);
                                dlg->applyScale(code);
                                return dlg;
                            }});

} // namespace
} // namespace screens

#endif
