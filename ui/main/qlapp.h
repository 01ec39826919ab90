// The application object: owns the rack owner, the main window and the
// process-wide memory thread, and brings them up in order. One per process,
// made by the program entry after the socket layer. GUI thread only.
#pragma once

#include "app/app_quilobject.h"
#include "device/memory/dev_result.h"
#include "ui/main/qlmainwindow.h"

#include <QObject>
#include <QPointer>

namespace Quil {

class QLApp : public QObject {
    Q_OBJECT
public:
    // Starts the memory thread before anything else exists.
    explicit QLApp(QObject* parent = nullptr);
    // Main window (unless closing it deleted it already), rack owner, then
    // the memory thread.
    ~QLApp() override;
    QLApp(const QLApp&) = delete;
    QLApp& operator=(const QLApp&) = delete;

    // Makes the rack owner and the main window, shows the window and starts
    // the rack owner. 0 or more on success; DEV_E_FAIL when already done;
    // a failure leaves nothing made.
    JResult init();
    QLMainWindow* mainWindow() const { return m_mainWindow; }
    QuilObject* core() const { return m_core; }
    bool isInitialised() const { return m_initialised; }

    // Brings the main window to the front, shown normal, unless a modal
    // dialog is in the way: a later start of the program asked for it.
    void raiseMainWindow();

private:
    bool m_initialised = false;
    bool m_ownsMemThread = false;
    QPointer<QLMainWindow> m_mainWindow;
    QPointer<QuilObject> m_core;
};

} // namespace Quil
