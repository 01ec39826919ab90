#include "ui/main/busycursor.h"

#include <QApplication>
#include <QCursor>

namespace Quil {

BusyCursor::BusyCursor()
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        m_set = true;
    }
}

BusyCursor::~BusyCursor()
{
    if (m_set)
        QApplication::restoreOverrideCursor();
}

} // namespace Quil
