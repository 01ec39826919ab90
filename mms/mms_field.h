// The field interface: everything a unit function's memory offers (MMS::IField),
// and MMS::Base, its unlocked implementation over a list of functions.
//
// Conventions of the arguments:
//   function  24-byte name of a function, or null for the field's first one;
//   tags      tag path with its count, path/length a "/"-separated name path;
//   indexes   one element index per level (at least as many as the levels);
//   key       a listener key; writer: source, own flag, admission flags, key
//             and filter of a changing call.
// Results are 32-bit codes: negative is a failure (mms_paramtype.h).
#pragma once

#include "mms/mms_change.h"
#include "mms/mms_root.h"
#include "pbd/jlib/jlib_result.h"
#include "pbd/jlib/jvariant.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace MMS {

class IMutex;
class Field;

// Field states.
enum FieldState : uint8_t { FIELD_DEFINING = 1, FIELD_ACTIVE = 2, FIELD_UNUSABLE = 3 };

// Every attribute of one parameter.
struct ParameterAttributes {
    uint32_t type = 0;
    JLIB::JVariant minimum; // empty when not defined (always for strings)
    JLIB::JVariant maximum;
    JLIB::JVariant defaultValue;
    JLIB::JVariant step; // empty for strings
    JLIB::JVariant nominal;
    uint32_t unitLength = 0; // with the NUL; 0 without unit
    char unit[4] = {}; // the text only when it has 1 to 3 characters
    uint32_t scaling = 1;
    uint32_t kind = 0;
};

// Lock modes of the locked facade: bit 0x01 lock B, bit 0x02 lock A.
constexpr uint8_t MMS_LOCK_NONE = 0x00;
constexpr uint8_t MMS_LOCK_AB = 0x03;

