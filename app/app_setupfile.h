// Setup files (.quil): the rack (model and device id of the 24 slots) and the
// stored parameters of every mounted unit, in one MBDF container.
#pragma once

#include "device/memory/dev_result.h"
#include "pbd/FileCache/fcache_MBDF.h"

#include <QString>

namespace Quil {

class SetupRack;

// The version the writer stores (bytes D6 06 00 00); files from this version
// on carry valid device ids.
constexpr uint32_t kProjectVersion = 0xD6060000u;

extern const char kProjSetupLayout[];

// Writes the rack to path; the previous file stays as it was unless the whole
// container was written. DEV_E_FAIL with "Unknown error.", or
// FCACHE_E_ABORTED with no text when abortFlag was raised.
JResult saveProject(const SetupRack& rack, const QString& path, QString* errorText,
    const FILECACHE::MBDFAbortFlag* abortFlag = nullptr);

// Reads a setup file into the rack. The rack stays unchanged unless the file
// is of the right kind and its rack block can be read; after that every
// unit block is tried, and a refused one gives "Invalid data structure."
// while what loaded stays. *rackChanged (when given) tells whether the file
// changed the rack, so a failure can leave it holding a part of the file.
JResult loadProject(SetupRack& rack, const QString& path, QString* errorText, bool* rackChanged = nullptr);

} // namespace Quil
