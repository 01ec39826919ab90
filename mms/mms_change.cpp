#include "mms/mms_change.h"
#include "mms/mms_image.h"

#include "mms/mms_paramtype.h"
#include "mms/mms_wrap.h"

#include <cstring>

namespace MMS {

namespace T = TaskItemLayout;

namespace {

uint32_t align4(uint64_t n)
{
    return static_cast<uint32_t>((n + 3) & ~uint64_t{3});
}

// List memory taken from elsewhere must link its items forward in memory
// order and keep every record inside the used part, so no walk can loop or
// read past it.
bool linksSound(const uint8_t* memory, uint32_t size)
{
    if (size < TASK_LIST_HEAD_SIZE)
        return false;
    const uint32_t used = imageLoad32(memory + 4);
    if (used < TASK_LIST_HEAD_SIZE || used > size)
        return false;
    uint64_t previous = 0;
    for (uint64_t item = imageLoad32(memory + 0); item != 0; item = imageLoad32(memory + item + T::NEXT)) {
        if (item < TASK_LIST_HEAD_SIZE || item <= previous || item + T::SIZE > used)
            return false;
        const uint64_t keyRecord = imageLoad32(memory + item + T::KEY_RECORD);
        if (keyRecord + T::KEY_RECORD_SIZE > used)
            return false;
        previous = item;
    }
    return true;
}

} // namespace

// --- Selectors ----------------------------------------------------------------

uint8_t* TaskItemList::PageSelector::select(const TaskItemList& list, uint32_t item) const
{
    return list.itemPage(item);
}

uint8_t* TaskItemList::ImportFlagSelector::select(const TaskItemList& list, uint32_t item) const
{
    return list.itemImportFlags(item);
}

uint8_t* TaskItemList::ImportSearcherSelector::select(const TaskItemList& list, uint32_t item) const
{
    return list.itemImportSearch(item);
}

// --- List memory --------------------------------------------------------------

TaskItemList::~TaskItemList()
{
    if (m_owned && m_base != nullptr && m_wrapper != nullptr)
        m_wrapper->free(m_base);
}

uint32_t TaskItemList::word(uint32_t at) const
{
    uint32_t v;
    std::memcpy(&v, m_base + at, 4);
    return v;
}

void TaskItemList::setWord(uint32_t at, uint32_t value)
{
    std::memcpy(m_base + at, &value, 4);
}

uint32_t TaskItemList::size() const
{
    return m_base == nullptr ? 0 : word(4);
}

JResult TaskItemList::create(SharedMemWrapper* wrapper)
{
    if (wrapper == nullptr)
        return MMS_E_INNER;
    if (m_base != nullptr)
        return MMS_E_EXISTS;
    auto* head = static_cast<uint8_t*>(wrapper->allocate(TASK_LIST_HEAD_SIZE));
    if (head == nullptr)
        return MMS_E_MEMORY;
    std::memset(head, 0, TASK_LIST_HEAD_SIZE);
    m_base = head;
    m_capacity = TASK_LIST_HEAD_SIZE;
    m_owned = true;
    m_wrapper = wrapper;
    setWord(4, TASK_LIST_HEAD_SIZE);
    return MMS_OK;
}

JResult TaskItemList::adopt(uint8_t* memory, uint32_t size)
{
    if (memory == nullptr || !linksSound(memory, size))
        return MMS_E_ARG;
    release(m_wrapper);
    m_base = memory;
    m_capacity = size;
    m_owned = false;
    m_wrapper = nullptr;
    return MMS_OK;
}

JResult TaskItemList::copyFrom(SharedMemWrapper* wrapper, const uint8_t* memory, uint32_t size)
{
    if (wrapper == nullptr)
        return MMS_E_INNER;
    if (memory == nullptr || !linksSound(memory, size))
        return MMS_E_ARG;
    const uint32_t used = imageLoad32(memory + 4);
    auto* block = static_cast<uint8_t*>(wrapper->allocate(used));
    if (block == nullptr)
        return MMS_E_MEMORY;
    std::memcpy(block, memory, used);
    release(m_wrapper);
    m_base = block;
    m_capacity = used;
    m_owned = true;
    m_wrapper = wrapper;
    return MMS_OK;
}

JResult TaskItemList::setSizes(uint32_t pageSize, uint32_t importSize)
{
    if (pageSize == 0)
        return MMS_E_ARG;
    // Items already present (adopted or copied) must hold their pages and
    // arrays inside the used part, with the cursors on their own pages.
    const uint64_t used = size();
    for (uint32_t item = firstItem(); item != 0; item = nextItem(item)) {
        const uint64_t pages = word(item + T::PAGES);
        const uint64_t end = pages + uint64_t{word(item + T::PAGE_COUNT)} * pageSize;
        if (word(item + T::PAGE_COUNT) == 0 || end > used)
            return MMS_E_ARG;
        for (uint32_t cursor : {T::FIRST_CURSOR, T::SECOND_CURSOR}) {
            const uint64_t at = word(item + cursor);
            if (at < pages || at >= end || (at - pages) % pageSize != 0)
                return MMS_E_ARG;
        }
        for (uint32_t array : {T::IMPORT_FLAGS, T::IMPORT_SEARCH}) {
            const uint64_t at = word(item + array);
            if ((at == 0) != (importSize == 0) || at + importSize > used)
                return MMS_E_ARG;
        }
    }
    m_pageSize = pageSize;
    m_importSize = importSize;
    m_listArray.assign(pageSize, 0);
    return MMS_OK;
}

// Room for `more` bytes after the used part; an adopted memory is copied into
// an owned one first.
JResult TaskItemList::reserve(SharedMemWrapper* wrapper, uint32_t more)
{
    const uint64_t need = static_cast<uint64_t>(size()) + more;
    if (need > 0xFFFFFFF0u)
        return MMS_E_ARG;
    if (need <= m_capacity && m_owned)
        return MMS_OK;
    uint64_t grown = m_capacity * uint64_t{2};
    if (grown < need)
        grown = need;
    if (grown > 0xFFFFFFF0u)
        grown = need;
    auto* block = static_cast<uint8_t*>(wrapper->allocate(static_cast<size_t>(grown)));
    if (block == nullptr)
        return MMS_E_MEMORY;
    std::memset(block, 0, static_cast<size_t>(grown));
    std::memcpy(block, m_base, size());
    if (m_owned && m_wrapper != nullptr)
        m_wrapper->free(m_base);
    m_base = block;
    m_capacity = static_cast<uint32_t>(grown);
    m_owned = true;
    m_wrapper = wrapper;
    return MMS_OK;
}

uint32_t TaskItemList::firstItem() const
{
    return m_base == nullptr ? 0 : word(0);
}

uint32_t TaskItemList::nextItem(uint32_t item) const
{
    return word(item + T::NEXT);
}

uint32_t TaskItemList::itemKey(uint32_t item) const
{
    return word(word(item + T::KEY_RECORD) + 4);
}

uint32_t TaskItemList::itemMask(uint32_t item) const
{
    return word(item + T::MASK);
}

uint8_t* TaskItemList::itemPage(uint32_t item) const
{
    return m_base + word(item + T::SECOND_CURSOR);
}

uint8_t* TaskItemList::itemImportFlags(uint32_t item) const
{
    const uint32_t at = word(item + T::IMPORT_FLAGS);
    return at == 0 ? nullptr : m_base + at;
}

uint8_t* TaskItemList::itemImportSearch(uint32_t item) const
{
    const uint32_t at = word(item + T::IMPORT_SEARCH);
    return at == 0 ? nullptr : m_base + at;
}

uint32_t TaskItemList::find(uint32_t key) const
{
    // Bounded by the items that fit in the list memory.
    uint32_t steps = size() / T::SIZE + 1;
    for (uint32_t item = firstItem(); item != 0 && steps-- > 0; item = nextItem(item)) {
        if (itemKey(item) == key)
            return item;
    }
    return 0;
}

uint8_t* TaskItemList::page(uint32_t key) const
{
    const uint32_t item = find(key);
    return item == 0 ? nullptr : itemPage(item);
}

uint8_t* TaskItemList::importFlags(uint32_t key) const
{
    const uint32_t item = find(key);
    return item == 0 ? nullptr : itemImportFlags(item);
}

uint8_t* TaskItemList::importSearch(uint32_t key) const
{
    const uint32_t item = find(key);
    return item == 0 ? nullptr : itemImportSearch(item);
}

uint32_t TaskItemList::referenceCount(uint32_t key) const
{
    const uint32_t item = find(key);
    if (item == 0)
        return 0;
    uint16_t n;
    std::memcpy(&n, m_base + item + T::REFERENCES, 2);
    return n;
}

int TaskItemList::firstCursorIndex(uint32_t key) const
{
    const uint32_t item = find(key);
    if (item == 0)
        return -1;
    return static_cast<int>((word(item + T::FIRST_CURSOR) - word(item + T::PAGES)) / m_pageSize);
}

int TaskItemList::secondCursorIndex(uint32_t key) const
{
    const uint32_t item = find(key);
    if (item == 0)
        return -1;
    return static_cast<int>((word(item + T::SECOND_CURSOR) - word(item + T::PAGES)) / m_pageSize);
}

JResult TaskItemList::addKey(SharedMemWrapper* wrapper, uint32_t mask, uint32_t key, uint32_t pageCount)
{
    if (m_base == nullptr || pageCount == 0 || m_pageSize == 0)
        return MMS_E_ARG;
    const uint32_t existing = find(key);
    if (existing != 0) {
        uint16_t n;
        std::memcpy(&n, m_base + existing + T::REFERENCES, 2);
        if (n == 0xFFFF)
            return MMS_E_ARG;
        ++n;
        std::memcpy(m_base + existing + T::REFERENCES, &n, 2);
        return MMS_OK;
    }
    if (wrapper == nullptr)
        return MMS_E_INNER;
    // One chunk: item, key record, pages, import flags, import search.
    const uint64_t pages = static_cast<uint64_t>(pageCount) * m_pageSize;
    const uint64_t chunk = T::SIZE + T::KEY_RECORD_SIZE + align4(pages) + 2 * uint64_t{align4(m_importSize)};
    if (chunk > 0x7FFFFFFFu)
        return MMS_E_ARG;
    const JResult r = reserve(wrapper, static_cast<uint32_t>(chunk));
    if (r < 0)
        return r;

    const uint32_t item = size();
    std::memset(m_base + item, 0, static_cast<size_t>(chunk));
    const uint32_t keyRecord = item + T::SIZE;
    const uint32_t pageRing = keyRecord + T::KEY_RECORD_SIZE;
    const uint32_t flags = pageRing + align4(pages);
    setWord(keyRecord + 4, key);
    setWord(item + T::PAGES, pageRing);
    setWord(item + T::PAGE_COUNT, pageCount);
    setWord(item + T::FIRST_CURSOR, pageRing);
    setWord(item + T::SECOND_CURSOR, pageRing);
    setWord(item + T::KEY_RECORD, keyRecord);
    setWord(item + T::MASK, mask);
    const uint16_t one = 1;
    std::memcpy(m_base + item + T::REFERENCES, &one, 2);
    if (m_importSize != 0) {
        setWord(item + T::IMPORT_FLAGS, flags);
        setWord(item + T::IMPORT_SEARCH, flags + align4(m_importSize));
    }
    // Append at the tail.
    uint32_t last = 0;
    for (uint32_t i = firstItem(); i != 0; i = nextItem(i))
        last = i;
    setWord(item + T::PREVIOUS, last);
    if (last == 0)
        setWord(0, item);
    else
        setWord(last + T::NEXT, item);
    setWord(4, static_cast<uint32_t>(item + chunk));
    return MMS_OK;
}

// Takes a chunk out of the list memory and moves every later offset down.
void TaskItemList::removeChunk(uint32_t start, uint32_t length)
{
    const uint32_t used = size();
    std::memmove(m_base + start, m_base + start + length, used - start - length);
    setWord(4, used - length);
    auto fix = [&](uint32_t at) {
        const uint32_t v = word(at);
        if (v > start)
            setWord(at, v - length);
    };
    fix(0);
    for (uint32_t item = firstItem(); item != 0; item = nextItem(item)) {
        for (uint32_t field : {T::PREVIOUS, T::NEXT, T::PAGES, T::FIRST_CURSOR, T::SECOND_CURSOR, T::KEY_RECORD,
                 T::IMPORT_FLAGS, T::IMPORT_SEARCH})
            fix(item + field);
    }
}

JResult TaskItemList::releaseKey(SharedMemWrapper* wrapper, uint32_t key)
{
    const uint32_t item = find(key);
    if (item == 0)
        return MMS_OK;
    uint16_t n;
    std::memcpy(&n, m_base + item + T::REFERENCES, 2);
    if (n > 1) {
        --n;
        std::memcpy(m_base + item + T::REFERENCES, &n, 2);
        return MMS_OK;
    }
    if (!m_owned) {
        // Adopted memory stays as the image left it; work on a copy.
        if (wrapper == nullptr)
            return MMS_E_INNER;
        const JResult r = reserve(wrapper, 0);
        if (r < 0)
            return r;
    }
    const uint32_t previous = word(item + T::PREVIOUS);
    const uint32_t next = word(item + T::NEXT);
    if (previous == 0)
        setWord(0, next);
    else
        setWord(previous + T::NEXT, next);
    if (next != 0)
        setWord(next + T::PREVIOUS, previous);
    // The chunk runs to the next chunk in memory, or to the end of the used part.
    uint32_t end = size();
    for (uint32_t i = firstItem(); i != 0; i = nextItem(i)) {
        if (i > item && i < end)
            end = i;
    }
    removeChunk(item, end - item);
    return MMS_OK;
}

void TaskItemList::release(SharedMemWrapper* wrapper)
{
    if (m_base != nullptr && m_owned) {
        SharedMemWrapper* w = wrapper != nullptr ? wrapper : m_wrapper;
        if (w != nullptr)
            w->free(m_base);
    }
    m_base = nullptr;
    m_capacity = 0;
    m_owned = false;
    m_wrapper = nullptr;
}

JResult TaskItemList::fillPage(uint32_t key, uint8_t value)
{
    uint8_t* p = page(key);
    if (p == nullptr)
        return MMS_E_ARG;
    std::memset(p, value, m_pageSize);
    return MMS_OK;
}

JResult TaskItemList::markAll(uint32_t key)
{
    return fillPage(key, 0xFF);
}

JResult TaskItemList::clearAll(uint32_t key)
{
    return fillPage(key, 0);
}

JResult TaskItemList::advance(uint32_t key, uint32_t cursorField)
{
    const uint32_t item = find(key);
    if (item == 0)
        return MMS_E_NO_MATCH;
    const uint32_t pages = word(item + T::PAGES);
    const uint32_t count = word(item + T::PAGE_COUNT);
    const uint32_t index = (word(item + cursorField) - pages) / m_pageSize;
    setWord(item + cursorField, index + 1 < count ? pages + (index + 1) * m_pageSize : pages);
    return MMS_OK;
}

JResult TaskItemList::advanceFirstCursor(uint32_t key)
{
    return advance(key, T::FIRST_CURSOR);
}

JResult TaskItemList::advanceSecondCursor(uint32_t key)
{
    return advance(key, T::SECOND_CURSOR);
}

TaskListIdentity TaskItemList::identity() const
{
    TaskListIdentity id;
    id.base = m_base;
    const uint32_t first = firstItem();
    id.offset = first == 0 ? 0 : word(first + T::KEY_RECORD);
    return id;
}

// --- Marking ----------------------------------------------------------------------

bool DirtyFlagHolder::marks(uint32_t item) const
{
    if ((m_list->itemMask(item) & m_mask) != 0)
        return false;
    return m_own || m_list->itemKey(item) != m_key;
}

void DirtyFlagHolder::markWith(const TaskItemList::IFlagSelector& selector, uint32_t bit)
{
    if (m_list == nullptr || m_list->base() == nullptr)
        return;
    for (uint32_t item = m_list->firstItem(); item != 0; item = m_list->nextItem(item)) {
        if (marks(item))
            mms_setBit(selector.select(*m_list, item), bit);
    }
}

void DirtyFlagHolder::markChange(uint32_t bit)
{
    if (m_list == nullptr)
        return;
    if (m_listArrayFlag)
        mms_setBit(m_list->listArray(), bit);
    markWith(TaskItemList::PageSelector(), bit);
}

void DirtyFlagHolder::markImportFlag(uint32_t bit)
{
    markWith(TaskItemList::ImportFlagSelector(), bit);
}

void DirtyFlagHolder::markImportSearch(uint32_t bit)
{
    markWith(TaskItemList::ImportSearcherSelector(), bit);
}

} // namespace MMS
