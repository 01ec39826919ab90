#include "device/memory/dev_subscribe.h"

#include <algorithm>

namespace Quil {

namespace {

// The relays' own signatures: the only slot texts handed to IZDev.
const char* const kChangedSlot = SLOT(changed());
const char* const kMeterSlot = SLOT(meterData(uint8_t, uint8_t));

// The relay, or null when there is none to keep: a refused connection
// deletes it again.
SubscriptionRelay* kept(SubscriptionRelay* relay, JResult result, JResult* out)
{
    *out = result;
    if (result >= 0)
        return relay;
    delete relay;
    return nullptr;
}

} // namespace

SubscriptionRelay::SubscriptionRelay(QObject* context, ChangeFn changed)
    : QObject(context)
    , m_changed(std::move(changed))
{
}

SubscriptionRelay::SubscriptionRelay(QObject* context, MeterFn meter)
    : QObject(context)
    , m_meter(std::move(meter))
{
}

SubscriptionRelay* SubscriptionRelay::subscribe(
    IZDev* accessor, const QString& path, QObject* context, ChangeFn fn, JResult* result)
{
    *result = DEV_E_FAIL;
    if (!accessor || !context || !fn)
        return nullptr;
    auto* relay = new SubscriptionRelay(context, std::move(fn));
    return kept(relay, accessor->subscribe(path, relay, SUBSCRIBE_KEY, kChangedSlot), result);
}

SubscriptionRelay* SubscriptionRelay::connectMeter(
    IZDev* accessor, const QString& meter, uint32_t channel, QObject* context, MeterFn fn, JResult* result)
{
    *result = DEV_E_FAIL;
    if (!accessor || !context || !fn)
        return nullptr;
    auto* relay = new SubscriptionRelay(context, std::move(fn));
    return kept(relay, accessor->connectMeter(meter, channel, relay, kMeterSlot), result);
}

void SubscriptionRelay::changed()
{
    m_changed();
}

void SubscriptionRelay::meterData(uint8_t peak, uint8_t data)
{
    m_meter(peak, data);
}

void Subscriptions::keep(SubscriptionRelay* relay, IZDev* accessor, const QString& path)
{
    if (relay)
        m_entries.push_back({relay, accessor, path});
}

void Subscriptions::clear()
{
    for (const Entry& entry : m_entries) {
        if (entry.relay && entry.accessor)
            entry.accessor->unsubscribe(entry.path, entry.relay, SUBSCRIBE_KEY, kChangedSlot);
    }
    drop();
}

void Subscriptions::drop()
{
    for (const Entry& entry : m_entries)
        delete entry.relay.data();
    m_entries.clear();
}

bool Subscriptions::empty() const
{
    return std::none_of(m_entries.begin(), m_entries.end(), [](const Entry& e) { return !e.relay.isNull(); });
}

} // namespace Quil
