// The dialogs and windows that are built beside the main window. Each opener
// here is where its dialog is wired in; until then it opens nothing and
// reports failure.
#include "main/qlmainwindow.h"

namespace {
constexpr JResult kNotAvailable = static_cast<JResult>(0x80000000u);
}

JResult QLMainWindow::runDeviceInfoDlg()
{
    return kNotAvailable;
}

JResult QLMainWindow::runIpAddrDlg(uint32_t)
{
    return kNotAvailable;
}

JResult QLMainWindow::runPropDlg(uint32_t)
{
    return kNotAvailable;
}

JResult QLMainWindow::runSummaryDlg(uint32_t)
{
    return kNotAvailable;
}

JResult QLMainWindow::runDevLogDlg(uint32_t)
{
    return kNotAvailable;
}

JResult QLMainWindow::runDevLogTftpDlg(uint32_t)
{
    return kNotAvailable;
}

JResult QLMainWindow::runAboutDlg()
{
    return kNotAvailable;
}

JResult QLMainWindow::runFirmwareUpdate()
{
    return kNotAvailable;
}

JResult QLMainWindow::openMeterWindow(int)
{
    return kNotAvailable;
}
