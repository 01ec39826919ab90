#include "scp/scp_server.h"

namespace SCP {

ScpServerCommand::ScpServerCommand(const char* word)
    : m_word(word)
    , m_command("command", word)
{
    m_list.push(&m_command, SCP_SERVER_REQUEST | SCP_SERVER_REPLY);
}

void ScpServerCommand::add(ScpElement& element, uint8_t flags)
{
    m_list.push(&element, flags);
}

JResult ScpServerCommand::decodeRequest(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values)
{
    JResult result = SCP_OK;
    for (uint32_t i = 1; i < m_list.count(); ++i) {
        ScpElement* element = m_list.item(i);
        element->reset();
        if (!m_list.hasFlag(i, SCP_SERVER_REQUEST))
            continue;
        const ScpText* value = nullptr;
        if (keys.hasStorage()) {
            const int32_t at = keys.find(element->name());
            value = at >= 0 ? values.item(static_cast<uint32_t>(at)) : nullptr;
        } else {
            value = values.item(i);
        }
        if (!value || element->decode(*value) < 0)
            result = SCP_E_MISSING;
    }
    return result;
}

JResult ScpServerCommand::encodeReply(JResult result, bool json, bool utf8, ScpRing& ring) const
{
    // An OK the client cannot read would be worse than an ERROR.
    const bool ok = result >= 0 && m_list.allPresent(SCP_SERVER_REPLY);
    scp_ringReset(ring);
    bool written = true;
    auto put = [&](const char* text) { written = written && scp_ringWriteText(ring, text) >= 0; };
    auto putElement = [&](const ScpElement& element) {
        if (json) {
            put(",\"");
            put(element.name());
            put("\":");
        } else {
            put(" ");
        }
        written = written && element.encode(json, utf8, ring) >= 0;
    };

    if (json)
        put(ok ? "{\"result\":\"OK\"" : "{\"result\":\"ERROR\"");
    else
        put(ok ? "OK" : "ERROR");
    putElement(m_command);
    for (uint32_t i = 1; written && i < m_list.count(); ++i) {
        if (!m_list.hasFlag(i, SCP_SERVER_REPLY))
            continue;
        const ScpElement* element = m_list.item(i);
        if (!element->isPresent())
            break; // only an ERROR gets here: the rest would lose its position
        putElement(*element);
    }
    if (json)
        put("}");
    put("\n");
    if (!written) {
        scp_ringReset(ring); // never half a line
        return SCP_E_ENCODE;
    }
    return SCP_OK;
}

} // namespace SCP
