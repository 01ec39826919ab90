// The environment log's sinks (streams, file, network, callback) and the
// process-wide DNS-SD log.
#include "dante/support/aud_log.h"
#include "dante/support/dt_log.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

// A plain UDP receiver on loopback, independent of the code under test.
class Receiver {
public:
    Receiver()
    {
        m_fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t n = sizeof a;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n);
        aud_sockaddr_set(&m_address, a.sin_addr.s_addr, ntohs(a.sin_port));
    }
    ~Receiver() { close(m_fd); }
    const aud_sockaddr& address() const { return m_address; }

    // The next datagram, or "<none>" after timeoutMs.
    std::string next(int timeoutMs = 2000)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1)
            return "<none>";
        char buffer[70000];
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        return n < 0 ? "<error>" : std::string(buffer, size_t(n));
    }

private:
    int m_fd = -1;
    aud_sockaddr m_address{};
};

aud_socket openSender()
{
    aud_socket s = AUD_SOCKET_INVALID;
    EXPECT_EQ(aud_socket_udp_open(&s, AF_INET), AUD_SUCCESS);
    return s;
}

struct Captured {
    std::vector<std::string> texts;
    std::vector<unsigned> levels;
};

void capture(aud_log_state*, void* context, const char*, unsigned level, const char* text, size_t length)
{
    auto* c = static_cast<Captured*>(context);
    c->texts.emplace_back(text, length);
    c->levels.push_back(level);
}

class AudLog : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(aud_log_new(&log), AUD_SUCCESS);
        aud_log_set_level(log, AUD_LOG_VERBOSE);
    }
    void TearDown() override { aud_log_free(log); }

    aud_log_state* log = nullptr;
};

