// The recovery engine writing a 0x60F010-byte program image in six segments
// to an acking unit in this process on loopback, against the floor: a plain
// blocking socket that pushes the same encoded frames (built beforehand) and
// waits for each answer. Both talk to the same unit in the same run; the
// ratio floor time / engine time is the engine's throughput share.
#include "updater/recovery_bytes.h"
#include "updater/recovery_frame.h"
#include "updater/update_file.h"
#include "updater/updater.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int64_t kImageSize = 0x620000;

QByteArray unstuff(const QByteArray& body)
{
    QByteArray out;
    out.reserve(body.size());
    for (int i = 0; i < body.size(); ++i) {
        if (static_cast<uint8_t>(body[i]) == kSlipEsc && i + 1 < body.size()) {
            out.append(static_cast<uint8_t>(body[++i]) == kSlipEscEnd ? '\xC0' : '\xDB');
        } else {
            out.append(body[i]);
        }
    }
    return out;
}

QByteArray replyFor(uint16_t command)
{
    QByteArray params;
    params.append('\x04');
    appendUint32BE(params, 0);
    if (command == 9 || command == 8) {
        params.append(encodeByteArrayParam(command == 9 ? QByteArray("DNAME\0Sorn-D", 12) : QByteArray("PVER\0R1", 7)));
        return Updater::buildMessage(command, 2, 0x8010, 0xF1, 0, params);
    }
    return Updater::buildMessage(command, 1, 0x8000, 0, 0, params);
}

// A unit that acks every piece and answers every message with result 0.
class AckingUnit {
public:
    AckingUnit()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_listener, 4) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~AckingUnit()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        if (m_thread.joinable())
            m_thread.join();
    }
    uint16_t port() const { return m_port; }

private:
    void serve()
    {
        for (;;) {
            const int connection = ::accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            const int on = 1;
            ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            session(connection);
            ::close(connection);
        }
    }

    void session(int connection)
    {
        QByteArray buffer;
        uint16_t command = 0;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
            if (n <= 0)
                return;
            buffer.append(chunk, static_cast<int>(n));
            for (;;) {
                const int first = buffer.indexOf('\xC0');
                const int second = first < 0 ? -1 : buffer.indexOf('\xC0', first + 1);
                if (second < 0)
                    break;
                const QByteArray frame = unstuff(buffer.mid(first + 1, second - first - 1));
                buffer.remove(0, second + 1);
                const uint32_t total = readUint32BE(frame, 18, nullptr);
                const uint32_t offset = readUint32BE(frame, 22, nullptr);
                const int piece = frame.size() - kRecoveryFrameOverhead;
                if (offset == 0)
                    command = readUint16BE(frame, 26, nullptr);
                QByteArray answer("\xC0\xC0", 2);
                if (offset + piece >= total) {
                    const QByteArray message = replyFor(command);
                    answer = recovery_slipEncode(recovery_buildFrame(message, 0, message.size(),
                        static_cast<uint16_t>(message.size() + 25), 0, QByteArray(6, '\xFF'), QByteArray(6, '\xFF')));
                }
                if (::send(connection, answer.constData(), answer.size(), MSG_NOSIGNAL) != answer.size())
                    return;
            }
        }
    }

    int m_listener = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};

struct Bed {
    QTemporaryDir dir;
    UpdateFile file;
    AckingUnit unit;
    std::vector<QByteArray> frames; // every encoded frame of the same run, in order
    bool ready = false;

    Bed()
    {
        const QString path = dir.filePath("image.bin");
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || !out.resize(kImageSize))
            return;
        out.close();
        if (!file.load(path, false) || unit.port() == 0)
            return;
        // The frames of one update run: pathway, authority, changeover, the
        // six segments, release and disconnect.
        const QByteArray empty = encodeStringParam(QString());
        std::vector<QByteArray> messages = {
            Updater::buildMessage(1, 3, 0x8000, 0, 0, encodeByteParam(1) + empty + empty),
            Updater::buildMessage(2, 1, 0x8000, 0, 2, encodeByteParam(1)),
            Updater::buildMessage(5, 1, 0x8000, 0, 3, encodeByteParam(1)),
        };
        const int64_t segments[6][2] = {{0, 0x10F010}, {0x10F010, 0x100000}, {0x20F010, 0x100000}, {0x30F010, 0x100000},
            {0x40F010, 0x100000}, {0x50F010, 0x100000}};
        for (int i = 0; i < 6; ++i) {
            const QByteArray params = encodeStringParam(QStringLiteral("FIRM:PROG0%1").arg(i))
                + encodeByteArrayParam(file.data(segments[i][0], segments[i][1]));
            messages.push_back(Updater::buildMessage(6, 2, 0x8000, 2, 1, params));
        }
        messages.push_back(Updater::buildMessage(4, 1, 0x8000, 0, 2, encodeByteParam(0)));
        messages.push_back(Updater::buildMessage(13, 3, 0x8000, 0, 0, encodeByteParam(0) + empty + empty));
        const QByteArray mac(6, '\xFF');
        for (const QByteArray& message : messages) {
            for (int64_t i = 0; i < recovery_pieceCount(message.size()); ++i) {
                const int piece = recovery_pieceLength(message.size(), i);
                frames.push_back(
                    recovery_slipEncode(recovery_buildFrame(message, static_cast<uint32_t>(i * kRecoveryPieceSize),
                        piece, static_cast<uint16_t>(piece + 25), message.at(1) == 6 ? 1 : 0, mac, mac)));
            }
        }
        ready = true;
    }
};

Bed& bed()
{
    static Bed b;
    return b;
}

void BM_EngineSixSegments(benchmark::State& state)
{
    Bed& b = bed();
    if (!b.ready) {
        state.SkipWithError("no image or unit");
        return;
    }
    Updater updater(false);
    updater.setTarget("127.0.0.1", b.unit.port(), QByteArray(6, '\xFF'));
    updater.setUpdateFile(&b.file);
    std::atomic<int> lastCode{0};
    QObject::connect(
        &updater, &Updater::sendMessage, &updater, [&](uint16_t code) { lastCode = code; }, Qt::DirectConnection);
    for (auto _ : state) {
        updater.startCommand(Updater::RunUpdate);
        updater.wait();
        if (lastCode != Updater::kCodeUpdated) {
            state.SkipWithError("the update failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * b.file.usedLength());
}

// The same frames from a blocking socket, each followed by a read of its answer.
void BM_BlockingFloor(benchmark::State& state)
{
    Bed& b = bed();
    if (!b.ready) {
        state.SkipWithError("no image or unit");
        return;
    }
    for (auto _ : state) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(b.unit.port());
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            state.SkipWithError("connect failed");
            return;
        }
        char answer[4096];
        for (const QByteArray& frame : b.frames) {
            if (::send(fd, frame.constData(), frame.size(), MSG_NOSIGNAL) != frame.size())
                break;
            int delimiters = 0;
            while (delimiters < 2) {
                const ssize_t n = ::recv(fd, answer, sizeof answer, 0);
                if (n <= 0)
                    break;
                for (ssize_t i = 0; i < n; ++i)
                    delimiters += answer[i] == '\xC0';
            }
        }
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * b.file.usedLength());
}

BENCHMARK(BM_EngineSixSegments)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BlockingFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
