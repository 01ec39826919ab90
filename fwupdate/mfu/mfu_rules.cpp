#include "fwupdate/mfu/mfu_rules.h"

#include <cstdio>
#include <cstring>

namespace {

struct Model {
    const char* prefix;
    uint32_t code;
};

const Model kModels[] = {
    {"Sorn-D", 3},
    {"Mavik-D", 2},
    {"Z-Series", 1},
    {"PellM-D", 4},
    {"Kesh", 5},
    {"Crell-10", 6},
    {"BroxM-D2", 7},
    {"BroxL-D2", 7},
    {"BroxM-D3", 8},
    {"BroxL-D3", 8},
    {"PellM-D2", 4},
    {"Crell-X-AM3352", 9},
};

struct SubImage {
    const char* prefix;
    const char* name;
};

const SubImage kSubImages[] = {
    {"BroxM-D2", "Brox-D2"},
    {"BroxL-D2", "Brox-D2"},
    {"PellM-D2", "Pell-D2"},
};

constexpr uint32_t kSubImageVersion = 180;

bool startsWith(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// A version character, '\0' past the end or past 16 characters.
char at(const char* text, size_t length, size_t index)
{
    return index < length ? text[index] : '\0';
}

int kindOf(char c)
{
    if (c == 'R' || c == 'r')
        return 1;
    if (c == 'V' || c == 'v')
        return 2;
    return 0;
}

} // namespace

uint32_t mfu_modelCode(const char* productName)
{
    if (!productName)
        return MFU_MODEL_UNKNOWN;
    for (const Model& m : kModels) {
        if (startsWith(productName, m.prefix))
            return m.code;
    }
    return MFU_MODEL_UNKNOWN;
}

int32_t mfu_compareVersion(const char* packageVersion, const char* unitVersion)
{
    const char* p = packageVersion ? packageVersion : "";
    const char* u = unitVersion ? unitVersion : "";
    const size_t pl = strnlen(p, MFU_VERSION_CHARS);
    const size_t ul = strnlen(u, MFU_VERSION_CHARS);
    const int kind = kindOf(at(p, pl, 0));
    if (kind == 0)
        return MFU_VERSION_UNDECIDED;
    const int unitKind = kindOf(at(u, ul, 0));
    if (unitKind != kind)
        return unitKind != 0 ? MFU_VERSION_OTHER_LETTER : MFU_VERSION_GREATER;
    size_t j = 1;
    for (size_t i = 1; i < MFU_VERSION_CHARS && at(p, pl, i) != '\0'; ++i, ++j) {
        if (at(u, ul, j) == '.')
            ++j;
        const unsigned char a = static_cast<unsigned char>(at(p, pl, i));
        const unsigned char b = static_cast<unsigned char>(at(u, ul, j));
        if (a < b)
            return MFU_VERSION_SMALLER;
        if (a > b)
            return MFU_VERSION_GREATER;
    }
    return MFU_VERSION_EQUAL;
}

int32_t mfu_checkModel(const char* productName, uint32_t expected, const uint32_t* accepted)
{
    const uint32_t unit = mfu_modelCode(productName);
    bool listed = false;
    for (const uint32_t* code = accepted; code && *code != 0; ++code)
        listed = listed || *code == unit;
    if (!listed)
        return MFU_MODEL_REFUSED;
    if (expected == 0 || unit == 0)
        return MFU_MODEL_UNDECIDED;
    if (unit == MFU_MODEL_UNKNOWN)
        return MFU_MODEL_REFUSED;
    return unit == expected || expected == MFU_MODEL_ANY ? MFU_MODEL_ACCEPTED : MFU_MODEL_REFUSED;
}

bool mfu_subImage(const char* productName, const char* unitVersion, const char* packageVersion, char* name, size_t size)
{
    if (name && size > 0)
        name[0] = '\0';
    if (!productName || !unitVersion || !name || size == 0)
        return false;
    for (const SubImage& row : kSubImages) {
        if (!startsWith(productName, row.prefix))
            continue;
        // The number from the second character up to the first blank or
        // other non-digit, within 16 characters.
        const size_t length = strnlen(unitVersion, MFU_VERSION_CHARS);
        uint32_t number = 0;
        for (size_t i = 1; i < length && unitVersion[i] >= '0' && unitVersion[i] <= '9'; ++i) {
            number = number * 10 + static_cast<uint32_t>(unitVersion[i] - '0');
            if (number >= kSubImageVersion)
                break; // enough: no overflow on long digit runs
        }
        if (number < kSubImageVersion)
            return false;
        const int n = snprintf(name, size, "%s%s%.*s", row.name, "_", static_cast<int>(MFU_VERSION_CHARS),
            packageVersion ? packageVersion : "");
        if (n < 0 || static_cast<size_t>(n) >= size) {
            name[0] = '\0';
            return false;
        }
        return true;
    }
    return false;
}

bool mfu_pullsByTftp(const char* productName)
{
    return productName && (startsWith(productName, "BroxL-D3") || startsWith(productName, "BroxM-D3"));
}
