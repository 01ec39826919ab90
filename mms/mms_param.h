// Parameter definitions: a named, typed array of elements with optional
// limits, default, step, nominal, unit, scaling and kind; how values are
// admitted (range, clamping, step), and how elements are read and written.
//
// A ParameterNode is a plain record without pointers so that the tree that
// holds it can be copied as a block; it is made in zero-filled memory.
#pragma once

#include "mms/mms_paramtype.h"
#include "pbd/jlib/jlib_result.h"

#include <cstdint>

namespace JLIB {
class JVariant;
class JVariantArray;
} // namespace JLIB

namespace MMS {

class IDirtyFlagHolder;
class SetOrderNotifyWrapper;
class StringMemoryFactory;

// Presence flags of the five definition values.
enum ParamPresence : uint8_t {
    PRESENT_MINIMUM = 0x01,
    PRESENT_MAXIMUM = 0x02,
    PRESENT_DEFAULT = 0x04,
    PRESENT_STEP = 0x08,
    PRESENT_NOMINAL = 0x10,
};

// Admission flags of the caller.
enum AdmitFlags : uint32_t {
    ADMIT_REFUSE_LOW = 0x01, // refuse rather than clamp on the minimum side
    ADMIT_REFUSE_HIGH = 0x02, // refuse rather than clamp on the maximum side
    ADMIT_REFUSE_STEP = 0x04, // refuse rather than snap to the step
};

// Asked before an element write: true skips the write.
class IWriteFilter {
public:
    virtual ~IWriteFilter() = default;
    virtual bool skipWrite(uint8_t lastSource, uint8_t newSource) = 0;
};

// What a write touches besides the data. Every pointer may be null.
struct WriteContext {
    IDirtyFlagHolder* dirty = nullptr; // change marks
    SetOrderNotifyWrapper* notify = nullptr; // told each changed element number
    uint8_t* sources = nullptr; // one source byte per change index
    IWriteFilter* filter = nullptr;
    const StringMemoryFactory* pool = nullptr; // text defaults
    uint8_t source = 0; // write source of this call
    uint32_t flags = 0; // admission flags
};

// Where a parameter's element 0 lies for one collection element.
struct ElementPlace {
    uint8_t* data = nullptr; // first byte of the element array
    uint32_t changeIndex = 0; // change index of element 0
    uint32_t elementNumber = 0; // element number of element 0
};

// A base and a stride: the value for element i is base + i * stride.
struct Pair {
    uint32_t base = 0;
    uint32_t stride = 0;
    uint32_t at(uint32_t i) const { return base + i * stride; }
};

class ParameterNode {
public:
    // Checks name (1 to 23 characters, no space, tab or "/"), array size
    // (1 to 65535) and type; 0 or MMS_E_INNER. Takes nothing.
    static JResult validate(const char* name, uint32_t arraySize, uint32_t type);

    // Fills the record; then the five values through their setters (a
    // refused value is left absent). MMS_E_INNER when validate fails.
    JResult construct(const char* name, uint32_t arraySize, uint32_t type, const JLIB::JVariant* minimum,
        const JLIB::JVariant* maximum, const JLIB::JVariant* defaultValue, const JLIB::JVariant* step,
        const JLIB::JVariant* nominal, uint32_t unitOffset, uint32_t unitLength, uint32_t scaling, uint32_t kind);

    // Setters: 0, or MMS_E_ARG with the value left absent. Null sets nothing
    // (a string's maximum: null stores 0).
    JResult setMinimum(const JLIB::JVariant* value);
    JResult setMaximum(const JLIB::JVariant* value);
    JResult setDefault(const JLIB::JVariant* value);
    JResult setStep(const JLIB::JVariant* value);
    JResult setNominal(const JLIB::JVariant* value);

    // Getters.
    const char* name() const { return m_name; }
    uint32_t arraySize() const { return m_arraySize; }
    uint32_t type() const { return m_type; }
    uint8_t presence() const { return m_presence; }
    bool has(ParamPresence which) const { return (m_presence & which) != 0; }
    // MMS_E_UNDEFINED when absent; minimum and step MMS_E_ARG for "string".
    JResult getMinimum(JLIB::JVariant* out) const;
    JResult getMaximum(JLIB::JVariant* out) const;
    JResult getStep(JLIB::JVariant* out) const;
    // A string's default and nominal come from the text pool.
    JResult getDefault(JLIB::JVariant* out, const StringMemoryFactory* pool) const;
    JResult getNominal(JLIB::JVariant* out, const StringMemoryFactory* pool) const;
    // The unit text with its NUL into out (size bytes); nothing when the
    // length is 0. MMS_E_ARG for "string".
    JResult getUnit(char* out, uint32_t size, const StringMemoryFactory* pool) const;
    JResult getUnitLength(uint32_t* out) const;
    uint32_t unitOffset() const { return m_unitOffset; }
    uint32_t unitLength() const { return m_unitLength; }
    uint32_t scaling() const { return m_scaling; }
    uint32_t kind() const { return m_kind; }
    bool isParameter() const { return true; }
    uint32_t childCount() const { return 0; }
    // Raw 32-bit words of the five values.
    uint32_t minimumWord() const { return m_minimum; }
    uint32_t maximumWord() const { return m_maximum; }
    uint32_t defaultWord() const { return m_default; }
    uint32_t stepWord() const { return m_step; }
    uint32_t nominalWord() const { return m_nominal; }

    // Bytes of one element: 1, 2 or 4; a string's maximum; 0 for "bit".
    uint32_t elementWidth() const;

