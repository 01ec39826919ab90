// The model decisions of a model firmware update: the unit's model code
// from its product name, whether its model is accepted, how the package
// version compares with the unit's, and whether the unit has a sub image.
// Pure functions over bounded texts; nothing reads past 16 characters of a
// version or past a text's terminator.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t MFU_MODEL_UNKNOWN = 11;
constexpr uint32_t MFU_MODEL_ANY = 10; // an expected code that takes every model
constexpr uint32_t MFU_VERSION_CHARS = 16;

// Version relation of a package to a unit.
constexpr int32_t MFU_VERSION_EQUAL = 0;
constexpr int32_t MFU_VERSION_OTHER_LETTER = 1;
constexpr int32_t MFU_VERSION_GREATER = 2;
constexpr int32_t MFU_VERSION_SMALLER = 3;
constexpr int32_t MFU_VERSION_UNDECIDED = 4;

// Model check results.
constexpr int32_t MFU_MODEL_ACCEPTED = 0;
constexpr int32_t MFU_MODEL_REFUSED = 1;
constexpr int32_t MFU_MODEL_UNDECIDED = 4;

// The model code of a product name (first matching prefix), 11 for none.
uint32_t mfu_modelCode(const char* productName);
// Package version text against the unit's version text.
int32_t mfu_compareVersion(const char* packageVersion, const char* unitVersion);
// The unit's model against the expected code and the accepted codes (a list
// ended by 0).
int32_t mfu_checkModel(const char* productName, uint32_t expected, const uint32_t* accepted);
// The sub-image name ("Brox-D2_" or "Pell-D2_" + the package version) of a
// unit that has one; false (and an empty name) otherwise.
bool mfu_subImage(
    const char* productName, const char* unitVersion, const char* packageVersion, char* name, size_t size);
// True for the units that pull their file over TFTP ("BroxL-D3", "BroxM-D3").
bool mfu_pullsByTftp(const char* productName);
