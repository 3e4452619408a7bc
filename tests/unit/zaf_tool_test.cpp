// The zaf tool: pack → list → extract gives back the sources, the packed layout is the one
// the decoders read, packing is deterministic, and bad manifests name their line.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "fuzz/zaf_craft.h"
#include "support/process.h"

namespace {

const std::string zaf = std::string(QM_BUILD_DIR) + "/zaf";

struct Png {
    uint32_t width, height;
    std::vector<unsigned char> pixels;   // in `format`
    uint32_t format;
};

void Write_Png(const std::string &path, const Png &png)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png.width;
    image.height = png.height;
    image.format = png.format;
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, png.pixels.data(), 0, nullptr));
}

std::vector<unsigned char> Read_Rgb(const std::string &path, uint32_t &width, uint32_t &height)
{
    png_image image;
    memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr);
    width = image.width;
    height = image.height;
    return rgb;
}

// Distinct bytes everywhere, so a pixel in the wrong place shows.
Png Pattern(uint32_t width, uint32_t height, uint32_t format, int channels, int seed)
{
    Png png{width, height, {}, format};
    for (uint32_t i = 0; i < width * height * channels; i++)
        png.pixels.push_back((unsigned char)(i * 13 + seed + i / 251));
    return png;
}

class ZafTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = Make_TempDir("zaf-tool");
        std::filesystem::create_directory(dir + "/more");
        Write_Png(dir + "/wide.png", wide);
        Write_Png(dir + "/more/alpha.png", alpha);   // found through -I only
        Write_Png(dir + "/gray.png", gray);
        Write_File("shape.obj", "# a quad and a triangle\nv 0 0 0\nv 1 0 0\nv 1 1 0.5\n"
                                "v 0 1 -2.25\nvn 0 0 1\nvt 0 0\nf 1/1/1 2/1/1 3//1 4\n"
                                "v 3 3 3\no ignored\nf -1 -2 -3\n");
        Write_File("scroll.dat", std::string("scroll\0text\xff\n", 13));
        Write_File("m.txt", "# the test archive\n\nwide picture wide.png 8x8\n"
                            "alpha   picture alpha.png 16x4   # RGBA source\n"
                            "gray picture gray.png 4x4\nshape mesh shape.obj\n"
                            "\ttext data scroll.dat\n");
    }
    void TearDown() override
    {
        ZAF_Close();
        std::filesystem::remove_all(dir);
    }
    void Write_File(const std::string &name, const std::string &text)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    ProcessResult Zaf(const std::string &arguments)
    {
        return Run_Command("cd " + dir + " && " + zaf + " " + arguments + " 2>&1");
    }
    std::string dir;
    const Png wide = Pattern(32, 16, PNG_FORMAT_RGB, 3, 1);
    const Png alpha = Pattern(16, 8, PNG_FORMAT_RGBA, 4, 2);
    const Png gray = Pattern(4, 8, PNG_FORMAT_GRAY, 1, 3);
};

// The source picture as RGB, whatever its format.
std::vector<unsigned char> As_Rgb(const Png &png)
{
    int channels = png.format == PNG_FORMAT_RGBA ? 4 : png.format == PNG_FORMAT_GRAY ? 1 : 3;
    std::vector<unsigned char> rgb;
    for (size_t p = 0; p < png.pixels.size() / channels; p++)
        for (int c = 0; c < 3; c++)
            rgb.push_back(png.pixels[p * channels + (channels == 1 ? 0 : c)]);
    return rgb;
}

