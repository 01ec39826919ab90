// Two threads checking two files at once: each check has its own buffer.
#include "dante/dfa/dfa_dntchk.h"
#include "dante/dfa/dfa_internal.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

namespace {

TEST(DntThreads, TwoFilesCheckedAtOnce)
{
    const qtest::TempDir dir;
    ASSERT_EQ(qtest::runCommand("python3 " + qtest::peerPath("dnt_gen.py") + " " + dir.path()
                  + " --only v3_several_models v2_with_cap >/dev/null"),
        0);
    dfa_set_print_level(0);
    auto worker = [&](const std::string& name, uint8_t models, int* wrong) {
        const std::string file = dir.file(name);
        const std::u16string path(file.begin(), file.end());
        for (int i = 0; i < 40; ++i) {
            const auto info = std::make_unique<DntFileInfo>();
            if (dfa_dntchk_dntfile(path.c_str(), info.get()) != DFA_ERR_NOERR || info->md_count != models)
                ++*wrong;
        }
    };
    int wrongA = 0;
    int wrongB = 0;
    std::thread a(worker, "v3_several_models.dnt", 4, &wrongA);
    std::thread b(worker, "v2_with_cap.dnt", 1, &wrongB);
    a.join();
    b.join();
    EXPECT_EQ(wrongA, 0);
    EXPECT_EQ(wrongB, 0);
    dfa_set_print_level(2);
}

} // namespace
