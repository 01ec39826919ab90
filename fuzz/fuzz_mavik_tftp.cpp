// Datagram sequences into the Mavik TFTP server's opcode dispatch, through
// its socket-free seam. The input is a list of datagrams, each a peer byte
// (one of four peer ports), a length byte and that many bytes. The server
// serves a work folder with a firmware file and takes missing files from a
// small archive. Every answer must be a DATA, the 5-byte ACK or the 6-byte
// ERROR, and nothing may be written outside the work folder.
#include "fuzz/fuzz_check.h"
#include "fwupdate/mavik/mavik_tftp.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <zip.h>

namespace {

struct Bed {
    std::string folder;
    std::string work;
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<TFTPServer_Mavik> server;
};

// Never destroyed: Qt's own statics do not survive the exit handlers.
Bed& bed()
{
    static Bed* b = new Bed;
    return *b;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    fuzzCheck(f != nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void writeArchive(const std::string& path)
{
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    fuzzCheck(zip != nullptr);
    const std::string body(700, 'a');
    for (const char* name : {"arch.bin", "sub/arch2.bin"}) {
        zip_fileinfo info{};
        fuzzCheck(zipOpenNewFileInZip64(zip, name, &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 0) == ZIP_OK);
        zipWriteInFileInZip(zip, body.data(), static_cast<unsigned>(body.size()));
        zipCloseFileInZip(zip);
    }
    zipClose(zip, nullptr);
}

bool validPacket(const QByteArray& p)
{
    if (p.size() < 4 || p[0] != 0)
        return false;
    switch (p[1]) {
    case MAVIK_TFTP_DATA:
        return p.size() <= 4 + MAVIK_TFTP_BLOCK_SIZE;
    case MAVIK_TFTP_ACK:
        return p.size() == 5 && p[4] == 0;
    case MAVIK_TFTP_ERROR:
        return p.size() == 6 && p[2] == 0 && p[3] >= 1 && p[3] <= 6 && p[4] == 0 && p[5] == 0;
    default:
        return false;
    }
}

// The work folder may hold anything; beside it only the archive.
void checkFolder()
{
    DIR* d = ::opendir(bed().folder.c_str());
    fuzzCheck(d != nullptr);
    while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != ".." && n != "work" && n != "pkg.zip") {
            std::fprintf(stderr, "written outside the work folder: %s\n", n.c_str());
            std::abort();
        }
    }
    ::closedir(d);
}

// Back to the firmware file alone.
void resetWork()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(bed().work, ignored)) {
        if (entry.path().filename() != "fw.bin")
            std::filesystem::remove_all(entry.path(), ignored);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv)
{
    Bed& b = bed();
    static int argc = 1;
    b.app = std::make_unique<QCoreApplication>(argc, *argv);
    static char folder[] = "/tmp/fuzz_mavik_tftp.XXXXXX";
    if (!::mkdtemp(folder))
        std::abort();
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    b.folder = folder;
    b.work = b.folder + "/work";
    std::filesystem::create_directory(b.work);
    writeFile(b.work + "/fw.bin", std::string(1100, 'f'));
    writeArchive(b.folder + "/pkg.zip");
    b.server = std::make_unique<TFTPServer_Mavik>();
    fuzzCheck(b.server->setFile(QString::fromStdString(b.work + "/fw.bin"),
        QString::fromStdString(b.folder + "/pkg.zip"), QString::fromStdString(b.work)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TFTPServer_Mavik& server = *bed().server;
    bool sinkOk = true;
    int datagrams = 0;
    for (size_t at = 0; at + 2 <= size && datagrams < 64; ++datagrams) {
        const quint16 port = static_cast<quint16>(1000 + data[at] % 4);
        const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
        const QByteArray datagram(reinterpret_cast<const char*>(data + at + 2), static_cast<int>(length));
        at += 2 + length;
        server.deliver(port, datagram, [&sinkOk](const QByteArray& packet) {
            sinkOk = sinkOk && validPacket(packet);
            return true;
        });
    }
    fuzzCheck(sinkOk);
    checkFolder();
    server.destroy();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    resetWork();
    return 0;
}
