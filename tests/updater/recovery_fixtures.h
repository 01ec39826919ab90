// The simulated recovery unit (tests/peers/recovery_unit.py) as a child
// process, and image files for the recovery tests: sparse files of an accepted size with
// an offset pattern every 64 KiB (so equal lengths at different offsets
// differ) and a footer at the used length.
#pragma once

#include "updater/update_file.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace recoverytest {

inline bool writeImage(
    const QString& path, int64_t size, uint32_t footerAt, const QByteArray& version, const QByteArray& model)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size))
        return false;
    for (int64_t offset = 0; offset + 8 <= size; offset += 0x10000) {
        QByteArray mark = QByteArray::number(static_cast<qlonglong>(offset), 16).rightJustified(8, '0');
        if (!file.seek(offset) || file.write(mark) != mark.size())
            return false;
    }
    if (footerAt != 0 && footerAt <= size) {
        if (!file.seek(footerAt - UpdateFile::kVersionBack) || file.write(version) != version.size())
            return false;
        QByteArray name = model.leftJustified(UpdateFile::kModelSize, '\0', true);
        if (!file.seek(footerAt - UpdateFile::kModelBack) || file.write(name) != name.size())
            return false;
    }
    return true;
}

constexpr int kStartLimitMs = 30000;
constexpr std::chrono::milliseconds kQuiet(250);

class Unit {
public:
    explicit Unit(const std::vector<std::string>& argv)
        : process(argv, true)
    {
        // Python may take seconds to start on a loaded machine.
        std::string line;
        std::string before;
        // A read may end early (an interrupted wait): retry until the limit.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
        for (int i = 0; i < 1000 && port == 0 && std::chrono::steady_clock::now() < deadline; ++i) {
            if (!process.readLine(&line, 1000))
                continue;
            if (line.rfind("PORT ", 0) == 0)
                port = static_cast<uint16_t>(std::stoi(line.substr(5)));
            else
                before += line + "\n";
        }
        EXPECT_NE(port, 0) << "the unit named no port";
        EXPECT_TRUE(before.empty()) << "before its port the unit printed: " << before;
    }

    // New options for the next connections (a python peer starts slowly on
    // a loaded machine, so one serves a whole test).
    void configure(const std::vector<std::string>& args)
    {
        std::string line;
        for (const std::string& arg : args)
            line += " '" + arg + "'";
        ASSERT_TRUE(process.writeLine(line));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
        for (int i = 0; i < 1000 && std::chrono::steady_clock::now() < deadline; ++i) {
            if (process.readLine(&line, 1000) && line == "READY")
                return;
        }
        FAIL() << "no READY from the unit";
    }

    // Lines the unit printed during the run that just ended.
    std::vector<std::string> lines()
    {
        std::vector<std::string> out;
        std::string line;
        // Until the unit has been quiet for a while (a read may end early).
        auto quietSince = std::chrono::steady_clock::now();
        while (out.size() < 10000 && std::chrono::steady_clock::now() - quietSince < kQuiet) {
            if (process.readLine(&line, 250)) {
                out.push_back(line);
                quietSince = std::chrono::steady_clock::now();
            }
        }
        return out;
    }

    qtest::ChildProcess process;
    uint16_t port = 0;
};

// The unit on loopback, expecting our destination address.
inline std::vector<std::string> onLoopback(std::vector<std::string> args = {})
{
    args.insert(args.end(), {"--host", "127.0.0.1", "--mac", "00-11-22-33-44-55"});
    return qtest::pythonPeer("recovery_unit.py", args);
}

// Options of a reconfigured unit: they replace all earlier ones.
inline std::vector<std::string> options(std::vector<std::string> args)
{
    args.insert(args.end(), {"--mac", "00-11-22-33-44-55"});
    return args;
}

} // namespace recoverytest
