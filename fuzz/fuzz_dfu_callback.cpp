// The Dante front's callback entry with crafted agent answers, mixed with
// the window's accessors and path splitting on arbitrary UTF-16 paths. The
// agent stays stopped, so every request the front makes fails at once.
//
// Input: byte 0 picks the answer's kind (low nibble) and code (bits 4-6);
// bit 7 lists a device named by the payload first. Bytes 1-2 are the
// req_id, the rest (at most 1060 bytes) the payload. The same bytes, read
// as UTF-16, are then given as the two .dnt paths.
#include "dante/dfa/dfa_service.h"
#include "fuzz/fuzz_check.h"
#include "fwupdate/dfu/dfu.h"
#include "fwupdate/dfu/dfu_internal.h"

#include "app/app_log.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

class Window : public IDfuAppCallback {
public:
    void dfuAppCallback(uint32_t event) override { fuzzCheck(event >= 1 && event <= 6); }
    void dfuAppErrorCallback(const DfuErrorInfo& e) override { fuzzCheck(e.stage <= DFU_STAGE_OVERRIDE); }
    void dfuAppDeviceErrorCallback(const DfuErrorInfo& e, const char* name) override
    {
        fuzzCheck(e.stage <= DFU_STAGE_OVERRIDE && strnlen(name, DFA_DEVICE_NAME_SIZE + 1) <= DFA_DEVICE_NAME_SIZE);
    }
    void dfuSendDataCallback(uint16_t, uint32_t) override { }
};

DfaStatus stopped(void*, const char16_t*, uint32_t* state)
{
    *state = DFA_SERVICE_STOPPED;
    return DFA_OK;
}

const DfaResult kCodes[8] = {DFA_ERR_NOERR, DFA_ERR_DURATION_EXPIRE, DFA_ERR_INTERFACE_SAME, DFA_ERR_NOT_FOUND,
    DFA_ERR_INTERFACE_LOCKED, DFA_ERR_INTERFACE_CHANGING, DFA_ERR_TIMEOUT, DFA_ERR_DAPI_UPGRADE_FLASH};

Window g_window;
DanteFirmwareUpdateModule* g_front = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The application log echoes every line on standard output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 0;
    appLogSetPath("");
    const DfaServiceProbe probe{&stopped, nullptr};
    dfa_set_service_probe(&probe);
    dfa_set_print_level(0);
    static DanteFirmwareUpdateModule front;
    const uint8_t mac[6] = {2, 0, 0, 0, 0, 1};
    front.InitializeDfa(&g_window, mac);
    g_front = &front;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    DanteFirmwareUpdateModule& front = *g_front;
    front.clearDfuDeviceInfo();
    DfaCallbackInfo info{};
    info.kind = data[0] & 0x0F;
    info.req_id = static_cast<uint16_t>(data[1] | data[2] << 8);
    const size_t length = std::min(size - 3, DFA_PAYLOAD_MAX);
    std::memcpy(info.payload, data + 3, length);
    const DfaResult code = kCodes[(data[0] >> 4) & 7];

    // An interface list refers to an array: give it one the input fills.
    static DfaInterface interfaces[20];
    if (info.kind == DFA_CBACK_INF_IF_LIST && code == DFA_ERR_NOERR) {
        std::memset(interfaces, 0, sizeof interfaces);
        std::memcpy(interfaces, info.payload, std::min(length, sizeof interfaces));
        DfaInterfaceList list{};
        std::memcpy(&list.count, info.payload, sizeof list.count);
        list.count %= 21;
        list.interfaces = interfaces;
        std::memcpy(info.payload, &list, sizeof list);
    }
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    std::memcpy(name, data + 3, std::min(length, DFA_DEVICE_NAME_SIZE));
    if (data[0] & 0x80) {
        DfaDeviceInfo device{};
        std::memcpy(&device, data + 3, std::min(length, sizeof device));
        front.addDfuDevice(device);
        front.setTargetDevice(name);
    }
    DanteFirmwareUpdateModule::dfaCallback(code, &info);

    char target[DFA_DEVICE_NAME_SIZE + 1];
    if (front.getTargetDeviceName(target, sizeof target))
        fuzzCheck(std::strlen(target) <= DFA_DEVICE_NAME_SIZE);
    fuzzCheck(front.getTargetUpdatePhase() <= DFU_PHASE_FINISH);
    fuzzCheck(front.getDeviceUpdatePhase(name) <= DFU_PHASE_FINISH);
    const int compared = front.compareVersion(name);
    fuzzCheck(compared >= -1 && compared <= 1);
    const uint32_t type = front.getDeviceModuleType(name);
    fuzzCheck(type == DFU_MODULE_BKLYN2 || type == DFU_MODULE_BKLYN3 || type == DFU_MODULE_NONE);
    DfuVersion version{};
    front.getDeviceVersion(name, data[1] % 5, &version);
    front.getFileVersion(data[2] % 3, data[1] % 6, &version);
    front.setDanteFileVersion(version, data[2] % 3);

    // The bytes as two UTF-16 paths of 160 units.
    char16_t paths[2][DFU_PATH_CHARS] = {};
    std::memcpy(paths, data + 1, std::min(size - 1, sizeof paths));
    const DfuResult r = front.setDanteFilePath(paths[0], paths[1]);
    fuzzCheck(r == DFU_E_ILLEGAL_PATH || r == DFU_E_PATH_TOO_LONG || r == DFU_E_FAIL);
    std::string utf8;
    if (dfu_utf16ToUtf8(paths[0], DFU_PATH_CHARS, &utf8))
        fuzzCheck(utf8.size() <= 3 * DFU_PATH_CHARS);
    return 0;
}
