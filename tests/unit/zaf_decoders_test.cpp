// The decoders: field mapping, sizes at their edges, bytes past the payload ignored, and the
// payloads whose headers promise more than they hold.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "fuzz/zaf_craft.h"
#include "support/process.h"

namespace {

class ZafDecoders : public ::testing::Test {
protected:
    void SetUp() override { dir = Make_TempDir("zaf-decoders"); }
    void TearDown() override
    {
        ZAF_Close();
        std::filesystem::remove_all(dir);
    }
    std::string Write(const std::vector<CraftEntry> &entries)
    {
        std::string path = dir + "/test.zaf";
        Craft_Write(path, Craft_Archive(entries));
        return path;
    }
    std::string dir;
};

TEST_F(ZafDecoders, PicturesMapTheHeaderAndCopyThePixels)
{
    struct Case {
        uint32_t across, down, w, h;
        std::string tail;   // bytes after the pixels, to be ignored
    };
    const Case cases[] = {
        {1, 1, 4, 4, ""}, {2, 2, 8, 8, ""}, {3, 2, 16, 4, "trailing bytes"}, {0, 5, 8, 8, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.across << "x" << c.down << " of " << c.w << "x" << c.h);
        std::string payload = Craft_Picture(c.across, c.down, c.w, c.h);
        std::string pixels = payload.substr(16);
        ASSERT_EQ(ZAF_Open(Write({{"pic", ZAF_TYPE_PICTURE, payload + c.tail}}).c_str()), 0);
        Picture *picture = ZAF_ReadPicture("pic");
        EXPECT_EQ(picture->tiles_across, c.across);
        EXPECT_EQ(picture->tiles_down, c.down);
        EXPECT_EQ(picture->tile_width, c.w);
        EXPECT_EQ(picture->tile_height, c.h);
        EXPECT_EQ(std::string((char *)picture->pixels, pixels.size()), pixels);
        free(picture->pixels);
        free(picture);
        ZAF_Close();
    }
}

TEST_F(ZafDecoders, MeshesCarryCountsAndTriangles)
{
    const std::vector<float> two = {0, 0, 0, 1, 0, 0, 1, 1, 0, -1.5f, 2.25f, 1e-3f, 3, 4, 5,
                                    6, 7, 8.5f};
    struct Case {
        uint32_t count, second;
        std::vector<float> floats;
        std::string tail;
    };
    const Case cases[] = {{0, 0, {}, ""}, {0, 77, {}, "ignored"}, {2, 4, two, ""},
                          {2, 0xffffffff, two, std::string(36, 'x')}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " triangles, second " << c.second);
        std::string payload = Craft_Mesh(c.count, c.second, c.floats) + c.tail;
        ASSERT_EQ(ZAF_Open(Write({{"mesh", ZAF_TYPE_MESH, payload}}).c_str()), 0);
        Mesh *mesh = ZAF_ReadASE("mesh");
        EXPECT_EQ(mesh->triangle_count, c.count);
        EXPECT_EQ(mesh->second_count, c.second);
        ASSERT_NE(mesh->triangles, nullptr);
        EXPECT_EQ(std::vector<float>(mesh->triangles, mesh->triangles + c.count * 9), c.floats);
        free(mesh->triangles);
        free(mesh);
        ZAF_Close();
    }
}

TEST_F(ZafDecoders, DataComesBackAsStored)
{
    std::string block("\0\1\2 scroll text \xff", 18);
    ASSERT_EQ(ZAF_Open(Write({{"water", ZAF_TYPE_DATA, block}}).c_str()), 0);
    char *data = (char *)ZAF_ReadData("water");
    EXPECT_EQ(std::string(data, ZAF_LastLength()), block);
    free(data);
}

