// Typed subscriptions to a unit's memory. A change of one element, or new
// data of one meter channel, calls a function object (or a member function
// of the context) in the context's thread, as long as the context lives and
// the subscription is not cleared. The signal and slot texts IZDev takes
// are spelt here only.
//
// Each subscription is a small relay object owned by its context; when the
// relay goes, Qt drops its connection. Only an explicit clear() of a
// Subscriptions set calls its accessor again (to unsubscribe): a context or
// a set that is destroyed never does, so either may outlive the unit it
// listened to.
//
// GUI thread (the context's thread) only; the notifications themselves may
// come from the unit's connection thread.
#pragma once

#include "device/memory/dev_izdev.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>
#include <vector>

namespace Quil {

using ChangeFn = std::function<void()>;
using MeterFn = std::function<void(uint8_t peak, uint8_t data)>;

class SubscriptionRelay : public QObject {
    Q_OBJECT

public:
    SubscriptionRelay(QObject* context, ChangeFn changed);
    SubscriptionRelay(QObject* context, MeterFn meter);

    // The relay of a new subscription, or null with the refusal in *result.
    static SubscriptionRelay* subscribe(
        IZDev* accessor, const QString& path, QObject* context, ChangeFn fn, JResult* result);
    static SubscriptionRelay* connectMeter(
        IZDev* accessor, const QString& meter, uint32_t channel, QObject* context, MeterFn fn, JResult* result);

private slots:
    void changed();
    void meterData(uint8_t peak, uint8_t data);

private:
    const ChangeFn m_changed;
    const MeterFn m_meter;
};

namespace detail {

// A member function of the context, or any callable, as a plain function.
template <class Context, class Fn, class... Args> auto callbackOf(Context* context, Fn fn)
{
    if constexpr (std::is_member_function_pointer_v<Fn>)
        return [context, fn](Args... args) { (context->*fn)(args...); };
    else
        return fn;
}

} // namespace detail

// fn() after every change of the element at `path` (listener key
// SUBSCRIBE_KEY), queued into the context's thread; fn may be a member
// function of the context. Lasts until the context goes. DEV_E_FAIL without
// accessor or context, or when the unit refuses.
template <class Context, class Fn> JResult subscribe(IZDev* accessor, const QString& path, Context* context, Fn fn)
{
    JResult result = DEV_E_FAIL;
    SubscriptionRelay::subscribe(accessor, path, context, ChangeFn(detail::callbackOf(context, fn)), &result);
    return result;
}

// fn(peak, data) for every new data of one channel of a meter
// ("Dev/InputLevel"), in the context's thread; until the context goes.
template <class Context, class Fn>
JResult connectMeter(IZDev* accessor, const QString& meter, uint32_t channel, Context* context, Fn fn)
{
    JResult result = DEV_E_FAIL;
    SubscriptionRelay::connectMeter(accessor, meter, channel, context,
        MeterFn(detail::callbackOf<Context, Fn, uint8_t, uint8_t>(context, fn)), &result);
    return result;
}

// The subscriptions one owner made and drops together, so binding again
// first ends the old ones and handlers never multiply.
class Subscriptions {
public:
    Subscriptions() = default;
    Subscriptions(const Subscriptions&) = delete;
    Subscriptions& operator=(const Subscriptions&) = delete;

    // Destroying the set ends what it holds without calling the accessors.
    ~Subscriptions() { drop(); }

    template <class Context, class Fn> JResult add(IZDev* accessor, const QString& path, Context* context, Fn fn)
    {
        JResult result = DEV_E_FAIL;
        keep(SubscriptionRelay::subscribe(accessor, path, context, ChangeFn(detail::callbackOf(context, fn)), &result),
            accessor, path);
        return result;
    }
    template <class Context, class Fn>
    JResult addMeter(IZDev* accessor, const QString& meter, uint32_t channel, Context* context, Fn fn)
    {
        JResult result = DEV_E_FAIL;
        keep(SubscriptionRelay::connectMeter(accessor, meter, channel, context,
                 MeterFn(detail::callbackOf<Context, Fn, uint8_t, uint8_t>(context, fn)), &result),
            nullptr, meter);
        return result;
    }
    // Unsubscribes every change subscription held from its accessor, which
    // must still be there, and ends every meter subscription; those whose
    // context went already are skipped.
    void clear();
    bool empty() const;

private:
    struct Entry {
        QPointer<SubscriptionRelay> relay;
        IZDev* accessor; // null for a meter
        QString path;
    };
    void keep(SubscriptionRelay* relay, IZDev* accessor, const QString& path);
    void drop();

    std::vector<Entry> m_entries;
};

} // namespace Quil
