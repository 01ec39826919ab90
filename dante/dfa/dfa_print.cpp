// The agent's print function: progress to standard output, "[ERROR]" lines
// to standard error, each flushed.
#include "dante/dfa/dfa_internal.h"
#include "dante/support/aud_printf.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
std::atomic<int> g_level{2};
}

void dfa_set_print_level(int level)
{
    g_level.store(level);
}

int dfa_print_level()
{
    return g_level.load();
}

void dfa_print(const char* format, ...)
{
    const int level = g_level.load();
    if (level <= 0 || format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    char* text = nullptr;
    const int length = aud_vasprintf(&text, format, args);
    va_end(args);
    if (length < 0)
        return;
    const std::unique_ptr<char, decltype(&free)> owner(text, &free);
    const bool error = std::strstr(text, "[ERROR]") != nullptr;
    if (!error && level < 2)
        return;
    FILE* stream = error ? stderr : stdout;
    std::fwrite(text, 1, static_cast<size_t>(length), stream);
    std::fflush(stream);
}
