// The Dante firmware agent: finds the Dante modules of the units, checks
// Dante firmware files (.dnt) and drives a module's firmware upgrade.
//
// One OS-wrapper task ("dfa") owns every Dante client and socket and runs a
// cooperative list of small tasks. Requests are posted from the client's
// thread and answered later, on the agent's task, through the one callback
// registered by dfa_init: the callback gets a result code and a
// DfaCallbackInfo {kind, req_id, payload} that lives only for the call, so it
// must copy what it keeps and hand it to its own thread.
//
// Every function returns a 16-bit result code: 0 and 1 succeed, bit 0x8000
// marks an error, bit 0x4000 an error that came from the Dante services.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Result codes. X(code, NAME): the printed name is NAME without "DFA_".
// DFA_ERR_NOT_IMPREMENTED is kept: callers and files use this name.
#define DFA_ERRORS(X)                                                                                                  \
    X(0x0000, DFA_ERR_NOERR)                                                                                           \
    X(0x0001, DFA_ERR_DURATION_EXPIRE)                                                                                 \
    X(0x8001, DFA_ERR_NO_INIT)                                                                                         \
    X(0x8002, DFA_ERR_DUP_INIT)                                                                                        \
    X(0x8003, DFA_ERR_TIMEOUT)                                                                                         \
    X(0x8004, DFA_ERR_SETTING)                                                                                         \
    X(0x8005, DFA_ERR_PARAM)                                                                                           \
    X(0x8006, DFA_ERR_PROGRESS)                                                                                        \
    X(0x8007, DFA_ERR_NOT_FOUND)                                                                                       \
    X(0x8008, DFA_ERR_FILTER_COND)                                                                                     \
    X(0x8009, DFA_ERR_BONJOUR_ABSENT)                                                                                  \
    X(0x800A, DFA_ERR_CONMON_ABSENT)                                                                                   \
    X(0x800B, DFA_ERR_INTERFACE_LOCKED)                                                                                \
    X(0x800C, DFA_ERR_INTERFACE_CHANGING)                                                                              \
    X(0x800D, DFA_ERR_INTERFACE_SAME)                                                                                  \
    X(0x800E, DFA_ERR_NOT_UPDATING)                                                                                    \
    X(0x8101, DFA_ERR_DNT_NOT_FOUND)                                                                                   \
    X(0x8102, DFA_ERR_DNT_ACCESS)                                                                                      \
    X(0x8103, DFA_ERR_DNT_CHKSUM)                                                                                      \
    X(0x8104, DFA_ERR_DNT_FORMAT)                                                                                      \
    X(0x8105, DFA_ERR_DNT_SIZE)                                                                                        \
    X(0x8106, DFA_ERR_DNT_DEVICE_ID)                                                                                   \
    X(0x8107, DFA_ERR_DNT_MANF_ID)                                                                                     \
    X(0x8FFD, DFA_ERR_NOT_IMPREMENTED)                                                                                 \
    X(0x8FFE, DFA_ERR_EXIT)                                                                                            \
    X(0x8FFF, DFA_ERR_UNKNOWN)                                                                                         \
    X(0xC001, DFA_ERR_DAPI_RANGE)                                                                                      \
    X(0xC002, DFA_ERR_DAPI_BUFOVR)                                                                                     \
    X(0xC003, DFA_ERR_DAPI_TIMEOUT)                                                                                    \
    X(0xC0FF, DFA_ERR_DAPI_OTHER)                                                                                      \
    X(0xC101, DFA_ERR_DAPI_UPGRADE_DEV_CODE_MISMATCH)                                                                  \
    X(0xC102, DFA_ERR_DAPI_UPGRADE_MANF_ID_MISMATCH)                                                                   \
    X(0xC103, DFA_ERR_DAPI_UPGRADE_MODEL_ID_MISMATCH)                                                                  \
    X(0xC111, DFA_ERR_DAPI_UPGRADE_DNT_FILE_MALFORMED)                                                                 \
    X(0xC112, DFA_ERR_DAPI_UPGRADE_DNT_BAD_CRC)                                                                        \
    X(0xC121, DFA_ERR_DAPI_UPGRADE_UNSUPPORTED_OPTIONS)                                                                \
    X(0xC200, DFA_ERR_DAPI_UPGRADE_FLASH)                                                                              \
    X(0xC201, DFA_ERR_DAPI_UPGRADE_FLASH_ACCESS_FAILED)                                                                \
    X(0xC300, DFA_ERR_DAPI_UPGRADE_DOWNLOAD_ERROR)                                                                     \
    X(0xC301, DFA_ERR_DAPI_UPGRADE_UNKOWN_FILE)                                                                        \
    X(0xC302, DFA_ERR_DAPI_UPGRADE_FILE_PERMISSION_DENIED)                                                             \
    X(0xC303, DFA_ERR_DAPI_UPGRADE_NO_SUCH_SERVER)                                                                     \
    X(0xC304, DFA_ERR_DAPI_UPGRADE_SERVER_ACCESS_FAILED)                                                               \
    X(0xC305, DFA_ERR_DAPI_UPGRADE_SERVER_TIMEOUT)                                                                     \
    X(0xC306, DFA_ERR_DAPI_UPGRADE_UNSUPPORTED_PROTOCOL)                                                               \
    X(0xC307, DFA_ERR_DAPI_UPGRADE_FILENAME_TOO_LONG)                                                                  \
    X(0xCFFF, DFA_ERR_DAPI_UNKNOWN)