// The operations that the locked facade forwards unchanged, in interface
// order, each with the locks it holds: OP(lock, name, (parameters), (arguments)).
// Lock B guards the definition and conversions, lock A the values and
// change pages; both are held where either may change.
#define MMS_FIELD_OPERATIONS(OP)                                                                                       \
    OP(MMS_LOCK_NONE, getState, (uint8_t * out), (out))                                                                \
    OP(MMS_LOCK_B, getFunctionState, (uint8_t * out, const char* function), (out, function))                           \
    OP(MMS_LOCK_AB, reopenDefinition, (), ())                                                                          \
    OP(MMS_LOCK_AB, layoutFunctions, (bool writeDefaults), (writeDefaults))                                            \
    OP(MMS_LOCK_AB, activate, (bool writeDefaults), (writeDefaults))                                                   \
    OP(MMS_LOCK_AB, defineFunction,                                                                                    \
        (const char* listName, const char* functionName, uint32_t collections, uint32_t parameters,                    \
            uint32_t stringSize),                                                                                      \
        (listName, functionName, collections, parameters, stringSize))                                                 \
    OP(MMS_LOCK_AB, addFunctionFromImage, (const char* listName, const FunctionInfo* info), (listName, info))          \
    OP(MMS_LOCK_AB, addFunctionFromBuffer, (const char* listName, const FunctionInfo* info, uint32_t flags),           \
        (listName, info, flags))                                                                                       \
    OP(MMS_LOCK_AB, removeFunction, (const char* function), (function))                                                \
    OP(MMS_LOCK_AB, removeNotifier, (uint32_t key), (key))                                                             \
    OP(MMS_LOCK_AB, setSetOrderNotify, (const char* function, ISetOrderNotify* object), (function, object))            \
    OP(MMS_LOCK_B, setFunctionName, (const char* function, const char* name), (function, name))                        \
    OP(MMS_LOCK_B, setFunctionAlias, (const char* function, const char* alias), (function, alias))                     \
    OP(MMS_LOCK_AB, defineCollection,                                                                                  \
        (uint32_t * outTag, const char* function, const uint32_t* parentTags, uint32_t depth, const char* name,        \
            uint32_t arraySize),                                                                                       \
        (outTag, function, parentTags, depth, name, arraySize))                                                        \
    OP(MMS_LOCK_AB, defineCollectionByName,                                                                            \
        (uint32_t * outTag, const char* function, const char* parentPath, uint32_t length, const char* name,           \
            uint32_t arraySize),                                                                                       \
        (outTag, function, parentPath, length, name, arraySize))                                                       \
    OP(MMS_LOCK_AB, defineParameter,                                                                                   \
        (uint32_t * outTag, const char* function, const uint32_t* parentTags, uint32_t depth,                          \
            const ParameterDefinition& definition),                                                                    \
        (outTag, function, parentTags, depth, definition))                                                             \
    OP(MMS_LOCK_AB, defineParameterByName,                                                                             \
        (uint32_t * outTag, const char* function, const char* parentPath, uint32_t length,                             \
            const ParameterDefinition& definition),                                                                    \
        (outTag, function, parentPath, length, definition))                                                            \
    OP(MMS_LOCK_AB, notSupportedInDefinition, (const char* function, const uint32_t* tags, uint32_t count),            \
        (function, tags, count))                                                                                       \
    OP(MMS_LOCK_AB, notSupportedInDefinitionByName, (const char* function, const char* path, uint32_t length),         \
        (function, path, length))                                                                                      \
    OP(MMS_LOCK_AB, notSupportedInDefinition2, (const char* function, const uint32_t* tags, uint32_t count),           \
        (function, tags, count))                                                                                       \
    OP(MMS_LOCK_AB, notSupportedInDefinition2ByName, (const char* function, const char* path, uint32_t length),        \
        (function, path, length))                                                                                      \
    OP(MMS_LOCK_B, resolveNamePath,                                                                                    \
        (uint32_t * outTags, uint32_t * outCount, uint32_t maxTags, const char* function, const char* path,            \
            uint32_t length),                                                                                          \
        (outTags, outCount, maxTags, function, path, length))                                                          \
    OP(MMS_LOCK_B, buildNamePath,                                                                                      \
        (char* out, uint32_t size, const char* function, const uint32_t* tags, uint32_t count, bool leadingSlash),     \
        (out, size, function, tags, count, leadingSlash))                                                              \
    OP(MMS_LOCK_B, tagPathFromParameterNumber,                                                                         \
        (uint32_t * outTags, uint32_t * outCount, uint32_t maxTags, uint32_t number, const char* function),            \
        (outTags, outCount, maxTags, number, function))                                                                \
    OP(MMS_LOCK_B, getParameterNumber, (uint32_t * out, const char* function, const uint32_t* tags, uint32_t count),   \
        (out, function, tags, count))                                                                                  \
    OP(MMS_LOCK_B, addressFromElementNumber,                                                                           \
        (uint32_t * outTags, uint32_t * outIndexes, uint32_t * outCount, uint32_t max, uint32_t number,                \
            const char* function),                                                                                     \
        (outTags, outIndexes, outCount, max, number, function))                                                        \
    OP(MMS_LOCK_B, namePathFromElementNumber,                                                                          \
        (char* out, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, uint32_t number,            \
            const char* function),                                                                                     \
        (out, size, outIndexes, outCount, max, number, function))                                                      \
    /* The cursors pick the page that value writes mark, which lock A guards. */                                       \
    OP(MMS_LOCK_AB, advanceWritePage, (uint32_t key), (key))                                                           \
    OP(MMS_LOCK_AB, advanceReadPage, (uint32_t key), (key))                                                            \
    OP(MMS_LOCK_A, importImageCopy,                                                                                    \
        (const uint8_t* image, uint32_t length, const uint8_t* definitionImage, uint32_t definitionLength,             \
            const char* function, const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags,       \
            const WriterOptions& writer),                                                                              \
        (image, length, definitionImage, definitionLength, function, tags, indexes, count, flags, writer))             \
    OP(MMS_LOCK_A, importImageCopyByName,                                                                              \
        (const uint8_t* image, uint32_t length, const uint8_t* definitionImage, uint32_t definitionLength,             \
            const char* function, const char* path, uint32_t pathLength, const uint32_t* indexes, uint32_t count,      \
            uint32_t flags, const WriterOptions& writer),                                                              \
        (image, length, definitionImage, definitionLength, function, path, pathLength, indexes, count, flags, writer)) \
    OP(MMS_LOCK_A, importImage,                                                                                        \
        (uint8_t * image, uint32_t length, const uint8_t* definitionImage, uint32_t definitionLength,                  \
            const char* function, const uint32_t* tags, const uint32_t* indexes, uint32_t count, uint32_t flags,       \
            const WriterOptions& writer),                                                                              \
        (image, length, definitionImage, definitionLength, function, tags, indexes, count, flags, writer))             \
    OP(MMS_LOCK_A, importImageByName,                                                                                  \
        (uint8_t * image, uint32_t length, const uint8_t* definitionImage, uint32_t definitionLength,                  \
            const char* function, const char* path, uint32_t pathLength, const uint32_t* indexes, uint32_t count,      \
            uint32_t flags, const WriterOptions& writer),                                                              \
        (image, length, definitionImage, definitionLength, function, path, pathLength, indexes, count, flags, writer)) \
    OP(MMS_LOCK_A, importAllCopy,                                                                                      \
        (const uint8_t* buffer, uint32_t length, const char* functionPath, uint32_t pathLength,                        \
            const WriterOptions& writer),                                                                              \
        (buffer, length, functionPath, pathLength, writer))                                                            \
    OP(MMS_LOCK_A, importAll,                                                                                          \
        (uint8_t * buffer, uint32_t length, const char* functionPath, uint32_t pathLength,                             \
            const WriterOptions& writer),                                                                              \
        (buffer, length, functionPath, pathLength, writer))                                                            \
    OP(MMS_LOCK_A, setValue,                                                                                           \
        (const JLIB::JVariant& value, const char* function, const uint32_t* tags, const uint32_t* indexes,             \
            uint32_t count, const WriterOptions& writer),                                                              \
        (value, function, tags, indexes, count, writer))                                                               \
    OP(MMS_LOCK_A, setValueByName,                                                                                     \
        (const JLIB::JVariant& value, const char* function, const char* path, uint32_t length,                         \
            const uint32_t* indexes, uint32_t count, const WriterOptions& writer),                                     \
        (value, function, path, length, indexes, count, writer))                                                       \
    OP(MMS_LOCK_A, setValues,                                                                                          \
        (const JLIB::JVariantArray& values, const char* function, const uint32_t* tags, const uint32_t* first,         \
            const uint32_t* last, uint32_t count, bool repeat, const WriterOptions& writer),                           \
        (values, function, tags, first, last, count, repeat, writer))                                                  \
    OP(MMS_LOCK_A, setValuesByName,                                                                                    \
        (const JLIB::JVariantArray& values, const char* function, const char* path, uint32_t length,                   \
            const uint32_t* first, const uint32_t* last, uint32_t count, bool repeat, const WriterOptions& writer),    \
        (values, function, path, length, first, last, count, repeat, writer))                                          \
    OP(MMS_LOCK_A, resetToDefaults, (const char* function, uint8_t source, bool own, uint32_t key),                    \
        (function, source, own, key))                                                                                  \
    OP(MMS_LOCK_B, convertValue,                                                                                       \
        (JLIB::JVariant * value, const char* function, const uint32_t* tags, uint32_t count, uint32_t conv),           \
        (value, function, tags, count, conv))                                                                          \
    OP(MMS_LOCK_B, convertValueByName,                                                                                 \
        (JLIB::JVariant * value, const char* function, const char* path, uint32_t length, uint32_t conv),              \
        (value, function, path, length, conv))                                                                         \
    OP(MMS_LOCK_A, isChanged,                                                                                          \
        (uint8_t * out, const char* function, const uint32_t* tags, const uint32_t* indexes, uint32_t count,           \
            bool clear, uint32_t key),                                                                                 \
        (out, function, tags, indexes, count, clear, key))                                                             \
    OP(MMS_LOCK_A, isChangedByName,                                                                                    \
        (uint8_t * out, const char* function, const char* path, uint32_t length, const uint32_t* indexes,              \
            uint32_t count, bool clear, uint32_t key),                                                                 \
        (out, function, path, length, indexes, count, clear, key))                                                     \
    OP(MMS_LOCK_A, isImportMarked,                                                                                     \
        (uint8_t * out, const char* function, const uint32_t* tags, const uint32_t* indexes, uint32_t count,           \
            bool clear, uint32_t key),                                                                                 \
        (out, function, tags, indexes, count, clear, key))                                                             \
    OP(MMS_LOCK_A, isImportMarkedByName,                                                                               \
        (uint8_t * out, const char* function, const char* path, uint32_t length, const uint32_t* indexes,              \
            uint32_t count, bool clear, uint32_t key),                                                                 \
        (out, function, path, length, indexes, count, clear, key))                                                     \
    OP(MMS_LOCK_AB, installCollectionHandler,                                                                          \
        (const char* function, const uint32_t* tags, uint32_t count, ICollectionHandler* handler),                     \
        (function, tags, count, handler))                                                                              \
    OP(MMS_LOCK_AB, installCollectionHandlerByName,                                                                    \
        (const char* function, const char* path, uint32_t length, ICollectionHandler* handler),                        \
        (function, path, length, handler))                                                                             \
    OP(MMS_LOCK_AB, removeCollectionHandler, (const char* function, const uint32_t* tags, uint32_t count),             \
        (function, tags, count))                                                                                       \
    OP(MMS_LOCK_AB, removeCollectionHandlerByName, (const char* function, const char* path, uint32_t length),          \
        (function, path, length))                                                                                      \
    OP(MMS_LOCK_B, hasCollectionHandler, (bool* out, const char* function, const uint32_t* tags, uint32_t count),      \
        (out, function, tags, count))                                                                                  \
    OP(MMS_LOCK_B, hasCollectionHandlerByName, (bool* out, const char* function, const char* path, uint32_t length),   \
        (out, function, path, length))                                                                                 \
    OP(MMS_LOCK_B, getCollectionHandler,                                                                               \
        (ICollectionHandler * *out, const char* function, const uint32_t* tags, uint32_t count),                       \
        (out, function, tags, count))                                                                                  \
    OP(MMS_LOCK_B, getCollectionHandlerByName,                                                                         \
        (ICollectionHandler * *out, const char* function, const char* path, uint32_t length),                          \
        (out, function, path, length))                                                                                 \
    OP(MMS_LOCK_B, getFunctionCount, (uint32_t * out), (out))                                                          \
    OP(MMS_LOCK_B, listFunctions, (char* out, uint32_t count), (out, count))                                           \
    OP(MMS_LOCK_B, getCollectionNodeCount, (uint32_t * out, const char* function), (out, function))                    \
    OP(MMS_LOCK_B, getTaskItemBase, (const uint8_t** out, const char* function), (out, function))                      \
    OP(MMS_LOCK_B, getFunctionName, (char* out24, const char* function), (out24, function))                            \
    OP(MMS_LOCK_B, getFunctionAlias, (char* out12, const char* function), (out12, function))                           \
    OP(MMS_LOCK_B, getParameterCount, (uint32_t * out, const char* function), (out, function))                         \
    OP(MMS_LOCK_B, getElementCount, (uint32_t * out, const char* function), (out, function))                           \
    OP(MMS_LOCK_B, getNameTableSize, (uint32_t * out, const char* function, bool flag), (out, function, flag))         \
    OP(MMS_LOCK_B, getNamePathSize, (uint32_t * out, const char* function, const uint32_t* tags, uint32_t count),      \
        (out, function, tags, count))                                                                                  \
    OP(MMS_LOCK_A, hasImportMarks, (bool* out, const char* function, uint32_t key), (out, function, key))              \
    OP(MMS_LOCK_B, getImageSize, (uint32_t * out, const char* function, const uint32_t* tags, uint32_t count),         \
        (out, function, tags, count))                                                                                  \
    OP(MMS_LOCK_B, getImageSizeByName, (uint32_t * out, const char* function, const char* path, uint32_t length),      \
        (out, function, path, length))                                                                                 \
    OP(MMS_LOCK_A, exportImage,                                                                                        \
        (uint8_t * buffer, uint32_t * outLength, uint32_t size, const char* function, const uint32_t* tags,            \
            const uint32_t* indexes, uint32_t count, int order),                                                       \
        (buffer, outLength, size, function, tags, indexes, count, order))                                              \
    OP(MMS_LOCK_A, exportImageByName,                                                                                  \
        (uint8_t * buffer, uint32_t * outLength, uint32_t size, const char* function, const char* path,                \
            uint32_t length, const uint32_t* indexes, uint32_t count, int order),                                      \
        (buffer, outLength, size, function, path, length, indexes, count, order))                                      \
    OP(MMS_LOCK_B, getImageSize,                                                                                       \
        (uint32_t * out, const char* function, const uint32_t* tags, uint32_t count, bool wholeCollection),            \
        (out, function, tags, count, wholeCollection))                                                                 \
    OP(MMS_LOCK_B, getImageSizeByName,                                                                                 \
        (uint32_t * out, const char* function, const char* path, uint32_t length, bool wholeCollection),               \
        (out, function, path, length, wholeCollection))                                                                \
    OP(MMS_LOCK_A, exportImage,                                                                                        \
        (uint8_t * buffer, uint32_t * outLength, uint32_t size, const char* function, const uint32_t* tags,            \
            const uint32_t* indexes, uint32_t count, int order, const ExportOptions& options),                         \
        (buffer, outLength, size, function, tags, indexes, count, order, options))                                     \
    OP(MMS_LOCK_A, exportImageByName,                                                                                  \
        (uint8_t * buffer, uint32_t * outLength, uint32_t size, const char* function, const char* path,                \
            uint32_t length, const uint32_t* indexes, uint32_t count, int order, const ExportOptions& options),        \
        (buffer, outLength, size, function, path, length, indexes, count, order, options))                             \
    OP(MMS_LOCK_A, getTotalImageSize, (uint32_t * out), (out))                                                         \
    OP(MMS_LOCK_A, exportAll, (uint8_t * buffer, uint32_t * outLength, uint32_t size, int order),                      \
        (buffer, outLength, size, order))                                                                              \
    OP(MMS_LOCK_A, exportAll,                                                                                          \
        (uint8_t * buffer, uint32_t * outLength, uint32_t size, bool clear, int order, uint32_t key),                  \
        (buffer, outLength, size, clear, order, key))                                                                  \
    OP(MMS_LOCK_A, getValue,                                                                                           \
        (JLIB::JVariant * out, uint8_t * outSource, const char* function, const uint32_t* tags,                        \
            const uint32_t* indexes, uint32_t count, bool clear, uint32_t key),                                        \
        (out, outSource, function, tags, indexes, count, clear, key))                                                  \
    OP(MMS_LOCK_A, getValueByName,                                                                                     \
        (JLIB::JVariant * out, uint8_t * outSource, const char* function, const char* path, uint32_t length,           \
            const uint32_t* indexes, uint32_t count, bool clear, uint32_t key),                                        \
        (out, outSource, function, path, length, indexes, count, clear, key))                                          \
    OP(MMS_LOCK_A, getValueRange,                                                                                      \
        (JLIB::JVariantArray * out, const char* function, const uint32_t* tags, const uint32_t* first,                 \
            const uint32_t* last, uint32_t count),                                                                     \
        (out, function, tags, first, last, count))                                                                     \
    OP(MMS_LOCK_A, getValueRangeByName,                                                                                \
        (JLIB::JVariantArray * out, const char* function, const char* path, uint32_t length, const uint32_t* first,    \
            const uint32_t* last, uint32_t count),                                                                     \
        (out, function, path, length, first, last, count))                                                             \
    OP(MMS_LOCK_A, getNextChanged,                                                                                     \
        (uint32_t * outTags, uint32_t * outIndexes, uint32_t * outCount, uint32_t max, const char* function,           \
            const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount, bool clear, uint32_t key),      \
        (outTags, outIndexes, outCount, max, function, prevTags, prevIndexes, prevCount, clear, key))                  \
    OP(MMS_LOCK_A, getNextChangedByName,                                                                               \
        (char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, const char* function,   \
            const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount, bool clear,    \
            uint32_t key, bool leadingSlash),                                                                          \
        (outPath, size, outIndexes, outCount, max, function, prevPath, prevLength, prevIndexes, prevCount, clear, key, \
            leadingSlash))                                                                                             \
    OP(MMS_LOCK_A, getNextElement,                                                                                     \
        (uint32_t * outTags, uint32_t * outIndexes, uint32_t * outCount, uint32_t max, const char* function,           \
            const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount),                                \
        (outTags, outIndexes, outCount, max, function, prevTags, prevIndexes, prevCount))                              \
    OP(MMS_LOCK_A, getNextElementByName,                                                                               \
        (char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, const char* function,   \
            const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount),               \
        (outPath, size, outIndexes, outCount, max, function, prevPath, prevLength, prevIndexes, prevCount))            \
    OP(MMS_LOCK_A, getNextMarked,                                                                                      \
        (uint32_t * outTags, uint32_t * outIndexes, uint32_t * outCount, uint32_t max, const char* function,           \
            const uint32_t* prevTags, const uint32_t* prevIndexes, uint32_t prevCount, uint8_t* bits,                  \
            uint32_t bitOffset, bool clear),                                                                           \
        (outTags, outIndexes, outCount, max, function, prevTags, prevIndexes, prevCount, bits, bitOffset, clear))      \
    OP(MMS_LOCK_A, getNextMarkedByName,                                                                                \
        (char* outPath, uint32_t size, uint32_t* outIndexes, uint32_t* outCount, uint32_t max, const char* function,   \
            const char* prevPath, uint32_t prevLength, const uint32_t* prevIndexes, uint32_t prevCount, uint8_t* bits, \
            uint32_t bitOffset, bool clear),                                                                           \
        (outPath, size, outIndexes, outCount, max, function, prevPath, prevLength, prevIndexes, prevCount, bits,       \
            bitOffset, clear))                                                                                         \
    MMS_FIELD_NODE_GETTERS(OP)                                                                                         \
    OP(MMS_LOCK_AB, getSubtreeInfo, (FunctionInfo * out, const char* function, const uint32_t* tags, uint32_t count),  \
        (out, function, tags, count))                                                                                  \
    OP(MMS_LOCK_AB, getSubtreeInfoByName,                                                                              \
        (FunctionInfo * out, const char* function, const char* path, uint32_t length), (out, function, path, length))

