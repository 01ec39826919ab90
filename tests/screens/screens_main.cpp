// quillon_screens <output-folder> [name-substring]
// Renders every registered screen at zoom codes 0, 1 and 2.
// quillon_screens --demo <output-folder> <setup-file>: see runDemo.
#include "screens.h"

#include "skins/zlook.h"
#include "skins/zskins.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace screens {

std::vector<ScreenEntry>& registry()
{
    static std::vector<ScreenEntry> entries;
    return entries;
}

} // namespace screens

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

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--demo") == 0)
        return screens::runDemo(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
            "usage: quillon_screens <output-folder> [name-substring]\n"
            "       quillon_screens --demo <output-folder> <setup-file>\n");
        return 2;
    }
    QApplication app(argc, argv);
    ZLook::applyPinnedLook();
    ZSkins::init();
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString filter = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "quillon_screens: cannot make %s\n", argv[1]);
        return 1;
    }
    const char* percent[] = {"100", "150", "200"};
    int failures = 0;
    for (const screens::ScreenEntry& entry : screens::registry()) {
        if (!filter.isEmpty() && !entry.name.contains(filter))
            continue;
        for (ZoomCode code = 0; code < 3; ++code) {
            if (!entry.codes.empty() && std::find(entry.codes.begin(), entry.codes.end(), code) == entry.codes.end())
                continue;
            std::unique_ptr<QWidget> widget = entry.make(code);
            widget->show();
            settle(widget.get());
            QWidget* target = entry.prepare ? entry.prepare(widget.get()) : nullptr;
            if (!target)
                target = widget.get();
            settle(target);
            const QString path = QStringLiteral("%1/%2@%3.png").arg(out, entry.name, QLatin1String(percent[code]));
            if (!target->grab().save(path)) {
                std::fprintf(stderr, "quillon_screens: cannot write %s\n", qPrintable(path));
                ++failures;
            } else {
                std::printf("%s\n", qPrintable(path));
            }
        }
    }
    return failures ? 1 : 0;
}
