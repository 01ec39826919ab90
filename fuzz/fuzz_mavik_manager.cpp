// The Mavik updater's arithmetic on what units and packages send: the
// version relation on arbitrary texts, and status sequences with arbitrary
// ids and percentages folded into one progress figure.
//
// First byte: even -> relation (the rest split at the first '|' into unit
// and package text); odd -> progress, the rest read as 10-byte steps (op,
// id byte, percent, 7 bytes ignored): op % 4 == 0 starts member id, 3
// clears, else a status.
#include "fuzz/fuzz_check.h"

#include "fwupdate/mavik/manager/mavik_manager.h"
#include "ui/fwupdate_ui/fw_mavikupdater.h"

#include <QString>

namespace {

void relation(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const int bar = bytes.indexOf('|');
    const QString unit = QString::fromLatin1(bar < 0 ? bytes : bytes.left(bar));
    const QString package = QString::fromLatin1(bar < 0 ? QByteArray() : bytes.mid(bar + 1));
    const int32_t r = Quil::mavikVersionRelation(unit, package);
    fuzzCheck(r >= -1 && r <= 1);
}

void progress(const uint8_t* data, size_t size)
{
    MavikProgress p;
    uint32_t last = 0;
    for (size_t i = 0; i + 10 <= size && i < 10 * 256; i += 10) {
        const uint8_t op = data[i] % 4;
        const uint64_t id = data[i + 1] % 8;
        if (op == 0) {
            p.start(id);
            fuzzCheck(p.reported() == 0);
        } else if (op == 3) {
            p.clear();
            fuzzCheck(p.reported() == 0);
        } else {
            const bool rose = p.update(id, data[i + 2]);
            fuzzCheck(rose == (p.reported() > last));
            fuzzCheck(p.reported() >= last); // never down between starts
        }
        fuzzCheck(p.reported() <= 100);
        last = p.reported();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0)
        relation(data + 1, size - 1);
    else
        progress(data + 1, size - 1);
    return 0;
}
