// The typed value of the system (JVariant) and a fixed-size array of like
// elements (JVariantArray) from which variants are read and written.
// Text and binary values live in blocks of heap 0 owned by the variant.
#pragma once

#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>

namespace JLIB {

enum JVariantType : uint32_t {
    JVARIANT_INT32 = 0,
    JVARIANT_UINT32 = 1,
    JVARIANT_STRING = 2,
    JVARIANT_FLOAT = 3,
    JVARIANT_BINARY = 4,
    JVARIANT_EMPTY = 5,
};

// Longest text block, NUL included.
constexpr uint32_t JVARIANT_MAX_STRING = 1024;
// Longest binary value the type allows; the heap limit is lower in practice.
constexpr uint32_t JVARIANT_MAX_BINARY = 0xFFFFFFFBu;

class JVariant {
public:
    JVariant() = default;
    explicit JVariant(int32_t value);
    explicit JVariant(uint32_t value);
    JVariant(const char* text, uint32_t maxLength);
    JVariant(const JVariant& other);
    virtual ~JVariant();

    // Assignments in their fixed order. Integers of 8 and 16 bits widen
    // (sign- or zero-extended). A long outside the 32-bit range of its type
    // cannot be held and leaves the variant empty.
    virtual JVariant& operator=(float value);
    virtual JVariant& operator=(uint8_t value);
    virtual JVariant& operator=(uint16_t value);
    virtual JVariant& operator=(unsigned int value);
    virtual JVariant& operator=(unsigned long value);
    virtual JVariant& operator=(int8_t value);
    virtual JVariant& operator=(int16_t value);
    virtual JVariant& operator=(int value);
    virtual JVariant& operator=(long value);
    // Safe for a = a; when the copy can't be made the target stays unchanged.
    virtual JVariant& operator=(const JVariant& other);
    // An empty variant equals nothing; an integer equals only integers with
    // the same value word; a float compares against b converted to float.
    virtual bool operator==(const JVariant& other) const;
    virtual bool operator!=(const JVariant& other) const;

    JResult setInt32(int32_t value);
    JResult setUInt32(uint32_t value);
    // Takes at most maxLength bytes of text (reading no further); null gives
    // the empty text. A text that needs more than 1024 bytes with its NUL is
    // refused with JLIB_VAR_E_ARG and leaves the variant empty.
    JResult setString(const char* text, uint32_t maxLength);
    // length 1..0xFFFFFFFB; anything else, or null data, is JLIB_VAR_E_ARG.
    JResult setBinary(const void* data, uint32_t length);
    JResult clear();

    // Getters: *ok (when given) is false when the type doesn't fit, and the
    // result is then 0 or null.
    uint32_t toInteger(bool* ok = nullptr) const; // raw value word of types 0, 1
    float toFloat(bool* ok = nullptr) const;
    const char* getString(bool* ok = nullptr) const;
    uint32_t getStringSize(bool* ok = nullptr) const; // with the NUL
    const uint8_t* getBinary(bool* ok = nullptr) const;
    uint32_t getBinarySize(bool* ok = nullptr) const;

    JVariantType type() const { return m_type; }
    // Text length with its NUL, binary length, 4 for numbers, 0 when empty.
    uint32_t size() const;

private:
    void release();
    void swapWith(JVariant& other);

    union Value {
        int32_t i;
        uint32_t u;
        float f;
        char* text; // block of heap 0
        uint8_t* binary; // block of heap 0: 32-bit big-endian length, bytes
    };
    Value m_value{};
    JVariantType m_type = JVARIANT_EMPTY;
};

class JVariantArray {
public:
    // On a bad type, element size or count (1..1024), or when the block
    // can't be had, the array is left with no block, count 0 and type 5.
    JVariantArray(JVariantType type, uint32_t elementSize, uint32_t count);
    virtual ~JVariantArray();
    JVariantArray(const JVariantArray&) = delete;
    JVariantArray& operator=(const JVariantArray&) = delete;

    // Reads element index into *variant.
    JResult get(JVariant* variant, uint32_t index) const;
    // Stores variant into element index; integer and float arrays ignore a
    // variant of another type and still succeed.
    JResult set(uint32_t index, const JVariant& variant);

    uint32_t count() const { return m_count; }
    uint32_t elementSize() const { return m_elementSize; }
    JVariantType type() const { return m_type; }

private:
    uint8_t* element(uint32_t index) const { return m_memory + static_cast<size_t>(index) * m_elementSize; }

    JVariantType m_type = JVARIANT_EMPTY;
    uint32_t m_elementSize = 0;
    uint32_t m_count = 0;
    uint8_t* m_memory = nullptr;
    bool m_owned = false;
};

} // namespace JLIB
