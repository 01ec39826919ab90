// Address holder and the translation of service codes.
#include "pbd/vcom/vcom.h"

namespace VCOM {

VComResult vcom_translate(VSockResult code, bool datagramRead)
{
    if (code >= 0 || code == VSOCK_E_EMPTY)
        return code == VSOCK_E_EMPTY ? VCOM_OK : code;
    switch (code) {
    case VSOCK_E_PARAM:
        return VCOM_E_ARG;
    case VSOCK_E_NOTOPEN:
        return VCOM_E_STATE;
    case VSOCK_E_OBJ:
        return VCOM_E_OBJ;
    case VSOCK_E_RESOURCE:
        return datagramRead ? VCOM_E_DGRAM_RESOURCE : VCOM_E_RESOURCE;
    case VSOCK_E_PENDING:
        return VCOM_PENDING;
    case VSOCK_E_TIMEOUT:
        return VCOM_E_TIMEOUT;
    default:
        return VCOM_E_FAIL;
    }
}

VComResult VComSocketAddress::setAddressText(uint32_t family, const char* text)
{
    VSockAddress parsed{};
    if (vsock_textToAddress(family, text, &parsed) < 0)
        return VCOM_E_MAPPER;
    m_record = parsed;
    return VCOM_OK;
}

void VComSocketAddress::copyTo(VSockAddress* record) const
{
    if (record)
        *record = m_record;
}

} // namespace VCOM
