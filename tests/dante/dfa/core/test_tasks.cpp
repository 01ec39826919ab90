// The cooperative task lists, the mutex pool and the holder, used directly
// (no agent task runs).
#include "tests/dante/dfa/core/dfa_fixture.h"

#include "dante/dfa/dfa_holder.h"
#include "dante/dfa/dfa_mutex.h"
#include "dante/dfa/dfa_task.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> g_ran;
int g_cleanups = 0;

int record(DfaTask* task)
{
    g_ran.push_back(task->name);
    return 0;
}

int recordAndDelete(DfaTask* task)
{
    g_ran.push_back(task->name);
    dfa_task_delete(task);
    dfa_task_delete(task); // a second delete is a no-op
    return 0;
}

void countCleanup(DfaTask*)
{
    ++g_cleanups;
}

class DfaCoreTasks : public ::testing::Test {
protected:
    void SetUp() override
    {
        dfatest::ensureOswrap();
        dfa_set_print_level(0);
        g_ran.clear();
        g_cleanups = 0;
        ASSERT_EQ(dfa_task_init(), DFA_OK);
    }
    void TearDown() override
    {
        dfa_task_delete_all();
        dfa_set_print_level(2);
    }
};

TEST_F(DfaCoreTasks, LowerKeysFirstAndEqualKeysInCreationOrder)
{
    dfa_task_create(&record, nullptr, DFA_KEY_REQUEST, "request-a");
    dfa_task_create(&record, nullptr, DFA_KEY_MAIN_CHECK_INITIALIZED, "check");
    dfa_task_create(&record, nullptr, DFA_KEY_REQUEST, "request-b");
    dfa_task_create(&record, nullptr, DFA_KEY_CMM_INIT, "cmm");
    dfa_task_post(&record, nullptr, DFA_KEY_REQUEST, "posted", nullptr, 0);
    dfa_task_post(&record, nullptr, DFA_KEY_MAIN_CHECK_INITIALIZED, "posted-check", nullptr, 0);
    EXPECT_EQ(dfa_task_count(), 6u);
    dfa_task_pass();
    EXPECT_EQ(g_ran, (std::vector<std::string>{"check", "cmm", "request-a", "request-b"}));
    g_ran.clear();
    dfa_task_pass();
    EXPECT_EQ(g_ran, (std::vector<std::string>{"check", "posted-check", "cmm", "request-a", "request-b", "posted"}));
}

TEST_F(DfaCoreTasks, SelfDeletionRunsTheCleanUpOnceAndFreesInTheSamePass)
{
    DfaTask* task = dfa_task_create(&recordAndDelete, &countCleanup, DFA_KEY_REQUEST, "once");
    ASSERT_NE(task, nullptr);
    dfa_task_create(&record, &countCleanup, DFA_KEY_REQUEST, "stays");
    dfa_task_pass();
    EXPECT_EQ(g_cleanups, 1);
    EXPECT_EQ(dfa_task_count(), 1u);
    dfa_task_pass();
    EXPECT_EQ(g_ran, (std::vector<std::string>{"once", "stays", "stays"}));
    // Clean-up at shut-down runs for the live task only.
    dfa_task_delete_all();
    EXPECT_EQ(g_cleanups, 2);
    EXPECT_EQ(dfa_task_count(), 0u);
}

int postAnother(DfaTask* task)
{
    g_ran.push_back(task->name);
    dfa_task_post(&record, nullptr, DFA_KEY_MAIN_CHECK_INITIALIZED, "posted-in-pass", nullptr, 0);
    dfa_task_create(&record, nullptr, DFA_KEY_REQUEST + 1, "created-in-pass");
    dfa_task_delete(task);
    return 0;
}

TEST_F(DfaCoreTasks, PostDuringAPassRunsInTheNextCreateRunsAtOnce)
{
    dfa_task_create(&postAnother, nullptr, DFA_KEY_REQUEST, "poster");
    dfa_task_pass();
    // Created behind the running task: same pass. Posted: not yet.
    EXPECT_EQ(g_ran, (std::vector<std::string>{"poster", "created-in-pass"}));
    g_ran.clear();
    dfa_task_pass();
    EXPECT_EQ(g_ran, (std::vector<std::string>{"posted-in-pass", "created-in-pass"}));
}

