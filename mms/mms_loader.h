// Builds a function's memory from its XML layout definition: a "function"
// element holding "collections", nested "collection" elements (at most 4
// deep) and typed "parameter" elements with their limits. The text is fed
// to Expat in pieces of at most 256 bytes and turned into definition calls
// on an MMS::IField. A collection or parameter the field refuses (a
// duplicate name, an item past the stated counts) is left out and the load
// goes on; only a broken document or function element fails it.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstdint>

namespace MMS {

class IField;

// What the loader does around the definition.
enum LoadMode : uint32_t {
    LOAD_DEFINE = 0, // define only
    LOAD_REOPEN = 1, // reopen the field's definition first
    LOAD_LAYOUT = 2, // reopen, define, lay out
    LOAD_ACTIVATE = 3, // reopen, define, activate
};

// Results of the loader.
constexpr JResult MMS_LOAD_E_ARG = static_cast<JResult>(0x80010000u);
constexpr JResult MMS_LOAD_E_PARSE = static_cast<JResult>(0x80010010u);
constexpr JResult MMS_LOAD_E_LIBRARY = static_cast<JResult>(0x80010011u);
constexpr JResult MMS_LOAD_E_VALUE = static_cast<JResult>(0x80010012u);
constexpr JResult MMS_LOAD_E_OPEN = static_cast<JResult>(0x80010020u);
constexpr JResult MMS_LOAD_E_MEMORY = static_cast<JResult>(0x80010080u);

// Size of the pieces handed to the parser and of a child value's buffer.
constexpr uint32_t MMS_LOAD_PIECE = 256;

// Parses textLength bytes of text (ending early at a NUL). The function is
// created under rootKey; functionName (may be null) is set as its name.
// 0 on success, else one of the codes above.
JResult mms_loadDefinitionFromMemory(IField* field, const char* functionName, uint32_t functionNameLength,
    const char* rootKey, uint32_t rootKeyLength, const char* text, uint32_t textLength, uint32_t mode);

// The same from the file directory + "/" + fileName; the two lengths bound
// the measurement of the two texts.
JResult mms_loadDefinitionFromFile(IField* field, const char* functionName, uint32_t functionNameLength,
    const char* rootKey, uint32_t rootKeyLength, const char* directory, uint32_t directoryLength, const char* fileName,
    uint32_t fileNameLength, uint32_t mode);

} // namespace MMS
