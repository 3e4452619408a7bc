// The archive reader and its decoders: one failure table with the exact messages, stored sizes
// larger than the data, and a failed allocation of the reader's buffer. How fields map is seen
// by the zaf tool's round trip and the data tests, which read real entries through the same
// decoders.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "fuzz/zaf_craft.h"

namespace {

using ZafReader = ZafTest;

// Bytes that deflate hardly shrinks.
std::string Noise(size_t length)
{
    std::string bytes(length, '\0');
    uint32_t state = 12345;
    for (char &c : bytes)
        c = (char)((state = state * 1103515245 + 12345) >> 24);
    return bytes;
}

const std::string good = Craft_Archive({{"pic", ZAF_TYPE_PICTURE, "picture payload"},
                                        {"text", ZAF_TYPE_DATA, "some text"},
                                        {"pic", ZAF_TYPE_PICTURE, "unreachable"}});

// Fault caught: a name matched by prefix or case or past its field, a directory, payload or
// decoded header that promises more than the file holds read past its end, a size that
// overflows, a failed allocation used, any failure ending without its own message (or with one
// where it must be silent).
TEST_F(ZafReader, FailuresEndWithTheirMessageAndStatusOne)
{
    const std::string not_found = "ZAF_Read: FATAL_ERROR: File not found.\n";
    std::string no_nul = good;
    memset(&no_nul[16], 'n', 40);
    // 24 MB payloads of zeros for the decoders' allocation failures: the archive's buffer fits
    // under the cap, the decoder's copy does not. Made as mappings, so none stays as free heap.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    [[maybe_unused]] const uint32_t tiles = 8u << 20, triangles = (24u << 20) / 36;
    const auto raw = [](const char *name, uint32_t type) { return [=] { ZAF_Read(name, type); }; };
    const auto decoded = [](const char *name, uint32_t type, bool capped = false) {
        return [=] {
            if (capped)
                Cap_AddressSpace((24u << 20) + (8u << 20));
            type == ZAF_TYPE_PICTURE ? (void)ZAF_ReadPicture(name) : (void)ZAF_ReadASE(name);
        };
    };
    const struct {
        std::string archive;   // empty: the file does not exist
        std::function<void()> read;
        std::string output;    // '@' stands for the archive's path
    } cases[] = {
        {"", raw("pic", ZAF_TYPE_PICTURE), ""},
        {std::string("ZAF\0", 4) + good.substr(4), raw("pic", ZAF_TYPE_PICTURE), ""},
        {good, raw("nope", ZAF_TYPE_PICTURE), not_found},
        {good, raw("PIC", ZAF_TYPE_PICTURE), not_found},
        {good, raw("pi", ZAF_TYPE_PICTURE), not_found},
        {no_nul, raw("nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", ZAF_TYPE_PICTURE), not_found},
        {Craft_Archive({{"twin", ZAF_TYPE_DATA, "a"}, {"twin", ZAF_TYPE_MESH, "b"}}),
         raw("twin", ZAF_TYPE_MESH), "ZAF_Read: FATAL_ERROR: Wrong file type.\n"},
        {good.substr(0, 16 + 56 * 3 + 3), raw("pic", ZAF_TYPE_PICTURE),
         "ZAF_Read: FATAL_ERROR: Drive access error.\n"},
        {Craft_Put32(Craft_Put32(good, Craft_At(1, CRAFT_OFFSET), 0xfffffff0),
                     Craft_At(1, CRAFT_PACKED), 0x20),
         raw("text", ZAF_TYPE_DATA), "ZAF_Read: FATAL_ERROR: Drive access error.\n"},
        {Craft_Put32(good, Craft_At(1, CRAFT_UNPACKED), 8), raw("text", ZAF_TYPE_DATA),
         "ZAF_Read: Fatal error: decompression failed.\n"},
        {"ZAFD\1\2\3\4\5", raw("pic", ZAF_TYPE_PICTURE),
         "ZAF_Open: FATAL_ERROR: Header of \"@\" truncated.\n"},
        // The directory's size wraps 32 bits to 24; then a directory cut inside its last record.
        {Craft_Put32(good, 12, 0x04924925), raw("pic", ZAF_TYPE_PICTURE),
         "ZAF_Open: FATAL_ERROR: Entry count 76695845 does not fit in \"@\".\n"},
        {good.substr(0, 16 + 56 * 3 - 1), raw("pic", ZAF_TYPE_PICTURE),
         "ZAF_Open: FATAL_ERROR: Entry count 3 does not fit in \"@\".\n"},
        // The decoders: bodies shorter than their headers say, sizes that overflow.
        {Craft_Archive({{"e", ZAF_TYPE_PICTURE, Craft_Words({1, 1, 4})}}),
         decoded("e", ZAF_TYPE_PICTURE),
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" shorter than its header.\n"},
        {Craft_Archive({{"e", ZAF_TYPE_PICTURE, Craft_Picture(2, 2, 4, 4).substr(0, 16 + 191)}}),
         decoded("e", ZAF_TYPE_PICTURE),
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" shorter than its pixels.\n"},
        {Craft_Archive({{"e", ZAF_TYPE_PICTURE,
                         Craft_Words({0x55555556, 1, 1, 1}) + std::string(64, 'p')}}),
         decoded("e", ZAF_TYPE_PICTURE),
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" size overflows.\n"},
        {Craft_Archive({{"two\nlines", ZAF_TYPE_MESH, Craft_Words({7})}}),
         decoded("two\nlines", ZAF_TYPE_MESH),
         "ZAF_ReadASE: FATAL_ERROR: Mesh \"two?lines\" shorter than its header.\n"},
        {Craft_Archive({{"e", ZAF_TYPE_MESH, Craft_Mesh(2, 0, std::vector<float>(9, 1.0f))}}),
         decoded("e", ZAF_TYPE_MESH),
         "ZAF_ReadASE: FATAL_ERROR: Mesh \"e\" shorter than its triangles.\n"},
        {Craft_Archive(
             {{"e", ZAF_TYPE_MESH, Craft_Mesh(0x71c71c72, 0, std::vector<float>(9, 1.0f))}}),
         decoded("e", ZAF_TYPE_MESH), "ZAF_ReadASE: FATAL_ERROR: Mesh \"e\" size overflows.\n"},
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // no room for shadow memory
        {Craft_Archive({{"big", ZAF_TYPE_PICTURE,
                         Craft_Words({tiles, 1, 1, 1}) + std::string(tiles * 3, '\0')}}),
         decoded("big", ZAF_TYPE_PICTURE, true), "FATAL_ERROR: Memory allocation failed.\n"},
        {Craft_Archive({{"big", ZAF_TYPE_MESH,
                         Craft_Words({triangles, 0}) + std::string(triangles * 36, '\0')}}),
         decoded("big", ZAF_TYPE_MESH, true),
         "ZAF_ReadASE: FATAL_ERROR: Memory allocation failed for \"big\".\n"},
#endif
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.output);
        std::string path = c.archive.empty() ? dir + "/missing.zaf" : Write(c.archive);
        std::string expected = c.output;
        if (size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, path);
        EXPECT_ZAF_EXIT(
            {
                ZAF_Open(path.c_str());
                c.read();
            },
            expected);
    }
}