TEST_F(DfaCoreTasks, BrokenIntegrityWordIsReportedAndLeftInPlace)
{
    DfaTask* task = dfa_task_create(&record, nullptr, DFA_KEY_REQUEST, "victim");
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->integrity, DFA_TASK_INTEGRITY);
    EXPECT_EQ(dfa_task_pass(), 0);
    task->integrity = 0;
    dfa_set_print_level(2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(dfa_task_pass(), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    dfa_set_print_level(0);
    EXPECT_NE(out.find("[TASK  ] work area is broken victim\n"), std::string::npos);
    EXPECT_EQ(dfa_task_count(), 1u);
}

TEST_F(DfaCoreTasks, ParameterAreaAndNameAreCut)
{
    std::vector<uint8_t> big(400, 0xAB);
    const std::string longName(50, 'n');
    DfaTask* task = dfa_task_post(&record, nullptr, DFA_KEY_REQUEST, longName.c_str(), big.data(), big.size());
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(std::string(task->name), longName.substr(0, 32));
    EXPECT_EQ(dfa_task_param(task)[DFA_TASK_PARAM_SIZE - 1], 0xAB);
    EXPECT_EQ(task->integrity, DFA_TASK_INTEGRITY);
}

std::atomic<int> g_threadRuns{0};

int countAndDelete(DfaTask* task)
{
    g_threadRuns++;
    dfa_task_delete(task);
    return 0;
}

TEST_F(DfaCoreTasks, PostsFromSeveralThreadsWhilePassesRun)
{
    g_threadRuns = 0;
    constexpr int kThreads = 4;
    constexpr int kPosts = 200;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([] {
            for (int i = 0; i < kPosts; ++i)
                ASSERT_NE(dfa_task_post(&countAndDelete, nullptr, DFA_KEY_REQUEST, "posted", &i, sizeof i), nullptr);
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (g_threadRuns.load() < kThreads * kPosts && std::chrono::steady_clock::now() < deadline)
        dfa_task_pass();
    for (std::thread& t : posters)
        t.join();
    dfa_task_pass();
    EXPECT_EQ(g_threadRuns.load(), kThreads * kPosts);
    EXPECT_EQ(dfa_task_count(), 0u);
}

TEST(DfaCoreTaskLists, NothingIsTouchedBeforeInitOrAfterCleanUp)
{
    dfatest::ensureOswrap();
    dfa_set_print_level(0);
    ASSERT_FALSE(dfa_task_ready());
    EXPECT_EQ(dfa_task_post(&record, nullptr, DFA_KEY_REQUEST, "early", nullptr, 0), nullptr);
    EXPECT_EQ(dfa_task_create(&record, nullptr, DFA_KEY_REQUEST, "early"), nullptr);
    uint16_t reqId = 7;
    EXPECT_EQ(dfa_req_get_if_list(&reqId), DFA_ERR_NO_INIT);
    EXPECT_EQ(reqId, 0);
    ASSERT_EQ(dfa_task_init(), DFA_OK);
    EXPECT_EQ(dfa_task_init(), dfa_reason(DFA_REASON_BUSY));
    dfa_task_delete_all();
    EXPECT_EQ(dfa_req_get_if_list(&reqId), DFA_ERR_NO_INIT);
    EXPECT_EQ(dfa_task_pass(), 0);
    dfa_set_print_level(2);
}

TEST(DfaCoreMutex, TenSlotsNamedBySemaphoresAndNoMore)
{
    dfatest::ensureOswrap();
    dfa_set_print_level(0);
    std::vector<uint16_t> ids;
    for (unsigned i = 0; i < DFA_MUTEX_SLOTS; ++i) {
        ids.push_back(dfa_mutex_create());
        ASSERT_NE(ids.back(), 0) << "slot " << i;
    }
    EXPECT_EQ(dfa_mutex_create(), 0);
    EXPECT_EQ(dfa_mutex_take(ids[0]), DFA_OK);
    EXPECT_EQ(dfa_mutex_release(ids[0]), DFA_OK);
    EXPECT_EQ(dfa_mutex_take(0), dfa_reason(DFA_REASON_RANGE));
    EXPECT_EQ(dfa_mutex_release(0), dfa_reason(DFA_REASON_RANGE));
    for (uint16_t id : ids)
        EXPECT_EQ(dfa_mutex_close(id), DFA_OK);
    EXPECT_EQ(dfa_mutex_close(ids[0]), dfa_reason(DFA_REASON_OS));
    // Freed slots are made again.
    const uint16_t again = dfa_mutex_create();
    EXPECT_NE(again, 0);
    EXPECT_EQ(dfa_mutex_close(again), DFA_OK);
    dfa_set_print_level(2);
}

// Failures of the semaphores underneath print their lines with "??" in
// place of an error number.
TEST(DfaCoreMutex, FailureLinesCarryNoErrorNumber)
{
    dfatest::ensureOswrap();
    dfa_set_print_level(1);
    std::vector<uint16_t> taken;
    OswrapSemAttr attr;
    attr.initialCount = 1;
    attr.name = "filler";
    for (uint16_t id = 0; oswrap_createSemaphore(&id, &attr) == OSWRAP_OK && taken.size() <= OSWRAP_MAX_SEMAPHORES;)
        taken.push_back(id);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dfa_mutex_create(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[MUTEX ][ERROR]create mutex failed, error_code=??\n");
    for (uint16_t id : taken)
        oswrap_deleteSemaphore(id);

    const uint16_t id = dfa_mutex_create();
    ASSERT_NE(id, 0);
    ASSERT_EQ(oswrap_deleteSemaphore(id), OSWRAP_OK);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dfa_mutex_close(id), dfa_reason(DFA_REASON_OS));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "[MUTEX ][ERROR]close mutex failed, hdl=" + std::to_string(id) + ", error_code=??\n");
    dfa_set_print_level(2);
}

class DfaCoreHolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        dfatest::ensureOswrap();
        dfa_set_print_level(0);
        ASSERT_EQ(dfa_holder_init(), DFA_OK);
    }
    void TearDown() override
    {
        dfa_holder_terminate();
        dfa_set_print_level(2);
    }
    static DfaSettings settings(const std::u16string& folder)
    {
        DfaSettings s{};
        s.tftp_ipv4[0] = 10;
        s.tftp_port = 69;
        std::copy(folder.begin(), folder.end(), s.dnt_dir);
        return s;
    }
};

