// Small helpers for the file-system wrapper tests.
#pragma once

#include "pbd/fsw/fsw.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <string>

// Runs a shell command and returns its trimmed standard output.
inline std::string shell(const std::string& command)
{
    std::string out;
    EXPECT_EQ(qtest::runCommand(command, &out), 0) << command;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

inline std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

inline bool exists(const std::string& path)
{
    return qtest::runCommand("test -e " + quoted(path)) == 0;
}
inline bool isDir(const std::string& path)
{
    return qtest::runCommand("test -d " + quoted(path) + " && test ! -L " + quoted(path)) == 0;
}
inline bool isLink(const std::string& path)
{
    return qtest::runCommand("test -L " + quoted(path)) == 0;
}

// Reads a whole file through the wrapper.
inline std::string readAll(const std::string& path)
{
    FswFile* f = nullptr;
    if (fsw_openFile(&f, path.c_str(), FSW_MODE_READ) != FSW_OK)
        return "<open failed>";
    std::string text;
    char chunk[7]; // odd size: exercises several reads
    uint32_t got = 0;
    while (fsw_readFile(chunk, &got, sizeof chunk, f) == FSW_OK)
        text.append(chunk, got);
    fsw_closeFile(f);
    return text;
}
