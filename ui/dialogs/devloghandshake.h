// The request/reply handshake through a unit's memory that the summary and
// log dialogs share. The dialog writes a request, the unit's family reporter
// answers on the connection thread and raises a Received flag (1 reply, -1
// failed); the dialog hears of the flag through a subscription, reads the
// reply and clears the flag. Every request that is written starts the
// receive time-out and every accepted reply stops it.
//
// GUI thread only. Writes are user-interface writes (source 1), numbers go
// out as signed 32-bit values, texts as strings.
#pragma once

#include "device/layouts/dev_summarypaths.h"
#include "device/memory/dev_result.h"
#include "device/memory/dev_subscribe.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

namespace JLIB {
class JVariant;
}

namespace Quil {

class QuilObject;

// What a Received flag holds once read.
enum class HandshakeReply { None, Reply, Failed };

// The size of a summary as the unit reported it.
struct SummaryCount {
    int32_t count = 0;
    int32_t start = 0;
};

// No list is fetched beyond this many lines.
constexpr uint32_t kSummaryLineLimit = 1000;

class DevLogHandshake : public QObject {
    Q_OBJECT

public:
    static constexpr int kReceiveTimeoutMs = 5000;

    explicit DevLogHandshake(QObject* parent = nullptr);

    // DEV_E_FAIL when a core is already set or the given one is null.
    JResult attach(QuilObject* core, int slot);
    QuilObject* core() const { return m_core; }
    int slot() const { return m_slot; }

    bool failed() const { return m_failed; }
    // Stops the time-out, marks the sequence failed and says so.
    void fail();

    // Tests shorten the wait.
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }
    int timeoutMs() const { return m_timeoutMs; }
    bool isWaiting() const { return m_timer.isActive(); }
    void stopTimer() { m_timer.stop(); }

    // Clears both Req and both Received paths of a list, in the order the
    // unit expects them reset.
    JResult resetLists(const SummaryPaths* const* lists, int count);
    // Notifications of `path` call fn (a member function of the context,
    // or any callable) in the context's thread; DEV_E_FAIL without a unit.
    template <class Context, class Fn> JResult subscribe(const char* path, Context* context, Fn fn)
    {
        return Quil::subscribe(device(), QString::fromLatin1(path), context, fn);
    }

    JResult writeInt(const char* path, int32_t value);
    JResult writeText(const char* path, const QString& text);
    // Writes that ask the unit for something: the time-out starts when the
    // write succeeds.
    JResult requestInt(const char* path, int32_t value);
    JResult requestText(const char* path, const QString& text);

    JResult readInt(const char* path, int32_t* out);
    JResult readText(const char* path, QString* out);

    // Reads a Received flag. 1: the time-out stops, the flag is cleared and
    // the result is Reply; -1: Failed; anything else (or a failed read):
    // None.
    HandshakeReply takeReply(const char* receivedPath);
    // takeReply for a dialog's Received slot: true when a reply is there to
    // read; a -1 fails the sequence. Nothing happens without a core or once
    // the sequence has failed.
    bool acceptReply(const char* receivedPath);
    // The count and first index of a list; counts above `limit` (as
    // unsigned, so negative ones too) become `limit`, and a limit of 0 takes
    // the count as it stands.
    JResult readCount(const SummaryPaths& list, uint32_t limit, SummaryCount* out);

signals:
    void timedOut();
    void sequenceFailed();

private:
    // The slot's unit, or null.
    IZDev* device() const;
    JResult read(const char* path, JLIB::JVariant* value);
    JResult startWaiting(JResult written);

    QuilObject* m_core = nullptr;
    int m_slot = 0;
    bool m_failed = false;
    int m_timeoutMs = kReceiveTimeoutMs;
    QTimer m_timer;
};

// (index - start + 1) x 100 / count in unsigned arithmetic, as the progress
// texts show it; 0 for a count of 0.
uint32_t handshakePercent(int32_t index, int32_t start, int32_t count);
// Whether `index` is the last of `count` items from `start`, in 64 bits so
// no start or count from the unit can wrap the comparison.
bool handshakeIsLast(int32_t index, int32_t start, int32_t count);

} // namespace Quil