TEST_F(DfaCoreHolder, FullPathOfASlot)
{
    const struct {
        const char16_t* folder;
        const char16_t* file;
        size_t capacity;
        DfaStatus status;
        const char16_t* path;
    } cases[] = {
        {u"D:\\dnt", u"x.dnt", 80, DFA_OK, u"D:\\dnt/x.dnt"},
        {u"D:\\dnt\\", u"\\x.dnt", 80, DFA_OK, u"D:\\dnt\\x.dnt"},
        {u"", u"x.dnt", 80, DFA_OK, u"x.dnt"},
        {u"", u"/x.dnt", 80, DFA_OK, u"/x.dnt"},
        {u"abc/", u"x.dnt", 10, DFA_OK, u"abc/x.dnt"},
        // A folder that ends with a separator counts in full.
        {u"abc/", u"x.dnt", 9, dfa_reason(DFA_REASON_PATH_TOO_LONG), nullptr},
        {u"abc\\", u"/x.dnt", 10, DFA_OK, u"abc\\x.dnt"},
        {u"abc\\", u"/x.dnt", 9, dfa_reason(DFA_REASON_PATH_TOO_LONG), nullptr},
        {u"abc", u"x.dnt", 10, DFA_OK, u"abc/x.dnt"},
        {u"abc", u"x.dnt", 9, dfa_reason(DFA_REASON_PATH_TOO_LONG), nullptr},
        {u"abc", u"", 80, dfa_reason(DFA_REASON_NO_STATUS), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.folder, c.folder + std::char_traits<char16_t>::length(c.folder)) + " + "
            + std::string(c.file, c.file + std::char_traits<char16_t>::length(c.file)));
        // No folder: an all-zero settings record.
        const DfaSettings s = std::u16string(c.folder).empty() ? DfaSettings{} : settings(c.folder);
        ASSERT_EQ(dfa_holder_set_settings(&s), DFA_OK);
        ASSERT_EQ(dfa_holder_set_file_name(1, c.file), DFA_OK);
        // Exactly the capacity, then guard units that must stay untouched.
        std::vector<char16_t> buffer(c.capacity + 4, u'#');
        EXPECT_EQ(dfa_holder_get_dnt_path(buffer.data(), c.capacity, 1), c.status);
        for (size_t i = c.capacity; i < buffer.size(); ++i)
            EXPECT_EQ(buffer[i], u'#') << "written past the capacity at " << i;
        if (c.path != nullptr) {
            EXPECT_EQ(std::u16string(buffer.data()), c.path);
        }
    }
}

