// The server command factories and their table. Each command is made as an
// object array of one object on heap 0, tagged with the class name.
#include "scp/scp_server.h"
#include "scp/scp_server_commands.h"

#include "scp/scp_factory.h"

namespace SCP {

namespace {

constexpr unsigned kHeapId = 0;

template <class Command> class ScpServerCommandFactory final : public IScpServerCommandFactory {
public:
    ScpServerCommandFactory(const char* word, const char* className)
        : m_word(word)
        , m_className(className)
    {
    }

    const char* commandWord() const override { return m_word; }

    ScpServerCommand* create() const override { return JLIB::arrayNew<Command>(kHeapId, m_className, 1); }

    JResult release(ScpServerCommand** command) const override
    {
        if (!command || !*command)
            return SCP_E_FAIL;
        const uint8_t* header = reinterpret_cast<const uint8_t*>(*command) - JLIB_HEAP_HEADER_SIZE;
        if (!jlib_getHeap(header[0]))
            return SCP_E_FAIL; // nothing destroyed, the pointer stays valid
        // One object, destroyed through its virtual destructor; gone even
        // when the heap then refuses the block.
        const JResult r = JLIB::arrayDelete(*command);
        *command = nullptr;
        return r < 0 ? SCP_E_FAIL : SCP_OK;
    }

private:
    const char* m_word;
    const char* m_className;
};

#define SCP_SERVER_FACTORY(NAME, WORD)                                                                                 \
    const ScpServerCommandFactory<ScpServerCommand##NAME> g_factory##NAME(WORD, "ScpServerCommand" #NAME)

SCP_SERVER_FACTORY(SET, "set");
SCP_SERVER_FACTORY(SETN, "setn");
SCP_SERVER_FACTORY(SETR, "setr");
SCP_SERVER_FACTORY(SETT, "sett");
SCP_SERVER_FACTORY(GET, "get");
SCP_SERVER_FACTORY(GETN, "getn");
SCP_SERVER_FACTORY(GETT, "gett");
SCP_SERVER_FACTORY(PRMINFO, "prminfo");
SCP_SERVER_FACTORY(PRMNUM, "prmnum");
SCP_SERVER_FACTORY(MTRSTART, "mtrstart");
SCP_SERVER_FACTORY(MTRSTOP, "mtrstop");
SCP_SERVER_FACTORY(MTRINFO, "mtrinfo");
SCP_SERVER_FACTORY(MTRNUM, "mtrnum");
SCP_SERVER_FACTORY(SSCURRENT, "sscurrent");
SCP_SERVER_FACTORY(SSRECALL, "ssrecall");
SCP_SERVER_FACTORY(SSUPDATE, "ssupdate");
SCP_SERVER_FACTORY(SSINFO, "ssinfo");
SCP_SERVER_FACTORY(SSNUM, "ssnum");
SCP_SERVER_FACTORY(EVENT, "event");
SCP_SERVER_FACTORY(DEVSTATUS, "devstatus");
SCP_SERVER_FACTORY(DEVINFO, "devinfo");
SCP_SERVER_FACTORY(DEVMODE, "devmode");
SCP_SERVER_FACTORY(SCPMODE, "scpmode");

#undef SCP_SERVER_FACTORY

const IScpServerCommandFactory* const kTable[SCP_SERVER_COMMAND_COUNT + 1] = {
    &g_factorySET,
    &g_factorySETN,
    &g_factorySETR,
    &g_factorySETT,
    &g_factoryGET,
    &g_factoryGETN,
    &g_factoryGETT,
    &g_factoryPRMINFO,
    &g_factoryPRMNUM,
    &g_factoryMTRSTART,
    &g_factoryMTRSTOP,
    &g_factoryMTRINFO,
    &g_factoryMTRNUM,
    &g_factorySSCURRENT,
    &g_factorySSRECALL,
    &g_factorySSUPDATE,
    &g_factorySSINFO,
    &g_factorySSNUM,
    &g_factoryEVENT,
    &g_factoryDEVSTATUS,
    &g_factoryDEVINFO,
    &g_factoryDEVMODE,
    &g_factorySCPMODE,
    nullptr,
};

} // namespace

const IScpServerCommandFactory* const* scp_serverCommandFactories()
{
    return kTable;
}

const IScpServerCommandFactory* scp_serverFindFactory(const ScpText& word)
{
    for (const IScpServerCommandFactory* const* f = kTable; *f; ++f) {
        if (scp_wordEquals(word, (*f)->commandWord(), true))
            return *f;
    }
    return nullptr;
}

} // namespace SCP
