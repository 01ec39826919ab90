#include "app/app_fileloaderv1.h"

#include "app/app_setuprack.h"
#include "device/layouts/dev_iotable.h"
#include "device/layouts/dev_modeltypes.h"
#include "device/memory/dev_izdev.h"
#include "device/memory/dev_mempath.h"
#include "pbd/jlib/jvariant.h"

#include <QDomDocument>
#include <QFile>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstring>

namespace Quil {

namespace {

constexpr const char* kV1TextDifferentKind = "Different kind of data.";
constexpr const char* kV1TextInvalid = "Invalid data structure.";
constexpr const char* kTextVersion = "Version error.";

JResult failV1(QString* errorText, const QString& text)
{
    if (errorText)
        *errorText = text;
    return DEV_E_FAIL;
}

// Only plain decimal digits; a sign, blanks or a value past 32 bits do not
// count as a number here.
bool parseDecimal(const QString& text, uint32_t* out)
{
    return readIndex(QStringRef(&text), out);
}

bool isFirstBroxGeneration(ModelType type)
{
    const ModelTraits* traits = modelTraits(type);
    return traits && std::strcmp(traits->family, "Brox") == 0;
}

// A streaming pass, cheap at any depth: building the document of a file
// nested thousands deep takes minutes, and tearing it down recurses once per
// level.
bool isWithinDepth(const QByteArray& bytes)
{
    QXmlStreamReader reader(bytes);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > FileLoaderV1::kMaxDepth)
            return false;
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return !reader.hasError();
}

} // namespace

bool FileLoaderV1::isAcceptedVersion(const QString& version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    uint32_t major = 0;
    uint32_t minor = 0;
    if (parts.size() != 2 || !parseDecimal(parts[0], &major) || !parseDecimal(parts[1], &minor))
        return false;
    return uint64_t{major} * 10 + minor < 2;
}

JResult FileLoaderV1::load(const QString& path, QString* errorText, bool* rackChanged)
{
    bool changed = false;
    rackChanged = rackChanged ? rackChanged : &changed;
    *rackChanged = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failV1(errorText, file.errorString());
    if (file.size() > kMaxFileSize)
        return failV1(errorText, QString::fromLatin1(kV1TextDifferentKind));
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize || !isWithinDepth(bytes))
        return failV1(errorText, QString::fromLatin1(kV1TextDifferentKind));
    QXmlStreamReader reader(bytes);
    QDomDocument document;
    if (!document.setContent(&reader, false))
        return failV1(errorText, QString::fromLatin1(kV1TextDifferentKind));
    const QDomElement root = document.documentElement();
    if (root.tagName() != QLatin1String("brox_device"))
        return failV1(errorText, QString::fromLatin1(kV1TextDifferentKind));
    if (!isAcceptedVersion(root.attribute(QStringLiteral("version"), QStringLiteral("0.0"))))
        return failV1(errorText, QString::fromLatin1(kTextVersion));
    return loadUnits(root, errorText, rackChanged);
}

JResult FileLoaderV1::loadUnits(const QDomElement& root, QString* errorText, bool* rackChanged)
{
    for (QDomElement unit = root.firstChildElement(); !unit.isNull(); unit = unit.nextSiblingElement()) {
        if (unit.tagName() != QLatin1String("brox"))
            return failV1(errorText, QString::fromLatin1(kV1TextDifferentKind));
        uint32_t slot = 0;
        // A devid that is no slot index (not a number, negative, 24 or more)
        // names no unit of this rack.
        if (!parseDecimal(unit.attribute(QStringLiteral("devid")), &slot) || slot >= kRackSlotCount)
            continue;
        if (!prepareSlot(static_cast<int>(slot)))
            continue;
        *rackChanged = true;
        const JResult r = loadUnit(static_cast<int>(slot), unit, errorText);
        if (r < 0)
            return r;
    }
    return 0;
}

bool FileLoaderV1::prepareSlot(int slot)
{
    const ModelType type = m_rack.modelType(slot);
    if (isFirstBroxGeneration(type))
        return true;
    if (m_rack.hasConnection(slot))
        return false;
    return m_rack.mountModel(slot, MODEL_BROXL_D) >= 0;
}

JResult FileLoaderV1::loadUnit(int slot, const QDomElement& unit, QString* errorText)
{
    const QDomElement paramSet = unit.firstChildElement();
    if (paramSet.tagName() != QLatin1String("param_set"))
        return failV1(errorText, QString::fromLatin1(kV1TextDifferentKind));
    if (!isAcceptedVersion(paramSet.attribute(QStringLiteral("version"))))
        return failV1(errorText, QString::fromLatin1(kTextVersion));
    for (QDomElement param = paramSet.firstChildElement(QStringLiteral("param")); !param.isNull();
         param = param.nextSiblingElement(QStringLiteral("param"))) {
        if (loadParam(slot, param) < 0)
            return failV1(errorText, QString::fromLatin1(kV1TextInvalid));
    }
    return 0;
}

JResult FileLoaderV1::loadParam(int slot, const QDomElement& param)
{
    uint32_t x = 0;
    uint32_t y = 0;
    bool valOk = false;
    const int32_t val = param.attribute(QStringLiteral("val")).toInt(&valOk, 10);
    if (!parseDecimal(param.attribute(QStringLiteral("x")), &x) || x > INT32_MAX
        || !parseDecimal(param.attribute(QStringLiteral("y")), &y) || !valOk)
        return 0; // rows without numbers carry nothing to write
    QString path;
    int32_t value = 0;
    const QByteArray address = param.attribute(QStringLiteral("address")).toUtf8();
    if (convertIoParameter(address.constData(), static_cast<int>(x), val, &path, &value) < 0)
        return DEV_E_FAIL;
    if (path.isEmpty())
        return 0;
    IZDev* device = m_rack.rackDevice(slot);
    return device ? device->setRawValue(path, JLIB::JVariant(value), SOURCE_UI) : DEV_E_FAIL;
}

} // namespace Quil
