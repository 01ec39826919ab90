// Change tracking of one function: a task item per listener key with its
// ring of change pages, two page cursors and two import bit arrays, all kept
// in one block of list memory and linked by offsets from its base, so the
// list can be copied or adopted with the function's image. Sets mark the
// page under each item's second cursor; readers pull the marks later.
#pragma once

#include "mms/mms_dirty.h"
#include "pbd/jlib/jlib_result.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace MMS {

class SharedMemWrapper;

// Which change list a trigger call is about: the list memory base and the
// offset of its first key record (0 when the list is empty).
struct TaskListIdentity {
    const void* base = nullptr;
    uint32_t offset = 0;
};

// Told after every changing call, after activation and removal of a
// function, and for notify-now. The result is ignored.
class IEventFlagTrigger {
public:
    virtual JResult trigger(uint32_t own, uint32_t key, const TaskListIdentity& identity) = 0;
    virtual ~IEventFlagTrigger() = default;
};

// Layout of a task item in list memory (44 bytes; offsets from the list base).
namespace TaskItemLayout {
constexpr uint32_t PREVIOUS = 0;
constexpr uint32_t NEXT = 4;
constexpr uint32_t PAGES = 8;
constexpr uint32_t PAGE_COUNT = 12;
constexpr uint32_t FIRST_CURSOR = 16;
constexpr uint32_t SECOND_CURSOR = 20;
constexpr uint32_t KEY_RECORD = 24;
constexpr uint32_t MASK = 28;
constexpr uint32_t REFERENCES = 32; // 16 bits
constexpr uint32_t IMPORT_FLAGS = 36;
constexpr uint32_t IMPORT_SEARCH = 40;
constexpr uint32_t SIZE = 44;
constexpr uint32_t KEY_RECORD_SIZE = 8; // {reserved word, key}
} // namespace TaskItemLayout

// List memory: an 8-byte head {offset of the first item, bytes in use},
// then the items, each followed by its key record, pages and import arrays.
constexpr uint32_t TASK_LIST_HEAD_SIZE = 8;

class TaskItemList {
public:
    // Gives the bit array of a task item that an operation works on.
    class IFlagSelector {
    public:
        virtual ~IFlagSelector() = default;
        virtual uint8_t* select(const TaskItemList& list, uint32_t item) const = 0;
    };
    // The page under the second cursor (the one sets mark and queries read).
    class PageSelector : public IFlagSelector {
    public:
        uint8_t* select(const TaskItemList& list, uint32_t item) const override;
    };
    class ImportFlagSelector : public IFlagSelector {
    public:
        uint8_t* select(const TaskItemList& list, uint32_t item) const override;
    };
    class ImportSearcherSelector : public IFlagSelector {
    public:
        uint8_t* select(const TaskItemList& list, uint32_t item) const override;
    };

    TaskItemList() = default;
    // An owned list memory is freed through the wrapper it was made with.
    ~TaskItemList();
    TaskItemList(const TaskItemList&) = delete;
    TaskItemList& operator=(const TaskItemList&) = delete;

    // A new, empty list memory (the head) through the wrapper.
    JResult create(SharedMemWrapper* wrapper);
    // Takes list memory from an image (not owned); it is copied before it grows.
    JResult adopt(uint8_t* memory, uint32_t size);
    // A new owned list memory holding a copy of size bytes.
    JResult copyFrom(SharedMemWrapper* wrapper, const uint8_t* memory, uint32_t size);
    // Set once by the layout: page bytes and import-array bytes.
    JResult setSizes(uint32_t pageSize, uint32_t importSize);

    // A new task item, or one more reference to an existing one.
    // MMS_E_ARG for page count 0 or no list; MMS_E_INNER without wrapper;
    // MMS_E_MEMORY when memory can't be had (nothing is left half made).
    JResult addKey(SharedMemWrapper* wrapper, uint32_t mask, uint32_t key, uint32_t pageCount);
    // One reference less; at 0 the item and everything it holds go. 0 for an unknown key.
    JResult releaseKey(SharedMemWrapper* wrapper, uint32_t key);
    // Every item whatever its count; an owned list memory is freed.
    void release(SharedMemWrapper* wrapper);

