// Names of the control message types for log lines. Only the types whose
// values this agent knows are named; the rest print as unknown.
#include "dante/dfa/dfa_glue_parts.h"

namespace {

struct TypeName {
    uint16_t type;
    const char* name;
};

// Sorted by type.
constexpr TypeName kNames[] = {
    {0x0011, "INTERFACE_STATUS"},
    {0x0013, "INTERFACE_CONTROL"},
    {0x0060, "VERSIONS_STATUS"},
    {0x0061, "VERSIONS_QUERY"},
    {0x0070, "UPGRADE_STATUS"},
    {0x0071, "UPGRADE_CONTROL"},
    {0x0090, "SYS_RESET"},
    {0x00C0, "MANF_VERSIONS_STATUS"},
    {0x00C1, "MANF_VERSIONS_QUERY"},
    {0x0130, "DANTE_READY"},
    {0x0131, "DANTE_READY_QUERY"},
};

} // namespace

const char* dfa_conmon_type_name(uint16_t type)
{
    size_t low = 0;
    size_t high = sizeof kNames / sizeof kNames[0];
    while (low < high) {
        const size_t mid = (low + high) / 2;
        if (kNames[mid].type == type)
            return kNames[mid].name;
        if (kNames[mid].type < type)
            low = mid + 1;
        else
            high = mid;
    }
    dfa_print("[CONMON]unknown type 0x%04X\n", type);
    return "unknown";
}