// A node getter by tag path and its name-path twin; both hold lock B.
#define MMS_FIELD_NODE_GETTER(OP, name, Out)                                                                           \
    OP(MMS_LOCK_B, name, (Out out, const char* function, const uint32_t* tags, uint32_t count),                        \
        (out, function, tags, count))                                                                                  \
    OP(MMS_LOCK_B, name##ByName, (Out out, const char* function, const char* path, uint32_t length),                   \
        (out, function, path, length))

#define MMS_FIELD_NODE_GETTERS(OP)                                                                                     \
    MMS_FIELD_NODE_GETTER(OP, getChildCount, uint32_t*)                                                                \
    OP(MMS_LOCK_B, getNodeName, (char* out24, const char* function, const uint32_t* tags, uint32_t count),             \
        (out24, function, tags, count))                                                                                \
    OP(MMS_LOCK_B, getChildNameByName,                                                                                 \
        (char* out24, const char* function, const char* path, uint32_t length, uint32_t child),                        \
        (out24, function, path, length, child))                                                                        \
    MMS_FIELD_NODE_GETTER(OP, getArraySize, uint32_t*)                                                                 \
    MMS_FIELD_NODE_GETTER(OP, isParameter, bool*)                                                                      \
    MMS_FIELD_NODE_GETTER(OP, getLeafCount, uint32_t*)                                                                 \
    MMS_FIELD_NODE_GETTER(OP, getBitCount, uint32_t*)                                                                  \
    MMS_FIELD_NODE_GETTER(OP, getElementSize, uint32_t*)                                                               \
    MMS_FIELD_NODE_GETTER(OP, getAttributes, ParameterAttributes*)                                                     \
    MMS_FIELD_NODE_GETTER(OP, getType, uint32_t*)                                                                      \
    MMS_FIELD_NODE_GETTER(OP, getMinimum, JLIB::JVariant*)                                                             \
    MMS_FIELD_NODE_GETTER(OP, getMaximum, JLIB::JVariant*)                                                             \
    MMS_FIELD_NODE_GETTER(OP, getDefault, JLIB::JVariant*)                                                             \
    MMS_FIELD_NODE_GETTER(OP, getStep, JLIB::JVariant*)                                                                \
    MMS_FIELD_NODE_GETTER(OP, getNominal, JLIB::JVariant*)                                                             \
    MMS_FIELD_NODE_GETTER(OP, getUnitLength, uint32_t*)                                                                \
    MMS_FIELD_NODE_GETTER(OP, getUnit, char*)                                                                          \
    MMS_FIELD_NODE_GETTER(OP, getScaling, uint32_t*)                                                                   \
    MMS_FIELD_NODE_GETTER(OP, getKind, uint32_t*)

