// The common mechanism of the client command words: building a command's
// elements from its word's layout, reading a received line, choosing the
// handler, and filling request elements.
#include "scp/scp_command.h"

#include <cstdio>
#include <cstring>

namespace SCP {

namespace {

const ScpText& emptyText()
{
    static const ScpText empty(0);
    return empty;
}

const JLIB::JVariant& emptyVariant()
{
    static const JLIB::JVariant empty;
    return empty;
}

ScpElement* asElement(std::variant<std::monostate, ScpElementAlNum, ScpElementString, ScpElementInteger,
    ScpElementSubAddress, ScpElementParameter, ScpElementArray<ScpElementString>>& slot)
{
    return std::visit(
        [](auto& e) -> ScpElement* {
            if constexpr (std::is_same_v<std::decay_t<decltype(e)>, std::monostate>)
                return nullptr;
            else
                return &e;
        },
        slot);
}

// The text form of an element for an error report: texts as they are,
// numbers in decimal, "all" for a whole row or column.
void describe(const ScpElement* element, ScpText& out)
{
    out.reset();
    if (!element || !element->isPresent())
        return;
    if (const auto* t = dynamic_cast<const ScpElementText*>(element)) {
        out.assign(t->text());
        return;
    }
    char digits[16] = "";
    if (const auto* s = dynamic_cast<const ScpElementSubAddress*>(element); s && s->isAll())
        std::snprintf(digits, sizeof digits, "all");
    else if (const auto* i = dynamic_cast<const ScpElementInteger*>(element))
        std::snprintf(digits, sizeof digits, "%d", i->value());
    out.assign(digits, sizeof digits);
}

} // namespace

ScpClientCommand::ScpClientCommand(const ScpCommandLayout& layout)
    : m_layout(&layout)
    , m_result("result")
    , m_command("command", layout.word)
{
    m_list.push(&m_result, SCP_FLAG_READ | SCP_FLAG_JSON_REQUEST);
    m_list.push(&m_command, SCP_FLAG_READ | SCP_FLAG_JSON_REQUEST | SCP_FLAG_RAW_REQUEST);
    for (uint32_t i = 0; i < layout.ownCount && i < SCP_OWN_ELEMENTS_MAX; ++i) {
        const ScpElementDef& def = layout.own[i];
        Slot& slot = m_own[i];
        switch (def.kind) {
        case ScpKind::AlNum:
            slot.emplace<ScpElementAlNum>(def.name);
            break;
        case ScpKind::String:
            slot.emplace<ScpElementString>(def.name);
            break;
        case ScpKind::Integer:
            slot.emplace<ScpElementInteger>(def.name);
            break;
        case ScpKind::SubAddress:
            slot.emplace<ScpElementSubAddress>(def.name);
            break;
        case ScpKind::Parameter:
            slot.emplace<ScpElementParameter>(def.name);
            break;
        case ScpKind::StringArray:
            slot.emplace<ScpElementArray<ScpElementString>>(def.name, SCP_METER_ITEMS_MAX);
            break;
        }
        m_list.push(asElement(slot), def.flags);
    }
}

JResult ScpClientCommand::decode(const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values)
{
    JResult result = m_list.decode(keys, values);
    // Meter items have no keys of their own: in a RAW line they are the
    // values from the array's position in the list to the end of the line.
    // A JSON line keeps no values of an array member, so it carries none.
    if (keys.hasStorage())
        return result;
    for (uint32_t i = 0; i < m_layout->ownCount; ++i) {
        auto* array = std::get_if<ScpElementArray<ScpElementString>>(&m_own[i]);
        if (!array)
            continue;
        // A line that lost values to a full table is reported, never cut silently.
        if (values.overflowed())
            result = SCP_E_MISSING;
        for (uint32_t v = i + 2; v < values.count(); ++v) {
            if (array->decode(*values.item(v)) < 0) {
                result = SCP_E_MISSING;
                break;
            }
        }
    }
    return result;
}

JResult ScpClientCommand::dispatch(
    int32_t id, const ScpUnicodeStringTable& keys, const ScpUnicodeStringTable& values, const ScpInfoReporter& info)
{
    if (!info.device || !info.parameter || !info.meter || !info.session)
        return SCP_E_FAIL;
    const JResult decoded = decode(keys, values);
    if (scp_replyWord(keys, values) == SCP_REPLY_ERROR)
        return reportError(id, info);
    if (decoded < 0 || !allPresent(SCP_FLAG_READ))
        return SCP_E_MISSING;
    switch (scp_lineClass(keys, values)) {
    case SCP_CLASS_REPLY:
        return onReply(id, info);
    case SCP_CLASS_NOTIFICATION:
        return onNotify(id, info);
    default:
        return decoded;
    }
}

// An ERROR reply names the request the unit refused: it never runs the
// OK handler (which would store what the line happens to carry), it goes to
// the device side as an error with the word and the request's first value.
JResult ScpClientCommand::reportError(int32_t id, const ScpInfoReporter& info)
{
    ScpText subject(SCP_STRING_MAX);
    for (uint32_t i = 2; i < m_list.count(); ++i) {
        if (m_list.hasFlag(i, SCP_FLAG_RAW_REQUEST)) {
            describe(m_list.item(i), subject);
            break;
        }
    }
    const JResult r = info.device->replyError(id, m_command.text(), subject);
    return r < 0 ? r : SCP_E_FAIL;
}

JResult ScpClientCommand::onReply(int32_t id, const ScpInfoReporter& info)
{
    return m_layout->onReply ? m_layout->onReply(*this, id, info) : SCP_E_FAIL;
}

JResult ScpClientCommand::onNotify(int32_t id, const ScpInfoReporter& info)
{
    return m_layout->onNotify ? m_layout->onNotify(*this, id, info) : SCP_E_MISSING;
}

JResult ScpClientCommand::encode(bool json, bool utf8, ScpRing& ring) const
{
    return scp_encodeRequest(m_list, json, utf8, ring);
}

// ---- element access ----

const ScpClientCommand::Slot* ScpClientCommand::slot(const char* name) const
{
    if (!name)
        return nullptr;
    for (uint32_t i = 0; i < m_layout->ownCount; ++i) {
        if (std::strcmp(m_layout->own[i].name, name) == 0)
            return &m_own[i];
    }
    return nullptr;
}

ScpElement* ScpClientCommand::element(const char* name)
{
    Slot* s = const_cast<Slot*>(slot(name));
    return s ? asElement(*s) : nullptr;
}

ScpElementText* ScpClientCommand::textElement(const char* name)
{
    Slot* s = const_cast<Slot*>(slot(name));
    if (!s)
        return nullptr;
    if (auto* a = std::get_if<ScpElementAlNum>(s))
        return a;
    return std::get_if<ScpElementString>(s);
}

const ScpText& ScpClientCommand::text(const char* name) const
{
    const Slot* s = slot(name);
    if (s) {
        if (const auto* a = std::get_if<ScpElementAlNum>(s))
            return a->text();
        if (const auto* t = std::get_if<ScpElementString>(s))
            return t->text();
    }
    return emptyText();
}

int32_t ScpClientCommand::integer(const char* name) const
{
    const Slot* s = slot(name);
    if (s) {
        if (const auto* i = std::get_if<ScpElementInteger>(s))
            return i->value();
        if (const auto* a = std::get_if<ScpElementSubAddress>(s))
            return a->value();
    }
    return 0;
}

bool ScpClientCommand::isAll(const char* name) const
{
    const Slot* s = slot(name);
    const auto* a = s ? std::get_if<ScpElementSubAddress>(s) : nullptr;
    return a && a->isAll();
}

const JLIB::JVariant& ScpClientCommand::parameter(const char* name) const
{
    const Slot* s = slot(name);
    const auto* p = s ? std::get_if<ScpElementParameter>(s) : nullptr;
    return p ? p->value() : emptyVariant();
}

const ScpElementArray<ScpElementString>* ScpClientCommand::items() const
{
    for (uint32_t i = 0; i < m_layout->ownCount; ++i) {
        if (const auto* a = std::get_if<ScpElementArray<ScpElementString>>(&m_own[i]))
            return a;
    }
    return nullptr;
}

// ---- request setters ----

// Position of the n-th own element written in a request; null past them.
ScpClientCommand::Slot* ScpClientCommand::ownSlot(uint32_t position)
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < m_layout->ownCount; ++i) {
        if (!(m_layout->own[i].flags & SCP_FLAG_RAW_REQUEST))
            continue;
        if (n++ == position)
            return &m_own[i];
    }
    return nullptr;
}

