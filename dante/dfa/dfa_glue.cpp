// The glue table: the Dante glue (conmon, browse and cmm clients) and the
// stubs that tests fill their own tables with.
#include "dante/dfa/dfa_glue.h"
#include "dante/dfa/dfa_glue_parts.h"

namespace {

DfaStatus ok(void*)
{
    return DFA_OK;
}
DfaStatus okEnv(void*, aud_env*)
{
    return DFA_OK;
}
void none(void*) { }
bool yes(void*)
{
    return true;
}
DfaStatus currentInterface(void*, DfaInterface* out)
{
    *out = DfaInterface{};
    return DFA_OK;
}
size_t noIndexes(void*, uint32_t*, size_t)
{
    return 0;
}
DfaStatus browseWindow(void*, const uint32_t*, size_t, uint16_t, int16_t)
{
    return dfa_reason(DFA_REASON_NOT_READY);
}
DfaStatus deviceStat(void*, const char*, DfaDeviceStat*)
{
    return dfa_reason(DFA_REASON_NOT_READY);
}
DfaStatus startUpdate(void*, const char*, uint16_t)
{
    return dfa_reason(DFA_REASON_NOT_READY);
}
DfaStatus updateStatus(void*, const char*, DfaUpgradeStatus*, DfaResult*)
{
    return dfa_reason(DFA_REASON_NOT_READY);
}
DfaStatus reboot(void*, const char*, uint8_t, uint16_t)
{
    return dfa_reason(DFA_REASON_NOT_READY);
}
DfaStatus ifList(void*, DfaInterfaceList*)
{
    return dfa_reason(DFA_REASON_NOT_READY);
}
DfaStatus setDanteIf(void*, const DfaInterface*, uint16_t)
{
    return dfa_reason(DFA_REASON_NOT_READY);
}
DfaStatus getDanteIf(void*, DfaInterface*)
{
    return dfa_reason(DFA_REASON_NOT_READY);
}

const DfaGlue kStubs{nullptr, &ok, &none, &okEnv, &none, &okEnv, &none, &okEnv, &none, &ok, &yes, &yes, &ok, &yes,
    &currentInterface, &none, &noIndexes, &browseWindow, &deviceStat, &startUpdate, &updateStatus, &reboot, &ifList,
    &setDanteIf, &getDanteIf};

// The browse window needs the conmon service like every device request.
DfaStatus danteBrowseWindow(void* c, const uint32_t* indexes, size_t count, uint16_t reqId, int16_t seconds)
{
    if (dfa_conmon_absent())
        return dfa_reason(DFA_REASON_SERVICE);
    return dfa_browse_glue_window(c, indexes, count, reqId, seconds);
}

const DfaGlue kDante{nullptr, &dfa_conmon_glue_device_list_init, &dfa_conmon_glue_device_list_term,
    &dfa_browse_glue_init, &dfa_browse_glue_term, &dfa_conmon_glue_init, &dfa_conmon_glue_term, &dfa_cmm_glue_init,
    &dfa_cmm_glue_term, &dfa_cmm_glue_start, &dfa_cmm_interface_known, &dfa_conmon_init_started, &dfa_conmon_init_start,
    &dfa_conmon_init_finished, &dfa_cmm_current_interface, &dfa_conmon_forget_devices, &dfa_conmon_interface_indexes,
    &danteBrowseWindow, &dfa_conmon_device_stat, &dfa_conmon_start_update, &dfa_conmon_update_status,
    &dfa_conmon_reboot, &dfa_cmm_if_list, &dfa_cmm_set_interface, &dfa_cmm_get_interface};

DfaGlue g_glue = kDante;

template <class Fn> void fill(Fn& target, Fn fallback)
{
    if (target == nullptr)
        target = fallback;
}

} // namespace

void dfa_set_glue(const DfaGlue* glue)
{
    if (glue == nullptr) {
        g_glue = kDante;
        return;
    }
    DfaGlue g = *glue;
    fill(g.device_list_init, kStubs.device_list_init);
    fill(g.device_list_term, kStubs.device_list_term);
    fill(g.browse_init, kStubs.browse_init);
    fill(g.browse_term, kStubs.browse_term);
    fill(g.conmon_init, kStubs.conmon_init);
    fill(g.conmon_term, kStubs.conmon_term);
    fill(g.cmm_init, kStubs.cmm_init);
    fill(g.cmm_term, kStubs.cmm_term);
    fill(g.cmm_start, kStubs.cmm_start);
    fill(g.cmm_interface_known, kStubs.cmm_interface_known);
    fill(g.conmon_init_started, kStubs.conmon_init_started);
    fill(g.conmon_init_start, kStubs.conmon_init_start);
    fill(g.conmon_init_finished, kStubs.conmon_init_finished);
    fill(g.current_interface, kStubs.current_interface);
    fill(g.forget_devices, kStubs.forget_devices);
    fill(g.interface_indexes, kStubs.interface_indexes);
    fill(g.browse_window, kStubs.browse_window);
    fill(g.device_stat, kStubs.device_stat);
    fill(g.start_update, kStubs.start_update);
    fill(g.update_status, kStubs.update_status);
    fill(g.reboot, kStubs.reboot);
    fill(g.if_list, kStubs.if_list);
    fill(g.set_dante_if, kStubs.set_dante_if);
    fill(g.get_dante_if, kStubs.get_dante_if);
    g_glue = g;
}

const DfaGlue& dfa_glue()
{
    return g_glue;
}

const DfaGlue& dfa_glue_stubs()
{
    return kStubs;
}

const DfaGlue& dfa_glue_dante()
{
    return kDante;
}