TEST_F(ZafTool, PackListExtractRoundTrip)
{
    ProcessResult pack = Zaf("pack out.zaf m.txt -I more");
    ASSERT_EQ(pack.status, 0) << pack.output;
    EXPECT_EQ(pack.output, "");

    ProcessResult list = Zaf("list out.zaf");
    ASSERT_EQ(list.status, 0) << list.output;
    const char *rows[] = {"wide   picture (16)", "4x2 tiles of 8x8", "alpha  picture (16)",
                          "1x2 tiles of 16x4", "gray   picture (16)", "1x2 tiles of 4x4",
                          "shape  mesh (15)", "3 triangles", "text   data (32)"};
    for (const char *row : rows)
        EXPECT_NE(list.output.find(row), std::string::npos) << row << "\n" << list.output;

    const std::pair<const char *, const Png *> pictures[] = {
        {"wide", &wide}, {"alpha", &alpha}, {"gray", &gray}};
    for (auto [name, png] : pictures) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Zaf(std::string("extract out.zaf ") + name + " -o x.png").status, 0);
        uint32_t width = 0, height = 0;
        EXPECT_EQ(Read_Rgb(dir + "/x.png", width, height), As_Rgb(*png));
        EXPECT_EQ(width, png->width);
        EXPECT_EQ(height, png->height);
    }

    ASSERT_EQ(Zaf("extract out.zaf text").status, 0);   // to NAME.bin by default
    EXPECT_EQ(Craft_Read(dir + "/text.bin"), std::string("scroll\0text\xff\n", 13));
    ASSERT_EQ(Zaf("extract out.zaf text --output=text.out").status, 0);
    EXPECT_EQ(Craft_Read(dir + "/text.out"), std::string("scroll\0text\xff\n", 13));

    // The extracted mesh packs to the same triangles.
    ASSERT_EQ(Zaf("extract out.zaf shape -o extracted.obj").status, 0);
    Write_File("again.txt", "shape mesh extracted.obj\n");
    ASSERT_EQ(Zaf("pack again.zaf again.txt").status, 0);
    ASSERT_EQ(ZAF_Open((dir + "/out.zaf").c_str()), 0);
    Mesh *first = ZAF_ReadASE("shape");
    ZAF_Close();
    ASSERT_EQ(ZAF_Open((dir + "/again.zaf").c_str()), 0);
    Mesh *second = ZAF_ReadASE("shape");
    ASSERT_EQ(second->triangle_count, first->triangle_count);
    EXPECT_EQ(memcmp(first->triangles, second->triangles, first->triangle_count * 36), 0);
    for (Mesh *mesh : {first, second}) {
        free(mesh->triangles);
        free(mesh);
    }
}

TEST_F(ZafTool, PackedLayoutIsWhatTheDecodersRead)
{
    ASSERT_EQ(Zaf("pack out.zaf m.txt -I more").status, 0);
    std::string bytes = Craft_Read(dir + "/out.zaf");
    ASSERT_GE(bytes.size(), 16u);
    EXPECT_EQ(bytes.substr(0, 16), std::string("ZAFD\0\0\0\0\0\0\0\0\5\0\0\0", 16));
    ASSERT_EQ(ZAF_Open((dir + "/out.zaf").c_str()), 0);

    // Tile row 0 is the bottom of the PNG; a tile's rows are stored top first.
    Picture *picture = ZAF_ReadPicture("wide");
    ASSERT_EQ(picture->tiles_across, 4u);
    ASSERT_EQ(picture->tiles_down, 2u);
    ASSERT_EQ(picture->tile_width, 8u);
    ASSERT_EQ(picture->tile_height, 8u);
    const unsigned char *cursor = picture->pixels;
    for (uint32_t r = 0; r < 2; r++)
        for (uint32_t k = 0; k < 4; k++)
            for (uint32_t row = 0; row < 8; row++)
                for (uint32_t x = 0; x < 8; x++, cursor += 3) {
                    uint32_t png_y = (1 - r) * 8 + row, png_x = k * 8 + x;
                    ASSERT_EQ(memcmp(cursor, &wide.pixels[(png_y * 32 + png_x) * 3], 3), 0)
                        << "tile row " << r << " column " << k << " row " << row << " x " << x;
                }
    free(picture->pixels);
    free(picture);

    // Faces fanned from their first corner; the second word counts `v` lines.
    Mesh *mesh = ZAF_ReadASE("shape");
    const std::vector<float> expected = {0, 0, 0, 1, 0, 0, 1, 1, 0.5f, 0, 0, 0, 1, 1, 0.5f,
                                         0, 1, -2.25f, 3, 3, 3, 0, 1, -2.25f, 1, 1, 0.5f};
    ASSERT_EQ(mesh->triangle_count, 3u);
    EXPECT_EQ(mesh->second_count, 5u);
    EXPECT_EQ(std::vector<float>(mesh->triangles, mesh->triangles + 27), expected);
    free(mesh->triangles);
    free(mesh);

    char *text = (char *)ZAF_ReadData("text");
    EXPECT_EQ(std::string(text, ZAF_LastLength()), std::string("scroll\0text\xff\n", 13));
    free(text);
}

TEST_F(ZafTool, PackingIsDeterministic)
{
    ASSERT_EQ(Zaf("pack one.zaf m.txt -I more").status, 0);
    ASSERT_EQ(Zaf("pack two.zaf m.txt --include=more").status, 0);
    EXPECT_EQ(Craft_Read(dir + "/one.zaf"), Craft_Read(dir + "/two.zaf"));
}

