#include "tests/screens/screens.h"

#include "device/memory/dev_memthread.h"
#include "device/memory/dev_mmsarchiver.h"

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

// A listener of the memory thread that counts the notifications it got.
class MemProbe : public QObject {
    Q_OBJECT

public:
    int seen = 0;

public slots:
    void slotMemChanged() { ++seen; }
};

// Wakes the memory thread as a unit's write would.
Quil::MMSArchiver& knocker()
{
    static Quil::MMSArchiver archiver;
    static const bool registered = Quil::registerMemArchiver(&archiver) == Quil::DEV_OK;
    (void)registered;
    return archiver;
}

// Runs the event loop until the probe got one more notification; bounded.
bool nextNotification(const MemProbe& probe)
{
    const int before = probe.seen;
    emit knocker().update();
    QElapsedTimer clock;
    clock.start();
    while (probe.seen == before && clock.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    return probe.seen > before;
}

// Widgets show what their units' memory holds once the memory thread has
// told them, on its own thread and back through the event loop: a loaded
// machine can take longer for that than for the painting. Every write so
// far has woken the thread once the posted events are through. A probe that
// listens after every widget gets each notification after them. The
// notification the first knock asks for may still be preceded by one the
// thread sent before it; the one after it comes after the first knock, and
// so after every write.
void drainMemoryRoad()
{
    MemProbe probe;
    if (Quil::registerMemListener(&probe) != Quil::DEV_OK)
        return; // no memory thread: nothing to wait for
    QCoreApplication::sendPostedEvents();
    for (int round = 0; round < 2 && nextNotification(probe); ++round) { }
    Quil::unregisterMemListener(&probe);
}

// Lets the window system map and paint the widget; bounded in time.
void settle(QWidget* w)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000 && !(w->windowHandle() && w->windowHandle()->isExposed()))
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    drainMemoryRoad();
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

#include "screens.moc"