using DfaResult = uint16_t;

#define DFA_ERROR_CONSTANT(code, name) constexpr DfaResult name = code;
DFA_ERRORS(DFA_ERROR_CONSTANT)
#undef DFA_ERROR_CONSTANT

constexpr DfaResult DFA_ERR_BIT_ERROR = 0x8000;
constexpr DfaResult DFA_ERR_BIT_DAPI = 0x4000;

inline constexpr bool dfa_failed(DfaResult code)
{
    return (code & DFA_ERR_BIT_ERROR) != 0;
}

// Name of a code without the "DFA_" prefix ("ERR_NOERR"); "unknown" for a
// code outside the table. Thread-safe.
const char* dfa_error_name(DfaResult code);

// ---------------------------------------------------------------------------
// Callback kinds and the payload that travels with each.
using DfaCallbackKind = uint16_t;
constexpr DfaCallbackKind DFA_CBACK_INF_INIT = 0; // interface name (128)
constexpr DfaCallbackKind DFA_CBACK_INF_DEVICE_LIST = 1; // DfaFilterInfo
constexpr DfaCallbackKind DFA_CBACK_INF_DEVICE = 2; // DfaDeviceInfo
constexpr DfaCallbackKind DFA_CBACK_INF_DEVICE_STAT = 3; // DfaDeviceStat
constexpr DfaCallbackKind DFA_CBACK_INF_START_UPDATE = 4; // DfaUpgradeRequest
constexpr DfaCallbackKind DFA_CBACK_INF_UPDATE_STATUS = 5; // DfaUpgradeStatus
constexpr DfaCallbackKind DFA_CBACK_INF_REBOOT = 6; // DfaReboot
constexpr DfaCallbackKind DFA_CBACK_INF_IF_LIST = 7; // DfaInterfaceList
constexpr DfaCallbackKind DFA_CBACK_INF_SET_IF = 8; // DfaInterface
constexpr DfaCallbackKind DFA_CBACK_INF_GET_IF = 9; // DfaInterface
constexpr DfaCallbackKind DFA_CBACK_INF_MAX = 9;

constexpr size_t DFA_PAYLOAD_MAX = 1060;

struct DfaCallbackInfo {
    uint16_t kind;
    uint16_t req_id;
    uint8_t payload[DFA_PAYLOAD_MAX];
};

using DfaCallback = void (*)(DfaResult code, const DfaCallbackInfo* info);

// ---------------------------------------------------------------------------
// Payload records: little-endian host order, packed as listed.
constexpr size_t DFA_DEVICE_NAME_SIZE = 32;
constexpr size_t DFA_IF_NAME_CHARS = 64;
constexpr size_t DFA_DNT_NAME_CHARS = 80;
constexpr size_t DFA_MODEL_ID_SIZE = 8;

#pragma pack(push, 1)
// {major, minor, bugfix, build}.
struct DfaVersion {
    uint8_t major;
    uint8_t minor;
    uint16_t bugfix;
    uint32_t build;
};