TEST_F(DfaCoreHolder, SettingsSlotsAndOverride)
{
    DfaSettings s = settings(u"abc");
    ASSERT_EQ(dfa_holder_set_settings(&s), DFA_OK);
    DfaSettings back{};
    ASSERT_EQ(dfa_holder_get_settings(&back), DFA_OK);
    EXPECT_EQ(std::u16string(back.dnt_dir), u"abc/");
    EXPECT_EQ(back.tftp_port, 69);

    // 79 characters leave no room for the separator: kept as it is.
    s = settings(std::u16string(79, u'd'));
    ASSERT_EQ(dfa_holder_set_settings(&s), DFA_OK);
    ASSERT_EQ(dfa_holder_get_settings(&back), DFA_OK);
    EXPECT_EQ(std::u16string(back.dnt_dir), std::u16string(79, u'd'));
    // A folder without its terminator is refused, not read past.
    std::fill(std::begin(s.dnt_dir), std::end(s.dnt_dir), u'e');
    EXPECT_EQ(dfa_holder_set_settings(&s), dfa_reason(DFA_REASON_PATH_TOO_LONG));

    const uint8_t id[8] = {'B', 'k', 'l', 'y', 'n', '3'};
    uint8_t idBack[8] = {};
    ASSERT_EQ(dfa_holder_set_model_id(1, id), DFA_OK);
    ASSERT_EQ(dfa_holder_get_model_id(1, idBack), DFA_OK);
    EXPECT_EQ(std::memcmp(id, idBack, 8), 0);
    EXPECT_EQ(dfa_holder_set_model_id(2, id), dfa_reason(DFA_REASON_RANGE));
    EXPECT_EQ(dfa_holder_set_file_name(0, nullptr), dfa_reason(DFA_REASON_MISSING));

    DfaOverride record{1, {'P'}, {}};
    DfaOverride recordBack{};
    ASSERT_EQ(dfa_holder_set_override(&record), DFA_OK);
    ASSERT_EQ(dfa_holder_get_override(&recordBack), DFA_OK);
    EXPECT_EQ(recordBack.enabled, 1);
    EXPECT_EQ(recordBack.model_id[0], 'P');

    // Without the holder every call fails cleanly.
    dfa_holder_terminate();
    EXPECT_EQ(dfa_holder_get_override(&recordBack), dfa_reason(DFA_REASON_RANGE));
    EXPECT_EQ(dfa_set_override(&record), DFA_ERR_PARAM);
    ASSERT_EQ(dfa_holder_init(), DFA_OK);
    ASSERT_EQ(dfa_holder_get_override(&recordBack), DFA_OK);
    EXPECT_EQ(recordBack.enabled, 0);
}

TEST(DfaCoreTime, DifferencesBorrowWholeSeconds)
{
    const struct {
        aud_time since, now;
        int32_t seconds;
    } cases[] = {
        {{5, 900000}, {7, 100000}, 1},
        {{5, 100000}, {7, 100000}, 2},
        {{5, 100000}, {7, 99999}, 1},
        {{7, 0}, {7, 0}, 0},
        {{0, 0}, {0, 999999}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dfa_elapsed_seconds(&c.since, &c.now), c.seconds);
}

} // namespace