TEST_F(AudLog, StreamsAndFileGetTheirLines)
{
    qtest::TempDir dir;
    FILE* file = fopen(dir.file("log.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    aud_log_set_file(log, file);
    aud_log_set_sink_level(log, AUD_LOG_SINK_STDOUT, AUD_LOG_VERBOSE);
    aud_log_set_sink_level(log, AUD_LOG_SINK_STDERR, AUD_LOG_WARNING);
    aud_log_set_sink_level(log, AUD_LOG_SINK_FILE, AUD_LOG_INFO);
    aud_log_set_timestamps(log, 0);

    CaptureStdout();
    CaptureStderr();
    aud_log(log, AUD_LOG_INFO, "%s: interface %d up", "cmm", 3);
    aud_log(log, AUD_LOG_ERROR, "reply lost\n");
    aud_log(log, AUD_LOG_DEBUG, "only on standard output");
    const std::string out = GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    fclose(file);
    EXPECT_EQ(out, "Info cmm: interface 3 up\nError reply lost\nDebug only on standard output\n");
    EXPECT_EQ(err, "Error reply lost\n");
    EXPECT_EQ(qtest::readFile(dir.file("log.txt")), "Info cmm: interface 3 up\nError reply lost\n");
}

TEST_F(AudLog, TimestampIsTheMiddleOfTheCtimeText)
{
    aud_log_set_sink_level(log, AUD_LOG_SINK_STDOUT, AUD_LOG_VERBOSE);
    CaptureStdout();
    aud_log(log, AUD_LOG_NOTICE, "stamped");
    const std::string out = GetCapturedStdout();
    ASSERT_EQ(out.size(), 15 + 1 + strlen("Notice stamped\n"));
    EXPECT_EQ(out.substr(16), "Notice stamped\n");
    EXPECT_EQ(out[3], ' ');
    EXPECT_EQ(out[9], ':');
    EXPECT_EQ(out[12], ':');
}

TEST_F(AudLog, NothingAboveTheOverallLevel)
{
    Captured got;
    aud_log_set_callback(log, capture, &got);
    aud_log_set_sink_level(log, AUD_LOG_SINK_CALLBACK, AUD_LOG_VERBOSE);
    aud_log_set_sink_level(log, AUD_LOG_SINK_STDOUT, AUD_LOG_VERBOSE);
    aud_log_set_level(log, AUD_LOG_WARNING);
    aud_log_set_timestamps(log, 0);
    CaptureStdout();
    aud_log(log, AUD_LOG_NOTICE, "dropped");
    aud_log(log, AUD_LOG_WARNING, "kept");
    aud_log(nullptr, AUD_LOG_CRITICAL, "no log");
    EXPECT_EQ(GetCapturedStdout(), "Warning kept\n");
    EXPECT_EQ(got.texts, std::vector<std::string>{"kept"});
    EXPECT_STREQ(aud_log_level_name(7), "Verbose");
    EXPECT_STREQ(aud_log_level_name(8), "Undef");
}

TEST_F(AudLog, LongTextGoesOutInDatagramsOf1458Bytes)
{
    Receiver receiver;
    ASSERT_EQ(aud_log_set_network(log, 0, openSender(), &receiver.address()), AUD_SUCCESS);
    aud_log_set_sink_level(log, AUD_LOG_SINK_NETWORK, AUD_LOG_VERBOSE);
    aud_log_set_timestamps(log, 0);
    std::string text;
    for (size_t i = 0; i < 3000; ++i)
        text += char('a' + i % 26);
    aud_log(log, AUD_LOG_INFO, "%s", text.c_str());

    const std::string first = receiver.next();
    ASSERT_EQ(first.size(), 1458u);
    EXPECT_EQ(first.substr(0, 3), " I ");
    std::string rest = first.substr(3);
    while (rest.size() < text.size()) {
        const std::string more = receiver.next();
        ASSERT_LE(more.size(), 1458u);
        ASSERT_NE(more, "<none>");
        rest += more;
    }
    EXPECT_EQ(rest, text);
    EXPECT_EQ(receiver.next(100), "<none>");

    aud_log_set_timestamps(log, AUD_LOG_TIMESTAMP_NETWORK);
    aud_log(log, AUD_LOG_WARNING, "short");
    const std::string stamped = receiver.next();
    ASSERT_EQ(stamped.size(), 15 + strlen(" W short"));
    EXPECT_EQ(stamped.substr(15), " W short");
}

TEST_F(AudLog, DestinationThatIsNotASocketIsSwitchedOff)
{
    Receiver receiver;
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    close(pipeFds[0]);
    ASSERT_EQ(aud_log_set_network(log, 0, pipeFds[1], &receiver.address()), AUD_SUCCESS);
    ASSERT_EQ(aud_log_set_network(log, 1, openSender(), &receiver.address()), AUD_SUCCESS);
    aud_log_set_sink_level(log, AUD_LOG_SINK_NETWORK, AUD_LOG_VERBOSE);
    aud_log_set_timestamps(log, 0);
    Captured got;
    aud_log_set_callback(log, capture, &got);
    aud_log_set_sink_level(log, AUD_LOG_SINK_CALLBACK, AUD_LOG_VERBOSE);

    aud_log(log, AUD_LOG_INFO, "hello");
    EXPECT_EQ(aud_log_network_socket(log, 0), AUD_SOCKET_INVALID);
    EXPECT_EQ(fcntl(pipeFds[1], F_GETFD), -1); // closed by the log
    const std::string report = "aud_log: bad network logging socket " + std::to_string(pipeFds[1])
        + " - network logging disabled: not a socket (42)";
    // The report is written while the message is: it must not replace it.
    ASSERT_EQ(got.texts.size(), 2u);
    EXPECT_EQ(got.texts[0], report);
    EXPECT_EQ(got.levels[0], unsigned(AUD_LOG_ERROR));
    EXPECT_EQ(got.texts[1], "hello");
    EXPECT_EQ(receiver.next(), " E " + report);
    EXPECT_EQ(receiver.next(), " I hello");

    aud_log(log, AUD_LOG_INFO, "again");
    EXPECT_EQ(got.texts.size(), 3u);
    EXPECT_EQ(receiver.next(), " I again");
}

TEST_F(AudLog, SendFailureIsReportedButNotToTheFailingDestination)
{
    Receiver good, bad;
    aud_socket broken = openSender();
    ASSERT_EQ(aud_socket_connect(broken, &bad.address()), AUD_SUCCESS);
    ASSERT_EQ(shutdown(broken, SHUT_WR), 0); // every send now fails with EPIPE
    ASSERT_EQ(aud_log_set_network(log, 0, broken, &bad.address()), AUD_SUCCESS);
    ASSERT_EQ(aud_log_set_network(log, 1, openSender(), &good.address()), AUD_SUCCESS);
    aud_log_set_sink_level(log, AUD_LOG_SINK_NETWORK, AUD_LOG_VERBOSE);
    aud_log_set_timestamps(log, 0);

    aud_log(log, AUD_LOG_INFO, "payload");
    char where[AUD_SOCKADDR_TEXT_SIZE];
    aud_sockaddr_text(&bad.address(), where, sizeof where);
    EXPECT_EQ(good.next(),
        std::string(" N aud_log: network logging to ") + where + " (fd " + std::to_string(broken)
            + ") failed: system-specific error (2)");
    EXPECT_EQ(good.next(), " I payload");
    EXPECT_EQ(aud_log_network_socket(log, 0), broken); // still on for the next message
}

TEST(AudDtLog, DefaultsSendWarningsAndWorseToStandardError)
{
    CaptureStderr();
    dt_log(3, "notice %d", 1);
    dt_log(4, "warning %s", "two");
    dt_log(7, "fatal\n");
    const std::string err = GetCapturedStderr();
    const std::string first = err.substr(0, err.find('\n') + 1);
    ASSERT_EQ(first.size(), 16 + strlen("Warning: warning two\n")) << err;
    EXPECT_EQ(first.substr(16), "Warning: warning two\n");
    EXPECT_NE(err.find(" Fatal error: fatal\n"), std::string::npos);
    EXPECT_EQ(err.find("notice"), std::string::npos);
}

TEST(AudDtLog, NetworkLineCarriesItsZeroByte)
{
    Receiver receiver;
    dt_log_options saved;
    dt_log_get_options(&saved);
    dt_log_options o = saved;
    o.flags = DT_LOG_NETWORK;
    o.net_socket = openSender();
    o.net_destination = receiver.address();
    dt_log_set_options(&o);
    dt_log(5, "resolve failed: %d", -65537);
    dt_log(1, "below the minimum");
    dt_log_set_options(&saved);
    EXPECT_EQ(receiver.next(), std::string("E resolve failed: -65537", 25));
    EXPECT_EQ(receiver.next(100), "<none>");
    aud_socket_close(&o.net_socket);
}

} // namespace