#define MMS_FIELD_DECLARE_ABSTRACT(lock, name, params, args) virtual JResult name params = 0;
#define MMS_FIELD_DECLARE_OVERRIDE(lock, name, params, args) JResult name params override;

// The whole interface of a unit function's memory.
class IField {
public:
    virtual IEventFlagTrigger* getTrigger() const = 0;
    // Null for an unlocked field.
    virtual IMutex* getMutex() const = 0;

    // Registers a listener key with every function: key 0 gives MMS_E_ARG,
    // a key already registered MMS_E_EXISTS. notifyNow marks every element.
    virtual JResult addNotifier(uint32_t mask, uint32_t key, uint32_t pageCount, bool notifyNow) = 0;

    MMS_FIELD_OPERATIONS(MMS_FIELD_DECLARE_ABSTRACT)

    // Copies one function's image over another of this field (MMS_E_INNER on
    // an unlocked field, which offers no copies).
    virtual JResult copyFunction(const char* source, const char* destination, uint32_t flags, uint32_t key) = 0;
    virtual JResult copyFunctionToLocked(
        const char* source, Field* destinationField, const char* destination, uint32_t flags, uint32_t key)
        = 0;

    virtual ~IField() = default;
};

// The unlocked field over a list of functions.
class Base : public IField {
public:
    // trigger: told after changes (not owned, may be null); the three
    // allocators back the functions' memory (each may be null).
    explicit Base(IEventFlagTrigger* trigger, IMemoryAllocator* tree = nullptr, IMemoryAllocator* data = nullptr,
        IMemoryAllocator* list = nullptr);
    ~Base() override;
    Base(const Base&) = delete;
    Base& operator=(const Base&) = delete;

