// Archives made byte by byte for the reader's tests: any directory value can be set, so
// damaged archives are as easy to make as good ones.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct CraftEntry {
    std::string name;
    uint32_t type;
    std::string payload;   // inflated bytes; deflated when the archive is made
};

inline void Craft_Put32(std::string &bytes, size_t offset, uint32_t value)
{
    if (bytes.size() < offset + 4)
        bytes.resize(offset + 4);
    for (int i = 0; i < 4; i++)
        bytes[offset + i] = (char)(value >> (8 * i));
}

inline uint32_t Craft_Get32(const std::string &bytes, size_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; i--)
        value = value << 8 | (unsigned char)bytes[offset + i];
    return value;
}

inline std::string Craft_Words(std::initializer_list<uint32_t> words)
{
    std::string bytes;
    for (uint32_t word : words)
        Craft_Put32(bytes, bytes.size(), word);
    return bytes;
}

inline std::string Craft_Deflate(const std::string &data)
{
    uLongf length = compressBound(data.size());
    std::string out(length, '\0');
    compress2(reinterpret_cast<Bytef *>(out.data()), &length,
              reinterpret_cast<const Bytef *>(data.data()), data.size(), 9);
    out.resize(length);
    return out;
}

// Directory field offsets of entry i.
inline size_t Craft_Type(size_t i) { return 16 + 56 * i + 40; }
inline size_t Craft_Unpacked(size_t i) { return 16 + 56 * i + 44; }
inline size_t Craft_Packed(size_t i) { return 16 + 56 * i + 48; }
inline size_t Craft_Offset(size_t i) { return 16 + 56 * i + 52; }

// "ZAFD", two reserved words, the count, the directory, then the deflated payloads in order.
inline std::string Craft_Archive(const std::vector<CraftEntry> &entries)
{
    std::string bytes = "ZAFD";
    Craft_Put32(bytes, 4, 0x11223344);
    Craft_Put32(bytes, 8, 0xfeedbeef);
    Craft_Put32(bytes, 12, (uint32_t)entries.size());
    bytes.resize(16 + 56 * entries.size());
    for (size_t i = 0; i < entries.size(); i++) {
        std::string packed = Craft_Deflate(entries[i].payload);
        memcpy(&bytes[16 + 56 * i], entries[i].name.c_str(),
               std::min<size_t>(entries[i].name.size() + 1, 40));
        Craft_Put32(bytes, Craft_Type(i), entries[i].type);
        Craft_Put32(bytes, Craft_Unpacked(i), (uint32_t)entries[i].payload.size());
        Craft_Put32(bytes, Craft_Packed(i), (uint32_t)packed.size());
        Craft_Put32(bytes, Craft_Offset(i), (uint32_t)bytes.size());
        bytes += packed;
    }
    return bytes;
}

// One entry whose payload is `head` followed by `zeros` zero bytes, deflated a piece at a
// time: large payloads without a large buffer in the test process.
inline std::string Craft_ZeroTailArchive(const std::string &name, uint32_t type,
                                         const std::string &head, size_t zeros)
{
    z_stream stream{};
    deflateInit(&stream, 1);
    std::string packed;
    static const unsigned char zero_block[1 << 16] = {};
    unsigned char out[1 << 16];
    auto pump = [&](const unsigned char *data, size_t length, int flush) {
        stream.next_in = const_cast<unsigned char *>(data);
        stream.avail_in = (uInt)length;
        do {
            stream.next_out = out;
            stream.avail_out = sizeof out;
            deflate(&stream, flush);
            packed.append(reinterpret_cast<char *>(out), sizeof out - stream.avail_out);
        } while (stream.avail_out == 0);
    };
    pump(reinterpret_cast<const unsigned char *>(head.data()), head.size(), Z_NO_FLUSH);
    for (size_t left = zeros; left > 0;) {
        size_t step = std::min(left, sizeof zero_block);
        left -= step;
        pump(zero_block, step, left == 0 ? Z_FINISH : Z_NO_FLUSH);
    }
    deflateEnd(&stream);
    std::string bytes = Craft_Archive({{name, type, ""}});
    bytes.resize(16 + 56);
    Craft_Put32(bytes, Craft_Unpacked(0), (uint32_t)(head.size() + zeros));
    Craft_Put32(bytes, Craft_Packed(0), (uint32_t)packed.size());
    return bytes + packed;
}

// A picture payload: header, then `pixels` (or as many bytes as the header promises, each
// the low byte of its index, when pixels is empty).
inline std::string Craft_Picture(uint32_t across, uint32_t down, uint32_t w, uint32_t h,
                                 std::string pixels = "")
{
    if (pixels.empty()) {
        pixels.resize((size_t)across * down * w * h * 3);
        for (size_t i = 0; i < pixels.size(); i++)
            pixels[i] = (char)(i * 7 + 1);
    }
    return Craft_Words({across, down, w, h}) + pixels;
}

inline std::string Craft_Mesh(uint32_t count, uint32_t second, const std::vector<float> &floats)
{
    std::string bytes = Craft_Words({count, second});
    bytes.append(reinterpret_cast<const char *>(floats.data()), floats.size() * sizeof(float));
    return bytes;
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

// Runs statement in a death-test child with standard output sent where gtest reads it, then
// expects status 1 and exactly `text` (the reader's messages go to standard output).
#define EXPECT_ZAF_EXIT(statement, text)                                                   \
    EXPECT_EXIT(                                                                           \
        {                                                                                  \
            fflush(stdout);                                                                \
            dup2(2, 1);                                                                    \
            statement;                                                                     \
            exit(0);                                                                       \
        },                                                                                 \
        ::testing::ExitedWithCode(1), ::testing::StrEq(text))

// Limits the process to its present address space plus `extra` bytes, so that a larger
// allocation fails. Large blocks are then always fresh mappings, never old heap space. Not
// for sanitizer builds, whose shadow memory needs far more.
inline void Cap_AddressSpace(size_t extra)
{
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    size_t pages = 0;
    if (FILE *statm = fopen("/proc/self/statm", "r")) {
        if (fscanf(statm, "%zu", &pages) != 1)
            pages = 0;
        fclose(statm);
    }
    size_t bytes = pages * (size_t)sysconf(_SC_PAGESIZE) + extra;
    rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
}