struct DfaInterface {
    char16_t name[DFA_IF_NAME_CHARS];
    uint8_t mac[6];
};

struct DfaDeviceInfo {
    char name[DFA_DEVICE_NAME_SIZE];
    uint16_t check_flags;
    uint8_t module_model_id[DFA_MODEL_ID_SIZE];
    uint8_t reserved[2];
    DfaVersion dante_sw_version;
    DfaVersion dante_fw_version;
    uint8_t manf_id[DFA_MODEL_ID_SIZE];
    uint8_t manf_model_id[DFA_MODEL_ID_SIZE];
    char manf_model_name[32];
    DfaVersion manf_fw_version;
    DfaVersion manf_sw_version;
};

// Link speed codes of DfaDeviceStat.
constexpr uint8_t DFA_LINK_NONE = 0;
constexpr uint8_t DFA_LINK_10M = 1;
constexpr uint8_t DFA_LINK_100M = 2;
constexpr uint8_t DFA_LINK_1G = 3;
constexpr uint8_t DFA_LINK_OTHER = 0xFF;

struct DfaDeviceStat {
    char name[DFA_DEVICE_NAME_SIZE];
    uint8_t mac[6];
    uint8_t ipv4[4];
    uint8_t redundancy;
    uint8_t link_speed[2];
};

struct DfaUpgradeRequest {
    char name[DFA_DEVICE_NAME_SIZE];
    char16_t dnt_file[DFA_DNT_NAME_CHARS];
    uint8_t override_flag;
    uint8_t override_model_id[DFA_MODEL_ID_SIZE];
    uint8_t reserved;
};

// Phases of DfaUpgradeStatus.
constexpr uint16_t DFA_PHASE_DOWNLOAD = 0;
constexpr uint16_t DFA_PHASE_FLASH = 1;
constexpr uint16_t DFA_PHASE_FINISH = 2;

struct DfaUpgradeStatus {
    char name[DFA_DEVICE_NAME_SIZE];
    uint16_t phase;
    uint16_t percent;
};

struct DfaReboot {
    char name[DFA_DEVICE_NAME_SIZE];
    uint8_t mode;
};

// The payload of DFA_CBACK_INF_DEVICE_LIST.
struct DfaFilterInfo {
    uint8_t platform[DFA_MODEL_ID_SIZE];
    uint8_t manf_id[DFA_MODEL_ID_SIZE];
    uint8_t override_flag;
    uint8_t model_id_count;
    uint8_t model_ids[16][DFA_MODEL_ID_SIZE];
};

// Holder records, in the form the settings functions receive them.
struct DfaSettings {
    uint8_t tftp_ipv4[4]; // a.b.c.d in address order
    uint16_t tftp_port;
    char16_t dnt_dir[DFA_DNT_NAME_CHARS]; // zero-terminated
};

struct DfaOverride {
    uint8_t enabled; // 1 = enabled
    uint8_t model_id[DFA_MODEL_ID_SIZE];
    uint8_t reserved[3];
};
#pragma pack(pop)

static_assert(sizeof(DfaVersion) == 8, "version record");
static_assert(sizeof(DfaInterface) == 134, "interface record");
static_assert(sizeof(DfaDeviceInfo) == 124, "device information record");
static_assert(sizeof(DfaDeviceStat) == 45, "device status record");
static_assert(sizeof(DfaUpgradeRequest) == 202, "upgrade request record");
static_assert(sizeof(DfaUpgradeStatus) == 36, "upgrade status record");
static_assert(sizeof(DfaReboot) == 33, "reboot record");
static_assert(sizeof(DfaFilterInfo) == 146, "filter information record");
static_assert(sizeof(DfaSettings) == 166, "settings record");
static_assert(sizeof(DfaOverride) == 12, "override record");

// Interface list reference: holds a native pointer, so it keeps natural
// alignment; the payload length is the record's own size. The array belongs
// to the agent and stays valid until the next interface-list request.
struct DfaInterfaceList {
    uint32_t count;
    const DfaInterface* interfaces;
};

// ---------------------------------------------------------------------------
// Start and stop.

