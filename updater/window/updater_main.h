// The recovery updater's start-up, below the application object: program
// or boot mode, the window, and the event loop.
#pragma once

#include <QString>
#include <QStringList>

// `arguments` are the command-line arguments after the program's name; a
// first argument of exactly "boot" selects boot mode. Every file the program
// reads is taken from `programDirectory`. Returns the event loop's result,
// or -1 when boot mode finds no "boot.bin" there (no window is shown).
int updaterMain(const QStringList& arguments, const QString& programDirectory);
