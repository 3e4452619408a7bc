// The zaf tool: pack → list → extract gives back the sources, the packed layout is the one
// the decoders read, packing is deterministic, and damaged archives are named, not read past.
// A manifest it should refuse shows in the data tests as the entry the demo cannot use.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <string>
#include <vector>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "fuzz/zaf_craft.h"

namespace {

const std::string text_bytes("scroll\0text\xff\n", 13);

// Writes a PNG of `channels` channels (1 gray, 3 RGB, 4 RGBA) with a distinct byte
// everywhere, so a pixel in the wrong place shows; returns the RGB it must come back as.
std::vector<unsigned char> Write_Png(const std::string &path, uint32_t w, uint32_t h,
                                     int channels, int seed)
{
    std::vector<unsigned char> source, rgb;
    for (uint32_t i = 0; i < w * h * channels; i++) {
        source.push_back((unsigned char)(i * 13 + seed + i / 251));
        if (channels != 4 || i % 4 != 3)
            rgb.insert(rgb.end(), channels == 1 ? 3 : 1, source.back());
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w;
    image.height = h;
    image.format = channels == 1   ? PNG_FORMAT_GRAY
                   : channels == 4 ? PNG_FORMAT_RGBA
                                   : PNG_FORMAT_RGB;
    EXPECT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, source.data(), 0, nullptr));
    return rgb;
}

class ZafTool : public ZafTest {
protected:
    void SetUp() override
    {
        ZafTest::SetUp();
        std::filesystem::create_directory(dir + "/more");
        wide = Write_Png(dir + "/wide.png", 32, 16, 3, 1);
        alpha = Write_Png(dir + "/more/alpha.png", 16, 8, 4, 2);
        gray = Write_Png(dir + "/gray.png", 4, 8, 1, 3);
        Write("# a quad and a triangle\nv 0 0 0\nv 1 0 0\nv 1 1 0.5\nv 0 1 -2.25\nvn 0 0 1\n"
              "vt 0 0\nf 1/1/1 2/1/1 3//1 4\nv 3 3 3\no ignored\nf -1 -2 -3\n", "shape.obj");
        Write(text_bytes, "scroll.dat");
        Write("# the test archive\n\nwide picture wide.png 8x8\n"
              "alpha   picture alpha.png 16x4   # RGBA source, found through -I only\n"
              "gray picture gray.png 4x4\nshape mesh shape.obj\n\ttext data scroll.dat\n", "m.txt");
    }
    ProcessResult Zaf(const std::string &arguments)
    {
        return Run_Command("cd " + dir + " && " + QM_BUILD_DIR + "/zaf " + arguments + " 2>&1");
    }
    std::vector<unsigned char> wide, alpha, gray;   // the pictures as RGB
};

// Fault caught: an entry that does not come back as its source, packing that depends on more
// than the manifest and sources, tiles or rows stored in another order than the decoders read,
// faces not fanned from their first corner.
TEST_F(ZafTool, PackListExtractRoundTripAndLayout)
{
    ProcessResult pack = Zaf("pack out.zaf m.txt -I more");
    ASSERT_EQ(pack.status, 0) << pack.output;
    EXPECT_EQ(pack.output, "");
    ProcessResult list = Zaf("list out.zaf");
    ASSERT_EQ(list.status, 0) << list.output;
    for (const char *row : {"wide   picture (16)", "4x2 tiles of 8x8", "1x2 tiles of 16x4",
                            "shape  mesh (15)", "3 triangles", "text   data (32)"})
        EXPECT_NE(list.output.find(row), std::string::npos) << row << "\n" << list.output;

    // Every entry extracted packs to the same bytes again, and packing is deterministic.
    for (const char *name : {"wide", "alpha", "gray"})
        ASSERT_EQ(Zaf("extract out.zaf " + std::string(name) + " -o x" + name + ".png").status, 0);
    ASSERT_EQ(Zaf("extract out.zaf shape --output=x.obj").status, 0);
    ASSERT_EQ(Zaf("extract out.zaf text").status, 0);   // to NAME.bin by default
    Write("wide picture xwide.png 8x8\nalpha picture xalpha.png 16x4\n"
          "gray picture xgray.png 4x4\nshape mesh x.obj\ntext data text.bin\n", "m2.txt");
    ASSERT_EQ(Zaf("pack again.zaf m2.txt").status, 0);
    EXPECT_EQ(Craft_Read(dir + "/again.zaf"), Craft_Read(dir + "/out.zaf"));

    // What the decoders read: the first tile row is the bottom of the PNG, a tile's rows are
    // stored top first; faces fanned from their first corner; the second word counts `v`s.
    ASSERT_EQ(ZAF_Open((dir + "/out.zaf").c_str()), 0);
    const struct {
        const char *name;
        const std::vector<unsigned char> &rgb;
        uint32_t width, height, w, h;   // of the picture, of a tile
    } pictures[] = {{"wide", wide, 32, 16, 8, 8}, {"alpha", alpha, 16, 8, 16, 4},
                    {"gray", gray, 4, 8, 4, 4}};
    for (const auto &p : pictures) {
        std::string tiles;
        for (uint32_t r = p.height / p.h; r-- > 0;)
            for (uint32_t x = 0; x < p.width; x += p.w)
                for (uint32_t y = r * p.h; y < (r + 1) * p.h; y++)
                    tiles.append((const char *)&p.rgb[(y * p.width + x) * 3], p.w * 3);
        Picture *picture = ZAF_ReadPicture(p.name);
        EXPECT_EQ(std::string((char *)picture->pixels, tiles.size()), tiles) << p.name;
        free(picture->pixels);
        free(picture);
    }
    Mesh *mesh = ZAF_ReadASE("shape");
    ASSERT_EQ(mesh->triangle_count, 3u);
    EXPECT_EQ(mesh->second_count, 5u);
    EXPECT_EQ(std::vector<float>(mesh->triangles, mesh->triangles + 27),
              std::vector<float>({0, 0, 0, 1, 0, 0, 1, 1, 0.5f, 0, 0, 0, 1, 1, 0.5f, 0, 1,
                                  -2.25f, 3, 3, 3, 0, 1, -2.25f, 1, 1, 0.5f}));
    free(mesh->triangles);
    free(mesh);
}

