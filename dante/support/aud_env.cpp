#include "dante/support/aud_env.h"

#include "dante/support/aud_log.h"
#include "dante/support/aud_platform.h"

#include <mutex>

struct aud_env {
    aud_log_state* log = nullptr;
    aud_event_loop* loop = nullptr; // never filled here
    uint32_t references = 0;
    uint32_t flags = 0;
    aud_clock_fn clock = nullptr;
    void* clockContext = nullptr;
};

namespace {

std::mutex g_envLock;
aud_env g_env;

} // namespace

aud_error aud_env_setup(aud_env** out)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    std::lock_guard<std::mutex> hold(g_envLock);
    if (g_env.references == 0) {
        aud_platform_start(); // its outcome does not decide the set-up
        const aud_error e = aud_log_new(&g_env.log);
        if (e != AUD_SUCCESS)
            return e;
        g_env.flags |= AUD_ENV_FLAG_OWNS_LOG;
    }
    ++g_env.references;
    *out = &g_env;
    return AUD_SUCCESS;
}

aud_error aud_env_release(aud_env* env)
{
    if (!env)
        return AUD_SUCCESS;
    std::lock_guard<std::mutex> hold(g_envLock);
    if (env->references == 0)
        return AUD_INVALIDSTATE;
    if (--env->references > 0)
        return AUD_SUCCESS;
    if (env->flags & AUD_ENV_FLAG_OWNS_LOG)
        aud_log_free(env->log);
    env->log = nullptr;
    env->flags &= ~AUD_ENV_FLAG_OWNS_LOG;
    env->clock = nullptr;
    env->clockContext = nullptr;
    return AUD_SUCCESS;
}

uint32_t aud_env_references(const aud_env* env)
{
    if (!env)
        return 0;
    std::lock_guard<std::mutex> hold(g_envLock);
    return env->references;
}

uint32_t aud_env_flags(const aud_env* env)
{
    if (!env)
        return 0;
    std::lock_guard<std::mutex> hold(g_envLock);
    return env->flags;
}

aud_log_state* aud_env_log(const aud_env* env)
{
    return env ? env->log : nullptr;
}

aud_event_loop* aud_env_event_loop(const aud_env* env)
{
    return env ? env->loop : nullptr;
}

aud_error aud_env_set_clock(aud_env* env, aud_clock_fn fn, void* context)
{
    if (!env)
        return AUD_INVALIDPARAMETER;
    env->clock = fn;
    env->clockContext = fn ? context : nullptr;
    return AUD_SUCCESS;
}

aud_error aud_env_clock(const aud_env* env, aud_time* out)
{
    if (!out)
        return AUD_INVALIDPARAMETER;
    if (env && env->clock)
        return env->clock(env->clockContext, out);
    return aud_clock_monotonic(out);
}
