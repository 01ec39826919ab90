// Result codes of the firmware package reader.
#pragma once

#include "pbd/jlib/jlib_result.h"

// Result codes. Callers show them by the code without its top bit.
constexpr JResult FWPKG_OK = 0;
// getModelType: a package type code outside the table.
constexpr JResult FWPKG_E_MODEL_TYPE = static_cast<JResult>(0x80000000u);
constexpr JResult FWPKG_E_RESET = static_cast<JResult>(0x80000001u);
// The header starts neither with "Quil" nor (where accepted) with "Brox-D3".
constexpr JResult FWPKG_E_HEADER = static_cast<JResult>(0x80000003u);
// The model is not in the table, an entry name would leave the unpack
// folder, or the "data" folder can't be searched.
constexpr JResult FWPKG_E_INVALID = static_cast<JResult>(0x80000004u);
constexpr JResult FWPKG_E_FOLDER_NAME = static_cast<JResult>(0x80000005u);
// Version word 0 is malformed, or the top block field holds fewer words than
// the package's Dante files need.
constexpr JResult FWPKG_E_VERSION = static_cast<JResult>(0x80000007u);
// Unpacking failed in every candidate base folder.
constexpr JResult FWPKG_E_UNPACK = static_cast<JResult>(0x80000009u);
// The container could be read with neither top block kind (malformed data).
constexpr JResult FWPKG_E_KIND = static_cast<JResult>(0x8000000Au);
// The package could not be opened (missing file, another container kind...),
// or no package is open.
constexpr JResult FWPKG_E_OPEN = static_cast<JResult>(0x8000000Bu);
