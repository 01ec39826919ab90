#include "dante/support/aud_interface.h"

#include "dante/support/aud_env.h"
#include "dante/support/aud_log.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

std::mutex g_providerLock;
const aud_interface_provider* g_provider = nullptr; // null: the Linux one

aud_interface_provider currentProvider()
{
    std::lock_guard<std::mutex> hold(g_providerLock);
    return g_provider ? *g_provider : aud_interface_linux_provider(nullptr);
}

aud_error build(aud_log_state* log, aud_interface** entries, size_t* count)
{
    if (!entries || !count)
        return AUD_INVALIDPARAMETER;
    *entries = nullptr;
    *count = 0;
    const aud_interface_provider provider = currentProvider();
    std::vector<aud_interface> list;
    const aud_error e = provider.list(provider.context, log, &list);
    if (e != AUD_SUCCESS)
        return e;
    std::stable_sort(list.begin(), list.end(), [](const aud_interface& a, const aud_interface& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.index < b.index;
    });
    if (list.empty())
        return AUD_SUCCESS;
    auto* out = static_cast<aud_interface*>(calloc(list.size(), sizeof(aud_interface)));
    if (!out)
        return AUD_NOMEMORY;
    memcpy(out, list.data(), list.size() * sizeof(aud_interface));
    *entries = out;
    *count = list.size();
    return AUD_SUCCESS;
}

template <typename Pred> aud_error findFirst(aud_interface* out, Pred pred)
{
    aud_interface* entries = nullptr;
    size_t count = 0;
    aud_error e = build(nullptr, &entries, &count);
    if (e != AUD_SUCCESS)
        return e;
    e = AUD_NOTFOUND;
    for (size_t i = 0; i < count; ++i) {
        if (pred(entries[i])) {
            if (out)
                *out = entries[i];
            e = AUD_SUCCESS;
            break;
        }
    }
    aud_interface_list_free(entries);
    return e;
}

} // namespace

aud_error aud_interface_list_with_env(aud_env* env, aud_interface** entries, size_t* count)
{
    return build(env ? aud_env_log(env) : nullptr, entries, count);
}

aud_error aud_interface_list(aud_interface** entries, size_t* count)
{
    return build(nullptr, entries, count);
}

void aud_interface_list_free(aud_interface* entries)
{
    free(entries);
}

aud_error aud_interface_find_by_index(uint32_t index, aud_interface* out)
{
    return findFirst(out, [index](const aud_interface& i) { return i.index == index; });
}

aud_error aud_interface_find_loopback(aud_interface* out)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    return findFirst(out, [](const aud_interface& i) { return i.loopback != 0; });
}

void aud_interface_set_provider(const aud_interface_provider* provider)
{
    std::lock_guard<std::mutex> hold(g_providerLock);
    g_provider = provider;
}

aud_error aud_interface_fixed_list(void* context, aud_log_state*, std::vector<aud_interface>* out)
{
    if (!context || !out)
        return AUD_INVALIDPARAMETER;
    const auto* fixed = static_cast<const std::vector<aud_interface>*>(context);
    out->insert(out->end(), fixed->begin(), fixed->end());
    return AUD_SUCCESS;
}
