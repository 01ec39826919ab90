// The model rules over arbitrary unit and package texts: version compare,
// model check and sub image, each checked against a short reference of the
// rules written here over std::string. A version of 16 bytes or more is
// handed over in a 16-byte buffer without a terminator, so any read past 16
// characters is caught by the address sanitizer.
#include "fuzz/fuzz_check.h"
#include "fwupdate/mfu/mfu_rules.h"

#include <cstring>
#include <memory>
#include <string>

namespace {

// The text as the link would hold it: at most 16 bytes, terminated only
// when shorter.
std::unique_ptr<char[]> versionBuffer(const std::string& text)
{
    const size_t n = std::min<size_t>(text.size(), 16);
    std::unique_ptr<char[]> buffer(new char[n < 16 ? n + 1 : 16]);
    memcpy(buffer.get(), text.data(), n);
    if (n < 16)
        buffer[n] = '\0';
    return buffer;
}

std::string cut(const std::string& text)
{
    const std::string t = text.substr(0, 16);
    return t.substr(0, t.find('\0'));
}

int kind(char c)
{
    return (c == 'R' || c == 'r') ? 1 : (c == 'V' || c == 'v') ? 2 : 0;
}

int refCompare(const std::string& package, const std::string& unitText)
{
    const std::string p = cut(package), u = cut(unitText);
    if (p.empty() || kind(p[0]) == 0)
        return MFU_VERSION_UNDECIDED;
    const int uk = u.empty() ? 0 : kind(u[0]);
    if (uk != kind(p[0]))
        return uk ? MFU_VERSION_OTHER_LETTER : MFU_VERSION_GREATER;
    size_t j = 1;
    for (size_t i = 1; i < p.size(); ++i, ++j) {
        if (j < u.size() && u[j] == '.')
            ++j;
        const unsigned char a = static_cast<unsigned char>(p[i]);
        const unsigned char b = j < u.size() ? static_cast<unsigned char>(u[j]) : 0;
        if (a != b)
            return a < b ? MFU_VERSION_SMALLER : MFU_VERSION_GREATER;
    }
    return MFU_VERSION_EQUAL;
}

uint32_t refModel(const std::string& name)
{
    static const std::pair<const char*, uint32_t> rows[]
        = {{"Sorn-D", 3}, {"Mavik-D", 2}, {"Z-Series", 1}, {"PellM-D", 4}, {"Kesh", 5}, {"Crell-10", 6},
            {"BroxM-D2", 7}, {"BroxL-D2", 7}, {"BroxM-D3", 8}, {"BroxL-D3", 8}, {"PellM-D2", 4}, {"Crell-X-AM3352", 9}};
    for (const auto& row : rows) {
        if (name.compare(0, strlen(row.first), row.first) == 0)
            return row.second;
    }
    return 11;
}

std::string refSubImage(const std::string& name, const std::string& unitText, const std::string& package)
{
    const char* base = nullptr;
    if (name.rfind("BroxM-D2", 0) == 0 || name.rfind("BroxL-D2", 0) == 0)
        base = "Brox-D2";
    else if (name.rfind("PellM-D2", 0) == 0)
        base = "Pell-D2";
    if (!base)
        return "";
    const std::string u = cut(unitText);
    size_t end = 1;
    while (end < u.size() && u[end] >= '0' && u[end] <= '9')
        ++end;
    const std::string digits = end > 1 ? u.substr(1, end - 1) : "";
    const size_t first = digits.find_first_not_of('0');
    const std::string significant = first == std::string::npos ? "" : digits.substr(first);
    const bool enough = significant.size() > 3 || (significant.size() == 3 && significant >= "180");
    return enough ? std::string(base) + "_" + cut(package) : "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3 || size > 512)
        return 0;
    const size_t a = data[0] % 40, b = data[1] % 40;
    const uint32_t expected = data[2] % 13;
    const std::string rest(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::string package = rest.substr(0, std::min(a, rest.size()));
    const std::string unitText = rest.substr(std::min(a, rest.size()), b);
    std::string name = rest.substr(std::min(rest.size(), a + b));
    name = name.substr(0, name.find('\0'));

    const auto p = versionBuffer(package);
    const auto u = versionBuffer(unitText);
    fuzzCheck(mfu_compareVersion(p.get(), u.get()) == refCompare(package, unitText));

    fuzzCheck(mfu_modelCode(name.c_str()) == refModel(name));
    const uint32_t accepted[] = {1, 7, 8, 3, 4, 0};
    const uint32_t code = refModel(name);
    const bool listed = code == 1 || code == 7 || code == 8 || code == 3 || code == 4;
    const int32_t want = !listed             ? MFU_MODEL_REFUSED
        : expected == 0                      ? MFU_MODEL_UNDECIDED
        : code == expected || expected == 10 ? MFU_MODEL_ACCEPTED
                                             : MFU_MODEL_REFUSED;
    fuzzCheck(mfu_checkModel(name.c_str(), expected, accepted) == want);

    char sub[32];
    const std::string wantSub = refSubImage(name, unitText, package);
    const bool has = mfu_subImage(name.c_str(), u.get(), p.get(), sub, sizeof(sub));
    fuzzCheck(has == !wantSub.empty());
    fuzzCheck(!has || wantSub == sub);
    return 0;
}