JResult ScpClientCommand::setOwnText(uint32_t position, const ScpText& text)
{
    Slot* s = ownSlot(position);
    ScpElementText* t = nullptr;
    if (s && (t = std::get_if<ScpElementAlNum>(s)) == nullptr)
        t = std::get_if<ScpElementString>(s);
    if (!t || text.length() > t->maxLength())
        return SCP_E_ARG;
    return t->set(text);
}

JResult ScpClientCommand::setOwnText(uint32_t position, const char* text)
{
    if (!text)
        return SCP_E_ARG;
    ScpText t(SCP_STRING_MAX + 1);
    t.assign(text, SCP_STRING_MAX + 1);
    return setOwnText(position, t);
}

JResult ScpClientCommand::setOwnInteger(uint32_t position, int32_t value)
{
    Slot* s = ownSlot(position);
    if (!s)
        return SCP_E_ARG;
    if (auto* a = std::get_if<ScpElementSubAddress>(s))
        return a->set(value);
    if (auto* i = std::get_if<ScpElementInteger>(s))
        return i->set(value);
    return SCP_E_ARG;
}

JResult ScpClientCommand::setOwnVariant(uint32_t position, const JLIB::JVariant& value)
{
    Slot* s = ownSlot(position);
    auto* p = s ? std::get_if<ScpElementParameter>(s) : nullptr;
    if (!p)
        return SCP_E_ARG;
    p->set(value);
    return p->isPresent() ? SCP_OK : SCP_E_ARG;
}

