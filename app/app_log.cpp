#include "app/app_log.h"

#include "fwupdate/mfu/mfu.h"
#include "fwupdate/tftp/tftp.h"

#include <QDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

struct LogState {
    std::mutex lock;
    bool pathSet = false;
    std::string path;
};

LogState& logState()
{
    static LogState state;
    return state;
}

// Caller holds the lock.
const std::string& currentPath(LogState& state)
{
    if (!state.pathSet) {
        state.path = (QDir::tempPath() + QStringLiteral("/AppLog.log")).toUtf8().toStdString();
        state.pathSet = true;
    }
    return state.path;
}

bool writeAll(int fd, const char* data, size_t length)
{
    // O_APPEND writes of this size go out whole; the loop only covers a
    // signal cutting one short, and ends when the file takes nothing.
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

AppLogResult appLogWrite(const char* text)
{
    if (!text)
        return APPLOG_E_FAIL;
    const size_t length = strnlen(text, APPLOG_LINE_MAX + 1);
    if (length > APPLOG_LINE_MAX)
        return APPLOG_E_FAIL;

    // One buffer with the line feed, so a line reaches the file in one write.
    std::string line(text, length);
    line += '\n';

    LogState& state = logState();
    const std::lock_guard<std::mutex> guard(state.lock);
    std::printf("QuilLogFile: %s", line.c_str());
    std::fflush(stdout);

    const std::string& path = currentPath(state);
    if (path.empty())
        return APPLOG_E_FAIL;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return APPLOG_E_FAIL;
    const bool written = writeAll(fd, line.data(), line.size());
    const bool closed = ::close(fd) == 0;
    return written && closed ? APPLOG_OK : APPLOG_E_FAIL;
}

AppLogResult appLogSetPath(const char* path)
{
    if (!path)
        return APPLOG_E_FAIL;
    const size_t length = strnlen(path, APPLOG_PATH_SIZE);
    LogState& state = logState();
    const std::lock_guard<std::mutex> guard(state.lock);
    state.pathSet = true;
    if (length >= APPLOG_PATH_SIZE) {
        // A cut path could name some other file, which a reset would delete.
        state.path.clear();
        return APPLOG_E_FAIL;
    }
    state.path.assign(path, length);
    return APPLOG_OK;
}

AppLogResult appLogReset()
{
    LogState& state = logState();
    const std::lock_guard<std::mutex> guard(state.lock);
    const std::string& path = currentPath(state);
    if (path.empty())
        return APPLOG_E_FAIL;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return APPLOG_E_FAIL;
    return APPLOG_OK;
}

std::string appLogPath()
{
    LogState& state = logState();
    const std::lock_guard<std::mutex> guard(state.lock);
    return currentPath(state);
}

void appLogInstallSinks()
{
    tftp_setLogSink([](const char* line) { appLogWrite(line); });
    mfu_setLogSink([](const char* line) { appLogWrite(line); });
}