    IEventFlagTrigger* getTrigger() const override { return m_trigger; }
    IMutex* getMutex() const override { return nullptr; }
    JResult addNotifier(uint32_t mask, uint32_t key, uint32_t pageCount, bool notifyNow) override;

    MMS_FIELD_OPERATIONS(MMS_FIELD_DECLARE_OVERRIDE)

    JResult copyFunction(const char* source, const char* destination, uint32_t flags, uint32_t key) override;
    JResult copyFunctionToLocked(
        const char* source, Field* destinationField, const char* destination, uint32_t flags, uint32_t key) override;

    // The base's own operations.
    // Like addFunctionFromBuffer, but the adopted tree's nodes go with the function.
    JResult addFunctionFromBufferEx(const char* listName, const FunctionInfo* info, uint32_t flags);
    // Zero-fills the record (keeping its size word), then fills it.
    JResult getFunctionInfo(FunctionInfo* out, const char* function) const;
    // Copies a function's image from the record; fires the trigger after a change.
    JResult setFunctionImage(const char* function, const FunctionInfo& info, uint32_t flags, uint32_t key);
    JResult getFunctionLabel(char* out12, const char* function) const;
    // The key's first page to zero; an unregistered key gives MMS_E_ARG.
    JResult clearChanges(const char* function, uint32_t key);

private:
    struct KeyNode {
        uint32_t key;
        uint32_t pageCount;
        uint32_t mask;
    };

