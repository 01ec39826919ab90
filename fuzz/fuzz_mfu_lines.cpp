// The command link's line reader and reply parser over arbitrary bytes in
// every update state: the first byte picks the state, the second the read
// size and the last command, the rest is what the unit sends. Nothing may
// crash, every stored text stays terminated inside its field, and the state
// stays one of the eight.
#include "fuzz/fuzz_check.h"
#include "fwupdate/mfu/mfu_protocol.h"
#include "tests/support/memory_transport.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

using qtest::MemoryTransport;

// A transfer that has already finished, so the link reads lines.
class DoneTransfer : public ITransferProtocol {
public:
    MfuResult destroy() override { return MFU_OK; }
    MfuResult setCallback(ITransfererCallback*) override { return MFU_OK; }
    MfuResult setFilePath(const char*) override { return MFU_OK; }
    MfuResult start() override { return MFU_OK; }
    MfuResult step() override { return MFU_OK; }
    MfuResult end() override { return MFU_OK; }
    uint32_t fileSize() const override { return 100; }
    uint32_t bytesSent() const override { return 100; }
    bool finished() const override { return true; }
    int32_t transferState() const override { return TRANSFER_STATE_FINISHED; }
};

void feed(FirmwareUpdateProtocol& link, MemoryTransport& unit, const std::string& bytes)
{
    unit.input = bytes;
    unit.position = 0;
    for (size_t i = 0; i <= bytes.size() && unit.position < bytes.size(); ++i)
        link.receive();
}

bool terminatedWithin(const char* text, size_t size)
{
    return memchr(text, '\0', size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t pick = data[0];
    const uint8_t shape = data[1];
    MemoryTransport unit;
    unit.recordWrites = false;
    unit.chunk = 1;
    // Writes answer as if the socket were busy.
    unit.writeResult = VCOM::VCOM_PENDING;
    FirmwareUpdateProtocol link;
    link.setSocket(&unit);
    link.setTransfer(std::make_unique<DoneTransfer>());

    switch (pick % 8) {
    case UPDATE_STATE_ERASING:
        link.sendCommand(pick & 8 ? CMD_TYPE_ERASE_SUB : CMD_TYPE_ERASE, "Brox-D2_V2.00");
        break;
    case UPDATE_STATE_TRANSFERING:
        link.sendCommand(pick & 8 ? CMD_TYPE_FILEPUT : CMD_TYPE_REQUEST_GET, "tftp://1.2.3.4:1999/f.bin");
        break;
    case UPDATE_STATE_WRITING:
    case UPDATE_STATE_WRITING_SUB:
        link.sendCommand(pick % 8 == UPDATE_STATE_WRITING ? CMD_TYPE_START_WRITE : CMD_TYPE_START_WRITE_SUB, "x");
        feed(link, unit, "OK\r");
        break;
    case UPDATE_STATE_REBOOTING:
        link.sendCommand(CMD_TYPE_REBOOT);
        break;
    default:
        break;
    }
    // A last command for the replies to answer (refused when busy).
    link.sendCommand(1 + (shape >> 4) % MFU_COMMAND_KINDS, "sub");
    unit.chunk = 1 + (shape & 0x0F) * 97;
    feed(link, unit, std::string(reinterpret_cast<const char*>(data + 2), size - 2));

    fuzzCheck(link.updateState() <= UPDATE_STATE_WRITING_SUB);
    fuzzCheck(link.unitUpdateState() <= MFU_UNIT_FAIL_POWER);
    fuzzCheck(terminatedWithin(link.protocols(), MFU_PROTOCOLS_MAX));
    fuzzCheck(terminatedWithin(link.productName(), MFU_PRODUCT_NAME_MAX));
    fuzzCheck(terminatedWithin(link.version(), MFU_VERSION_MAX));
    fuzzCheck(terminatedWithin(link.macAddress(), MFU_MAC_MAX));
    fuzzCheck(terminatedWithin(link.lastProtocolLog(), MFU_LOG_LINE_MAX));
    fuzzCheck(link.transferPercent() == 100);
    return 0;
}