TEST_F(ZafTool, BadManifestLinesNameFileAndLine)
{
    Write_File("notpng.png", "not a picture at all");
    Write_File("bad_index.obj", "v 0 0 0\nv 1 0 0\nf 1 2 3\n");
    Write_File("short_face.obj", "v 0 0 0\nv 1 0 0\n\nf 1 2\n");
    Write_File("bad_number.obj", "v 0 zero 0\n");
    struct Case {
        const char *line;
        const char *message;
    };
    const Case cases[] = {
        {"x picture wide.png", "m2.txt:2: a picture needs its tile size"},
        {"x picture wide.png 8", "m2.txt:2: bad tile size '8'"},
        {"x picture wide.png 8x-8", "m2.txt:2: bad tile size '8x-8'"},
        {"x picture wide.png 12x8", "m2.txt:2: wide.png: tile size 12x8 is not a power of two"},
        {"x picture wide.png 32x32", "m2.txt:2: wide.png: picture 32x16 is not a whole number of "
                                     "32x32 tiles"},
        {"x picture notpng.png 8x8", "m2.txt:2: notpng.png: not a PNG file"},
        {"x picture alpha.png 8x8", "m2.txt:2: source 'alpha.png' not found"},
        {"x sound scroll.dat", "m2.txt:2: unknown type 'sound'"},
        {"x data scroll.dat 8x8", "m2.txt:2: unexpected field '8x8'"},
        {"x data", "m2.txt:2: expected NAME TYPE SOURCE [WxH]"},
        {"a234567890123456789012345678901234567890 data scroll.dat",
         "m2.txt:2: name 'a234567890123456789012345678901234567890' is longer than 39"},
        {"text data scroll.dat", "m2.txt:2: duplicate name 'text' (first on line 1)"},
        {"x mesh bad_index.obj", "m2.txt:2: bad_index.obj:3: vertex 3 does not exist"},
        {"x mesh short_face.obj", "m2.txt:2: short_face.obj:4: face needs at least 3 vertices"},
        {"x mesh bad_number.obj", "m2.txt:2: bad_number.obj:1: 'zero' is not a finite number"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        Write_File("m2.txt", std::string("text data scroll.dat\n") + c.line + "\nlater data x\n");
        ProcessResult result = Zaf("pack bad.zaf m2.txt");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.output.rfind(std::string("zaf: ") + c.message, 0), 0u) << result.output;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1);
        EXPECT_FALSE(std::filesystem::exists(dir + "/bad.zaf"));
    }
}

TEST_F(ZafTool, CommandLineAndDamagedArchives)
{
    ASSERT_EQ(Zaf("pack out.zaf m.txt -I more").status, 0);
    std::string good = Craft_Read(dir + "/out.zaf");
    std::string damaged_stream = good;
    damaged_stream[Craft_Get32(good, Craft_Offset(0)) + 5] ^= 0x55;
    std::string wrong_magic = good;
    wrong_magic[3] = '\0';
    Craft_Write(dir + "/cut.zaf", good.substr(0, good.size() - 10));
    Craft_Write(dir + "/stream.zaf", damaged_stream);
    Craft_Write(dir + "/magic.zaf", wrong_magic);
    struct Case {
        const char *arguments;
        int status;
        const char *output;   // what the output starts with
    };
    const Case cases[] = {
        {"--help", 0, "Usage: zaf list ARCHIVE\n"},
        {"list --help", 0, "Usage: zaf list ARCHIVE\n"},
        {"", 1, "zaf: no command given\nTry 'zaf --help'"},
        {"list", 1, "zaf: wrong number of arguments for list\n"},
        {"frob out.zaf", 1, "zaf: unknown command 'frob'\n"},
        {"list out.zaf --frob", 1, "zaf: unknown option '--frob'\n"},
        {"extract out.zaf", 1, "zaf: wrong number of arguments for extract\n"},
        {"extract out.zaf text -o", 1, "zaf: option '-o' needs an argument\n"},
        {"list out.zaf -o x", 1, "zaf: -o is for extract only\n"},
        {"extract out.zaf Text", 1, "zaf: out.zaf: no entry named \"Text\"\n"},
        {"list missing.zaf", 1, "zaf: missing.zaf: cannot open"},
        {"list magic.zaf", 1, "zaf: magic.zaf: not an archive"},
        {"extract cut.zaf text", 1, "zaf: cut.zaf: entry \"text\": data past the end of the file"},
        {"extract stream.zaf wide", 1, "zaf: stream.zaf: entry \"wide\": decompression failed"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments);
        ProcessResult result = Zaf(c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.output.rfind(c.output, 0), 0u) << result.output;
    }

    // A damaged entry keeps its row in the listing; the damage follows it, status 1.
    ProcessResult list = Zaf("list stream.zaf");
    EXPECT_EQ(list.status, 1);
    EXPECT_NE(list.output.find("damaged"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("text   data (32)"), std::string::npos) << list.output;
}

}  // namespace
