// Transfer objects by name, and the choice among the unit's protocols.
#include "fwupdate/mfu/mfu_protocol.h"
#include "fwupdate/mfu/mfu_tftp.h"
#include "fwupdate/mfu/mfu_xmodem.h"

#include <cstring>

int32_t mfu_transferKind(const char* name)
{
    if (!name || strnlen(name, MFU_TRANSFER_NAME_MAX + 1) > MFU_TRANSFER_NAME_MAX)
        return -1;
    static const char* const kNames[] = {"xmodem-sum", "xmodem-crc", "xmodem-1k", "tftp"};
    for (int32_t kind = 0; kind < 4; ++kind) {
        if (strcmp(name, kNames[kind]) == 0)
            return kind;
    }
    return -1;
}

std::unique_ptr<ITransferProtocol> mfu_makeTransfer(const char* name, const char* pcAddress)
{
    const int32_t kind = mfu_transferKind(name);
    if (kind == MFU_TRANSFER_TFTP)
        return std::make_unique<TransferTFTP>(pcAddress);
    if (kind >= 0)
        return std::make_unique<TransferXModem>(kind);
    return nullptr;
}

MfuResult mfu_chooseTransfer(FirmwareUpdateProtocol& link, const char* protocols, const char* pcAddress)
{
    constexpr size_t kNameMax = 31;
    const char* p = protocols ? protocols : "";
    for (;;) {
        const char* bar = strchr(p, '|');
        const size_t length = bar ? static_cast<size_t>(bar - p) : strlen(p);
        if (length > 0 && length <= kNameMax) {
            char name[kNameMax + 1];
            memcpy(name, p, length);
            name[length] = '\0';
            std::unique_ptr<ITransferProtocol> transfer = mfu_makeTransfer(name, pcAddress);
            if (transfer && link.updateState() == UPDATE_STATE_READY && transfer->setFilePath(link.filePath()) == MFU_OK
                && transfer->setCallback(&link) == MFU_OK) {
                link.setTransfer(std::move(transfer));
                return MFU_OK;
            }
        }
        if (!bar)
            return MFU_E_FAIL;
        p = bar + 1;
    }
}
