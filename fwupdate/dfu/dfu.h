// The front of the Dante firmware update: the one road from the firmware
// update window to the units' Dante modules. It starts the Dante firmware
// agent, selects the Dante interface, serves the .dnt files over TFTP, keeps
// the list of Dante devices the agent reports, matches a unit to its module
// by the device name and relays the upgrade's progress to the window.
//
// Threads: the window's thread calls every operation. The agent's answers
// arrive on the agent's task through the plain callback
// DanteFirmwareUpdateModule::dfaCallback, which reaches the instance through
// one process-wide pointer; transfer events arrive on the TFTP task. Both
// reach the window only through IDfuAppCallback, whose implementation must
// hand them to its own thread (queued signals) and may call the accessors.
//
// Locks: one lock guards the device list, the target, the listing state, the
// last flash percent, the kept interface list, the file records and the TFTP
// server pointer; accessors copy under it. No agent, TFTP or window call is
// made with it held. A second, process-wide lock guards the instance pointer:
// the callback entry holds it while it uses the instance, and the destructor
// clears the pointer under it after the agent has stopped, so a late callback
// is dropped instead of reaching freed memory.
#pragma once

#include "dante/dfa/dfa.h"
#include "dante/dfa/dfa_dntchk.h"
#include "fwupdate/tftp/tftp.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

using DfuResult = int32_t;

constexpr DfuResult DFU_OK = 0;
constexpr DfuResult DFU_E_FAIL = static_cast<DfuResult>(0x80000000u);
// InitializeDfa: the agent's start codes.
constexpr DfuResult DFU_E_CONMON_ABSENT = static_cast<DfuResult>(0x80000001u);
constexpr DfuResult DFU_E_PARAM = static_cast<DfuResult>(0x80000003u);
constexpr DfuResult DFU_E_DUP_INIT = static_cast<DfuResult>(0x80000004u);
constexpr DfuResult DFU_E_EXIT = static_cast<DfuResult>(0x80000005u);
// setDanteFilePath.
constexpr DfuResult DFU_E_ILLEGAL_PATH = static_cast<DfuResult>(0x80000001u);
constexpr DfuResult DFU_E_PATH_TOO_LONG = static_cast<DfuResult>(0x80000002u);
constexpr DfuResult DFU_E_FILE_INFO = static_cast<DfuResult>(0x80000003u);

// Events of IDfuAppCallback::dfuAppCallback.
constexpr uint32_t DFU_EVENT_DEVICE_STAT = 1; // a device's status was stored
constexpr uint32_t DFU_EVENT_DEVICE_LIST = 2; // the browse window has closed
constexpr uint32_t DFU_EVENT_DEVICE = 3; // a device was added
constexpr uint32_t DFU_EVENT_UPDATE_STATUS = 4; // an upgrade status was stored
constexpr uint32_t DFU_EVENT_IF_LIST = 5; // the interface list arrived
constexpr uint32_t DFU_EVENT_DANTE_IF = 6; // the Dante interface is set

// Stages of DfuErrorInfo.
constexpr uint32_t DFU_STAGE_DEVICE_STAT = 0; // a device status answer
constexpr uint32_t DFU_STAGE_INITIALIZE = 1;
constexpr uint32_t DFU_STAGE_DEVICE_LIST = 2;
constexpr uint32_t DFU_STAGE_ETHER_IF_LIST = 3; // interface-list request or answer
constexpr uint32_t DFU_STAGE_DANTE_IF = 4; // current-interface request or answer
constexpr uint32_t DFU_STAGE_ETHER_IF = 5; // setting the interface
constexpr uint32_t DFU_STAGE_GET_DEVICE = 6; // a device report
constexpr uint32_t DFU_STAGE_DEVICE_STATUS = 7; // the device-status request
constexpr uint32_t DFU_STAGE_START_UPDATE = 8; // the start or its status request
constexpr uint32_t DFU_STAGE_UPDATE_STATUS = 9;
constexpr uint32_t DFU_STAGE_TYPE_REBOOT = 10;
constexpr uint32_t DFU_STAGE_TFTP = 11; // storing the TFTP and folder settings
constexpr uint32_t DFU_STAGE_SET_FILE = 12; // storing a .dnt file name
constexpr uint32_t DFU_STAGE_SET_DANTE_IF = 13; // choosing the wanted interface
constexpr uint32_t DFU_STAGE_OVERRIDE = 14; // storing the override record

// Update phases of a device.
constexpr uint32_t DFU_PHASE_NONE = 0;
constexpr uint32_t DFU_PHASE_DOWNLOAD = 1;
constexpr uint32_t DFU_PHASE_FLASH = 2;
constexpr uint32_t DFU_PHASE_FINISH = 3;

// Module types (as the agent's), and the one for a device without one.
constexpr uint32_t DFU_MODULE_BKLYN2 = 0;
constexpr uint32_t DFU_MODULE_BKLYN3 = 1;
constexpr uint32_t DFU_MODULE_NONE = 4;

