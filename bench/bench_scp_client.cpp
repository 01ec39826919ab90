// NOTIFY lines end to end on loopback: a blaster thread writes them into a
// plain TCP socket; the client takes them through the socket classes, its
// receive loop and the set handler into a counting parameter object. The
// decode-only figure runs the same bytes through the RAW decoder in the
// same 1500-byte reads; the ratio is the cost of the socket path.
#include "pbd/OSWRAP/oswrap.h"
#include "pbd/vcom/vcom.h"
#include "pbd/vsock/vsock.h"
#include "scp/scp_client.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace SCP;

constexpr int kBatchLines = 20000;

std::string batch()
{
    std::string s;
    for (int i = 0; i < kBatchLines; ++i)
        s += "NOTIFY set IO:Current/InCh/Gain " + std::to_string(i % 64) + " 0 " + std::to_string(i % 1441 - 720)
            + " \"-1.2\"\n";
    return s;
}

class Counting : public ScpParameter {
public:
    JResult indexOf(int32_t& index, const ScpText&) override
    {
        index = 0;
        return SCP_OK;
    }
    JResult storeValue(int32_t, int32_t, int32_t, int32_t, const JLIB::JVariant&) override
    {
        ++stored;
        return SCP_OK;
    }
    long stored = 0;
};

class Wake : public VCOM::IVComWakeupFunction {
public:
    int32_t wakeup(uint16_t, VCOM::IVCom*) override
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            woken = true;
        }
        cond.notify_one();
        return 0;
    }
    void wait()
    {
        std::unique_lock<std::mutex> guard(lock);
        cond.wait_for(guard, std::chrono::milliseconds(100), [this] { return woken; });
        woken = false;
    }
    std::mutex lock;
    std::condition_variable cond;
    bool woken = false;
};

void EndToEnd(benchmark::State& state)
{
    oswrap_init();
    if (vsock_init() != VSOCK_OK) {
        state.SkipWithError("socket service");
        return;
    }
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&in), sizeof in);
    listen(listener, 1);
    socklen_t len = sizeof in;
    getsockname(listener, reinterpret_cast<sockaddr*>(&in), &len);

    const std::string lines = batch();
    std::mutex lock;
    std::condition_variable cond;
    int pendingBatches = 0;
    bool quit = false;
    std::thread blaster([&] {
        const int fd = accept(listener, nullptr, nullptr);
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock);
                cond.wait(guard, [&] { return pendingBatches > 0 || quit; });
                if (quit)
                    break;
                --pendingBatches;
            }
            size_t sent = 0;
            while (sent < lines.size()) {
                const ssize_t n = send(fd, lines.data() + sent, lines.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<size_t>(n);
            }
        }
        close(fd);
    });

    {
        Counting parameter;
        ScpDeviceReporter device;
        ScpMeterReporter meter;
        Wake wake;
        VCOM::VComTcpClientSocket sock;
        ScpClient client;
        sock.attach(1, &wake);
        client.attach(nullptr, &sock, nullptr, &device, &parameter, &meter);
        VCOM::VComSocketAddress local;
        VCOM::VComSocketAddress remote;
        remote.setAddressText(4, "127.0.0.1");
        sock.connect(local, remote, ntohs(in.sin_port));
        for (int i = 0; i < 500 && !client.isConnected(); ++i) {
            wake.wait();
            sock.processEvents(&client);
        }
        client.start(nullptr);

        for (auto _ : state) {
            const long target = parameter.stored + kBatchLines;
            {
                std::lock_guard<std::mutex> guard(lock);
                ++pendingBatches;
            }
            cond.notify_one();
            for (int spins = 0; parameter.stored < target && spins < 100000; ++spins) {
                wake.wait();
                sock.processEvents(&client);
            }
        }
        state.SetItemsProcessed(state.iterations() * kBatchLines);
        state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
        sock.disconnect();
        for (int i = 0; i < 100 && sock.state() != VCOM::VCOM_STATE_CLOSED; ++i) {
            wake.wait();
            sock.processEvents(&client);
        }
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        quit = true;
    }
    cond.notify_one();
    blaster.join();
    close(listener);
    vsock_term();
}
BENCHMARK(EndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

void DecodeOnly(benchmark::State& state)
{
    const std::string lines = batch();
    ScpDecoderRAW decoder;
    for (auto _ : state) {
        long complete = 0;
        for (size_t at = 0; at < lines.size(); at += SCP_RECEIVE_BUFFER_SIZE) {
            const auto* data = reinterpret_cast<const uint8_t*>(lines.data()) + at;
            const size_t length = std::min<size_t>(SCP_RECEIVE_BUFFER_SIZE, lines.size() - at);
            size_t position = 0;
            while (position < length) {
                size_t consumed = 0;
                if (decoder.feed(data + position, length - position, &consumed) != SCP_LINE_COMPLETE)
                    break;
                ++complete;
                decoder.resetAll();
                position += consumed;
            }
        }
        benchmark::DoNotOptimize(complete);
    }
    state.SetItemsProcessed(state.iterations() * kBatchLines);
}
BENCHMARK(DecodeOnly)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
