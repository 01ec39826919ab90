// The rack owner asks the user only through its question interface: a rack
// model with scripted answers and no widgets, and one with nobody to ask.
#include "app/app_prefs.h"
#include "app/app_quilobject.h"
#include "device/memory/dev_memthread.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>

namespace {

using Answer = Quil::RackQuestions::Answer;
using Quil::DEV_E_FAIL;

// Answers from a script and notes every question.
class ScriptedQuestions final : public Quil::RackQuestions {
public:
    std::deque<Answer> answers;
    JResult saveResult = 0;
    bool leave = true;
    QStringList asked;
    QStringList warnings;
    int saves = 0;
    std::function<void()> duringWarning;
    QString folder = QStringLiteral("/tmp");

    Answer askToSave(const QString& text, bool withCancel) override
    {
        asked << text + (withCancel ? "|cancel" : "");
        if (answers.empty())
            return Answer::Cancel;
        const Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    void warn(const QString& text) override
    {
        warnings << text;
        if (duringWarning)
            duringWarning();
    }
    bool modalOpen() const override { return false; }
    JResult openFile(QWidget*) override { return DEV_E_FAIL; }
    JResult saveFileAs(QWidget*) override
    {
        ++saves;
        return saveResult;
    }
    bool saveIfWanted(QWidget*) override { return leave; }
    void setDirty(bool) override { }
    JResult setDefaultDir(const QString& dir) override
    {
        folder = dir;
        return 0;
    }
    QString defaultDir() const override { return folder; }
};

class RackQuestionsTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, Quil::createMemThread()); }
    void TearDown() override
    {
        rack.reset();
        Quil::destroyMemThread();
    }
    // A rack with a mounted slot and the scripted answers.
    ScriptedQuestions& mountedRack()
    {
        rack = std::make_unique<Quil::QuilObject>();
        auto questions = std::make_unique<ScriptedQuestions>();
        ScriptedQuestions& q = *questions;
        rack->setQuestions(std::move(questions));
        EXPECT_EQ(rack->mountModel(2, Quil::MODEL_BROXL_D3), 0);
        return q;
    }
    std::unique_ptr<Quil::QuilObject> rack;
};

const char* const kInterfaceQuestion
    = "Changing network setup initializes current setting.\n Will you save current setting?|cancel";

TEST_F(RackQuestionsTest, ChangingTheInterfaceFollowsTheAnswer)
{
    struct Row {
        const char* name;
        Answer answer;
        JResult saveResult;
        JResult expected;
        int saves;
        bool reset;
    };
    const Row rows[] = {
        {"cancel keeps the rack", Answer::Cancel, 0, DEV_E_FAIL, 0, false},
        {"no resets unsaved", Answer::No, 0, 0, 0, true},
        {"yes saves, then resets", Answer::Yes, 0, 0, 1, true},
        {"a failed save keeps the rack", Answer::Yes, DEV_E_FAIL, DEV_E_FAIL, 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedQuestions& q = mountedRack();
        q.answers = {row.answer};
        q.saveResult = row.saveResult;
        EXPECT_EQ(rack->setNetworkInterface(QStringLiteral("02:00:00:00:99:99"), QString(), true), row.expected);
        EXPECT_EQ(q.asked, QStringList{kInterfaceQuestion});
        EXPECT_EQ(q.saves, row.saves);
        EXPECT_EQ(rack->modelType(2), row.reset ? Quil::MODEL_NONE : Quil::MODEL_BROXL_D3);
    }
}

TEST_F(RackQuestionsTest, DuplicateAddressWarnsOncePerAddressAtATime)
{
    ScriptedQuestions& q = mountedRack();
    const QString ip = QStringLiteral("10.0.0.7");
    q.duringWarning = [&] {
        // Reported again while its warning is open: no second warning.
        EXPECT_EQ(rack->foundDuplicateIPDevSlot(QStringLiteral("B"), QStringLiteral("A"), ip), 0);
    };
    EXPECT_EQ(rack->foundDuplicateIPDevSlot(QStringLiteral("B"), QStringLiteral("A"), ip), 0);
    ASSERT_EQ(q.warnings.size(), 1);
    EXPECT_EQ(q.warnings[0],
        QStringLiteral("Duplicate IP address!\n\nB \n has the same IP address as \nA . \n\n"
                       "The IP address is 10.0.0.7.\n\nCorrect IP address of the device. "));
    q.duringWarning = nullptr;
    EXPECT_EQ(rack->foundDuplicateIPDevSlot(QStringLiteral("B"), QStringLiteral("A"), ip), 0);
    EXPECT_EQ(q.warnings.size(), 2) << "closed warnings do not silence the address";
}

TEST_F(RackQuestionsTest, LeavingFollowsTheSaveQuestionAndStoresTheFolder)
{
    ScriptedQuestions& q = mountedRack();
    q.folder = QStringLiteral("/srv/setups");
    q.leave = false;
    EXPECT_EQ(rack->saveSettings(nullptr), DEV_E_FAIL);
    EXPECT_FALSE(rack->canQuit());
    q.leave = true;
    EXPECT_TRUE(rack->canQuit());
    EXPECT_EQ(Quil::QuilPrefs::instance().value(Quil::QuilPrefs::kDefaultDir).toString(), q.folder);
}

TEST_F(RackQuestionsTest, NobodyToAskAnswersNo)
{
    rack = std::make_unique<Quil::QuilObject>();
    ASSERT_EQ(rack->questions(), nullptr);
    ASSERT_EQ(rack->mountModel(2, Quil::MODEL_BROXL_D3), 0);
    EXPECT_EQ(rack->setNetworkInterface(QStringLiteral("02:00:00:00:99:99"), QString(), true), 0);
    EXPECT_EQ(rack->modelType(2), Quil::MODEL_NONE);
    EXPECT_EQ(rack->openFile(nullptr), DEV_E_FAIL);
    EXPECT_EQ(rack->saveFileAs(nullptr), DEV_E_FAIL);
    EXPECT_EQ(rack->foundDuplicateIPDevSlot(QStringLiteral("B"), QStringLiteral("A"), QStringLiteral("10.0.0.7")), 0);
    EXPECT_TRUE(rack->canQuit());
}

} // namespace
