// What the modal driver saw and whether it answered everything, for the
// rack owner's questions.
#pragma once

#include "tests/support/gui/modal_driver.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace racktest {

// "title|text" of every message box, in order.
inline QStringList messageTexts(const qtest::ModalDriver& driver)
{
    QStringList out;
    for (const auto& seen : driver.seen())
        if (seen.kind == QLatin1String("message"))
            out << seen.title + QLatin1Char('|') + seen.text;
    return out;
}

inline void expectClean(const qtest::ModalDriver& driver)
{
    EXPECT_EQ(driver.pendingAnswers(), 0u);
    EXPECT_TRUE(driver.errors().isEmpty()) << driver.errors().join('\n').toStdString();
}

} // namespace racktest
