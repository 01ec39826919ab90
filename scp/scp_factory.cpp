// The client's command factories: one per word, each making its word's
// class as an object array of one on the default heap, tagged with the
// class name; and the null-terminated table the receive loop searches.
#include "scp/scp_factory.h"

#include <tuple>
#include <utility>

namespace SCP {

namespace {

constexpr unsigned kDefaultHeap = 0;

template <int W> class ScpClientCommandFactory final : public IScpClientCommandFactory {
public:
    using Command = ScpClientCommandWord<W>;

    const char* word() const override { return scp_commandLayout(W)->word; }

    ScpClientCommand* create() const override
    {
        return JLIB::arrayNew<Command>(kDefaultHeap, scp_commandLayout(W)->className, 1);
    }

    // An object of another word was not made here and is refused.
    JResult release(ScpClientCommand* command) const override
    {
        if (!command || &command->layout() != scp_commandLayout(W))
            return SCP_E_FAIL;
        return JLIB::arrayDelete(static_cast<Command*>(command));
    }
};

// The 26 factories and the table of their addresses, built once.
template <size_t... W> struct ScpFactorySet {
    std::tuple<ScpClientCommandFactory<W>...> factories;
    const IScpClientCommandFactory* table[sizeof...(W) + 1];
    ScpFactorySet()
        : table{&std::get<W>(factories)..., nullptr}
    {
    }
};

template <size_t... W> ScpFactorySet<W...> makeSet(std::index_sequence<W...>);
using ScpAllFactories = decltype(makeSet(std::make_index_sequence<SCP_WORD_COUNT>()));

} // namespace

const IScpClientCommandFactory* const* scp_clientCommandFactories()
{
    static const ScpAllFactories all;
    return all.table;
}

const IScpClientCommandFactory* scp_findClientCommandFactory(const ScpText& word)
{
    if (word.length() == 0)
        return nullptr;
    for (const IScpClientCommandFactory* const* f = scp_clientCommandFactories(); *f; ++f) {
        if (scp_wordEquals(word, (*f)->word(), true))
            return *f;
    }
    return nullptr;
}

} // namespace SCP
