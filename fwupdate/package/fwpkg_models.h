// Model tables of firmware packages: header model name to package type code,
// and package type code to the device's model type.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <QString>

#include <cstdint>

// Package type codes (not the device's model type; see fwpkg_modelType).
enum : int32_t {
    FWPKG_TYPE_NONE = 0,
    FWPKG_TYPE_BROXL_D = 1,
    FWPKG_TYPE_BROXM_D = 2,
    FWPKG_TYPE_BROXI_D = 3,
    FWPKG_TYPE_BROXO_D = 4,
    FWPKG_TYPE_MAVIK_D = 5,
    FWPKG_TYPE_SORN_D = 6,
    FWPKG_TYPE_PELLM_D = 7,
    FWPKG_TYPE_BROXL_D2 = 8,
    FWPKG_TYPE_BROXM_D2 = 9,
    FWPKG_TYPE_BROX_D3 = 10,
};

// One row of a model table; a row with type code 0 ends the table.
struct FwPackageModelRow {
    const char* prefix;
    int prefixLength;
    const char* model;
    int modelLength;
    int32_t typeCode;
};

// The firmware update window's table, "Brox-D3" (empty prefix) included.
extern const FwPackageModelRow fwpkg_modelTable[];
// The recovery updater's table: the same without the "Brox-D3" row.
extern const FwPackageModelRow fwpkg_recoveryModelTable[];

// Type code of the first row before the end row whose model name has the
// same length and characters as name (the prefix takes no part); 0 when
// none does.
int32_t fwpkg_lookupModel(const FwPackageModelRow* rows, const QString& name);
// Package type code to the device's model type (the numbers of
// Quil::ModelType): 1..4 and 7..9 unchanged, 5 -> 6, 6 -> 5, 10 -> 11. Any
// other code gives 0 and FWPKG_E_MODEL_TYPE (0x80000000).
JResult fwpkg_modelType(int32_t typeCode, int32_t* modelType);
