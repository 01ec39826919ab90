// The PC's Dante services faked for the firmware window's tests: the agent's
// service probe and glue, put in place for a test and taken out once the
// agent has stopped.
#pragma once

#include "tests/dante/dfa/core/dfa_fixture.h"

#include <cstring>

namespace fwwindowtest {

struct DanteFakes {
    // The agent asks for the interface of this hardware address; the
    // service runs or not.
    void install(const uint8_t* mac, bool running)
    {
        dfatest::ensureOswrap();
        dfa_set_print_level(0);
        probe.state = running ? DFA_SERVICE_RUNNING : DFA_SERVICE_STOPPED;
        const DfaServiceProbe p = probe.probe();
        dfa_set_service_probe(&p);
        // Asked for the interface it has, the fake says it is already set.
        glue.reasons[DFA_REQ_SET_DANTE_IF] = dfa_reason(DFA_REASON_RANGE);
        std::memcpy(glue.interfaces[0].mac, mac, 6);
        const DfaGlue g = glue.glue();
        dfa_set_glue(&g);
    }
    // False when the agent did not stop in time.
    bool remove()
    {
        const bool stopped = qtest::waitFor([] { return !dfa_main_active(); }, 6000);
        dfa_set_glue(nullptr);
        dfa_set_service_probe(nullptr);
        return stopped;
    }

    dfatest::FakeProbe probe;
    dfatest::FakeGlue glue;
};

} // namespace fwwindowtest