TEST_F(ZafDecoders, FailuresEndWithTheirMessageAndStatusOne)
{
    struct Case {
        const char *what;
        CraftEntry entry;
        char decoder;   // p, m or d
        const char *output;
    };
    const Case cases[] = {
        {"picture asked of a mesh", {"e", ZAF_TYPE_MESH, Craft_Mesh(0, 0, {})}, 'p',
         "ZAF_Read: FATAL_ERROR: Wrong file type.\n"},
        {"picture asked of data", {"e", ZAF_TYPE_DATA, Craft_Picture(1, 1, 1, 1)}, 'p',
         "ZAF_Read: FATAL_ERROR: Wrong file type.\n"},
        {"mesh asked of a picture", {"e", ZAF_TYPE_PICTURE, Craft_Picture(1, 1, 1, 1)}, 'm',
         "ZAF_Read: FATAL_ERROR: Wrong file type.\n"},
        {"data asked of a picture", {"e", ZAF_TYPE_PICTURE, Craft_Picture(1, 1, 1, 1)}, 'd',
         "ZAF_Read: FATAL_ERROR: Wrong file type.\n"},
        {"picture header cut", {"e", ZAF_TYPE_PICTURE, Craft_Words({1, 1, 4})}, 'p',
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" shorter than its header.\n"},
        {"picture missing its last byte",
         {"e", ZAF_TYPE_PICTURE, Craft_Picture(2, 2, 4, 4).substr(0, 16 + 191)}, 'p',
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" shorter than its pixels.\n"},
        {"picture with a huge tile count", {"e", ZAF_TYPE_PICTURE, Craft_Words({1000, 1000, 8, 8})},
         'p', "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" shorter than its pixels.\n"},
        {"picture size wraps to 0 in 32 bits",
         {"e", ZAF_TYPE_PICTURE, Craft_Words({1, 1, 65536, 65536})}, 'p',
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" size overflows.\n"},
        {"picture size wraps to a small number",
         {"e", ZAF_TYPE_PICTURE, Craft_Words({0x55555556, 1, 1, 1}) + std::string(64, 'p')}, 'p',
         "ZAF_ReadPicture: FATAL_ERROR: Picture \"e\" size overflows.\n"},
        {"mesh header cut", {"e", ZAF_TYPE_MESH, Craft_Words({0})}, 'm',
         "ZAF_ReadASE: FATAL_ERROR: Mesh \"e\" shorter than its header.\n"},
        {"mesh missing a triangle",
         {"e", ZAF_TYPE_MESH, Craft_Mesh(2, 0, std::vector<float>(9, 1.0f))}, 'm',
         "ZAF_ReadASE: FATAL_ERROR: Mesh \"e\" shorter than its triangles.\n"},
        {"mesh size wraps 32 bits",
         {"e", ZAF_TYPE_MESH, Craft_Mesh(0x71c71c72, 0, std::vector<float>(9, 1.0f))}, 'm',
         "ZAF_ReadASE: FATAL_ERROR: Mesh \"e\" size overflows.\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = Write({c.entry});
        EXPECT_ZAF_EXIT(
            {
                ZAF_Open(path.c_str());
                if (c.decoder == 'p')
                    ZAF_ReadPicture("e");
                else if (c.decoder == 'm')
                    ZAF_ReadASE("e");
                else
                    ZAF_ReadData("e");
            },
            c.output);
    }
}

TEST_F(ZafDecoders, NamesWithControlCharactersStillGiveOneLine)
{
    std::string path = Write({{"two\nlines", ZAF_TYPE_MESH, Craft_Words({7})}});
    EXPECT_ZAF_EXIT(
        {
            ZAF_Open(path.c_str());
            ZAF_ReadASE("two\nlines");
        },
        "ZAF_ReadASE: FATAL_ERROR: Mesh \"two?lines\" shorter than its header.\n");
}

#ifndef __SANITIZE_ADDRESS__
TEST_F(ZafDecoders, AllocationFailuresAreOneLine)
{
    // 24 MB payloads of zeros: the archive's buffer fits under the cap, the decoder's copy
    // does not.
    const uint32_t tiles = 8u << 20;   // 1 × 1-pixel tiles, 3 bytes each
    const uint32_t triangles = (24u << 20) / 36;
    struct Case {
        const char *what;
        std::string archive;
        bool picture;
        const char *output;
    };
    const Case cases[] = {
        {"picture pixels",
         Craft_ZeroTailArchive("big", ZAF_TYPE_PICTURE, Craft_Words({tiles, 1, 1, 1}), tiles * 3),
         true, "FATAL_ERROR: Memory allocation failed.\n"},
        {"mesh triangles",
         Craft_ZeroTailArchive("big", ZAF_TYPE_MESH, Craft_Words({triangles, 0}), triangles * 36),
         false, "ZAF_ReadASE: FATAL_ERROR: Memory allocation failed for \"big\".\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = dir + "/big.zaf";
        Craft_Write(path, c.archive);
        EXPECT_ZAF_EXIT(
            {
                ZAF_Open(path.c_str());
                Cap_AddressSpace((24u << 20) + (8u << 20));   // the read fits, the copy not
                if (c.picture)
                    ZAF_ReadPicture("big");
                else
                    ZAF_ReadASE("big");
            },
            c.output);
    }
}
#endif

}  // namespace
