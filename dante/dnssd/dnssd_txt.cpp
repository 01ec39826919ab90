// TXT record look-ups and full service names.
#include "dante/dnssd/dns_sd.h"
#include "dante/dnssd/mdns_message.h"

#include <cstring>
#include <string>

namespace {

bool keyMatches(const uint8_t* entry, size_t length, const char* key, size_t keyLength)
{
    if (length < keyLength || (length > keyLength && entry[keyLength] != '='))
        return false;
    for (size_t i = 0; i < keyLength; ++i) {
        auto a = static_cast<unsigned char>(entry[i]);
        auto b = static_cast<unsigned char>(key[i]);
        if (a >= 'A' && a <= 'Z')
            a = static_cast<unsigned char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<unsigned char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

// The first entry with this key, or null; *entryLength is its length.
const uint8_t* findEntry(uint16_t txtLen, const void* txtRecord, const char* key, size_t* entryLength)
{
    if (!txtRecord || !key)
        return nullptr;
    const size_t keyLength = std::strlen(key);
    if (keyLength == 0)
        return nullptr;
    const auto* p = static_cast<const uint8_t*>(txtRecord);
    size_t pos = 0;
    while (pos < txtLen) {
        const size_t length = p[pos];
        if (length > size_t{txtLen} - pos - 1) // an entry running past the record ends the search
            return nullptr;
        if (keyMatches(p + pos + 1, length, key, keyLength)) {
            *entryLength = length;
            return p + pos + 1;
        }
        pos += 1 + length;
    }
    return nullptr;
}

} // namespace

const void* TXTRecordGetValuePtr(uint16_t txtLen, const void* txtRecord, const char* key, uint8_t* valueLen)
{
    size_t length = 0;
    const uint8_t* entry = findEntry(txtLen, txtRecord, key, &length);
    const size_t keyLength = key ? std::strlen(key) : 0;
    if (valueLen)
        *valueLen = 0;
    if (!entry || length == keyLength)
        return nullptr;
    if (valueLen)
        *valueLen = static_cast<uint8_t>(length - keyLength - 1);
    return entry + keyLength + 1;
}

int TXTRecordContainsKey(uint16_t txtLen, const void* txtRecord, const char* key)
{
    size_t length = 0;
    return findEntry(txtLen, txtRecord, key, &length) ? 1 : 0;
}

DNSServiceErrorType DNSServiceConstructFullName(
    char* fullName, const char* service, const char* regtype, const char* domain)
{
    if (!fullName || !regtype || !domain || !*regtype || !*domain)
        return DNSSD_ERR_BAD_PARAM;
    std::string out;
    if (service)
        out = mdns_label_escape(service) + ".";
    auto appendDotted = [&out](const char* part) {
        out += part;
        if (out.back() != '.')
            out += '.';
    };
    appendDotted(regtype);
    appendDotted(domain);
    if (out.size() >= DNSSD_MAX_DOMAIN_NAME)
        return DNSSD_ERR_BAD_PARAM;
    std::memcpy(fullName, out.c_str(), out.size() + 1);
    return DNSSD_OK;
}
