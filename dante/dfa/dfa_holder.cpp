// Holder area and the full path of a .dnt slot.
#include "dante/dfa/dfa_holder.h"
#include "dante/dfa/dfa_mutex.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>

namespace {

struct Slot {
    char16_t file[DFA_DNT_NAME_CHARS];
    uint8_t model_id[DFA_MODEL_ID_SIZE];
};

struct HolderArea {
    DfaSettings settings;
    Slot slots[DFA_DNT_SLOTS];
    DfaOverride override_record;
};

HolderArea g_area{};
// Read by the front's thread while the agent's task makes or closes it.
std::atomic<uint16_t> g_mutex{0};

bool isSeparator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

// Length of a text stored in an area of `count` units; count when the area
// holds no terminator.
size_t boundedLength(const char16_t* text, size_t count)
{
    return static_cast<size_t>(std::find(text, text + count, u'\0') - text);
}

template <class T> bool allZero(const T& record)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&record);
    return std::all_of(bytes, bytes + sizeof record, [](uint8_t b) { return b == 0; });
}

// Runs op on the area with the holder mutex held.
template <class Op> DfaStatus withArea(Op&& op)
{
    const DfaMutexLock lock(g_mutex.load());
    if (!lock.ok())
        return lock.status();
    return op(g_area);
}

DfaStatus checkSlot(uint8_t slot)
{
    return slot < DFA_DNT_SLOTS ? DFA_OK : dfa_reason(DFA_REASON_RANGE);
}

} // namespace

DfaStatus dfa_holder_init()
{
    if (g_mutex.load() != 0)
        return dfa_reason(DFA_REASON_BUSY);
    g_area = HolderArea{};
    const uint16_t mutex = dfa_mutex_create();
    if (mutex == 0)
        return dfa_reason(DFA_REASON_OS);
    g_mutex.store(mutex);
    return DFA_OK;
}

void dfa_holder_terminate()
{
    const uint16_t mutex = g_mutex.exchange(0);
    if (mutex == 0)
        return;
    {
        const DfaMutexLock lock(mutex);
        g_area = HolderArea{};
    }
    dfa_mutex_close(mutex);
}

DfaStatus dfa_holder_set_settings(const DfaSettings* settings)
{
    if (settings == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    DfaSettings copy;
    std::memcpy(&copy, settings, sizeof copy);
    const size_t length = boundedLength(copy.dnt_dir, DFA_DNT_NAME_CHARS);
    if (length >= DFA_DNT_NAME_CHARS)
        return dfa_reason(DFA_REASON_PATH_TOO_LONG);
    if (length > 0 && length < DFA_DNT_NAME_CHARS - 1 && !isSeparator(copy.dnt_dir[length - 1])) {
        copy.dnt_dir[length] = u'/';
        copy.dnt_dir[length + 1] = u'\0';
    }
    return withArea([&](HolderArea& area) {
        area.settings = copy;
        return DFA_OK;
    });
}

DfaStatus dfa_holder_get_settings(DfaSettings* out)
{
    if (out == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    return withArea([&](HolderArea& area) {
        *out = area.settings;
        return DFA_OK;
    });
}

DfaStatus dfa_holder_set_file_name(uint8_t slot, const char16_t* name)
{
    if (name == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    if (const DfaStatus s = checkSlot(slot); s != DFA_OK)
        return s;
    const size_t length = boundedLength(name, DFA_DNT_NAME_CHARS);
    if (length >= DFA_DNT_NAME_CHARS)
        return dfa_reason(DFA_REASON_PATH_TOO_LONG);
    return withArea([&](HolderArea& area) {
        std::fill(std::begin(area.slots[slot].file), std::end(area.slots[slot].file), u'\0');
        std::copy(name, name + length, area.slots[slot].file);
        return DFA_OK;
    });
}

DfaStatus dfa_holder_get_file_name(uint8_t slot, char16_t (*out)[DFA_DNT_NAME_CHARS])
{
    if (out == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    if (const DfaStatus s = checkSlot(slot); s != DFA_OK)
        return s;
    return withArea([&](HolderArea& area) {
        std::copy(std::begin(area.slots[slot].file), std::end(area.slots[slot].file), *out);
        return DFA_OK;
    });
}

DfaStatus dfa_holder_set_model_id(uint8_t slot, const uint8_t* model_id)
{
    if (model_id == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    if (const DfaStatus s = checkSlot(slot); s != DFA_OK)
        return s;
    return withArea([&](HolderArea& area) {
        std::memcpy(area.slots[slot].model_id, model_id, DFA_MODEL_ID_SIZE);
        return DFA_OK;
    });
}

DfaStatus dfa_holder_get_model_id(uint8_t slot, uint8_t* out)
{
    if (out == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    if (const DfaStatus s = checkSlot(slot); s != DFA_OK)
        return s;
    return withArea([&](HolderArea& area) {
        std::memcpy(out, area.slots[slot].model_id, DFA_MODEL_ID_SIZE);
        return DFA_OK;
    });
}

DfaStatus dfa_holder_set_override(const DfaOverride* record)
{
    if (record == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    return withArea([&](HolderArea& area) {
        std::memcpy(&area.override_record, record, sizeof area.override_record);
        return DFA_OK;
    });
}

DfaStatus dfa_holder_get_override(DfaOverride* out)
{
    if (out == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    return withArea([&](HolderArea& area) {
        *out = area.override_record;
        return DFA_OK;
    });
}

DfaStatus dfa_holder_get_dnt_path(char16_t* path, size_t capacity, uint8_t slot)
{
    if (path == nullptr)
        return dfa_reason(DFA_REASON_MISSING);
    if (const DfaStatus s = checkSlot(slot); s != DFA_OK)
        return s;
    DfaSettings settings;
    Slot entry;
    const DfaStatus copied = withArea([&](HolderArea& area) {
        settings = area.settings;
        entry = area.slots[slot];
        return DFA_OK;
    });
    if (copied != DFA_OK)
        return copied;

    const size_t folderLength = boundedLength(settings.dnt_dir, DFA_DNT_NAME_CHARS);
    const bool useFolder = !allZero(settings) && folderLength > 0;
    const size_t fileLength = boundedLength(entry.file, DFA_DNT_NAME_CHARS);
    if (fileLength == 0)
        return dfa_reason(DFA_REASON_NO_STATUS);

    const char16_t* file = entry.file;
    size_t fileUsed = fileLength;
    size_t length = fileLength;
    bool addSeparator = false;
    if (useFolder) {
        // The folder always counts; the separator only when it is added.
        addSeparator = !isSeparator(settings.dnt_dir[folderLength - 1]);
        length += folderLength + (addSeparator ? 1 : 0);
        if (isSeparator(file[0])) {
            ++file;
            --fileUsed;
            --length;
        }
    }
    if (capacity < length + 1)
        return dfa_reason(DFA_REASON_PATH_TOO_LONG);

    char16_t* out = path;
    if (useFolder) {
        out = std::copy(settings.dnt_dir, settings.dnt_dir + folderLength, out);
        if (addSeparator)
            *out++ = u'/';
    }
    out = std::copy(file, file + fileUsed, out);
    *out = u'\0';
    return DFA_OK;
}
