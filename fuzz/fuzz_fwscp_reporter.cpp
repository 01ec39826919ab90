// The firmware-update connection's reporter and parameter table with
// arbitrary tags, values and indexes. The first byte picks the operation;
// the rest is read as 32-bit code points (any value, any length). What is
// kept for a tag must be Latin-1 and at most 63 characters long.
#include "ui/fwupdate_ui/fw_scpprotocol.h"

#include <QMap>

#include <cstdlib>
#include <cstring>

namespace {

using namespace Quil;

class Info : public IScpDeviceInfo {
public:
    JResult set(const QString& tag, const QString& value) override
    {
        if (value.size() > FWSCP_VALUE_MAX)
            std::abort();
        for (QChar c : value) {
            if (c.unicode() > 0xFF)
                std::abort();
        }
        texts[tag] = value;
        return 0;
    }
    JResult get(const QString& tag, QString& value) override
    {
        value = texts.value(tag, value);
        return 0;
    }
    QMap<QString, QString> texts;
};

// Code points from the bytes, four at a time; a short tail is dropped.
SCP::ScpText textOf(const uint8_t* data, size_t size, size_t capacity)
{
    SCP::ScpText text(capacity);
    for (size_t i = 0; i + 4 <= size; i += 4) {
        uint32_t code = 0;
        std::memcpy(&code, data + i, 4);
        text.append(JLIB::JUnicode(code));
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t op = data[0];
    const size_t split = 1 + (data[1] % 64) * 4;
    const uint8_t* rest = data + 2;
    const size_t restSize = size - 2;
    const size_t tagSize = std::min(restSize, split);
    SCP::ScpText tag = textOf(rest, tagSize, 256);
    SCP::ScpText value = textOf(rest + tagSize, restSize - tagSize, 4096);

    Info info;
    ScpDeviceReporter_fwUpdate reporter(&info);
    ScpParameter_fwUpdate table;
    switch (op % 4) {
    case 0:
        reporter.deviceInfo(0, value, tag);
        break;
    case 1:
        reporter.deviceStatus(0, value, tag);
        reporter.deviceMode(0, value);
        reporter.negotiationAccepted();
        break;
    case 2: {
        int32_t index = -1;
        if (table.indexOf(index, tag) >= 0 && (index < 0 || index >= FWSCP_PARAM_COUNT))
            std::abort();
        break;
    }
    default: {
        int32_t index = 0;
        if (tagSize >= 4)
            std::memcpy(&index, rest, 4);
        SCP::ScpText name(SCP::SCP_ALNUM_MAX);
        table.nameOf(name, index);
        table.storeValue(0, index, 0, 0, JLIB::JVariant(static_cast<uint32_t>(index)));
        JLIB::JVariant out;
        table.readValue(out, index, 0, 0);
        break;
    }
    }
    for (int i = 0; i <= ScpDeviceReporter_fwUpdate::tagCount(); ++i) {
        JLIB::JVariant out;
        if (const char* kept = ScpDeviceReporter_fwUpdate::tag(i))
            reporter.lookup(kept, out);
    }
    return 0;
}
