#include "tests/screens/screens.h"

#include "device/memory/dev_memthread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>

#include <algorithm>

namespace screens {

std::vector<ScreenEntry>& registry()
{
    static std::vector<ScreenEntry> entries;
    return entries;
}

const ScreenEntry* findScreen(const QString& name)
{
    const std::vector<ScreenEntry>& entries = registry();
    const auto it = std::find_if(entries.begin(), entries.end(), [&](const ScreenEntry& e) { return e.name == name; });
    return it == entries.end() ? nullptr : &*it;
}

namespace {

// Lets the window system map and paint the widget; bounded in time.
void settle(QWidget* w)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000 && !(w->windowHandle() && w->windowHandle()->isExposed()))
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

QImage renderScreen(const ScreenEntry& entry, ZoomCode code)
{
    // Widgets learn of memory changes through the memory thread, which the
    // program starts at once; without it a slot never shows its state.
    // Someone else (the rack fixture) may have started it already.
    static const bool memThread = (Quil::createMemThread(), true);
    (void)memThread;
    std::unique_ptr<QWidget> widget = entry.make(code);
    widget->show();
    settle(widget.get());
    QWidget* target = entry.prepare ? entry.prepare(widget.get()) : nullptr;
    if (!target)
        target = widget.get();
    settle(target);
    return target->grab().toImage();
}

} // namespace screens
