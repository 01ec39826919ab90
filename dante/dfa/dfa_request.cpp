// Posting requests and the processors that answer them on the agent's task.
#include "dante/dfa/dfa_glue.h"
#include "dante/dfa/dfa_main.h"
#include "dante/dfa/dfa_task.h"

#include <cstring>
#include <vector>

namespace {

// Answer code of a failed step: the processor's own reasons first, then,
// where the processor passes library errors on, the Dante error map.
struct ReasonCode {
    uint32_t reason;
    DfaResult code;
};

DfaResult failureCode(DfaStatus status, const std::vector<ReasonCode>& table, bool mapsLibrary)
{
    for (const ReasonCode& row : table) {
        if (dfa_reason_of(status) == row.reason)
            return row.code;
    }
    if (mapsLibrary && dfa_is_library_error(status)) {
        // Library "success" carried as a failure must not read as success.
        const DfaResult code = dfa_dapi_error(status);
        return code == DFA_ERR_NOERR ? DFA_ERR_DAPI_OTHER : code;
    }
    return DFA_ERR_UNKNOWN;
}

// The conmon service went away: nothing that needs it is served.
const ReasonCode kAbsent{DFA_REASON_SERVICE, DFA_ERR_CONMON_ABSENT};

// The parameter block of a request task: {req_id, parameter copy}.
uint16_t requestId(DfaTask* task)
{
    uint16_t id = 0;
    std::memcpy(&id, dfa_task_param(task), sizeof id);
    return id;
}

const uint8_t* requestParameter(DfaTask* task)
{
    return dfa_task_param(task) + sizeof(uint16_t);
}

// The device name of a request, terminated whatever the client sent.
void deviceName(DfaTask* task, char (&name)[DFA_DEVICE_NAME_SIZE + 1])
{
    std::memcpy(name, requestParameter(task), DFA_DEVICE_NAME_SIZE);
    name[DFA_DEVICE_NAME_SIZE] = '\0';
}

template <class Record> void answer(DfaResult code, DfaCallbackKind kind, uint16_t reqId, const Record& record)
{
    if (dfa_main_callback(code, kind, reqId, &record, sizeof record) != DFA_OK)
        dfa_print("[MAIN  ][ERROR]callback failed\n");
}

// How a processor answers: its failure codes by reason, whether library
// errors go through the Dante error map, and whether it answers a success
// itself (otherwise a later event of its glue does).
struct AnswerRule {
    DfaCallbackKind kind;
    std::vector<ReasonCode> reasons;
    bool mapsLibrary;
    bool answersSuccess;
};

// Answers for a step's result and deletes the processor's task. A failure
// carries a zeroed record.
template <class Record>
void finish(DfaTask* task, const AnswerRule& rule, DfaStatus status, const Record& record, DfaResult code = 0)
{
    if (status != DFA_OK)
        answer(failureCode(status, rule.reasons, rule.mapsLibrary), rule.kind, requestId(task), Record{});
    else if (rule.answersSuccess)
        answer(code, rule.kind, requestId(task), record);
    dfa_task_delete(task);
}

int procGetDeviceList(DfaTask* task)
{
    static const AnswerRule rule{DFA_CBACK_INF_DEVICE_LIST,
        {{DFA_REASON_NOT_READY, DFA_ERR_PROGRESS}, {DFA_REASON_NO_DATA, DFA_ERR_DAPI_OTHER}, kAbsent}, true, false};
    const DfaGlue& glue = dfa_glue();
    int16_t window = 0;
    std::memcpy(&window, requestParameter(task), sizeof window);
    glue.forget_devices(glue.context);
    uint32_t indexes[2] = {};
    const size_t count = glue.interface_indexes(glue.context, indexes, 2);
    const DfaStatus r = glue.browse_window(glue.context, indexes, count < 2 ? count : 2, requestId(task), window);
    finish(task, rule, r, DfaFilterInfo{});
    return 0;
}

int procGetDeviceStat(DfaTask* task)
{
    static const AnswerRule rule{DFA_CBACK_INF_DEVICE_STAT,
        {{DFA_REASON_NOT_FOUND, DFA_ERR_NOT_FOUND}, {DFA_REASON_BUSY, DFA_ERR_PROGRESS}, kAbsent}, false, true};
    const DfaGlue& glue = dfa_glue();
    char name[DFA_DEVICE_NAME_SIZE + 1];
    deviceName(task, name);
    DfaDeviceStat record{};
    finish(task, rule, glue.device_stat(glue.context, name, &record), record);
    return 0;
}

int procStartUpdate(DfaTask* task)
{
    static const AnswerRule rule{DFA_CBACK_INF_START_UPDATE,
        {{DFA_REASON_NOT_FOUND, DFA_ERR_NOT_FOUND}, {DFA_REASON_BUSY, DFA_ERR_PROGRESS},
            {DFA_REASON_NO_DATA, DFA_ERR_DAPI_OTHER}, kAbsent},
        true, false};
    const DfaGlue& glue = dfa_glue();
    char name[DFA_DEVICE_NAME_SIZE + 1];
    deviceName(task, name);
    finish(task, rule, glue.start_update(glue.context, name, requestId(task)), DfaUpgradeRequest{});
    return 0;
}

int procGetUpdateStatus(DfaTask* task)
{
    static const AnswerRule rule{DFA_CBACK_INF_UPDATE_STATUS,
        {{DFA_REASON_NOT_FOUND, DFA_ERR_NOT_FOUND}, {DFA_REASON_NO_STATUS, DFA_ERR_NOT_UPDATING}, kAbsent}, false,
        true};
    const DfaGlue& glue = dfa_glue();
    char name[DFA_DEVICE_NAME_SIZE + 1];
    deviceName(task, name);
    DfaUpgradeStatus record{};
    DfaResult code = DFA_ERR_NOERR;
    const DfaStatus r = glue.update_status(glue.context, name, &record, &code);
    finish(task, rule, r, record, code);
    return 0;
}

int procRebootDevice(DfaTask* task)
{
    static const AnswerRule rule{DFA_CBACK_INF_REBOOT,
        {{DFA_REASON_NOT_FOUND, DFA_ERR_NOT_FOUND}, {DFA_REASON_BUSY, DFA_ERR_PROGRESS},
            {DFA_REASON_RANGE, DFA_ERR_PARAM}, {DFA_REASON_NO_DATA, DFA_ERR_DAPI_OTHER}, kAbsent},
        true, true};
    const DfaGlue& glue = dfa_glue();
    DfaReboot record{};
    std::memcpy(&record, requestParameter(task), sizeof record);
    char name[DFA_DEVICE_NAME_SIZE + 1];
    deviceName(task, name);
    const DfaStatus r = glue.reboot(glue.context, name, record.mode, requestId(task));
    // The reboot answer names the device and mode in every case.
    answer(r == DFA_OK ? DFA_ERR_NOERR : failureCode(r, rule.reasons, rule.mapsLibrary), rule.kind, requestId(task),
        record);
    dfa_task_delete(task);
    return 0;
}

int procGetIfList(DfaTask* task)
{
    static const AnswerRule rule{DFA_CBACK_INF_IF_LIST,
        {{DFA_REASON_NOT_READY, DFA_ERR_PROGRESS}, {DFA_REASON_LIBRARY, DFA_ERR_DAPI_OTHER},
            {DFA_REASON_NO_DATA, DFA_ERR_DAPI_OTHER}},
        false, true};
    const DfaGlue& glue = dfa_glue();
    DfaInterfaceList list{};
    finish(task, rule, glue.if_list(glue.context, &list), list);
    return 0;
}

int procSetDanteIf(DfaTask* task)
{
    static const AnswerRule rule{DFA_CBACK_INF_SET_IF,
        {{DFA_REASON_LOCKED, DFA_ERR_INTERFACE_LOCKED}, {DFA_REASON_BUSY, DFA_ERR_INTERFACE_CHANGING},
            {DFA_REASON_RANGE, DFA_ERR_INTERFACE_SAME}, {DFA_REASON_NOT_FOUND, DFA_ERR_NOT_FOUND},
            {DFA_REASON_NOT_READY, DFA_ERR_PROGRESS}, {DFA_REASON_LIBRARY, DFA_ERR_DAPI_OTHER},
            {DFA_REASON_NO_DATA, DFA_ERR_DAPI_OTHER}},
        true, false};
    const DfaGlue& glue = dfa_glue();
    DfaInterface record{};
    std::memcpy(&record, requestParameter(task), sizeof record);
    finish(task, rule, glue.set_dante_if(glue.context, &record, requestId(task)), DfaInterface{});
    return 0;
}

int procGetDanteIf(DfaTask* task)
{
    static const AnswerRule rule{DFA_CBACK_INF_GET_IF,
        {{DFA_REASON_NOT_READY, DFA_ERR_PROGRESS}, {DFA_REASON_LIBRARY, DFA_ERR_DAPI_OTHER},
            {DFA_REASON_NO_DATA, DFA_ERR_DAPI_OTHER}},
        false, true};
    const DfaGlue& glue = dfa_glue();
    DfaInterface record{};
    finish(task, rule, glue.get_dante_if(glue.context, &record), record);
    return 0;
}

struct RequestRow {
    DfaTaskBody processor; // null: an empty row
    const char* name;
    size_t parameterSize;
};

const RequestRow kRequests[DFA_REQ_COUNT] = {
    {nullptr, nullptr, 0},
    {&procGetDeviceList, "proc_get_device_list", sizeof(int16_t)},
    {nullptr, nullptr, 0},
    {&procGetDeviceStat, "proc_get_device_stat", DFA_DEVICE_NAME_SIZE},
    {&procStartUpdate, "proc_start_update", DFA_DEVICE_NAME_SIZE},
    {&procGetUpdateStatus, "proc_get_update_status", DFA_DEVICE_NAME_SIZE},
    {&procRebootDevice, "proc_reboot_device", sizeof(DfaReboot)},
    {&procGetIfList, "proc_get_if_list", 0},
    {&procSetDanteIf, "proc_set_dante_if", sizeof(DfaInterface)},
    {&procGetDanteIf, "proc_get_dante_if", 0},
};
static_assert(sizeof(uint16_t) + sizeof(DfaInterface) <= DFA_TASK_PARAM_SIZE, "parameters fit the task");

} // namespace