namespace {
// Runs the steps in order and stops at the first failure.
template <class... Steps> JResult all(Steps... steps)
{
    JResult r = SCP_OK;
    ((r = r < 0 ? r : steps()), ...);
    return r;
}
} // namespace

JResult ScpClientCommand::setText(const char* text)
{
    return setOwnText(0, text);
}

JResult ScpClientCommand::setTexts(const char* first, const char* second)
{
    return all([&] { return setOwnText(0, first); }, [&] { return setOwnText(1, second); });
}

JResult ScpClientCommand::setTextInteger(const char* text, int32_t value)
{
    return all([&] { return setOwnText(0, text); }, [&] { return setOwnInteger(1, value); });
}

JResult ScpClientCommand::setIndex(int32_t index)
{
    return setOwnInteger(0, index);
}

JResult ScpClientCommand::setCell(const ScpText& address, int32_t x, int32_t y)
{
    return all([&] { return setOwnText(0, address); }, [&] { return setOwnInteger(1, x); },
        [&] { return setOwnInteger(2, y); });
}

JResult ScpClientCommand::setCell(const ScpText& address, int32_t x, int32_t y, const JLIB::JVariant& value)
{
    return all([&] { return setCell(address, x, y); }, [&] { return setOwnVariant(3, value); });
}

JResult ScpClientCommand::setCell(const ScpText& address, int32_t x, int32_t y, int32_t value)
{
    return all([&] { return setCell(address, x, y); }, [&] { return setOwnInteger(3, value); });
}

JResult ScpClientCommand::setCell(const ScpText& address, int32_t x, int32_t y, const ScpText& text)
{
    return all([&] { return setCell(address, x, y); }, [&] { return setOwnText(3, text); });
}

JResult ScpClientCommand::setMeter(const ScpText& address)
{
    return setOwnText(0, address);
}

JResult ScpClientCommand::setMeter(const ScpText& address, int32_t interval)
{
    return all([&] { return setOwnText(0, address); }, [&] { return setOwnInteger(1, interval); });
}

} // namespace SCP