// Fault caught: the tool going on past a damaged archive or entry, or hiding which one.
TEST_F(ZafTool, DamagedArchivesAndEntries)
{
    ASSERT_EQ(Zaf("pack out.zaf m.txt -I more").status, 0);
    const std::string good = Craft_Read(dir + "/out.zaf");
    Write(good.substr(0, good.size() - 10), "cut.zaf");
    Write(Craft_Put32(good, Craft_At(0, CRAFT_UNPACKED), 8), "stream.zaf");
    Write(std::string("ZAF\0", 4) + good.substr(4), "magic.zaf");
    const std::pair<const char *, const char *> cases[] = {
        {"extract out.zaf Text", "zaf: out.zaf: no entry named \"Text\"\n"},
        {"list missing.zaf", "zaf: missing.zaf: cannot open"},
        {"list magic.zaf", "zaf: magic.zaf: not an archive"},
        {"list more", "zaf: more: cannot read: Is a directory\n"},
        {"extract more wide", "zaf: more: cannot read: Is a directory\n"},
        {"extract cut.zaf text", "zaf: cut.zaf: entry \"text\": data past the end of the file"},
        {"extract stream.zaf wide", "zaf: stream.zaf: entry \"wide\": decompression failed"},
    };
    for (auto [arguments, output] : cases) {
        SCOPED_TRACE(arguments);
        ProcessResult result = Zaf(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output.rfind(output, 0), 0u) << result.output;
    }
    // A damaged entry keeps its row in the listing; the damage follows it, status 1.
    ProcessResult list = Zaf("list stream.zaf");
    EXPECT_EQ(list.status, 1);
    EXPECT_NE(list.output.find("damaged"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("text   data (32)"), std::string::npos) << list.output;
}

// Fault caught: a listing that passes over an entry whose data the file no longer holds (a
// data entry, which has no contents to show, included), that marks the wrong entries, or that
// ends with status 0.
TEST_F(ZafTool, ListMarksEveryEntryCutShort)
{
    ASSERT_EQ(Zaf("pack out.zaf m.txt -I more").status, 0);
    const std::string good = Craft_Read(dir + "/out.zaf");
    auto word = [&](size_t at) {
        uint32_t value;
        memcpy(&value, &good[at], 4);
        return value;
    };
    auto data_at = [&](size_t i) { return word(Craft_At(i, CRAFT_OFFSET)); };
    // In the manifest's order, which is the order of the payloads in the file.
    const char *names[] = {"wide", "alpha", "gray", "shape", "text"};
    const struct {
        size_t first_damaged;
        size_t length;   // of the file as cut
    } cases[] = {
        {4, good.size() - 1},   // the last byte of the last entry
        {4, data_at(4)},        // all of the last entry's data
        {3, data_at(3) + word(Craft_At(3, CRAFT_PACKED)) / 2},
        {0, data_at(0) + 1},    // every payload
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("cut at " + std::to_string(c.length));
        Write(good.substr(0, c.length), "cut.zaf");
        ProcessResult list = Zaf("list cut.zaf");
        EXPECT_EQ(list.status, 1);
        std::vector<std::string> lines = Split_Lines(list.output);
        for (size_t i = 0; i < std::size(names); i++) {
            const bool damaged = i >= c.first_damaged;
            const std::string name = names[i];
            auto row = std::find_if(lines.begin(), lines.end(), [&](const std::string &line) {
                return line.rfind(name + " ", 0) == 0;
            });
            ASSERT_NE(row, lines.end()) << name << "\n" << list.output;
            EXPECT_EQ(row->ends_with(" damaged"), damaged) << *row;
            const std::string message =
                "zaf: cut.zaf: entry \"" + name + "\": data past the end of the file";
            EXPECT_EQ(std::count(lines.begin(), lines.end(), message), damaged) << name;
        }
    }
}

}  // namespace
