#include "fwupdate/package/fwpkg_models.h"

#include "fwupdate/package/fwpkg_result.h"

#include <cstring>

const FwPackageModelRow fwpkg_modelTable[] = {
    {"Quil", 4, "BroxL-D", 7, FWPKG_TYPE_BROXL_D},
    {"Quil", 4, "BroxM-D", 7, FWPKG_TYPE_BROXM_D},
    {"Quil", 4, "BroxI-D", 7, FWPKG_TYPE_BROXI_D},
    {"Quil", 4, "BroxO-D", 7, FWPKG_TYPE_BROXO_D},
    {"Quil", 4, "Sorn-D", 6, FWPKG_TYPE_SORN_D},
    {"Quil", 4, "Mavik-D", 7, FWPKG_TYPE_MAVIK_D},
    {"Quil", 4, "PellM-D", 7, FWPKG_TYPE_PELLM_D},
    {"Quil", 4, "BroxL-D2", 8, FWPKG_TYPE_BROXL_D2},
    {"Quil", 4, "BroxM-D2", 8, FWPKG_TYPE_BROXM_D2},
    {"", 0, "Brox-D3", 7, FWPKG_TYPE_BROX_D3},
    {"Quil", 4, "", 0, FWPKG_TYPE_NONE},
};

const FwPackageModelRow fwpkg_recoveryModelTable[] = {
    {"Quil", 4, "BroxL-D", 7, FWPKG_TYPE_BROXL_D},
    {"Quil", 4, "BroxM-D", 7, FWPKG_TYPE_BROXM_D},
    {"Quil", 4, "BroxI-D", 7, FWPKG_TYPE_BROXI_D},
    {"Quil", 4, "BroxO-D", 7, FWPKG_TYPE_BROXO_D},
    {"Quil", 4, "Sorn-D", 6, FWPKG_TYPE_SORN_D},
    {"Quil", 4, "Mavik-D", 7, FWPKG_TYPE_MAVIK_D},
    {"Quil", 4, "PellM-D", 7, FWPKG_TYPE_PELLM_D},
    {"Quil", 4, "BroxL-D2", 8, FWPKG_TYPE_BROXL_D2},
    {"Quil", 4, "BroxM-D2", 8, FWPKG_TYPE_BROXM_D2},
    {"Quil", 4, "", 0, FWPKG_TYPE_NONE},
};

int32_t fwpkg_lookupModel(const FwPackageModelRow* rows, const QString& name)
{
    if (!rows)
        return FWPKG_TYPE_NONE;
    // Compared byte by byte, as the header is stored.
    const QByteArray bytes = name.toUtf8();
    for (const FwPackageModelRow* row = rows; row->typeCode != FWPKG_TYPE_NONE; ++row) {
        if (bytes.size() == row->modelLength && std::memcmp(bytes.constData(), row->model, row->modelLength) == 0)
            return row->typeCode;
    }
    return FWPKG_TYPE_NONE;
}

JResult fwpkg_modelType(int32_t typeCode, int32_t* modelType)
{
    int32_t type = 0;
    JResult r = 0;
    switch (typeCode) {
    case FWPKG_TYPE_BROXL_D:
    case FWPKG_TYPE_BROXM_D:
    case FWPKG_TYPE_BROXI_D:
    case FWPKG_TYPE_BROXO_D:
    case FWPKG_TYPE_PELLM_D:
    case FWPKG_TYPE_BROXL_D2:
    case FWPKG_TYPE_BROXM_D2:
        type = typeCode;
        break;
    case FWPKG_TYPE_MAVIK_D:
        type = 6;
        break;
    case FWPKG_TYPE_SORN_D:
        type = 5;
        break;
    case FWPKG_TYPE_BROX_D3:
        type = 11; // one package serves both third-generation rack models
        break;
    default:
        r = FWPKG_E_MODEL_TYPE;
        break;
    }
    if (modelType)
        *modelType = type;
    return r;
}
