// The older setup format (.qln): XML listing, per slot, "IO:" parameters of
// the first unit families. Only read; units it names are mounted as BroxL-D
// when their slot holds no Brox model of the first generation.
#pragma once

#include "device/memory/dev_result.h"

#include <QString>

class QDomElement;

namespace Quil {

class SetupRack;

class FileLoaderV1 {
public:
    explicit FileLoaderV1(SetupRack& rack)
        : m_rack(rack)
    {
    }

    // 0, or DEV_E_FAIL with the error text. Units read before a failure stay
    // applied; *rackChanged (when given) tells whether any unit was.
    JResult load(const QString& path, QString* errorText, bool* rackChanged = nullptr);

    // Bounds far above any real file (a unit is four levels deep); a file
    // past them is refused before its document is built.
    static constexpr int kMaxDepth = 64;
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    // "0.0" and "0.1": two decimal parts, major * 10 + minor below 2.
    static bool isAcceptedVersion(const QString& version);

private:
    JResult loadUnits(const QDomElement& root, QString* errorText, bool* rackChanged);
    // Whether slot can take the unit: a first-generation Brox model is kept,
    // anything else unconnected is replaced by a BroxL-D.
    bool prepareSlot(int slot);
    JResult loadUnit(int slot, const QDomElement& unit, QString* errorText);
    JResult loadParam(int slot, const QDomElement& param);

    SetupRack& m_rack;
};

} // namespace Quil