DfaResult dfa_req_post(uint16_t kind, const void* parameter, uint16_t* req_id)
{
    if (kind >= DFA_REQ_COUNT)
        return DFA_ERR_UNKNOWN;
    const RequestRow& row = kRequests[kind];
    if (row.processor == nullptr)
        return DFA_ERR_NOT_IMPREMENTED;
    if (req_id == nullptr || (row.parameterSize > 0 && parameter == nullptr))
        return DFA_ERR_PARAM;
    *req_id = 0;
    // Before the agent's task has made its lists, or after its clean-up,
    // there is nothing to post into.
    if (!dfa_task_ready())
        return DFA_ERR_NO_INIT;
    uint8_t block[DFA_TASK_PARAM_SIZE] = {};
    const uint16_t id = dfa_next_req_id();
    std::memcpy(block, &id, sizeof id);
    if (row.parameterSize > 0)
        std::memcpy(block + sizeof id, parameter, row.parameterSize);
    if (dfa_task_post(row.processor, nullptr, DFA_KEY_REQUEST, row.name, block, sizeof id + row.parameterSize)
        == nullptr)
        return dfa_task_ready() ? DFA_ERR_UNKNOWN : DFA_ERR_NO_INIT;
    *req_id = id;
    return DFA_ERR_NOERR;
}