    JResult requireState(uint8_t a, uint8_t b = 0) const;
    // The function under a name (null: the first) in an allowed field state.
    JResult select(Root** out, const char* function, uint8_t stateA, uint8_t stateB = 0) const;
    JResult resolve(Root* root, const char* path, uint32_t length, uint32_t* tags, uint32_t* count) const;
    // select, then the tags of a name path in the function.
    JResult selectPath(Root** out, const char* function, const char* path, uint32_t length, uint32_t* tags,
        uint32_t* depth, uint8_t stateA, uint8_t stateB = 0) const;
    // selectPath for an active function's name forms that take indexes, which
    // must reach as deep as the path; then the tag form with the tags.
    template <class TagForm>
    JResult indexedByName(
        const char* function, const char* path, uint32_t length, uint32_t indexCount, TagForm tagForm) const;
    JResult registerKeys(Root* root);
    void fire(Root* root, bool own, uint32_t key);
    // Fires the trigger when a changing call's result carries the change bit.
    JResult afterChange(Root* root, JResult result, bool own, uint32_t key);
    JResult checkAdd(const char* listName, const FunctionInfo* info) const;
    JResult finishAdd(const char* listName, JResult added);
    JResult exportAllInto(uint8_t* buffer, uint32_t* outLength, uint32_t size, int order, const ExportOptions& options);
    JResult importRecord(Root* root, uint8_t* image, uint32_t length, const WriterOptions& writer);
    // Runs an import into the selected function; the trigger fires after a
    // change unless the flags ask it not to.
    template <class Import>
    JResult importInto(const char* function, uint32_t flags, const WriterOptions& writer, Import import);

    uint8_t m_state = FIELD_UNUSABLE;
    IEventFlagTrigger* m_trigger;
    std::unique_ptr<RootList> m_roots;
    std::vector<KeyNode> m_keys;
};

} // namespace MMS
