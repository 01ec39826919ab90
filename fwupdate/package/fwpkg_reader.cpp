#include "fwupdate/package/fwpkg_filemanager.h"

#include "fwupdate/package/fwpkg_versions.h"
#include "pbd/jlib/jlib_bytes.h"

#include <QDir>

namespace {

const char kQuilPrefix[] = "Quil";
const char kBrox3Header[] = "Brox-D3";

// Bit 0 or 1 of an open failure: the container's data did not fit the
// top block kind, so the other kind may read it.
bool mayBeOtherKind(JResult r)
{
    return (static_cast<uint32_t>(r) & 3u) != 0;
}

} // namespace

FwPackageReader::FwPackageReader(const Variant& variant)
    : m_variant(variant)
    , m_archive16(16)
    , m_archive28(28)
{
}

FwPackageReader::~FwPackageReader()
{
    if (!m_packagePath.isEmpty())
        removeUnpackFolder();
}

JResult FwPackageReader::splitPath(const QString& path, QString* folder, QString* fileName)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (folder)
        *folder = slash < 0 ? QString() : path.left(slash);
    if (fileName)
        *fileName = path.mid(slash + 1);
    return FWPKG_OK;
}

JResult FwPackageReader::getFirmwarePath(QString* path) const
{
    if (path)
        *path = m_firmwarePath;
    return FWPKG_OK;
}

JResult FwPackageReader::openPackage(const QString& path, const FILECACHE::MBDFAbortFlag* abortFlag,
    FILECACHE::IMBDFObserver* observer, QString* header, QStringList* versions)
{
    m_packagePath = path;
    QString folder, fileName;
    splitPath(path, &folder, &fileName);
    // A package in the root folder, or named without a folder: the folder
    // it really is in, never "" (which would read relative to the current
    // folder, or unpack into the root).
    if (folder.isEmpty())
        folder = path.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QDir::currentPath();
    // Nothing of the previous package may be offered for this one.
    m_danteFiles.clear();
    m_firmwarePath.clear();
    m_typeCode = FWPKG_TYPE_NONE;

    JResult result = FWPKG_OK;
    m_inUse = nullptr;
    m_archive16.reset(nullptr);
    if (m_archive28.reset(nullptr) < 0)
        result = FWPKG_E_RESET;

    // Also the folder of an open that failed after unpacking.
    removeUnpackFolder();
    m_unpacked = false;

    if (result >= 0) {
        const QByteArray folderBytes = folder.toUtf8();
        const QByteArray nameBytes = fileName.toUtf8();
        JResult r = m_archive16.open(folderBytes.constData(), nameBytes.constData(), nullptr);
        if (r >= 0) {
            m_inUse = &m_archive16;
        } else if (mayBeOtherKind(r)) {
            r = m_archive28.open(folderBytes.constData(), nameBytes.constData(), nullptr);
            if (r >= 0)
                m_inUse = &m_archive28;
        }
        if (!m_inUse)
            result = (static_cast<uint32_t>(r) & 0x7FFFFFFFu) == 3 ? FWPKG_E_KIND : FWPKG_E_OPEN;
    }

    const std::string top = m_inUse ? m_inUse->topName() : std::string();
    if (header)
        *header = QString::fromUtf8(top.c_str());

    if (result >= 0) {
        if (top.compare(0, 4, kQuilPrefix) == 0)
            result = lookupModel(QString::fromUtf8(top.c_str() + 4));
        else if (m_variant.bareBrox3 && top.compare(0, 7, kBrox3Header) == 0)
            result = lookupModel(QString::fromUtf8(top.c_str()));
        else
            result = FWPKG_E_HEADER;
    }

    // A "Brox-D3" package is itself the firmware file.
    if (m_typeCode == FWPKG_TYPE_BROX_D3) {
        m_firmwarePath = m_packagePath;
        if (result >= 0)
            result = readVersions(header, versions);
        m_unpacked = result >= 0;
        return result;
    }

    if (result >= 0)
        result = unpack(folder, abortFlag, observer, header, versions);
    m_unpacked = result >= 0;
    return result;
}

JResult FwPackageReader::lookupModel(const QString& name)
{
    m_typeCode = fwpkg_lookupModel(m_variant.models, name);
    return m_typeCode == FWPKG_TYPE_NONE ? FWPKG_E_INVALID : FWPKG_OK;
}

JResult FwPackageReader::versionWords(bool swapWord0, std::vector<uint32_t>* words) const
{
    if (!m_inUse)
        return FWPKG_E_OPEN;
    const uint64_t count = 3 * static_cast<uint64_t>(m_danteFiles.size()) + 1;
    const uint32_t width = m_inUse->container().topBlock().versionWidth();
    if (count * 4 > width)
        return FWPKG_E_VERSION;
    const JResult r = fwpkg_readWords(m_inUse->topField(), width, static_cast<uint32_t>(count), words);
    if (r >= 0 && swapWord0)
        jlib_swapBytes(&(*words)[0], sizeof(uint32_t));
    return r;
}

JResult FwPackageReader::readVersions(QString* header, QStringList* versions)
{
    if (!m_inUse)
        return FWPKG_E_OPEN;
    const std::string top = m_inUse->topName();
    if (header)
        *header = QString::fromUtf8(top.c_str());
    // Only a bare "Brox-D3" header stores word 0 in the opposite order.
    std::vector<uint32_t> words;
    JResult r = versionWords(m_variant.bareBrox3 && top == kBrox3Header, &words);
    if (r < 0)
        return r;
    QString firmware;
    r = fwpkg_firmwareVersionText(words[0], &firmware);
    if (r < 0)
        return r;
    QStringList texts{firmware};
    for (size_t i = 1; i < words.size(); ++i)
        texts.append(fwpkg_danteWordText(words[i]));
    if (versions)
        versions->append(texts);
    return FWPKG_OK;
}
