// The decoders: field mapping, sizes at their edges, bytes past the payload ignored, and the
// payloads whose headers promise more than they hold.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "fuzz/zaf_craft.h"

namespace {

using ZafDecoders = ZafTest;

// Fault caught: header words mapped to the wrong fields (the payload's order is across, down,
// width, height for pictures, count then the carried word for meshes), a body not copied as it
// is, bytes past the body taken in, an empty picture or mesh refused.
TEST_F(ZafDecoders, HeadersMapToTheirFieldsAndTheBodyIsCopied)
{
    const std::vector<float> two = {0, 0, 0, 1, 0, 0, 1, 1, 0, -1.5f, 2.25f, 1e-3f, 3, 4, 5,
                                    6, 7, 8.5f};
    const struct {
        uint32_t type, words[4];
        std::vector<float> floats;   // a mesh's triangles
        std::string tail;            // bytes after the body, to be ignored
    } cases[] = {
        {ZAF_TYPE_PICTURE, {3, 2, 16, 4}, {}, "trailing bytes"},
        {ZAF_TYPE_PICTURE, {0, 5, 8, 8}, {}, ""},
        {ZAF_TYPE_MESH, {0, 77}, {}, "ignored"},
        {ZAF_TYPE_MESH, {2, 0xffffffff}, two, std::string(36, 'x')},
    };
    for (const auto &c : cases) {
        const uint32_t *w = c.words;
        const bool picture = c.type == ZAF_TYPE_PICTURE;
        SCOPED_TRACE(testing::Message() << w[0] << " " << w[1] << " " << w[2] << " " << w[3]);
        const std::string body = picture ? Craft_Picture(w[0], w[1], w[2], w[3])
                                         : Craft_Mesh(w[0], w[1], c.floats);
        ASSERT_EQ(ZAF_Open(Write(Craft_Archive({{"e", c.type, body + c.tail}})).c_str()), 0);
        if (picture) {
            Picture *p = ZAF_ReadPicture("e");
            EXPECT_EQ(std::vector<uint32_t>({p->tiles_across, p->tiles_down, p->tile_width,
                                             p->tile_height}),
                      std::vector<uint32_t>(w, w + 4));
            EXPECT_EQ(std::string((char *)p->pixels, body.size() - 16), body.substr(16));
            free(p->pixels);
            free(p);
        } else {
            Mesh *m = ZAF_ReadASE("e");
            EXPECT_EQ(m->triangle_count, w[0]);
            EXPECT_EQ(m->second_count, w[1]);
            ASSERT_NE(m->triangles, nullptr);
            EXPECT_EQ(std::vector<float>(m->triangles, m->triangles + w[0] * 9), c.floats);
            free(m->triangles);
            free(m);
        }
        ZAF_Close();
    }
}

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
