// Helpers for widget tests. Test programs made with quillon_test(... GUI)
// run under a QApplication (offscreen unless QT_QPA_PLATFORM says otherwise)
// with the pinned look, the skins registered, and HOME / XDG_CONFIG_HOME in
// a fresh temporary folder.
//
// Mouse events go through the window system layer (QTEST_QPA_MOUSE_HANDLING),
// so QTest::mouseMove carries the held buttons like a real drag; widgets must
// be shown (see showAndWait) before they take mouse events.
#pragma once

#ifndef QTEST_QPA_MOUSE_HANDLING
#define QTEST_QPA_MOUSE_HANDLING
#endif

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QPoint>
#include <QtTest>

#include <ostream>

class QWidget;

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace qtest {

// Runs the event loop until pred holds or ms pass; true once it holds.
template <typename Pred> bool waitUntil(Pred pred, int ms = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() >= ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qSleep(1);
    }
    return true;
}

// Shows a top-level widget and waits until it is exposed.
bool showAndWait(QWidget* window);

// The widget as drawn now (QWidget::grab), in ARGB32.
QImage grabImage(QWidget* widget);
// One pixel of grabImage, opaque colours compared by RGB.
QColor pixelAt(QWidget* widget, QPoint at);
// Whether two colours differ by at most `tolerance` in every channel.
bool near(const QColor& a, const QColor& b, int tolerance = 8);

} // namespace qtest
