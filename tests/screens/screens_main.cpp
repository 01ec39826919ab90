// quillon_screens <output-folder> [name-substring]
// Renders every registered screen at zoom codes 0, 1 and 2.
// quillon_screens --demo <output-folder> <setup-file> [--firmware-only]:
// see runDemo.
#include "tests/screens/screens.h"

#include "ui/skins/zlook.h"
#include "ui/skins/zskins.h"

#include <QApplication>
#include <QDir>

#include <algorithm>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--demo") == 0)
        return screens::runDemo(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr,
            "usage: quillon_screens <output-folder> [name-substring]\n"
            "       quillon_screens --demo <output-folder> <setup-file> [--firmware-only]\n");
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
            const QString path = QStringLiteral("%1/%2@%3.png").arg(out, entry.name, QLatin1String(percent[code]));
            if (!screens::renderScreen(entry, code).save(path)) {
                std::fprintf(stderr, "quillon_screens: cannot write %s\n", qPrintable(path));
                ++failures;
            } else {
                std::printf("%s\n", qPrintable(path));
            }
        }
    }
    return failures ? 1 : 0;
}
