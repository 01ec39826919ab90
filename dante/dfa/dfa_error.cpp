// Code names, the Dante error map and the req_id counter.
#include "dante/dfa/dfa_internal.h"

#include <algorithm>
#include <array>
#include <atomic>

namespace {

struct CodeName {
    DfaResult code;
    const char* name;
};

#define DFA_CODE_NAME_ENTRY(code, name) {code, &#name[4]},
// Kept in table order; sorted on first use so a new row cannot break the
// binary search.
constexpr CodeName kCodeNames[]
    = {DFA_ERRORS(DFA_CODE_NAME_ENTRY){DFA_ERR_BIT_ERROR, "ERR_BIT_ERROR"}, {DFA_ERR_BIT_DAPI, "ERR_BIT_DAPI"}};
#undef DFA_CODE_NAME_ENTRY

using SortedNames = std::array<CodeName, std::size(kCodeNames)>;

const SortedNames& sortedNames()
{
    static const SortedNames sorted = [] {
        SortedNames copy{};
        std::copy(std::begin(kCodeNames), std::end(kCodeNames), copy.begin());
        std::sort(copy.begin(), copy.end(), [](const CodeName& a, const CodeName& b) { return a.code < b.code; });
        return copy;
    }();
    return sorted;
}

std::atomic<uint16_t> g_lastReqId{0};

} // namespace

const char* dfa_error_name(DfaResult code)
{
    const SortedNames& names = sortedNames();
    const auto it = std::lower_bound(
        names.begin(), names.end(), code, [](const CodeName& entry, DfaResult c) { return entry.code < c; });
    return it != names.end() && it->code == code ? it->name : "unknown";
}

DfaResult dfa_dapi_error(DfaStatus status)
{
    if (!dfa_is_library_error(status))
        return DFA_ERR_DAPI_OTHER;
    switch (dfa_reason_of(status) - DFA_REASON_LIBRARY) {
    case AUD_SUCCESS:
        return DFA_ERR_NOERR;
    case AUD_TIMEDOUT:
        return DFA_ERR_DAPI_TIMEOUT;
    case AUD_RANGE:
        return DFA_ERR_DAPI_RANGE;
    case AUD_NOBUFS:
        return DFA_ERR_DAPI_BUFOVR;
    default:
        return DFA_ERR_DAPI_OTHER;
    }
}

uint16_t dfa_next_req_id()
{
    // Used from the client's thread and the agent's task alike.
    uint16_t last = g_lastReqId.load();
    uint16_t next = 0;
    do {
        next = static_cast<uint16_t>(last + 1);
        if (next == 0)
            next = 1;
    } while (!g_lastReqId.compare_exchange_weak(last, next));
    return next;
}

void dfa_set_last_req_id(uint16_t id)
{
    g_lastReqId.store(id);
}

int32_t dfa_elapsed_seconds(const aud_time* since, const aud_time* now)
{
    int64_t seconds = static_cast<int64_t>(now->seconds) - since->seconds;
    int64_t micros = static_cast<int64_t>(now->microseconds) - since->microseconds;
    while (micros < 0) {
        micros += 1000000;
        --seconds;
    }
    return static_cast<int32_t>(std::clamp<int64_t>(seconds, INT32_MIN, INT32_MAX));
}
