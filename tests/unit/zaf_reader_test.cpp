// The archive reader: the failure table with its exact messages, the hardened cases, and the
// reads that must work (odd header words, stored sizes larger than the data).
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "fuzz/zaf_craft.h"
#include "support/process.h"

namespace {

class ZafReader : public ::testing::Test {
protected:
    void SetUp() override { dir = Make_TempDir("zaf-reader"); }
    void TearDown() override
    {
        ZAF_Close();
        std::filesystem::remove_all(dir);
    }
    std::string Write(const std::string &bytes)
    {
        std::string path = dir + "/test.zaf";
        Craft_Write(path, bytes);
        return path;
    }
    std::string dir;
};

// A few hundred bytes that deflate hardly shrinks.
std::string Noise(size_t length)
{
    std::string bytes(length, '\0');
    uint32_t state = 12345;
    for (char &c : bytes) {
        state = state * 1103515245 + 12345;
        c = (char)(state >> 24);
    }
    return bytes;
}

std::string Good_Archive()
{
    return Craft_Archive({{"pic", ZAF_TYPE_PICTURE, "picture payload"},
                          {"text", ZAF_TYPE_DATA, "some text"},
                          {"pic", ZAF_TYPE_PICTURE, "unreachable"}});
}

struct FailureCase {
    const char *what;
    std::string (*archive)();   // null: the file does not exist
    const char *name;
    uint32_t type;
    const char *output;
};

std::string With(std::string bytes, size_t offset, uint32_t value)
{
    Craft_Put32(bytes, offset, value);
    return bytes;
}

const FailureCase failure_cases[] = {
    {"file missing", nullptr, "pic", ZAF_TYPE_PICTURE, ""},
    {"magic ZAF and NUL", [] { std::string a = Good_Archive(); a[3] = '\0'; return a; }, "pic",
     ZAF_TYPE_PICTURE, ""},
    {"magic differs in case", [] { std::string a = Good_Archive(); a[3] = 'd'; return a; },
     "pic", ZAF_TYPE_PICTURE, ""},
    {"file of three bytes", [] { return std::string("ZAF"); }, "pic", ZAF_TYPE_PICTURE, ""},
    {"empty file", [] { return std::string(); }, "pic", ZAF_TYPE_PICTURE, ""},
    {"name not found", Good_Archive, "nope", ZAF_TYPE_PICTURE,
     "ZAF_Read: FATAL_ERROR: File not found.\n"},
    {"name differs in case", Good_Archive, "PIC", ZAF_TYPE_PICTURE,
     "ZAF_Read: FATAL_ERROR: File not found.\n"},
    {"prefix of a name", Good_Archive, "pi", ZAF_TYPE_PICTURE,
     "ZAF_Read: FATAL_ERROR: File not found.\n"},
    {"no entries", [] { return Craft_Archive({}); }, "pic", ZAF_TYPE_PICTURE,
     "ZAF_Read: FATAL_ERROR: File not found.\n"},
    {"first entry of the name has another type",
     [] {
         return Craft_Archive({{"twin", ZAF_TYPE_DATA, "a"}, {"twin", ZAF_TYPE_MESH, "b"}});
     },
     "twin", ZAF_TYPE_MESH, "ZAF_Read: FATAL_ERROR: Wrong file type.\n"},
    {"data past the end of the file",
     [] { return Good_Archive().substr(0, 16 + 56 * 3 + 3); }, "pic",
     ZAF_TYPE_PICTURE, "ZAF_Read: FATAL_ERROR: Drive access error.\n"},
    {"offset plus size wraps 32 bits",
     [] { return With(With(Good_Archive(), Craft_Offset(1), 0xfffffff0), Craft_Packed(1), 0x20); },
     "text", ZAF_TYPE_DATA, "ZAF_Read: FATAL_ERROR: Drive access error.\n"},
    {"unpacked size too small", [] { return With(Good_Archive(), Craft_Unpacked(1), 8); },
     "text", ZAF_TYPE_DATA, "ZAF_Read: Fatal error: decompression failed.\n"},
    {"stream damaged",
     [] {
         std::string a = Good_Archive();
         a[Craft_Get32(a, Craft_Offset(1)) + 1] ^= 0x40;   // zlib header check bits
         return a;
     },
     "text", ZAF_TYPE_DATA, "ZAF_Read: Fatal error: decompression failed.\n"},
    {"packed size cuts the stream short", [] { return With(Good_Archive(), Craft_Packed(1), 5); },
     "text", ZAF_TYPE_DATA, "ZAF_Read: Fatal error: decompression failed.\n"},
    // Hardened: the layout promises more than the file holds.
    {"header truncated", [] { return std::string("ZAFD\1\2\3\4\5"); }, "pic", ZAF_TYPE_PICTURE,
     "ZAF_Open: FATAL_ERROR: Header of \"@\" truncated.\n"},
    {"entry count past the file", [] { return With(Good_Archive(), 12, 1000); }, "pic",
     ZAF_TYPE_PICTURE, "ZAF_Open: FATAL_ERROR: Entry count 1000 does not fit in \"@\".\n"},
    {"entry count at 32-bit limit", [] { return With(Good_Archive(), 12, 0xffffffff); }, "pic",
     ZAF_TYPE_PICTURE, "ZAF_Open: FATAL_ERROR: Entry count 4294967295 does not fit in \"@\".\n"},
    {"directory cut inside its last record",
     [] { return Good_Archive().substr(0, 16 + 56 * 3 - 1); }, "pic", ZAF_TYPE_PICTURE,
     "ZAF_Open: FATAL_ERROR: Entry count 3 does not fit in \"@\".\n"},
    {"name field without its NUL",
     [] {
         std::string a = Good_Archive();
         memset(&a[16], 'n', 40);
         return a;
     },
     "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", ZAF_TYPE_PICTURE,
     "ZAF_Read: FATAL_ERROR: File not found.\n"},
};

TEST_F(ZafReader, FailuresEndWithTheirMessageAndStatusOne)
{
    for (const FailureCase &c : failure_cases) {
        SCOPED_TRACE(c.what);
        std::string path = c.archive ? Write(c.archive()) : dir + "/missing.zaf";
        std::string expected = c.output;
        if (size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, path);
        EXPECT_ZAF_EXIT(
            {
                ZAF_Open(path.c_str());
                ZAF_Read(c.name, c.type);
            },
            expected);
    }
}

TEST_F(ZafReader, ReadsTheFirstEntryOfANameWhateverTheHeaderWords)
{
    std::string archive = Good_Archive();
    Craft_Put32(archive, 4, 0xff80c0e0);   // reserved words are not ASCII and not checked
    Craft_Put32(archive, 8, 0xffffffff);
    ASSERT_EQ(ZAF_Open(Write(archive).c_str()), 0);
    for (int round = 0; round < 2; round++) {
        char *bytes = (char *)ZAF_Read("pic", ZAF_TYPE_PICTURE);
        EXPECT_EQ(std::string(bytes, ZAF_LastLength()), "picture payload");
        free(bytes);
    }
    char *text = (char *)ZAF_Read("text", ZAF_TYPE_DATA);
    EXPECT_EQ(std::string(text, ZAF_LastLength()), "some text");
    free(text);
}

TEST_F(ZafReader, LargerStoredSizeReadsAndIsCorrectedToTheTrueLength)
{
    const std::string payload = Noise(1000);
    std::string archive = Craft_Archive({{"noise", ZAF_TYPE_DATA, payload}});
    Craft_Put32(archive, Craft_Unpacked(0), 400000);
    ASSERT_EQ(ZAF_Open(Write(archive).c_str()), 0);

    char *first = (char *)ZAF_Read("noise", ZAF_TYPE_DATA);
    EXPECT_EQ(std::string(first, ZAF_LastLength()), payload);
    EXPECT_GE(malloc_usable_size(first), 400000u);
    // The first read wrote the true length back, so the second allocates just that.
    char *second = (char *)ZAF_Read("noise", ZAF_TYPE_DATA);
    EXPECT_EQ(std::string(second, ZAF_LastLength()), payload);
    EXPECT_LT(malloc_usable_size(second), 2000u);
    free(first);
    free(second);
}

TEST_F(ZafReader, AbsurdStoredSizeStillReads)
{
    std::string archive = Craft_Archive({{"tiny", ZAF_TYPE_DATA, "xyz"}});
    Craft_Put32(archive, Craft_Unpacked(0), 0xffffffff);
    ASSERT_EQ(ZAF_Open(Write(archive).c_str()), 0);
    char *bytes = (char *)ZAF_Read("tiny", ZAF_TYPE_DATA);
    EXPECT_EQ(std::string(bytes, ZAF_LastLength()), "xyz");
    free(bytes);
}

TEST_F(ZafReader, CloseIsHarmlessWithNothingOpenAndBuffersOutliveIt)
{
    EXPECT_EQ(ZAF_Close(), 0);
    ASSERT_EQ(ZAF_Open(Write(Good_Archive()).c_str()), 0);
    char *text = (char *)ZAF_Read("text", ZAF_TYPE_DATA);
    EXPECT_EQ(ZAF_Close(), 0);
    EXPECT_EQ(ZAF_Close(), 0);
    EXPECT_EQ(std::string(text, 9), "some text");
    free(text);
}

#ifndef __SANITIZE_ADDRESS__
TEST_F(ZafReader, AllocationFailureOfTheOutputBufferIsOneLine)
{
    // 2 MB that do not compress may claim 1.5 GB inflated; with 256 MB of address space
    // left that buffer cannot be had.
    std::string archive = Craft_Archive({{"big", ZAF_TYPE_DATA, Noise(2 << 20)}});
    Craft_Put32(archive, Craft_Unpacked(0), 1500u << 20);
    std::string path = Write(archive);
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
