// What the three files of the agent's conmon glue share: the device list
// and its records, the running queries and the glue's state, and the steps
// each file offers the others. All of it runs on the agent's task.
#pragma once

#include "dante/conmon/conmon_client.h"
#include "dante/conmon/conmon_payload.h"
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_glue_parts.h"
#include "dante/dfa/dfa_holder.h"
#include "dante/dfa/dfa_task.h"

#include <memory>
#include <sys/types.h>
#include <time.h>
#include <vector>

namespace dfa_conmon_detail {

constexpr uint8_t kGotVersions = 0x01;
constexpr uint8_t kGotInterfaces = 0x02;
constexpr uint8_t kGotManf = 0x04;
constexpr uint8_t kGotAll = 0x07;
constexpr size_t kKeptInterfaces = 2;
constexpr uint16_t kUpgradeNone = 0;
constexpr uint16_t kUpgradeGetFile = 1;
constexpr uint16_t kUpgradeEndFail = 3;
constexpr uint16_t kUpgradeFlash = 4;
constexpr uint16_t kUpgradeV3 = 0x0300;

enum DeviceState : uint8_t { kNew = 0, kQuerying, kReady, kUpgradeRequested, kUpgrading, kRebooting, kQueryFailed };

struct Device {
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    conmon_module_info versions{};
    conmon_device_info manf{};
    conmon_iftable interfaces{};
    uint8_t received = 0;
    uint8_t assumed = 0;
    bool upgradeReceived = false;
    conmon_upgrade_progress upgrade{};
    uint8_t state = kNew;
    uint8_t retries = 0;
    uint16_t reqIds[2] = {};
    DfaUpgradeRequest request{};
};

// A device query joins the lists, then sends each question and awaits its
// answer in turn, then reports the device.
enum class QueryPhase { Join, Send, Await, Report };

struct Query {
    DfaTask* task = nullptr;
    char name[DFA_DEVICE_NAME_SIZE + 1] = {};
    conmon_client_request* pending = nullptr;
    QueryPhase phase = QueryPhase::Join;
    size_t row = 0; // of the questions
    aud_time stepTime{};
    aud_time start{};
    uint16_t reqId = 0;
};

// The .dnt check of a file, kept while its path, size and modification time
// stay the same: a query must not re-read up to 24 MiB on the agent's task.
struct FileInfoCache {
    char16_t path[DNT_PATH_CHARS] = {};
    off_t size = -1;
    struct timespec mtime { };
    DfaResult code = DFA_ERR_DNT_NOT_FOUND;
    DntFileInfo info{};
};

struct ConmonGlue {
    conmon_client* client = nullptr;
    bool started = false;
    bool finished = false;
    bool absent = false;
    bool ready = false;
    bool socketsChanged = false;
    // The PC's Dante device name, as the service last gave it.
    char pcName[DFA_DEVICE_NAME_SIZE + 1] = {};
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<Query*> queries;
    std::vector<conmon_client_request**> pendingSlots;
    DfaTask* initTask = nullptr;
    DfaTask* watchTask = nullptr;
    aud_time lastProbe{};
    FileInfoCache files[DFA_DNT_SLOTS];
    bool keepFiles = true;
};

extern ConmonGlue g;

inline const char* errorText(aud_error e, char (&text)[AUD_STRERROR_SIZE])
{
    return aud_strerror(e, text);
}

// ---- init, watch and glue (dfa_glue_conmon.cpp)

// Clears the pending slot of a completed request.
void onRequestDone(conmon_client* client, conmon_client_request* request, aud_error result);
void dropPendingSlot(conmon_client_request** slot);
// Releases a pending request and clears its slot.
void cancel(conmon_client_request** slot);
// DFA_REASON_SERVICE once the service went away, DFA_REASON_NOT_READY
// without a client.
DfaStatus needService();

// ---- devices and queries (dfa_glue_conmon_devices.cpp)

Device* findDevice(const char* name);
// DFA_REASON_RANGE for an unknown state.
DfaStatus setState(Device* d, uint8_t state);
DfaStatus startQuery(const char* name, uint16_t reqId);
void stopQueries();
// Gives up the queries running for more than 10 s: the device is asked
// again, or after its fourth query marked failed.
void expireQueries();
// The .dnt slot registered for the device's module, -1 for none.
int slotOf(const Device& d);

// ---- upgrades and monitoring (dfa_glue_conmon_upgrade.cpp)

// The handler of the status and broadcast channels.
void onMonitoring(conmon_client* client, uint16_t channel, uint16_t fromOthers, const conmon_envelope* envelope,
    const uint8_t* payload, size_t length);

} // namespace dfa_conmon_detail
