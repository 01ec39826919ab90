#include "ui/main/qlapp.h"

#include "app/app_quilobject.h"
#include "device/memory/dev_memthread.h"
#include "ui/main/qlmainwindow.h"

#include <QApplication>

namespace Quil {

QLApp::QLApp(QObject* parent)
    : QObject(parent)
    , m_ownsMemThread(createMemThread() == 0)
{
}

QLApp::~QLApp()
{
    delete m_mainWindow.data();
    delete m_core.data();
    if (m_ownsMemThread)
        destroyMemThread();
}

JResult QLApp::init()
{
    if (m_initialised)
        return DEV_E_FAIL;
    m_core = new QuilObject(QCoreApplication::instance());
    m_mainWindow = new QLMainWindow();
    m_mainWindow->setAttribute(Qt::WA_DeleteOnClose);
    JResult result = m_mainWindow->attachCore(m_core);
    if (result >= 0) {
        m_mainWindow->show();
        connect(m_core, &QuilObject::mountChanged, m_mainWindow, &QLMainWindow::mountChangedSlot, Qt::QueuedConnection);
        connect(m_core, &QuilObject::requestNetworkSetup, m_mainWindow, qOverload<bool>(&QLMainWindow::onNetworkSetup),
            Qt::QueuedConnection);
        result = m_core->start();
        if (result >= 0) {
            m_initialised = true;
            return result;
        }
    }
    delete m_mainWindow.data();
    delete m_core.data();
    return result;
}

void QLApp::raiseMainWindow()
{
    QLMainWindow* window = m_mainWindow;
    if (!window || QApplication::activeModalWidget())
        return;
    window->showNormal();
    window->raise();
    window->activateWindow();
}

} // namespace Quil