    // Layout, filled by the tree.
    Pair data; // offset of element 0 in the collection element; element width
    Pair elements; // element number of element 0; 1
    Pair changes; // change index of element 0; 1
    Pair image; // offset of the 32-byte descriptor in the collection record; 32
    Pair number; // definition number within the collection; 1
    uint32_t bitOffset = 0; // "bit": position of element 0 in its first byte

    // Copies value into *target as the parameter's type, checked against the
    // type's own range and the limits, then snapped to the step. Results: 0
    // unchanged, MMS_ADJUSTED (target holds the adjusted value), MMS_E_REFUSED
    // refused, MMS_E_ARG bad type or a value that does not convert.
    JResult admit(JLIB::JVariant* target, const JLIB::JVariant& value, uint32_t flags) const;

    // Element i as a variant (host order). A stored value outside the limits
    // reads as the default, else the nominal, else the clamped value.
    JResult readElement(JLIB::JVariant* out, const uint8_t* data, uint32_t index) const;
    // Stores an admitted value: MMS_CHANGED, 0 equal, MMS_E_ARG when it
    // does not convert.
    JResult writeElement(uint8_t* data, const JLIB::JVariant& value, uint32_t index) const;

    // Admit, optionally return the old value, ask the filter, write, and on a
    // change mark it, notify the set order and store the source byte.
    JResult setElement(const ElementPlace& place, const JLIB::JVariant& value, uint32_t index,
        const WriteContext& context, JLIB::JVariant* oldValue = nullptr) const;
    // count elements from index; value i from values[i], or values[0] for all
    // with repeat. All values are admitted before anything is written, so a
    // refused value leaves every element as it was (the first failure is
    // returned).
    JResult setElements(const ElementPlace& place, const JLIB::JVariantArray& values, uint32_t index, uint32_t count,
        bool repeat, const WriteContext& context) const;

    // Reads count elements from index into out (starting at out element
    // outFirst) with their source bytes (sourcesOut may be null); with clear,
    // clears their bits in page. MMS_CHANGED when a cleared bit was set.
    JResult readChangedElements(const ElementPlace& place, uint32_t index, uint32_t count, JLIB::JVariantArray* out,
        uint32_t outFirst, uint8_t* sourcesOut, const uint8_t* sources, uint8_t* page, bool clear) const;
    // Whether element index's bit is set in page; with clear it is cleared.
    bool isChanged(const ElementPlace& place, uint32_t index, uint8_t* page, bool clear) const;
    // First element at or after from whose bit is set: 0x8000 with its index,
    // MMS_E_NO_MATCH when none.
    JResult firstChanged(const ElementPlace& place, uint32_t from, const uint8_t* page, uint32_t* outIndex) const;

    // Every element to the default (nothing without one). With track,
    // changed elements are marked; else the bytes are just written. Result
    // MMS_CHANGED when something changed; MMS_E_UNDEFINED when the default can't be
    // written.
    JResult writeDefaults(const ElementPlace& place, const WriteContext& context, bool track) const;

    // Imports one parameter from an image: record32 is its stored descriptor
    // in host order, stored points at its element 0 in the image data,
    // storedBitOffset the bit position of a stored "bit" element 0, and
    // storedAvailable the bytes present from stored on. protect (may be
    // null) is laid out like the function's data at place.data's position.
    // Out-of-range values are clamped and reported with MMS_ADJUSTED; elements whose
    // types can't be converted are skipped and reported with MMS_ADJUSTED too.
    JResult importElements(const ElementPlace& place, const uint8_t* record32, const uint8_t* stored,
        uint32_t storedBitOffset, uint64_t storedAvailable, const uint8_t* protect, const WriteContext& context) const;

private:
    // One parameter's stored elements in an image, as importElements reads them.
    struct StoredElements {
        const uint8_t* data = nullptr;
        uint32_t bitOffset = 0;
        uint32_t width = 0;
        uint32_t count = 0;
        uint8_t swapClass = 0;
        bool bits = false;
        bool text = false;
        const uint8_t* protect = nullptr;
    };
    bool elementProtected(const uint8_t* protect, uint32_t index) const;
    // One helper per stored kind: integers and bits into integer parameters,
    // texts into texts, and everything that goes through a variant (reals,
    // anything into a real).
    JResult importIntegers(const ElementPlace& place, const StoredElements& s, const WriteContext& context) const;
    JResult importTexts(const ElementPlace& place, const StoredElements& s, const WriteContext& context) const;
    JResult importConverted(const ElementPlace& place, const StoredElements& s, const WriteContext& context) const;
    bool storedToVariant(JLIB::JVariant* out, const StoredElements& s, uint32_t index, bool* adjusted) const;

    JResult checkDefinitionValue(uint32_t word, const JLIB::JVariant& value, uint32_t* outWord) const;
    JResult readRaw(JLIB::JVariant* out, const uint8_t* data, uint32_t index) const;
    // The integer part of admit and writeElement, without variants (the import's path).
    JResult admitInteger(int64_t* value, uint32_t flags) const;
    JResult writeInteger(uint8_t* data, int64_t value, uint32_t index) const;
    JResult afterWrite(const ElementPlace& place, uint32_t index, const WriteContext& context) const;

    char m_name[MMS_NAME_SIZE] = {};
    uint32_t m_arraySize = 0;
    uint32_t m_type = 0;
    uint32_t m_minimum = 0;
    uint32_t m_maximum = 0;
    uint32_t m_default = 0;
    uint32_t m_step = 0;
    uint32_t m_nominal = 0;
    uint32_t m_unitOffset = 0;
    uint32_t m_unitLength = 0;
    uint32_t m_scaling = 1;
    uint32_t m_kind = 0;
    uint8_t m_presence = 0;
};

} // namespace MMS
