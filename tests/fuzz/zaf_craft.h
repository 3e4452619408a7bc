// Archives made byte by byte for the archive tests: any directory value can be set, so
// damaged archives are as easy to make as good ones. Also the fixture those tests share.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "support/process.h"

struct CraftEntry {
    std::string name;
    uint32_t type;
    std::string payload;   // inflated bytes; deflated when the archive is made
};

// Byte offsets of a directory field of entry i.
enum CraftField { CRAFT_TYPE = 40, CRAFT_UNPACKED = 44, CRAFT_PACKED = 48, CRAFT_OFFSET = 52 };
inline size_t Craft_At(size_t i, CraftField field) { return 16 + 56 * i + field; }

inline std::string Craft_Put32(std::string bytes, size_t offset, uint32_t value)
{
    bytes.resize(std::max(bytes.size(), offset + 4));
    memcpy(&bytes[offset], &value, 4);   // the archive is little-endian, as is the host
    return bytes;
}

inline std::string Craft_Words(std::initializer_list<uint32_t> words)
{
    return std::string((const char *)words.begin(), words.size() * 4);
}

// "ZAFD", two reserved words, the count, the directory, then the deflated payloads in order.
inline std::string Craft_Archive(const std::vector<CraftEntry> &entries)
{
    std::string bytes = "ZAFD" + Craft_Words({0x11223344, 0xfeedbeef, (uint32_t)entries.size()});
    bytes.resize(16 + 56 * entries.size());
    for (size_t i = 0; i < entries.size(); i++) {
        const CraftEntry &e = entries[i];
        uLongf length = compressBound(e.payload.size());
        std::string packed(length, '\0'), record = e.name.substr(0, 40);
        compress2((Bytef *)packed.data(), &length, (const Bytef *)e.payload.data(),
                  e.payload.size(), 9);
        packed.resize(length);
        record.resize(40, '\0');
        record += Craft_Words(
            {e.type, (uint32_t)e.payload.size(), (uint32_t)length, (uint32_t)bytes.size()});
        bytes.replace(16 + 56 * i, 56, record);
        bytes += packed;
    }
    return bytes;
}

// A picture payload: its header, then as many distinct bytes as the header promises.
inline std::string Craft_Picture(uint32_t across, uint32_t down, uint32_t w, uint32_t h)
{
    std::string pixels((size_t)across * down * w * h * 3, '\0');
    for (size_t i = 0; i < pixels.size(); i++)
        pixels[i] = (char)(i * 7 + 1);
    return Craft_Words({across, down, w, h}) + pixels;
}

inline std::string Craft_Mesh(uint32_t count, uint32_t second, const std::vector<float> &floats)
{
    return Craft_Words({count, second})
        + std::string((const char *)floats.data(), floats.size() * sizeof(float));
}

inline void Craft_Write(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), (std::streamsize)bytes.size());
}

inline std::string Craft_Read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh folder per test; Write puts an archive there and gives its path.
class ZafTest : public ::testing::Test {
protected:
    void SetUp() override { dir = Make_TempDir("zaf"); }
    void TearDown() override { ZAF_Close(); std::filesystem::remove_all(dir); }
    std::string Write(const std::string &bytes, const std::string &name = "test.zaf")
    {
        Craft_Write(dir + "/" + name, bytes);
        return dir + "/" + name;
    }
    std::string dir;
};

// Runs statement in a death-test child with standard output sent where gtest reads it, then
// expects status 1 and exactly `text` (the reader's messages go to standard output).
#define EXPECT_ZAF_EXIT(statement, text)                                                        \
    EXPECT_EXIT({ fflush(stdout); dup2(2, 1); statement; exit(0); },                            \
                ::testing::ExitedWithCode(1), ::testing::StrEq(text))

// Limits the process to its present address space plus `extra` bytes, so that a larger
// allocation fails. Large blocks are then fresh mappings; large blocks freed earlier must
// have been mappings too (the same threshold set before making them), or their free heap
// space is room the cap does not count. Not for sanitizer builds (shadow memory).
inline void Cap_AddressSpace(size_t extra)
{
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    statm >> pages;
    rlimit limit{pages * (size_t)sysconf(_SC_PAGESIZE) + extra, 0};
    limit.rlim_max = limit.rlim_cur;
    setrlimit(RLIMIT_AS, &limit);
}
