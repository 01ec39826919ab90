// Channel-message payloads from a known device into the agent's monitoring
// handler: whatever the bytes, the device list stays consistent and nothing
// is read outside the message.
//
// Input: one byte picks the device's state (low 3 bits) and whether the
// rest is a whole envelope with its payload (bit 3) or only a payload that
// gets a well-formed envelope from the known device.
#include "dante/conmon/conmon_id.h"
#include "dante/conmon/conmon_message.h"
#include "dante/dfa/dfa_glue_parts.h"
#include "fuzz/fuzz_check.h"

#include <cstring>
#include <vector>

namespace {

const conmon_instance_id kDevice{{{0x00, 0x1d, 0xc1, 0x00, 0x12, 0x34, 0x56, 0x78}}, 1};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        dfa_set_print_level(0);
        return true;
    }();
    (void)quiet;
    if (size < 1)
        return 0;
    char name[CONMON_INSTANCE_ID_TEXT_SIZE];
    conmon_instance_id_text(&kDevice, name, sizeof name);
    const uint8_t state = data[0] & 0x07;
    dfa_conmon_forget_devices(nullptr);
    if (dfa_conmon_list_device(name, state > 6 ? 2 : state) != DFA_OK)
        return 0;
    const uint8_t* body = data + 1;
    const size_t length = size - 1;
    if ((data[0] & 0x08) != 0) {
        dfa_conmon_monitoring(CONMON_CHANNEL_STATUS, body, length);
    } else if (length <= CONMON_PAYLOAD_MAX) {
        std::vector<uint8_t> message(CONMON_ENVELOPE_SIZE + length);
        conmon_envelope envelope{};
        envelope.message_word = 0;
        envelope.length = static_cast<uint16_t>(CONMON_ENVELOPE_SIZE + length);
        envelope.process_id = kDevice.process_id;
        envelope.device_id = kDevice.device_id;
        envelope.vendor_id = CONMON_VENDOR_AUDINATE;
        conmon_envelope_write(message.data(), &envelope);
        if (length > 0)
            std::memcpy(message.data() + CONMON_ENVELOPE_SIZE, body, length);
        dfa_conmon_monitoring(CONMON_CHANNEL_STATUS, message.data(), message.size());
    }
    uint8_t after = 0;
    // A device stays listed whatever it sent, in one of the known states.
    fuzzCheck(dfa_conmon_device_state(name, &after) == DFA_OK);
    fuzzCheck(after <= 6);
    DfaUpgradeStatus status{};
    DfaResult code = 0;
    if (dfa_conmon_update_status(nullptr, name, &status, &code) == DFA_OK)
        fuzzCheck(status.percent <= 100 && status.phase <= DFA_PHASE_FINISH);
    return 0;
}
