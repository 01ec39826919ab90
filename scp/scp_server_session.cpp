#include "scp/scp_server_session.h"

namespace SCP {

namespace {

// "ERROR <word>" for a request that cannot be answered with its elements.
// The word is the received text, written by the word element's own writer
// so that it cannot break the line.
JResult encodeBareError(const ScpText* word, bool json, bool utf8, ScpRing& ring)
{
    ScpElementAlNum command("command");
    if (word)
        command.decode(*word); // without the quotes a JSON value keeps
    for (int attempt = 0; attempt < 2; ++attempt) {
        scp_ringReset(ring);
        const bool withWord = attempt == 0 && command.isPresent();
        bool ok = scp_ringWriteText(ring, json ? "{\"result\":\"ERROR\"" : "ERROR") >= 0;
        if (withWord) {
            ok = ok && scp_ringWriteText(ring, json ? ",\"command\":" : " ") >= 0;
            ok = ok && command.encode(json, utf8, ring) >= 0;
        }
        ok = ok && (!json || scp_ringPut(ring, '}') >= 0);
        ok = ok && scp_ringPut(ring, '\n') >= 0;
        if (ok)
            return SCP_OK;
    }
    scp_ringReset(ring);
    return SCP_E_ENCODE;
}

} // namespace

ScpServerSession::ScpServerSession(
    ScpDeviceReporter* device, ScpParameter* parameter, ScpMeterReporter* meter, int32_t context)
    : m_device(device)
    , m_parameter(parameter)
    , m_meter(meter)
    , m_context(context)
{
}

JResult ScpServerSession::init(uint32_t meterCapacity)
{
    if (m_ready || m_session.init(meterCapacity) < 0)
        return SCP_E_FAIL;
    if (m_ring.allocate(0, SCP_SERVER_RING_SIZE) < 0)
        return SCP_E_FAIL;
    m_session.activate();
    m_ready = true;
    return SCP_OK;
}

JResult ScpServerSession::handleLine(
    const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values, ScpRing& ring)
{
    scp_ringReset(ring);
    // A request names its word first (RAW) or under "command" (JSON).
    const ScpText* word = nullptr;
    if (keys.hasStorage()) {
        const int32_t at = keys.find("command");
        word = at >= 0 ? values.item(static_cast<uint32_t>(at)) : nullptr;
    } else {
        word = values.item(0);
    }
    if (!word)
        return SCP_OK;

    // The reply goes out in the mode the request came in: an scpmode request
    // that changes the format or encoding takes effect from the next line on,
    // as the client switches only after reading this reply.
    const bool json = m_session.decoderKind() != SCP_DECODER_RAW;
    const bool utf8 = m_session.encoding() == SCP_ENCODING_UTF8;

    const IScpServerCommandFactory* factory = scp_serverFindFactory(*word);
    if (!factory) {
        encodeBareError(word, json, utf8, ring);
        return SCP_E_MISSING;
    }
    ScpServerCommand* command = factory->create();
    if (!command) {
        encodeBareError(word, json, utf8, ring);
        return SCP_E_FAIL;
    }
    JResult result = command->decodeRequest(keys, values);
    if (result >= 0) {
        ScpInfoReporter info;
        info.device = m_device;
        info.parameter = m_parameter;
        info.meter = m_meter;
        info.session = &m_session;
        // keys and values may belong to a decoder that execute replaces
        // (scpmode format); nothing reads them from here on.
        result = command->execute(m_context, info);
    }
    if (result >= 0 && !command->allPresent(SCP_SERVER_REPLY))
        result = SCP_E_MISSING;
    if (command->encodeReply(result, json, utf8, ring) < 0) {
        ScpText name(SCP_ALNUM_MAX);
        name.assign(command->word(), SCP_ALNUM_MAX);
        encodeBareError(&name, json, utf8, ring);
        if (result >= 0)
            result = SCP_E_ENCODE;
    }
    factory->release(&command);
    return result;
}

JResult ScpServerSession::receive(const uint8_t* data, size_t length, std::vector<uint8_t>& out)
{
    if (!m_ready)
        return SCP_E_FAIL;
    size_t at = 0;
    // Every step consumes at least one byte or stops, so this ends.
    while (at < length) {
        ScpAbstractDecoder* decoder = m_session.decoder();
        if (!decoder)
            return SCP_E_FAIL;
        size_t used = 0;
        const JResult r = decoder->feed(data + at, length - at, &used);
        at += used;
        if (r == SCP_LINE_COMPLETE) {
            if (m_session.keepAlive() != 0)
                m_session.restartKeepAlive();
            handleLine(decoder->keys(), decoder->values(), m_ring);
            const uint8_t* line = m_ring.buffer();
            out.insert(out.end(), line, line + m_ring.count());
            scp_ringReset(m_ring);
            continue;
        }
        if (r < 0 && used > 0)
            continue; // a malformed JSON line is dropped; the decoder starts clean
        break; // all used, or a UTF-8 sequence held for the next read
    }
    return SCP_OK;
}

} // namespace SCP
