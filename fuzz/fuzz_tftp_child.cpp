// Requests and child packet handling with a socket in memory. The first
// byte picks what runs:
//   request mode: the rest is one datagram; a request's name is opened for
//     reading and for writing below the root, and nothing outside it may be
//     opened or created;
//   child mode: a sender (on one of several files) or a receiver is started
//     and then driven by records of the rest: [kind][length: 2 bytes, 10
//     bits][bytes] with
//     kinds datagram from the peer, datagram from a stranger, datagram
//     through the socket, send completed, and tick (every timer has run
//     out), so that every child state meets arbitrary datagrams.
// Nothing may crash, read past a datagram, or send a malformed packet.
#include "fwupdate/tftp/tftp_child.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Datagram {
    std::vector<uint8_t> bytes;
    TFTPPeer from;
};

class MemorySocket : public TFTPChildSocket {
public:
    int32_t attach(int32_t, VCOM::IVComWakeupFunction*) override { return 0; }
    VCOM::VComResult open(const VCOM::VComSocketAddress&, uint16_t) override { return 0; }
    VCOM::VComResult setDestination(const VCOM::VComSocketAddress&, uint16_t) override { return 0; }
    VCOM::VComResult read(void* buffer, uint32_t size, uint32_t* count, TFTPPeer* from) override
    {
        *count = 0;
        if (queue.empty())
            return 0;
        const Datagram d = queue.front();
        queue.pop_front();
        if (d.bytes.size() > size)
            return VCOM::VCOM_E_ARG;
        if (!d.bytes.empty())
            memcpy(buffer, d.bytes.data(), d.bytes.size());
        *count = static_cast<uint32_t>(d.bytes.size());
        if (from)
            *from = d.from;
        return 0;
    }
    VCOM::VComResult write(const void* data, uint32_t length, uint32_t* count) override
    {
        if (inFlight)
            abort(); // the child must wait for the completion
        checkPacket(static_cast<const uint8_t*>(data), length);
        inFlight = true;
        *count = length;
        return VCOM::VCOM_PENDING;
    }
    bool canWrite() const override { return !inFlight; }
    VCOM::VComResult processEvents(VCOM::IVComCallback* callback) override
    {
        if (!queue.empty())
            callback->OnReceive(1, 0);
        if (completed) {
            completed = false;
            callback->OnSend(1, 0);
        }
        return 0;
    }

    static void checkPacket(const uint8_t* p, uint32_t n)
    {
        if (n < 4 || p[0] != 0)
            abort();
        const bool ok = (p[1] == TFTP_OP_DATA && n <= TFTP_DATA_MAX) || (p[1] == TFTP_OP_ACK && n == 4)
            || (p[1] == TFTP_OP_ERROR && (n == 4 || (n == 13 && p[3] == 0 && p[12] == 0)));
        if (!ok)
            abort();
    }

    std::deque<Datagram> queue;
    bool inFlight = false;
    bool completed = false;
};

class Server : public TFTPChildCallbackIF {
public:
    int32_t wake() override { return 0; }
    int32_t childEvent(uint16_t, uint32_t code) override
    {
        if (code == TFTP_CHILD_FINISHED || code == TFTP_CHILD_FAILED) {
            if (ended)
                abort(); // a child ends once
            ended = true;
        }
        return 0;
    }
    int32_t destroy() override { return 0; }
    bool ended = false;
};

struct Bed {
    std::string top;
    std::string root;
    std::string outside;
    size_t topEntries = 0;
    size_t outsideEntries = 0;
    ino_t sentinel = 0;
};

