// Firmware packages built from the input (top name, field words, entry
// names, flags and contents) are opened, their versions read and their
// display texts made, with a private home, documents and package folder.
// Nothing may appear outside the unpack folder, and nothing may stay once
// the reader is gone. Input layout: a flags byte (bit 0 field of 28 bytes
// instead of 16, bit 1 the recovery reader, bits 2..5 the header from the
// table below, or taken from the input), up to 28 field bytes, then entries
// of [name length][name][flags][content length][content].
#include "fwupdate/package/fwpkg_filemanager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kHeaders[] = {"QuilBroxL-D", "QuilBroxM-D2", "QuilSorn-D", "QuilMavik-D", "QuilPellM-D", "Brox-D3",
    "QuilBrox-D3", "QuilBroxI-D", "QuilBroxO-D", "QuilBroxL-D2", "QuilBroxM-D", "Quil"};
constexpr size_t kMaxEntries = 12;

struct Sandbox {
    std::string root, home, docs, pkg, package;

    Sandbox()
    {
        static char folder[] = "/tmp/fuzz_fw_package.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        root = folder;
        home = root + "/home";
        docs = root + "/docs";
        pkg = root + "/pkg";
        package = pkg + "/in.bin";
        for (const std::string& d : {home, docs, pkg, root + "/config"})
            if (::mkdir(d.c_str(), 0755) != 0)
                std::abort();
        FILE* dirs = std::fopen((root + "/config/user-dirs.dirs").c_str(), "w");
        std::fprintf(dirs, "XDG_DOCUMENTS_DIR=\"%s\"\n", docs.c_str());
        std::fclose(dirs);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        // The reader prints its base folders on every open.
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
        std::atexit([] { fcache_removePath(folder); });
    }
};

Sandbox& sandbox()
{
    static Sandbox s;
    return s;
}

std::set<std::string> names(const std::string& folder)
{
    std::set<std::string> out;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                out.insert(e->d_name);
        }
        ::closedir(d);
    }
    return out;
}

// Only the unpack folder (or nothing, with gone) may be in a base folder.
void checkBase(const std::string& folder, const std::set<std::string>& allowed, bool gone)
{
    for (const std::string& n : names(folder)) {
        const bool unpack = n.rfind("QuilMBDFOut", 0) == 0;
        if (!allowed.count(n) && (gone || !unpack)) {
            std::fprintf(stderr, "unexpected %s/%s\n", folder.c_str(), n.c_str());
            std::abort();
        }
    }
}

void checkSandbox(bool gone)
{
    const Sandbox& s = sandbox();
    checkBase(s.root, {"home", "docs", "pkg", "config"}, true);
    checkBase(s.home, {}, gone);
    checkBase(s.docs, {}, gone);
    checkBase(s.pkg, {"in.bin"}, gone);
}

void put32(std::string& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(v >> shift));
}

std::string block(
    const std::string& tag, const std::string& sub, size_t tagWidth, const std::string& part1, const std::string& part2)
{
    std::string name(24, '\0');
    std::memcpy(&name[0], tag.data(), std::min(tag.size(), tagWidth));
    std::memcpy(&name[tagWidth], sub.data(), std::min(sub.size(), 24 - tagWidth));
    std::string out = name;
    put32(out, static_cast<uint32_t>(part1.size()));
    put32(out, static_cast<uint32_t>(part2.size()));
    put32(out, 0);
    out += part1 + std::string((4 - part1.size() % 4) % 4, '\0');
    out += part2 + std::string((4 - part2.size() % 4) % 4, '\0');
    return out;
}

class Input {
public:
    Input(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool empty() const { return m_pos >= m_size; }
    uint8_t byte() { return empty() ? 0 : m_data[m_pos++]; }
    std::string bytes(size_t n)
    {
        n = std::min(n, m_size - m_pos);
        std::string out(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return out;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

std::string makePackage(Input& in, uint8_t flags)
{
    const size_t width = (flags & 1) ? 28 : 16;
    const size_t headerIndex = (flags >> 2) & 15;
    std::string top = headerIndex < std::size(kHeaders) ? kHeaders[headerIndex] : in.bytes(in.byte() % 17);
    top.resize(16, '\0');
    std::string field = in.bytes(width);
    field.resize(width, '\0');
    std::string out = block("#VALDOR MBDF", "Archive", 12, top + field + std::string(16, '\0'), "");
    for (size_t i = 0; i < kMaxEntries && !in.empty(); ++i) {
        const std::string name = in.bytes(in.byte() % 32);
        const uint8_t entryFlags = in.byte();
        const size_t length = in.byte() * 16u + in.byte() % 16u;
        std::string part1;
        part1.push_back(static_cast<char>(name.size() >> 8));
        part1.push_back(static_cast<char>(name.size()));
        part1.push_back('\0');
        part1.push_back('\0'); // no scrambling, so names stay readable in crashes
        put32(part1, entryFlags & 0x8F);
        out += block("#FILE", "fuzz", 12, part1 + name, in.bytes(length));
    }
    return out + block("#END", "", 24, "", "");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    Sandbox& s = sandbox();
    Input in(data, size);
    const uint8_t flags = in.byte();
    const std::string bytes = makePackage(in, flags);
    FILE* f = std::fopen(s.package.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    const QString path = QString::fromStdString(s.package);
    if (flags & 2) {
        RecoveryFileManager reader;
        QString header;
        QStringList versions;
        reader.openPackage(path, nullptr, nullptr, &header, &versions);
        reader.readVersions(&header, &versions);
        QString model;
        reader.modelName(&model);
        reader.isBroxModel();
        reader.isPellModel();
        checkSandbox(false);
    } else {
        FirmUpdateUIFileManager reader;
        QString header;
        QStringList versions;
        reader.openPackage(path, nullptr, nullptr, &header, &versions);
        reader.readVersions(&header, &versions);
        QString model, firmware, formatted, summary;
        QStringList lines;
        bool hasDante = false;
        reader.displayTexts(header, &model, versions, &firmware, &formatted, &lines, &summary, &hasDante);
        int32_t type = 0;
        reader.getModelType(&type);
        QStringList dante;
        reader.getDanteFiles(&dante);
        checkSandbox(false);
    }
    checkSandbox(true);
    return 0;
}
