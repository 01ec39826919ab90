// Packages made by the independent container peer, in a sandbox with its own
// home, documents and package folders (HOME and XDG_CONFIG_HOME point into
// it for the test's life).
#pragma once

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fwpkgtest {

using Texts = std::vector<std::string>;

inline std::string word(uint32_t w)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08x", w);
    return text;
}
inline uint32_t version(char kind, int major, int minor, int letter)
{
    return uint32_t(uint8_t(kind)) << 24 | uint32_t(major) << 16 | uint32_t(minor) << 8 | uint32_t(letter);
}
// The word's bytes in the opposite order, as a bare "Brox-D3" package stores it.
inline std::string swappedWord(uint32_t w)
{
    return word(__builtin_bswap32(w));
}

// Names in a folder (without "." and ".."), in the order the folder lists them.
inline Texts listFolder(const std::string& path)
{
    Texts names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        }
        ::closedir(d);
    }
    return names;
}
inline Texts sorted(Texts t)
{
    std::sort(t.begin(), t.end());
    return t;
}
inline bool isDirectory(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
inline bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

class PackageSandbox : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(root.path().empty());
        home = root.file("home");
        docs = root.file("docs");
        config = root.file("config");
        pkgDir = root.file("pkg");
        src = root.file("src");
        for (const std::string& d : {home, docs, config, pkgDir, src})
            ASSERT_EQ(::mkdir(d.c_str(), 0755), 0) << d;
        saveEnv("HOME", &m_oldHome);
        saveEnv("XDG_CONFIG_HOME", &m_oldConfig);
        setDocuments(docs);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        firmware = source("fw.img", std::string(3000, 'F') + "firmware");
        dnt = source("mod.img", std::string(500, 'D') + "dante");
    }
    void TearDown() override
    {
        restoreEnv("HOME", m_oldHome);
        restoreEnv("XDG_CONFIG_HOME", m_oldConfig);
    }

    void setDocuments(const std::string& path)
    {
        ASSERT_TRUE(qtest::writeFile(config + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + path + "\"\n"));
    }
    std::string source(const std::string& name, const std::string& content)
    {
        const std::string path = src + "/" + name;
        EXPECT_TRUE(qtest::writeFile(path, content));
        return path;
    }
    // One package for the peer: file name in the package folder, field
    // width 16 or 28 (others fit no archive kind), top name, field bytes as
    // hex, entry plans, container kind text (empty: "Archive").
    struct PackagePlan {
        std::string file;
        int width;
        std::string top;
        std::string fieldHex;
        Texts entries;
        std::string kind;
    };
    // Writes every package with one start of the peer; their paths in order.
    Texts packages(const std::vector<PackagePlan>& plans)
    {
        std::string list;
        Texts paths;
        for (const PackagePlan& p : plans) {
            paths.push_back(pkgDir + "/" + p.file);
            Texts args;
            if (!p.kind.empty())
                args = {"--kind", p.kind};
            args.insert(args.end(), {paths.back(), std::to_string(p.width), p.top, p.fieldHex});
            args.insert(args.end(), p.entries.begin(), p.entries.end());
            for (size_t i = 0; i < args.size(); ++i)
                list += (i ? "\t" : "") + args[i];
            list += "\n";
        }
        const std::string listFile = root.file("packages.list");
        EXPECT_TRUE(qtest::writeFile(listFile, list));
        const int status
            = qtest::runCommand("python3 '" + qtest::peerPath("mbdf_peer.py") + "' packages '" + listFile + "'");
        EXPECT_EQ(status, 0) << list;
        return paths;
    }
    std::string package(const std::string& file, int width, const std::string& top, const std::string& fieldHex,
        const Texts& entries, const std::string& kind = "")
    {
        return packages({{file, width, top, fieldHex, entries, kind}})[0];
    }
    // The usual contents: a firmware file in "data".
    Texts firmwareEntries() const { return {"data/", "data/fw.BIN=" + firmware}; }
    // Every "QuilMBDFOut..." name below a folder.
    static Texts unpackFolders(const std::string& base)
    {
        Texts out;
        for (const std::string& n : listFolder(base)) {
            if (n.rfind("QuilMBDFOut", 0) == 0)
                out.push_back(n);
        }
        return out;
    }

    qtest::TempDir root;
    std::string home, docs, config, pkgDir, src, firmware, dnt;

private:
    static void saveEnv(const char* name, std::string* out)
    {
        const char* v = std::getenv(name);
        *out = v ? std::string(1, '=') + v : std::string();
    }
    static void restoreEnv(const char* name, const std::string& saved)
    {
        if (saved.empty())
            ::unsetenv(name);
        else
            ::setenv(name, saved.c_str() + 1, 1);
    }
    std::string m_oldHome, m_oldConfig;
};

} // namespace fwpkgtest
