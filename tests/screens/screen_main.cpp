// The program's main window, empty and with units, its menus and slot
// context menu, a meter window it opened, and the network setup and mount
// dialogs.
#include "tests/screens/screens.h"

#include "app/app_quilobject.h"
#include "ui/main/mountdlg.h"
#include "ui/main/netsetupdlg.h"
#include "ui/main/qlmainwindow.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

namespace screens {
namespace {

// The rack owner of a screen lives as long as its window.
std::unique_ptr<QWidget> mainWindow(ZoomCode code, bool mounted)
{
    auto window = std::make_unique<QLMainWindow>();
    auto* core = new Quil::QuilObject(window.get());
    window->attachCore(core);
    QObject::connect(core, &Quil::QuilObject::mountChanged, window.get(), &QLMainWindow::mountChangedSlot);
    if (mounted) {
        const Quil::ModelType models[]
            = {Quil::MODEL_BROXL_D3, Quil::MODEL_SORN_D, Quil::MODEL_MAVIK_D, Quil::MODEL_BROXM_D2};
        for (int slot = 0; slot < 4; ++slot)
            core->mountModel(slot, models[slot]);
        window->setSelectId(1);
    }
    // Through the menu, so the zoom entries show the choice.
    const char* const zooms[] = {"100%", "150%", "200%"};
    window->action(QString::fromLatin1(zooms[code < 3 ? code : 0]))->trigger();
    return window;
}

QWidget* popUnder(QWidget* shown, QMenu* menu, int menuIndex)
{
    auto* window = static_cast<QLMainWindow*>(shown);
    const QRect title = window->menuBar()->actionGeometry(window->menuBar()->actions().at(menuIndex));
    menu->popup(window->menuBar()->mapToGlobal(title.bottomLeft()));
    return menu;
}

// The PC's interfaces as the dialog would list them on a machine with two.
class ListedCore : public Quil::QuilObject {
public:
    explicit ListedCore(QObject* parent)
        : QuilObject(parent)
    {
    }
    QList<Quil::HostInterface> networkInterfaces() const override
    {
        return {host("eth0", "02:00:00:00:10:01", "192.168.1.20"), host("enp3s0", "02:00:00:00:10:02", "10.0.0.5")};
    }
    JResult currentNetworkInterface(Quil::HostInterface* out) const override
    {
        *out = host("eth0", "02:00:00:00:10:01", "192.168.1.20");
        return 0;
    }

private:
    static Quil::HostInterface host(const char* name, const char* mac, const char* address)
    {
        Quil::HostInterface h;
        h.name = name;
        h.mac = mac;
        h.address = address;
        h.netmask = QStringLiteral("255.255.255.0");
        h.isUp = h.isRunning = h.canMulticast = true;
        return h;
    }
};

const ScreenRegistrar mainEmpty({"main-window-empty", [](ZoomCode code) { return mainWindow(code, false); }, {}});
const ScreenRegistrar mainMounted({"main-window-mounted", [](ZoomCode code) { return mainWindow(code, true); }, {}});
const ScreenRegistrar fileMenu({"main-window-file-menu", [](ZoomCode code) { return mainWindow(code, false); },
    [](QWidget* shown) { return popUnder(shown, static_cast<QLMainWindow*>(shown)->fileMenu(), 0); }});
const ScreenRegistrar zoomMenu({"main-window-zoom-menu", [](ZoomCode code) { return mainWindow(code, false); },
    [](QWidget* shown) { return popUnder(shown, static_cast<QLMainWindow*>(shown)->zoomMenu(), 2); }});
const ScreenRegistrar contextMenu({"main-window-context-menu", [](ZoomCode code) { return mainWindow(code, true); },
    [](QWidget* shown) -> QWidget* {
        auto* window = static_cast<QLMainWindow*>(shown);
        QMenu* menu = window->makeContextMenu(0);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(window->mapToGlobal(QPoint(60, 120)));
        return menu;
    }});
// The two-line meter window as File opens it, following the window's zoom.
const ScreenRegistrar meterFromMenu({"main-window-meter-2line", [](ZoomCode code) { return mainWindow(code, true); },
    [](QWidget* shown) -> QWidget* {
        auto* window = static_cast<QLMainWindow*>(shown);
        window->action(QStringLiteral("Meter Zoom"))->trigger();
        window->action(QStringLiteral("Meter (2Line)"))->trigger();
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->inherits("MeterAll") && top->isVisible())
                return top;
        }
        return nullptr;
    }});
const ScreenRegistrar netSetup({"net-setup-dialog",
    [](ZoomCode code) -> std::unique_ptr<QWidget> {
        auto dialog = std::make_unique<NetSetupDlg>();
        dialog->setup(new ListedCore(dialog.get()), true);
        dialog->applyScale(code);
        return dialog;
    },
    {}});
const ScreenRegistrar mount({"mount-dialog",
    [](ZoomCode code) -> std::unique_ptr<QWidget> {
        auto dialog = std::make_unique<MountDlg>(2);
        dialog->setCurrentModel(Quil::MODEL_BROXL_D);
        dialog->applyScale(code);
        return dialog;
    },
    {}});

} // namespace
} // namespace screens