size_t countEntries(const std::string& folder)
{
    size_t n = 0;
    if (DIR* d = opendir(folder.c_str())) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

void writeFile(const std::string& path, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    for (size_t i = 0; f && i < size; ++i)
        fputc(static_cast<int>(i % 251), f);
    if (f)
        fclose(f);
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

// Kept outside the bed, which is gone by the time exit handlers run.
char g_topFolder[64];

void removeBed()
{
    if (g_topFolder[0])
        nftw(g_topFolder, removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

const Bed& bed()
{
    static Bed b = [] {
        Bed made;
        char pattern[] = "/tmp/fuzz-tftp-XXXXXX";
        made.top = mkdtemp(pattern);
        made.root = made.top + "/root";
        made.outside = made.top + "/outside";
        mkdir(made.root.c_str(), 0755);
        mkdir((made.root + "/sub").c_str(), 0755);
        mkdir(made.outside.c_str(), 0755);
        writeFile(made.outside + "/x", 10);
        for (size_t size : {0, 100, 512, 1500})
            writeFile(made.root + "/f" + std::to_string(size), size);
        writeFile(made.root + "/sub/ok", 20);
        symlink((made.outside + "/x").c_str(), (made.root + "/link").c_str());
        symlink(made.outside.c_str(), (made.root + "/out").c_str());
        struct stat st { };
        stat((made.outside + "/x").c_str(), &st);
        made.sentinel = st.st_ino;
        made.topEntries = countEntries(made.top);
        made.outsideEntries = countEntries(made.outside);
        TFTPTimings t;
        t.resendMs = 0; // every tick finds the timer run out
        tftp_setTimings(t);
        snprintf(g_topFolder, sizeof g_topFolder, "%s", made.top.c_str());
        atexit(removeBed);
        return made;
    }();
    return b;
}

// An open descriptor must name a file below the root.
void checkInside(int fd)
{
    const Bed& b = bed();
    struct stat st { };
    if (fstat(fd, &st) != 0 || st.st_ino == b.sentinel)
        abort();
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n < 0)
        return;
    target[n] = '\0';
    if (strncmp(target, (b.root + "/").c_str(), b.root.size() + 1) != 0)
        abort();
}

void fuzzRequest(const uint8_t* data, size_t size)
{
    const Bed& b = bed();
    std::vector<uint8_t> datagram(data, data + size);
    TFTPRequest request;
    if (tftp_parseRequest(datagram.data(), datagram.size(), &request) != TFTP_OK)
        return;
    if (strnlen(request.name, sizeof request.name) > TFTP_NAME_MAX)
        abort();
    TFTPFd fd;
    if (tftp_openForRead(b.root, request.name, &fd) == TFTP_ERR_NONE)
        checkInside(fd.get());
    TFTPWriteFile file;
    file.open(b.root, request.name);
    // A temporary file created anywhere outside the root would show here.
    if (countEntries(b.top) != b.topEntries || countEntries(b.outside) != b.outsideEntries)
        abort();
}

const char* const kReadNames[] = {"f0", "f100", "f512", "f1500", "sub/ok", "missing", "link", "out/x", "../x"};

void fuzzChild(uint8_t selector, const uint8_t* data, size_t size)
{
    const Bed& b = bed();
    Server server;
    auto socket = std::make_unique<MemorySocket>();
    MemorySocket* memory = socket.get();
    const bool receiver = selector & 0x10;
    std::unique_ptr<TFTPChild> child;
    if (receiver)
        child = std::make_unique<TFTPReceiver>(&server, TFTP_RECEIVER_SLOT, std::move(socket));
    else
        child = std::make_unique<TFTPSender>(&server, 0, std::move(socket));
    TFTPPeer peer;
    peer.address.setAddressText(4, "127.0.0.1");
    peer.port = 40000;
    TFTPPeer stranger = peer;
    stranger.port = 40001;
    const char* name = receiver ? ((selector & 1) ? "sub/w" : "w") : kReadNames[(selector & 0x0F) % 9];
    const uint8_t code = child->start(peer.address, peer, TFTP_MODE_OCTET, b.root, name);
    if (code != TFTP_ERR_NONE)
        child->fail(code);
    else
        child->begin();

    size_t at = 0;
    while (at + 3 <= size && !server.ended) {
        const uint8_t kind = data[at] % 5;
        const size_t wanted = static_cast<size_t>(((data[at + 1] & 0x03) << 8) | data[at + 2]);
        const size_t length = std::min(wanted, size - at - 3);
        // An exact-size copy, so that reading past the datagram is caught.
        std::vector<uint8_t> datagram(data + at + 3, data + at + 3 + length);
        at += 3 + (kind <= 2 ? length : 0);
        switch (kind) {
        case 0:
            child->receive(datagram.data(), datagram.size(), peer);
            break;
        case 1:
            child->receive(datagram.data(), datagram.size(), stranger);
            break;
        case 2:
            memory->queue.push_back(Datagram{datagram, peer});
            child->wakeup(0, nullptr);
            child->pollIfWoken();
            break;
        case 3:
            if (memory->inFlight) {
                memory->inFlight = false;
                memory->completed = true;
            }
            child->wakeup(0, nullptr);
            child->pollIfWoken();
            break;
        default:
            child->tick();
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] & 0x80)
        fuzzRequest(data + 1, size - 1);
    else
        fuzzChild(data[0], data + 1, size - 1);
    return 0;
}
