// Cooperative tasks of the agent: small step functions run once per
// scheduling pass by the agent's task, kept in two lists ordered by key.
// The main list is walked only on the agent's task; other threads post into
// the temporary list under the agent mutex, and each pass moves those tasks
// into the main list, so a task posted during a pass runs in the next.
#pragma once

#include "dante/dfa/dfa_internal.h"

#include <cstddef>
#include <cstdint>

constexpr size_t DFA_TASK_NAME_SIZE = 32;
constexpr size_t DFA_TASK_PARAM_SIZE = 300;
constexpr uint32_t DFA_TASK_INTEGRITY = 0x446441FF;

// Order keys of the agent's tasks: lower keys run first.
constexpr uint32_t DFA_KEY_MAIN_CHECK_INITIALIZED = 4096;
constexpr uint32_t DFA_KEY_CMM_INIT = 8192;
constexpr uint32_t DFA_KEY_CMM_WATCH = 8448;
constexpr uint32_t DFA_KEY_CONMON_INIT = 12288;
constexpr uint32_t DFA_KEY_CONMON_WATCH = 12544;
constexpr uint32_t DFA_KEY_CONMON_QUERY = 12800;
constexpr uint32_t DFA_KEY_BROWSE_WATCH = 16384;
constexpr uint32_t DFA_KEY_REQUEST = 20480;

struct DfaTask;
// One step; the return value is not interpreted.
using DfaTaskBody = int (*)(DfaTask* task);
// Called once when the task is deleted.
using DfaTaskCleanup = void (*)(DfaTask* task);

// Task control block.
struct DfaTask {
    char name[DFA_TASK_NAME_SIZE + 1];
    uint32_t key;
    // 1 and 1 for tasks made on the agent's task, 1 and 2 for posted ones.
    uint16_t creator[2];
    DfaTaskBody body;
    DfaTaskCleanup cleanup;
    DfaTask* prev;
    DfaTask* next;
    alignas(8) uint8_t param[DFA_TASK_PARAM_SIZE];
    uint32_t integrity;
};

// Makes both lists with their sentinels and the agent mutex. DFA_REASON_OS
// when the mutex cannot be made, DFA_REASON_BUSY when the lists exist
// already.
DfaStatus dfa_task_init();
// True between dfa_task_init and dfa_task_delete_all.
bool dfa_task_ready();

// On the agent's task: inserts into the main list before the first task with
// a greater key. Null when out of memory or the lists do not exist.
DfaTask* dfa_task_create(DfaTaskBody body, DfaTaskCleanup cleanup, uint32_t key, const char* name);
// From any thread: as create, with up to 300 bytes of parameter copied, into
// the temporary list. Null when the lists do not exist (or no memory).
DfaTask* dfa_task_post(
    DfaTaskBody body, DfaTaskCleanup cleanup, uint32_t key, const char* name, const void* param, size_t length);

uint8_t* dfa_task_param(DfaTask* task);
void dfa_task_set_body(DfaTask* task, DfaTaskBody body);
// Runs the clean-up once and marks the task; the next pass frees it.
void dfa_task_delete(DfaTask* task);
bool dfa_task_is_deleted(const DfaTask* task);

// One scheduling pass: run every task, free the deleted ones, move the
// temporary list in, check every integrity word. Returns the number of
// tasks whose integrity word is broken.
int dfa_task_pass();
// Live tasks in both lists.
size_t dfa_task_count();
// Deletes every task of both lists (clean-ups run once) and closes the agent
// mutex; later posts are refused.
void dfa_task_delete_all();
