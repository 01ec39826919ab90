#include "fwupdate/package/fwpkg_filemanager.h"

namespace {

const char* const kBroxModels[] = {"BroxL-D", "BroxM-D", "BroxI-D", "BroxO-D", "BroxL-D2", "BroxM-D2"};
const char kPellModel[] = "PellM-D";

} // namespace

RecoveryFileManager::RecoveryFileManager()
    : FwPackageReader(Variant{fwpkg_recoveryModelTable, false})
{
}

JResult RecoveryFileManager::modelName(QString* name) const
{
    if (!archiveInUse())
        return FWPKG_E_OPEN;
    if (name)
        *name = QString::fromUtf8(archiveInUse()->topName().c_str()).mid(4);
    return FWPKG_OK;
}

bool RecoveryFileManager::isBroxModel() const
{
    QString name;
    if (modelName(&name) < 0)
        return false;
    for (const char* model : kBroxModels) {
        if (name == QLatin1String(model))
            return true;
    }
    return false;
}

bool RecoveryFileManager::isPellModel() const
{
    QString name;
    return modelName(&name) >= 0 && name == QLatin1String(kPellModel);
}