DfaResult dfa_req_get_device_list(int16_t window_seconds, uint16_t* req_id)
{
    return dfa_req_post(DFA_REQ_GET_DEVICE_LIST, &window_seconds, req_id);
}

// Device names are copied whole (32 bytes): the client's text may be
// shorter, so it goes through a zero-padded copy.
static DfaResult postByName(uint16_t kind, const char* device_name, uint16_t* req_id)
{
    if (device_name == nullptr)
        return dfa_req_post(kind, nullptr, req_id);
    char name[DFA_DEVICE_NAME_SIZE] = {};
    std::memcpy(name, device_name, strnlen(device_name, sizeof name));
    return dfa_req_post(kind, name, req_id);
}

DfaResult dfa_req_get_device_stat(const char* device_name, uint16_t* req_id)
{
    return postByName(DFA_REQ_GET_DEVICE_STAT, device_name, req_id);
}

DfaResult dfa_req_start_update(const char* device_name, uint16_t* req_id)
{
    return postByName(DFA_REQ_START_UPDATE, device_name, req_id);
}

DfaResult dfa_req_get_update_status(const char* device_name, uint16_t* req_id)
{
    return postByName(DFA_REQ_GET_UPDATE_STATUS, device_name, req_id);
}

DfaResult dfa_req_get_if_list(uint16_t* req_id)
{
    return dfa_req_post(DFA_REQ_GET_IF_LIST, nullptr, req_id);
}

DfaResult dfa_req_set_dante_if(const DfaInterface* interface, uint16_t* req_id)
{
    return dfa_req_post(DFA_REQ_SET_DANTE_IF, interface, req_id);
}

DfaResult dfa_req_get_dante_if(uint16_t* req_id)
{
    return dfa_req_post(DFA_REQ_GET_DANTE_IF, nullptr, req_id);
}