// Version kinds of a device: Dante software, Dante firmware, manufacturer
// firmware, manufacturer software.
constexpr uint32_t DFU_VERSION_DANTE_SW = 0;
constexpr uint32_t DFU_VERSION_DANTE_FW = 1;
constexpr uint32_t DFU_VERSION_MANF_FW = 2;
constexpr uint32_t DFU_VERSION_MANF_SW = 3;
// Kinds of a file slot: part-12 version of model descriptor 0, the slot's
// Dante version as the window gave it, firmware and software versions of
// model descriptor 0, the file header's major, minor and build.
constexpr uint32_t DFU_FILE_PART12 = 0;
constexpr uint32_t DFU_FILE_DANTE = 1;
constexpr uint32_t DFU_FILE_FW = 2;
constexpr uint32_t DFU_FILE_SW = 3;
constexpr uint32_t DFU_FILE_HEADER = 4;

constexpr size_t DFU_SLOTS = 2; // 0 Brooklyn-2 file, 1 Brooklyn-3 file
constexpr size_t DFU_PATH_CHARS = 160; // a path or file name, with terminator
constexpr uint16_t DFU_LIST_WINDOW_SECONDS = 10;
// Longest .dnt folder: what the agent's settings record holds with its
// terminator.
constexpr size_t DFU_FOLDER_MAX = DFA_DNT_NAME_CHARS - 1;
// The TFTP root: the folder as UTF-8 must stay below this many bytes.
constexpr size_t DFU_ROOT_BYTES = 254;

struct DfuVersion {
    uint8_t major;
    uint8_t minor;
    uint16_t third;
    bool operator==(const DfuVersion& o) const { return major == o.major && minor == o.minor && third == o.third; }
};

struct DfuErrorInfo {
    uint32_t stage;
    uint16_t code; // the DFA result code; 0 when the front found the fault
};

// What the window implements. Called on the agent's or the TFTP task.
class IDfuAppCallback {
public:
    virtual void dfuAppCallback(uint32_t event) = 0;
    // An error of the front itself.
    virtual void dfuAppErrorCallback(const DfuErrorInfo& error) = 0;
    // An error the agent reported, with the device name of its answer (at
    // most 32 characters, terminated; empty for answers that name none).
    virtual void dfuAppDeviceErrorCallback(const DfuErrorInfo& error, const char* deviceName) = 0;
    // A transfer event of the front's TFTP server (TFTP_EVENT_*, 1 to 5).
    virtual void dfuSendDataCallback(uint16_t childId, uint32_t state) = 0;

protected:
    ~IDfuAppCallback() = default;
};

// One Dante device as the agent reported it.
struct DfuDevice {
    DfaDeviceInfo info;
    // Status fields of the device's DfaDeviceStat.
    uint8_t mac[6];
    uint8_t ipv4[4];
    uint8_t redundancy;
    uint8_t linkSpeed[2];
    uint32_t updatePhase; // DFU_PHASE_*
    uint8_t modelMatch; // its manufacturer model id is the Brooklyn-3 file's
};

class DanteFirmwareUpdateModule : public TFTPParentCallbackIF {
public:
    DanteFirmwareUpdateModule();
    // Stops the agent, then deletes the TFTP server and the list.
    ~DanteFirmwareUpdateModule() override;
    DanteFirmwareUpdateModule(const DanteFirmwareUpdateModule&) = delete;
    DanteFirmwareUpdateModule& operator=(const DanteFirmwareUpdateModule&) = delete;

    // Starts the agent for the PC interface with this hardware address
    // (6 bytes). DFU_E_FAIL without callback or address; the agent's codes
    // as DFU_E_DUP_INIT, DFU_E_PARAM, DFU_E_CONMON_ABSENT, DFU_E_EXIT.
    DfuResult InitializeDfa(IDfuAppCallback* callback, const uint8_t* mac);
    // Serves the folder of path0 on ipv4 (4 bytes) and port, after
    // setDanteFilePath (its code on failure). Replaces an earlier server.
    DfuResult InitializeTftp(const uint8_t* ipv4, uint16_t port, const char16_t* path0, const char16_t* path1);
    // Deletes the TFTP server (the port is free after) and clears the
    // TFTP-ready flag; for a package without Dante files.
    void releaseTftp();
    // Splits both paths (160 characters at most) into the folder of path0
    // and the two file names, hands them to the agent and reads each file's
    // information. An empty path1 clears slot 1.
    DfuResult setDanteFilePath(const char16_t* path0, const char16_t* path1);

    // Empties the list and asks the agent for a 10 s browse; the DFA code.
    DfuResult reqDeviceList();
    // The device of this name (32 characters) becomes the target.
    DfuResult setTargetDevice(const char* name);
    // Asks the agent to upgrade the target; the DFA code.
    DfuResult reqStartUpdateTargetDevice();
    void addDfuDevice(const DfaDeviceInfo& info);
    void clearDfuDeviceInfo();

