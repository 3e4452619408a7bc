// The decoders' failures: payloads whose headers promise more than they hold, sizes that
// overflow, allocations that fail. How fields map is seen by the zaf tool's round trip and the
// data tests, which read real pictures and meshes through the same decoders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "fuzz/zaf_craft.h"

namespace {

using ZafDecoders = ZafTest;

// Fault caught: a payload that promises more than it holds read past its end, a size that
// overflows, a failed allocation, or any of them ending without its own message.
TEST_F(ZafDecoders, FailuresEndWithTheirMessageAndStatusOne)
{
    // 24 MB payloads of zeros for the allocation failures: the archive's buffer fits under
    // the cap, the decoder's copy does not. Made as mappings, so none stays as free heap.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    const uint32_t tiles = 8u << 20, triangles = (24u << 20) / 36;
    struct Case {
        CraftEntry entry;   // read by its name through the decoder of its type, or `other`
        bool other;         // picture and mesh decoders swapped
        bool capped;        // address space capped after the archive is opened
        const char *output;
    };
    const Case cases[] = {
        {{"e", ZAF_TYPE_MESH, Craft_Mesh(0, 0, {})}, true, false,
         "ZAF_Read: FATAL_ERROR: Wrong file type.\n"},
        {{"e", ZAF_TYPE_PICTURE, Craft_Words({1, 1, 4})}, false, false,
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" shorter than its header.\n"},
        {{"e", ZAF_TYPE_PICTURE, Craft_Picture(2, 2, 4, 4).substr(0, 16 + 191)}, false, false,
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" shorter than its pixels.\n"},
        {{"e", ZAF_TYPE_PICTURE, Craft_Words({0x55555556, 1, 1, 1}) + std::string(64, 'p')},
         false, false, "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" size overflows.\n"},
        {{"two\nlines", ZAF_TYPE_MESH, Craft_Words({7})}, false, false,
         "ZAF_ReadASE: FATAL_ERROR: Mesh \"two?lines\" shorter than its header.\n"},
        {{"e", ZAF_TYPE_MESH, Craft_Mesh(2, 0, std::vector<float>(9, 1.0f))}, false, false,
         "ZAF_ReadASE: FATAL_ERROR: Mesh \"e\" shorter than its triangles.\n"},
        {{"e", ZAF_TYPE_MESH, Craft_Mesh(0x71c71c72, 0, std::vector<float>(9, 1.0f))}, false,
         false, "ZAF_ReadASE: FATAL_ERROR: Mesh \"e\" size overflows.\n"},
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // no room for shadow memory
        {{"big", ZAF_TYPE_PICTURE, Craft_Words({tiles, 1, 1, 1}) + std::string(tiles * 3, '\0')},
         false, true, "FATAL_ERROR: Memory allocation failed.\n"},
        {{"big", ZAF_TYPE_MESH, Craft_Words({triangles, 0}) + std::string(triangles * 36, '\0')},
         false, true, "ZAF_ReadASE: FATAL_ERROR: Memory allocation failed for \"big\".\n"},
#endif
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.output);
        std::string path = Write(Craft_Archive({c.entry}));
        EXPECT_ZAF_EXIT(
            {
                ZAF_Open(path.c_str());
                if (c.capped)
                    Cap_AddressSpace((24u << 20) + (8u << 20));
                if ((c.entry.type == ZAF_TYPE_PICTURE) != c.other)
                    ZAF_ReadPicture(c.entry.name.c_str());
                else
                    ZAF_ReadASE(c.entry.name.c_str());
            },
            c.output);
    }
}

}  // namespace
