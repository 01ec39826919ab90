// Screens rendered by quillon_screens: each entry builds a widget for a zoom
// code; the renderer shows it, waits for it to draw and saves a grab as
// <entry>@<100|150|200>.png. Add an entry by defining a ScreenRegistrar in a
// file of this folder.
#pragma once

#include "ui/widgets/zscale.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace screens {

using ScreenFactory = std::function<std::unique_ptr<QWidget>(ZoomCode code)>;

struct ScreenEntry {
    ScreenEntry(QString entryName, ScreenFactory factory, std::function<QWidget*(QWidget* shown)> prepareShown = {},
        std::vector<ZoomCode> zoomCodes = {})
        : name(std::move(entryName))
        , make(std::move(factory))
        , prepare(std::move(prepareShown))
        , codes(std::move(zoomCodes))
    {
    }

    QString name;
    ScreenFactory make;
    // Runs after the widget is shown, before the grab; returns the widget to
    // grab (for a pop-up, its window), or null for the shown widget itself.
    std::function<QWidget*(QWidget* shown)> prepare;
    // Zoom codes to render; empty for 0, 1 and 2. Windows that do not zoom
    // are rendered at 0 only.
    std::vector<ZoomCode> codes;
};

std::vector<ScreenEntry>& registry();

// The entry of that exact name, or null.
const ScreenEntry* findScreen(const QString& name);

// Builds the entry's widget at `code`, shows it, lets it draw and grabs it.
QImage renderScreen(const ScreenEntry& entry, ZoomCode code);

// quillon_screens --demo <output-folder> <setup-file> [--firmware-only]:
// the program's window as the program builds it, the setup file opened
// through File > Open, and <output-folder>/demo.png once its units show
// connected (at most 30 s), then demo-devlog.png (the first unit's device
// log, finished), demo-properties.png (its Properties), demo-summary.png
// (the BroxL-D2's summary) and demo-firmware.png (the firmware window with
// the BroxL-D3 package chosen and its unit analysed); --firmware-only skips
// the three dialogs. 0 only when every unit of the file connected, the log
// arrived, the unit was analysed and every unit connected again after the
// firmware window.
int runDemo(int argc, char** argv);

struct ScreenRegistrar {
    explicit ScreenRegistrar(ScreenEntry entry) { registry().push_back(std::move(entry)); }
};

} // namespace screens