// Starts the agent after checking that the conmon service runs. *req_id gets
// the id that the later DFA_CBACK_INF_INIT carries (0 on failure).
// DFA_ERR_PARAM without req_id; DFA_ERR_DUP_INIT while the agent runs;
// DFA_ERR_CONMON_ABSENT when the service is not running; DFA_ERR_EXIT for any
// other start failure (the agent is then left stopped and may be started
// again).
DfaResult dfa_init(DfaCallback callback, uint16_t* req_id);

// Stops the agent and waits for its task to end; DFA_ERR_UNKNOWN when the
// task cannot be stopped. Safe to call when the agent is stopped.
DfaResult dfa_terminate();

// ---------------------------------------------------------------------------
// Requests: each posts one processor task and writes its req_id; the answer
// arrives through the callback with that req_id.

// Request kinds (rows of the request table); 0 and 2 are empty rows.
constexpr uint16_t DFA_REQ_GET_DEVICE_LIST = 1;
constexpr uint16_t DFA_REQ_GET_DEVICE_STAT = 3;
constexpr uint16_t DFA_REQ_START_UPDATE = 4;
constexpr uint16_t DFA_REQ_GET_UPDATE_STATUS = 5;
constexpr uint16_t DFA_REQ_REBOOT_DEVICE = 6;
constexpr uint16_t DFA_REQ_GET_IF_LIST = 7;
constexpr uint16_t DFA_REQ_SET_DANTE_IF = 8;
constexpr uint16_t DFA_REQ_GET_DANTE_IF = 9;
constexpr uint16_t DFA_REQ_COUNT = 10;

// The common poster. Kind 10 or above: DFA_ERR_UNKNOWN; an empty row:
// DFA_ERR_NOT_IMPREMENTED; a missing parameter for a row that takes one, or
// a missing req_id: DFA_ERR_PARAM; agent not started or already cleaned up:
// DFA_ERR_NO_INIT; the task cannot be made: DFA_ERR_UNKNOWN (req_id 0).
DfaResult dfa_req_post(uint16_t kind, const void* parameter, uint16_t* req_id);

// Browse window in seconds; a negative window runs without an end.
DfaResult dfa_req_get_device_list(int16_t window_seconds, uint16_t* req_id);
DfaResult dfa_req_get_device_stat(const char* device_name, uint16_t* req_id);
DfaResult dfa_req_start_update(const char* device_name, uint16_t* req_id);
DfaResult dfa_req_get_update_status(const char* device_name, uint16_t* req_id);
DfaResult dfa_req_get_if_list(uint16_t* req_id);
DfaResult dfa_req_set_dante_if(const DfaInterface* interface, uint16_t* req_id);
DfaResult dfa_req_get_dante_if(uint16_t* req_id);

// ---------------------------------------------------------------------------
// Settings and file functions. They use the holder, which exists while the
// agent runs; a missing argument or a failing holder call gives
// DFA_ERR_PARAM.
struct DntFileInfo;

DfaResult dfa_set_dnt_dir(const DfaSettings* settings);
// Sets slot 0 (Brooklyn-2 module) or 1 (Brooklyn-3 module): its file name
// and the module model id of that slot.
DfaResult dfa_set_dnt_file(const char16_t* file_name, uint8_t slot);
DfaResult dfa_set_override(const DfaOverride* record);
// The filter information of slot 0's file under the override record.
DfaResult dfa_check_dnt_override(DfaFilterInfo* out);
// Checks the file of the slot and narrows it to model_id.
DfaResult dfa_get_dnt_file_info(const uint8_t* model_id, DntFileInfo* out, uint8_t slot);
// Path of the slot whose module model id is module_model_id.
DfaResult dfa_get_dnt_path_for_model(char16_t* path, size_t capacity, const uint8_t* module_model_id);
// Module types: 0 "Bklyn2", 1 "Bklyn3"; others give DFA_ERR_UNKNOWN.
DfaResult dfa_get_model_id_of_type(uint8_t* model_id, uint32_t type);
DfaResult dfa_get_type_of_model_id(uint32_t* type, const uint8_t* model_id);
// Nonzero when equal; an all-zero id equals every id.
int dfa_model_id_equal(const uint8_t* a, const uint8_t* b);
