// Feeds arbitrary datagrams through the packet parser into the discovery
// recorder as alive or gone reports, with ageing ticks between. Checks: no
// crash or read outside a datagram (the sanitizers watch), every key in
// either table is a valid unit id and MAC text taken from some accepted
// announcement, no counter outlives the ageing, and a unit is first found
// only from an announcement of the maker with a known model (read here on
// its own, not through the recorder's parser).
//
// Input: a series of steps. Step byte s: s % 4 == 3 gives (s / 4) % 16 + 1
// ticks; otherwise the datagram follows, its length the next byte plus 256
// times (s / 4) % 4, reported alive for s % 4 == 0 or 1, gone for 2.
#include "device/discovery/dev_recorder.h"

#include <QRegularExpression>
#include <QSet>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kModels[] = {"BroxL-D", "BroxM-D", "BroxI-D", "BroxO-D", "Sorn-D", "Mavik-D", "PellM-D", "BroxL-D2",
    "BroxM-D2", "PellM-D2", "BroxL-D3", "BroxM-D3"};

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// The i-th length-prefixed string of the text block; false past the end.
bool blockString(const JsdpService& s, int index, std::string* out)
{
    size_t at = 0;
    for (int i = 0; i <= index; ++i) {
        if (at >= s.payloadLength || s.payload[at] > s.payloadLength - at - 1)
            return false;
        out->assign(reinterpret_cast<const char*>(s.payload + at + 1), s.payload[at]);
        at += 1 + s.payload[at];
    }
    return true;
}

bool fromTheMakerWithAKnownModel(const JsdpService& s)
{
    std::string maker, model;
    if (!blockString(s, 0, &maker) || !blockString(s, 1, &model))
        return false;
    if (QString::fromLatin1(maker.data(), int(maker.size())).compare("valdor", Qt::CaseInsensitive) != 0)
        return false;
    for (const char* name : kModels)
        if (model == name)
            return true;
    return false;
}

bool validKey(const QString& key)
{
    static const QRegularExpression form("^[Jj][0-9A-Fa-f]+-([0-9a-f]{2}:){5}[0-9a-f]{2}$");
    const int minus = key.indexOf('-');
    uint16_t id = 0;
    return form.match(key).hasMatch() && Quil::parseUnitId(key.left(minus), &id);
}

// "<unit id text>-<MAC>" of an announcement, read here on its own.
QString announcedKey(const JsdpService& s)
{
    std::string unitId;
    if (!blockString(s, 2, &unitId))
        return QString();
    char mac[18];
    snprintf(
        mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", s.mac[0], s.mac[1], s.mac[2], s.mac[3], s.mac[4], s.mac[5]);
    return QString::fromUtf8(unitId.data(), int(unitId.size())) + QLatin1Char('-') + QLatin1String(mac);
}

struct Harness {
    Quil::ScpRecorder recorder;
    QSet<QString> accepted; // keys the recorder found
    QSet<QString> announced; // keys of alive announcements that passed the independent check

    Harness()
    {
        // Found from the announcement at hand, or later (on a tick or
        // another report) once a conflict of addresses has ended: either
        // way from an alive announcement of the maker with a known model.
        QObject::connect(&recorder, &Quil::ScpRecorder::foundDev, [this](const QString& key) {
            check(announced.contains(key));
            accepted.insert(key);
        });
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Harness h;
    h.recorder.clear();
    h.accepted.clear();
    h.announced.clear();
    static JsdpService heard;

    size_t pos = 0;
    for (int steps = 0; pos < size && steps < 4096; ++steps) {
        const uint8_t step = data[pos++];
        if (step % 4 == 3) {
            for (int i = 0; i <= (step / 4) % 16; ++i)
                h.recorder.removeCheckTime();
            continue;
        }
        if (pos >= size)
            break;
        size_t length = data[pos++] + 256u * ((step / 4) % 4);
        if (length > size - pos)
            length = size - pos;
        // Exact-size copy so that any read past the datagram is caught.
        std::vector<uint8_t> datagram(data + pos, data + pos + length);
        pos += length;
        if (jsdp_parsePacket(datagram.data(), datagram.size(), &heard) != JSDP_OK)
            continue;
        const int alive = step % 4 == 2 ? 0 : 1;
        if (alive && fromTheMakerWithAKnownModel(heard))
            h.announced.insert(announcedKey(heard));
        Quil::ScpRecorder::onService(&heard, alive, &h.recorder);
    }

    const QMap<QString, Quil::DeviceEntry> devices = h.recorder.devices();
    for (auto it = devices.cbegin(); it != devices.cend(); ++it) {
        check(validKey(it.key()) && h.accepted.contains(it.key()));
        check(it.value().key == it.key() && it.value().port == Quil::kScpPort);
    }
    const QMap<QString, int> ageing = h.recorder.ageingCounts();
    for (auto it = ageing.cbegin(); it != ageing.cend(); ++it)
        check(validKey(it.key()) && it.value() >= 0 && it.value() < Quil::kDefaultAgeingTicks);
    return 0;
}