    // Marks or clears every bit of the page the key's marks go to (the page
    // under the second cursor, so that readers see it with any page count).
    // MMS_E_ARG for an unregistered key.
    JResult markAll(uint32_t key);
    JResult clearAll(uint32_t key);
    // Moves a cursor to the next page of the ring (back to the first after
    // the last). MMS_E_NO_MATCH for an unregistered key.
    JResult advanceFirstCursor(uint32_t key);
    JResult advanceSecondCursor(uint32_t key);

    // Offset of the key's task item; 0 when it has none.
    uint32_t find(uint32_t key) const;
    // The key's page under the second cursor, its import arrays; null when unregistered.
    uint8_t* page(uint32_t key) const;
    uint8_t* importFlags(uint32_t key) const;
    uint8_t* importSearch(uint32_t key) const;
    uint32_t referenceCount(uint32_t key) const;
    // Index (0-based) of the page under each cursor; -1 for an unregistered key.
    int firstCursorIndex(uint32_t key) const;
    int secondCursorIndex(uint32_t key) const;

    TaskListIdentity identity() const;
    uint8_t* base() const { return m_base; }
    uint32_t size() const;
    bool owned() const { return m_owned; }
    uint32_t pageSize() const { return m_pageSize; }
    uint32_t importSize() const { return m_importSize; }
    // The list-level bit array (page size bytes), marked when a set asks for it.
    uint8_t* listArray() { return m_listArray.empty() ? nullptr : m_listArray.data(); }

    // Items in list order, for the marking rule.
    uint32_t firstItem() const;
    uint32_t nextItem(uint32_t item) const;
    uint32_t itemKey(uint32_t item) const;
    uint32_t itemMask(uint32_t item) const;
    uint8_t* itemPage(uint32_t item) const;
    uint8_t* itemImportFlags(uint32_t item) const;
    uint8_t* itemImportSearch(uint32_t item) const;

private:
    uint32_t word(uint32_t at) const;
    void setWord(uint32_t at, uint32_t value);
    JResult reserve(SharedMemWrapper* wrapper, uint32_t more);
    void removeChunk(uint32_t start, uint32_t length);
    JResult advance(uint32_t key, uint32_t cursorField);
    JResult fillPage(uint32_t key, uint8_t value);

    uint8_t* m_base = nullptr;
    uint32_t m_capacity = 0;
    bool m_owned = false;
    SharedMemWrapper* m_wrapper = nullptr; // the one owned memory came from
    uint32_t m_pageSize = 0;
    uint32_t m_importSize = 0;
    std::vector<uint8_t> m_listArray;
};

// Made on the stack for one changing call: marks change bits in the pages of
// every task item the call may mark.
class DirtyFlagHolder : public IDirtyFlagHolder {
public:
    DirtyFlagHolder(TaskItemList* list, uint32_t mask, bool own, uint32_t key, bool listArray = false)
        : m_list(list)
        , m_mask(mask)
        , m_own(own)
        , m_key(key)
        , m_listArrayFlag(listArray)
    {
    }
    void markChange(uint32_t bit) override;
    void markImportFlag(uint32_t bit) override;
    void markImportSearch(uint32_t bit) override;

    void setMask(uint32_t mask) { m_mask = mask; }
    uint32_t mask() const { return m_mask; }

private:
    // An item is skipped when its mask shares a bit with the call's, or when
    // it is the writer's own key and the call does not mark its own.
    bool marks(uint32_t item) const;
    void markWith(const TaskItemList::IFlagSelector& selector, uint32_t bit);

    TaskItemList* m_list;
    uint32_t m_mask;
    bool m_own;
    uint32_t m_key;
    bool m_listArrayFlag;
};

} // namespace MMS

// Told by a reader for each changed element it pulled.
class IMMSNotifier {
public:
    virtual ~IMMSNotifier() = default;
    virtual JResult notify(
        const char* functionName, const char* namePath, const uint32_t* indexes, uint32_t indexCount, uint32_t key)
        = 0;
};
