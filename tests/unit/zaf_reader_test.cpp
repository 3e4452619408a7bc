// The archive reader: the failure table with its exact messages, the hardened cases, stored
// sizes larger than the data, and a failed allocation.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <string>

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

// Fault caught: a name matched by prefix or case or past its field, a directory or payload
// that promises more than the file holds read past its end, any failure ending without its own
// message (or with one where it must be silent).
TEST_F(ZafReader, FailuresEndWithTheirMessageAndStatusOne)
{
    const std::string not_found = "ZAF_Read: FATAL_ERROR: File not found.\n";
    std::string no_nul = good;
    memset(&no_nul[16], 'n', 40);
    struct Case {
        const char *what;
        std::string archive;   // empty: the file does not exist
        std::string name;
        uint32_t type;
        std::string output;    // '@' stands for the archive's path
    };
    const Case cases[] = {
        {"file missing", "", "pic", ZAF_TYPE_PICTURE, ""},
        {"magic ZAF and NUL", std::string("ZAF\0", 4) + good.substr(4), "pic", ZAF_TYPE_PICTURE,
         ""},
        {"name not found", good, "nope", ZAF_TYPE_PICTURE, not_found},
        {"name differs in case", good, "PIC", ZAF_TYPE_PICTURE, not_found},
        {"prefix of a name", good, "pi", ZAF_TYPE_PICTURE, not_found},
        {"name field without its NUL", no_nul, std::string(40, 'n'), ZAF_TYPE_PICTURE,
         not_found},
        {"first entry of the name has another type",
         Craft_Archive({{"twin", ZAF_TYPE_DATA, "a"}, {"twin", ZAF_TYPE_MESH, "b"}}), "twin",
         ZAF_TYPE_MESH, "ZAF_Read: FATAL_ERROR: Wrong file type.\n"},
        {"data past the end of the file", good.substr(0, 16 + 56 * 3 + 3), "pic",
         ZAF_TYPE_PICTURE, "ZAF_Read: FATAL_ERROR: Drive access error.\n"},
        {"offset plus size wraps 32 bits",
         Craft_Put32(Craft_Put32(good, Craft_At(1, CRAFT_OFFSET), 0xfffffff0),
                     Craft_At(1, CRAFT_PACKED), 0x20),
         "text", ZAF_TYPE_DATA, "ZAF_Read: FATAL_ERROR: Drive access error.\n"},
        {"unpacked size too small", Craft_Put32(good, Craft_At(1, CRAFT_UNPACKED), 8), "text",
         ZAF_TYPE_DATA, "ZAF_Read: Fatal error: decompression failed.\n"},
        // Hardened: the layout promises more than the file holds.
        {"header truncated", "ZAFD\1\2\3\4\5", "pic", ZAF_TYPE_PICTURE,
         "ZAF_Open: FATAL_ERROR: Header of \"@\" truncated.\n"},
        {"directory size wraps 32 bits to 24", Craft_Put32(good, 12, 0x04924925), "pic",
         ZAF_TYPE_PICTURE, "ZAF_Open: FATAL_ERROR: Entry count 76695845 does not fit in \"@\".\n"},
        {"directory cut inside its last record", good.substr(0, 16 + 56 * 3 - 1), "pic",
         ZAF_TYPE_PICTURE, "ZAF_Open: FATAL_ERROR: Entry count 3 does not fit in \"@\".\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = c.archive.empty() ? dir + "/missing.zaf" : Write(c.archive);
        std::string expected = c.output;
        if (size_t at = expected.find('@'); at != std::string::npos)
            expected.replace(at, 1, path);
        EXPECT_ZAF_EXIT(
            {
                ZAF_Open(path.c_str());
                ZAF_Read(c.name.c_str(), c.type);
            },
            expected);
    }
}

// Fault caught: a stored size larger than the data refused, or kept for the next read.
TEST_F(ZafReader, LargerStoredSizeReadsAndIsCorrectedToTheTrueLength)
{
    const std::string payload = Noise(1000);
    for (uint32_t stored : {400000u, 0xffffffffu}) {
        SCOPED_TRACE(stored);
        std::string archive = Craft_Archive({{"noise", ZAF_TYPE_DATA, payload}});
        std::string path = Write(Craft_Put32(archive, Craft_At(0, CRAFT_UNPACKED), stored));
        ASSERT_EQ(ZAF_Open(path.c_str()), 0);
        for (int round = 0; round < 2; round++) {
            char *bytes = (char *)ZAF_Read("noise", ZAF_TYPE_DATA);
            EXPECT_EQ(std::string(bytes, ZAF_LastLength()), payload);
            // The first read wrote the true length back, so the second allocates just that.
            if (round == 1) {
                EXPECT_LT(malloc_usable_size(bytes), 2000u);
            }
            free(bytes);
        }
        ZAF_Close();
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
