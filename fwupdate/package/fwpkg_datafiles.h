// The search of an unpacked package's "data" folder.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <QString>
#include <QStringList>

// Walks the entries of folder. Names of at least four characters are taken
// apart at their first "."; when the three characters after it are "dnt"
// the name is appended to *danteNames (in the order found), else when they
// are "BIN" or "prg" (case-sensitive) it becomes *firmwareName (a later match
// replaces an earlier one). Names without a dot are skipped. The result is
// the search's failure to start, else that of closing the search.
JResult fwpkg_listDataFiles(const QString& folder, QString* firmwareName, QStringList* danteNames);
