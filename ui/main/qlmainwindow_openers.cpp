// The dialogs and windows that are built beside the main window: each is made
// without a parent, set up, zoomed where it follows the window's zoom, run
// modally only when its setup succeeded, and destroyed on return.
#include "ui/main/qlmainwindow.h"

#include "ui/dialogs/aboutdlg.h"
#include "ui/dialogs/devinfodlg.h"
#include "ui/dialogs/devlogdlg.h"
#include "ui/dialogs/devlogdlg_tftp.h"
#include "ui/dialogs/ipaddrdlg.h"
#include "ui/dialogs/propdlg.h"
#include "ui/dialogs/summarydlg.h"
#include "ui/fwupdate_ui/fw_firmupdateui.h"
#include "ui/panels/meterall.h"

#include <QAction>

#include <type_traits>

namespace {

using Quil::DEV_E_FAIL;

// A dialog whose setup takes the core and a slot. The dialogs drawn for the
// zoom take the window's zoom; the others keep their platform size.
template <typename Dialog> JResult runSlotDialog(Quil::QuilObject* core, uint32_t unitId, int zoomCode)
{
    Dialog dialog;
    const JResult result = dialog.setup(core, static_cast<int>(unitId));
    if (result < 0)
        return result;
    if constexpr (std::is_base_of_v<IScaledWidget, Dialog>)
        dialog.applyScale(static_cast<ZoomCode>(zoomCode));
    dialog.exec();
    return result;
}

} // namespace

JResult QLMainWindow::runDeviceInfoDlg()
{
    Quil::DevInfoDlg dialog;
    const JResult result = dialog.setup(m_core);
    if (result < 0)
        return result;
    connect(&dialog, &Quil::DevInfoDlg::requestDetail, this, &QLMainWindow::propertyRequested);
    connect(&dialog, &Quil::DevInfoDlg::requestSetIPAddress, this, &QLMainWindow::ipAddressSetupRequested);
    dialog.applyScale(static_cast<ZoomCode>(m_zoomCode));
    dialog.exec();
    return result;
}

JResult QLMainWindow::runIpAddrDlg(uint32_t unitId)
{
    return runSlotDialog<Quil::IpAddrDlg>(m_core, unitId, m_zoomCode);
}

JResult QLMainWindow::runPropDlg(uint32_t unitId)
{
    return runSlotDialog<Quil::PropDlg>(m_core, unitId, m_zoomCode);
}

JResult QLMainWindow::runSummaryDlg(uint32_t unitId)
{
    return runSlotDialog<Quil::SummaryDlg>(m_core, unitId, m_zoomCode);
}

JResult QLMainWindow::runDevLogDlg(uint32_t unitId)
{
    return runSlotDialog<Quil::DevLogDlg>(m_core, unitId, m_zoomCode);
}

JResult QLMainWindow::runDevLogTftpDlg(uint32_t unitId)
{
    return runSlotDialog<Quil::DevLogDlg_TFTP>(m_core, unitId, m_zoomCode);
}

JResult QLMainWindow::runAboutDlg()
{
    Quil::AboutDlg dialog;
    dialog.exec();
    return 0;
}

JResult QLMainWindow::runFirmwareUpdate()
{
    Quil::FirmUpdateUI window;
    window.init(m_core);
    window.applyScale(static_cast<ZoomCode>(m_zoomCode));
    window.exec();
    return 0;
}

JResult QLMainWindow::openMeterWindow(int lines)
{
    QPointer<QWidget>& slot = lines == 1 ? m_meterWindow1 : m_meterWindow2;
    if (slot) {
        slot->showNormal();
        slot->raise();
        slot->activateWindow();
        return 0;
    }
    auto* meter = new MeterAll(nullptr, Qt::Dialog, m_core);
    meter->setAttribute(Qt::WA_DeleteOnClose);
    const JResult result = meter->setLayoutMode(lines == 1 ? MeterAll::OneLine : MeterAll::TwoLine);
    connect(meter, &MeterAll::deleted, this,
        lines == 1 ? &QLMainWindow::onDeleteMeterAll1Line : &QLMainWindow::onDeleteMeterAll2Line);
    if (m_meterZoomAction->isChecked())
        meter->applyScale(static_cast<ZoomCode>(m_zoomCode));
    meter->show();
    slot = meter;
    return result;
}
