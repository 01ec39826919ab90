// Notifications the client sends on its own, without waiting for a reply:
// a changed value (SET, SETN), a recalled scene (SSRECALL), a meter start or
// stop. The client holds one object of each kind and refills it for every
// notification.
#pragma once

#include "scp/scp_codec.h"
#include "scp/scp_contracts.h"
#include "scp/scp_element.h"

#include <cstdint>

namespace SCP {

class ScpSessionData;

class ScpClientNotification {
public:
    virtual ~ScpClientNotification() = default;
    ScpClientNotification(const ScpClientNotification&) = delete;
    ScpClientNotification& operator=(const ScpClientNotification&) = delete;

    virtual bool allPresent(uint8_t flags) const { return m_list.allPresent(flags); }
    // The notification line into the ring: the word and the elements in order.
    JResult encode(bool json, bool utf8, ScpRing& ring) const;
    const ScpElementList& elements() const { return m_list; }
    const char* word() const { return m_word; }

protected:
    explicit ScpClientNotification(const char* word);
    // Lists an own element after "command".
    void add(ScpElement& element);

private:
    const char* m_word;
    ScpElementAlNum m_command;
    ScpElementList m_list;
};

class ScpClientNotificationMTRSTART final : public ScpClientNotification {
public:
    ScpClientNotificationMTRSTART();
    JResult set(const ScpText& address, int32_t interval);
    ScpElementAlNum address;
    ScpElementInteger interval;
};

class ScpClientNotificationMTRSTOP final : public ScpClientNotification {
public:
    ScpClientNotificationMTRSTOP();
    JResult set(const ScpText& address);
    ScpElementAlNum address;
};

class ScpClientNotificationSET final : public ScpClientNotification {
public:
    ScpClientNotificationSET();
    // The parameter's name for index and its value at (x, y). A set line
    // carries no text, so the parameter's text is not read. The first
    // failing read's code is returned and the elements stay as they were.
    JResult fill(ScpParameter& parameter, int32_t index, int32_t x, int32_t y);
    ScpElementAlNum address;
    ScpElementSubAddress x;
    ScpElementSubAddress y;
    ScpElementParameter param;
};

class ScpClientNotificationSETN final : public ScpClientNotification {
public:
    ScpClientNotificationSETN();
    // As SET, with the normalized value at the session's resolution.
    JResult fill(ScpParameter& parameter, const ScpSessionData& session, int32_t index, int32_t x, int32_t y);
    ScpElementAlNum address;
    ScpElementSubAddress x;
    ScpElementSubAddress y;
    ScpElementInteger nparam;
};

class ScpClientNotificationSSRECALL final : public ScpClientNotification {
public:
    ScpClientNotificationSSRECALL();
    JResult set(int32_t index);
    ScpElementInteger index;
};

} // namespace SCP