    // Accessors; each copies under the lock.
    bool getTargetDeviceName(char* out, size_t size) const; // false: no target
    uint32_t getTargetUpdatePhase() const; // DFU_PHASE_NONE without target
    uint16_t getLastFlashPercent() const;
    uint32_t getDeviceUpdatePhase(const char* name) const; // DFU_PHASE_NONE when missing
    uint32_t getDeviceModuleType(const char* name) const;
    bool getDeviceModelMatch(const char* name) const;
    bool getDeviceStat(const char* name, DfuDevice* out) const;
    size_t deviceCount() const;
    // The .dnt path for the device's module, into path (DFU_PATH_CHARS).
    DfuResult getDntFilePath(const char* name, char16_t* path) const;
    DfuResult getDeviceVersion(const char* name, uint32_t kind, DfuVersion* out) const;
    DfuResult getFileVersion(size_t slot, uint32_t kind, DfuVersion* out) const;
    // The slot whose file's platform is this module type's gets the version.
    DfuResult setDanteFileVersion(const DfuVersion& version, uint32_t moduleType);
    DntFileInfo getFileInfo(size_t slot) const;
    // 1 the file is newer, 0 the same, -1 older or nothing to compare.
    int compareVersion(const char* name) const;
    // Bytes sent so far by the TFTP server's sender of this id.
    uint32_t getTftpChildBytes(uint16_t childId) const;
    bool isDfaInitialized() const { return m_dfaReady.load(); }
    bool isTftpReady() const { return m_tftpReady.load(); }

    // TFTPParentCallbackIF: events 1 to 5 go to dfuSendDataCallback.
    int32_t transferEvent(uint16_t childId, uint32_t event) override;

    // The agent's callback: reaches the live instance, if any.
    static void dfaCallback(DfaResult code, const DfaCallbackInfo* info);

private:
    struct Slot {
        std::array<char16_t, DFU_PATH_CHARS> file{};
        DntFileInfo info{};
        DfuVersion dante{};
    };

    void handleAnswer(DfaResult code, const DfaCallbackInfo& info);
    void handleError(DfaResult code, const DfaCallbackInfo& info);
    void onIfList(const DfaCallbackInfo& info);
    void onGetIf();
    void onDevice(const DfaCallbackInfo& info);
    void onDeviceStat(const DfaCallbackInfo& info);
    void onStartUpdate();
    void onUpdateStatus(const DfaCallbackInfo& info);
    void onListExpired();
    void reportError(uint32_t stage, DfaResult code);
    void reportEvent(uint32_t event);
    IDfuAppCallback* callback() const;

    // Under m_lock: the device of this name, logged; -1 when none.
    int findDevice(const char* name) const;
    const DfuDevice* device(const char* name) const;
    // The module model id of the device of this name; false when none.
    bool moduleModelId(const char* name, uint8_t* id) const;
    static DntFileInfo initialFileInfo();
    using SlotFiles = std::array<std::array<char16_t, DFU_PATH_CHARS>, DFU_SLOTS>;
    DfuResult pushSettings(const DfaSettings& settings, const SlotFiles& files);
    // Hands the folder and the files to the agent and reads each file's
    // information back into its slot.
    DfuResult applyDanteFiles(const std::array<char16_t, DFA_DNT_NAME_CHARS>& folder, const SlotFiles& files);
    // Whether slot 0 holds a Brooklyn-3 file while slot 1 holds none or a
    // Brooklyn-2 one: the files are in each other's slots.
    bool slotsCrossed(const SlotFiles& files) const;
    DfuResult createTftpServer(const std::array<char16_t, DFA_DNT_NAME_CHARS>& folder);
    std::unique_ptr<TFTPServer> takeTftp();

    mutable std::mutex m_lock;
    std::atomic<bool> m_dfaReady{false};
    std::atomic<bool> m_tftpReady{false};
    std::unique_ptr<TFTPServer> m_tftp;
    int m_listing = 0; // 0 idle, 1 list requested, 2 a device was added
    std::array<char16_t, DFA_DNT_NAME_CHARS> m_folder{};
    std::array<Slot, DFU_SLOTS> m_slots;
    uint8_t m_mac[6] = {};
    uint8_t m_tftpIpv4[4] = {};
    uint16_t m_tftpPort = TFTP_DEFAULT_PORT;
    uint8_t m_modelId[DFA_MODEL_ID_SIZE] = {}; // all zero: every model
    std::vector<DfuDevice> m_devices;
    int m_target = -1;
    std::vector<DfaInterface> m_interfaces; // a copy of the agent's list
    uint16_t m_lastFlashPercent = 0;
    IDfuAppCallback* m_callback = nullptr;
};