// Fault caught: a stored size larger than the data refused, or kept for the next read.
TEST_F(ZafReader, LargerStoredSizeReadsAndIsCorrectedToTheTrueLength)
{
    const std::string payload = Noise(1000);
    std::string archive = Craft_Archive({{"noise", ZAF_TYPE_DATA, payload}});
    std::string path = Write(Craft_Put32(archive, Craft_At(0, CRAFT_UNPACKED), 0xffffffff));
    ASSERT_EQ(ZAF_Open(path.c_str()), 0);
    for (int round = 0; round < 2; round++) {
        char *bytes = (char *)ZAF_Read("noise", ZAF_TYPE_DATA);
        EXPECT_EQ(std::string(bytes, ZAF_LastLength()), payload);
        // The first read wrote the true length back, so the second allocates just that.
        EXPECT_TRUE(round == 0 || malloc_usable_size(bytes) < 2000u);
        free(bytes);
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Fault caught: a failed allocation of the output buffer used, or ending without its message.
TEST_F(ZafReader, AllocationFailureOfTheOutputBufferIsOneLine)
{
    // 2 MB that do not compress may claim 1.5 GB inflated; with 256 MB of address space
    // left that buffer cannot be had.
    std::string archive = Craft_Archive({{"big", ZAF_TYPE_DATA, Noise(2 << 20)}});
    std::string path = Write(Craft_Put32(archive, Craft_At(0, CRAFT_UNPACKED), 1500u << 20));
    EXPECT_ZAF_EXIT(
        {
            ZAF_Open(path.c_str());
            Cap_AddressSpace(256u << 20);
            ZAF_Read("big", ZAF_TYPE_DATA);
        },
        "ZAF_Read: FATAL_ERROR: Memory allocation failed for \"big\".\n");
}
#endif

}  // namespace
