// The demo's data as the build packs it into quiet_moss.zaf: the entries the scenes read, the
// tile layouts and picture content they rely on, texts the dot font can draw, meshes within
// their bounds, the build steps' refusal of bad sources, and a reproducible archive.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

using Bytes = std::vector<unsigned char>;

const std::string build_dir = QM_BUILD_DIR;
const std::string source_dir = QM_SOURCE_DIR;

struct Entry {
    std::string name;
    uint32_t type;
    Bytes payload;
};

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Word(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads every entry of an archive and inflates it, failing the test on any damage.
std::vector<Entry> ReadArchive(const std::string &path)
{
    const Bytes file = ReadFile(path);
    std::vector<Entry> entries;
    EXPECT_GE(file.size(), 16u) << path;
    if (file.size() < 16 || std::memcmp(file.data(), "ZAFD", 4) != 0) {
        ADD_FAILURE() << path << " is not an archive";
        return entries;
    }
    const uint32_t count = Word(&file[12]);
    for (uint32_t i = 0; i < count && 16 + 56 * (i + 1) <= file.size(); i++) {
        const unsigned char *record = &file[16 + 56 * i];
        Entry entry;
        entry.name.assign(reinterpret_cast<const char *>(record), strnlen(reinterpret_cast<const char *>(record), 40));
        entry.type = Word(record + 40);
        const uint32_t unpacked = Word(record + 44), packed = Word(record + 48), offset = Word(record + 52);
        if (static_cast<uint64_t>(offset) + packed > file.size()) {
            ADD_FAILURE() << entry.name << " runs past the end of the archive";
            continue;
        }
        entry.payload.resize(unpacked);
        uLongf length = unpacked;
        EXPECT_EQ(uncompress(entry.payload.data(), &length, &file[offset], packed), Z_OK) << entry.name;
        EXPECT_EQ(length, unpacked) << entry.name;
        entries.push_back(std::move(entry));
    }
    return entries;
}

const std::vector<Entry> &Archive()
{
    static const std::vector<Entry> entries = ReadArchive(build_dir + "/quiet_moss.zaf");
    return entries;
}

const Entry *Find(const std::string &name)
{
    for (const Entry &entry : Archive())
        if (entry.name == name) return &entry;
    return nullptr;
}

// A picture entry seen as the scenes draw it: (x, y) with y counted up from the bottom.
struct PictureView {
    uint32_t across = 0, down = 0, tile_width = 0, tile_height = 0;
    const unsigned char *pixels = nullptr;

    uint32_t Width() const { return across * tile_width; }
    uint32_t Height() const { return down * tile_height; }
    const unsigned char *At(uint32_t x, uint32_t y) const
    {
        const uint32_t tile = (y / tile_height) * across + x / tile_width;
        const uint32_t row_from_top = tile_height - 1 - y % tile_height;
        return pixels + ((static_cast<size_t>(tile) * tile_height + row_from_top) * tile_width + x % tile_width) * 3;
    }
};

PictureView Picture(const std::string &name)
{
    const Entry *entry = Find(name);
    PictureView view;
    if (!entry || entry->payload.size() < 16) {
        ADD_FAILURE() << "no picture " << name;
        return view;
    }
    const unsigned char *p = entry->payload.data();
    view = {Word(p), Word(p + 4), Word(p + 8), Word(p + 12), p + 16};
    if (entry->payload.size() != 16 + static_cast<size_t>(view.Width()) * view.Height() * 3) {
        ADD_FAILURE() << name << ": payload is not its header's size";
        view.across = view.down = 0;
    }
    return view;
}

double Luminance(const unsigned char *rgb)
{
    return 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
}

bool PowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

// ---- entries ----------------------------------------------------------------------------

TEST(Data, ArchiveHoldsExactlyTheEntriesTheScenesRead)
{
    const struct {
        const char *name;
        uint32_t type;
    } expected[] = {
        {"bootpic", 16}, {"logo", 16},  {"lemurbandit", 15}, {"fri1", 16},      {"fri2", 16},
        {"oczka", 16},   {"lodyga", 15}, {"helmet", 32},     {"creeds", 16},    {"brzydalek", 16},
        {"fel", 16},     {"siekierka", 16}, {"butterfly", 16}, {"water", 32},
    };
    std::set<std::string> names;
    for (const Entry &entry : Archive()) EXPECT_TRUE(names.insert(entry.name).second) << "twice: " << entry.name;
    EXPECT_EQ(Archive().size(), std::size(expected));
    for (const auto &want : expected) {
        const Entry *entry = Find(want.name);
        ASSERT_NE(entry, nullptr) << want.name;
        EXPECT_EQ(entry->type, want.type) << want.name;
    }
}

// ---- pictures ---------------------------------------------------------------------------

TEST(Data, PicturesKeepTheTileLayoutsTheScenesRelyOn)
{
    // 0 leaves a figure to the picture; min_tiles and tile_pixels bind only where non-zero.
    const struct {
        const char *name;
        uint32_t tile_width, tile_height, across, down, min_tiles, tile_pixels;
    } layouts[] = {
        {"bootpic", 32, 32, 20, 15, 0, 0},   {"logo", 0, 0, 0, 0, 0, 0},
        {"fri1", 0, 0, 0, 0, 0, 0},          {"fri2", 0, 0, 0, 0, 0, 0},
        {"oczka", 32, 32, 0, 0, 16, 0},      {"creeds", 0, 0, 0, 0, 8, 512},
        {"brzydalek", 0, 0, 0, 0, 0, 0},     {"fel", 0, 0, 0, 0, 0, 0},
        {"siekierka", 64, 32, 10, 15, 0, 0}, {"butterfly", 128, 256, 3, 1, 0, 0},
    };
    for (const auto &want : layouts) {
        SCOPED_TRACE(want.name);
        const PictureView p = Picture(want.name);
        EXPECT_TRUE(PowerOfTwo(p.tile_width) && PowerOfTwo(p.tile_height)) << p.tile_width << "x" << p.tile_height;
        EXPECT_TRUE(!want.tile_width || p.tile_width == want.tile_width) << p.tile_width;
        EXPECT_TRUE(!want.tile_height || p.tile_height == want.tile_height) << p.tile_height;
        EXPECT_TRUE(!want.across || p.across == want.across) << p.across;
        EXPECT_TRUE(!want.down || p.down == want.down) << p.down;
        EXPECT_GE(p.across * p.down, want.min_tiles);
        EXPECT_TRUE(!want.tile_pixels || p.tile_width * p.tile_height == want.tile_pixels);
    }
}

TEST(Data, PicturesFitWhereTheirScenesPlaceThem)
{
    const PictureView logo = Picture("logo"), fri1 = Picture("fri1"), fri2 = Picture("fri2");
    const PictureView fel = Picture("fel"), creature = Picture("brzydalek");
    // The logo at (0, 8) stays on the lower black bar (y 0 to 80).
    EXPECT_LE(logo.Width(), 640u);
    EXPECT_LE(8 + logo.Height(), 80u);
    // Each frieze fills its 640 x 64 band.
    for (const PictureView &frieze : {fri1, fri2}) {
        EXPECT_EQ(frieze.Width(), 640u);
        EXPECT_EQ(frieze.Height(), 64u);
    }
    // The backdrop at (0, 24) stays on screen, and the creature at (192, 80) stays on it.
    EXPECT_EQ(fel.Width(), 640u);
    EXPECT_LE(24 + fel.Height(), 480u);
    EXPECT_LE(192 + creature.Width(), fel.Width());
    EXPECT_LE(80 + creature.Height(), 24 + fel.Height());
}

TEST(Data, EveryPictureHasContrast)
{
    for (const char *name : {"bootpic", "logo", "fri1", "fri2", "oczka", "creeds", "brzydalek", "fel",
                             "siekierka", "butterfly"}) {
        const PictureView p = Picture(name);
        double low = 255, high = 0;
        for (uint32_t y = 0; y < p.Height(); y++)
            for (uint32_t x = 0; x < p.Width(); x++) {
                low = std::min(low, Luminance(p.At(x, y)));
                high = std::max(high, Luminance(p.At(x, y)));
            }
        EXPECT_GT(high - low, 120) << name;
    }
}

TEST(Data, BootPictureLeavesTheIndicatorBandCalmAndDark)
{
    // The eight indicators are drawn in translucent amber over x 0-340, y 420-470.
    const PictureView boot = Picture("bootpic");
    ASSERT_EQ(boot.Height(), 480u);
    double sum[3] = {}, square[3] = {};
    int n = 0;
    for (uint32_t y = 420; y < 470; y++)
        for (uint32_t x = 0; x < 340; x++, n++)
            for (int c = 0; c < 3; c++) {
                sum[c] += boot.At(x, y)[c];
                square[c] += boot.At(x, y)[c] * boot.At(x, y)[c];
            }
    for (int c = 0; c < 3; c++) {
        const double mean = sum[c] / n, deviation = std::sqrt(square[c] / n - mean * mean);
        EXPECT_LT(deviation, 4.0) << "channel " << c;
        EXPECT_LT(mean, 80.0) << "channel " << c;
    }
}

TEST(Data, EyeFramesOpenFromClosedToWide)
{
    // Tile n starts n × 3072 bytes into the pixels: 2f the left eye, 2f + 1 the right.
    const PictureView eyes = Picture("oczka");
    ASSERT_GE(eyes.across * eyes.down, 16u);
    std::array<int, 16> lit{};
    for (int tile = 0; tile < 16; tile++)
        for (int i = 0; i < 32 * 32; i++) lit[tile] += Luminance(eyes.pixels + tile * 3072 + i * 3) > 60;
    for (int f = 0; f < 8; f++) {
        SCOPED_TRACE("frame " + std::to_string(f));
        EXPECT_GT(lit[2 * f], 20);  // even the closed eye shows its lid
        EXPECT_NEAR(lit[2 * f], lit[2 * f + 1], lit[2 * f] / 5 + 4);
        if (f > 0) {
            EXPECT_GT(lit[2 * f], lit[2 * f - 2]);
            EXPECT_GT(lit[2 * f + 1], lit[2 * f - 1]);
        }
    }
    EXPECT_GT(lit[14], 2 * lit[0]);  // wide open shows far more than the closed lid
}

TEST(Data, CreatureCarriesItsBackdropWithoutASeam)
{
    // brzydalek at (192, 80) over fel at (0, 24): its edges show fel's own pixels.
    const PictureView fel = Picture("fel"), creature = Picture("brzydalek");
    ASSERT_GT(creature.Height(), 0u);
    int differing = 0, compared = 0;
    const auto compare = [&](uint32_t x, uint32_t y) {
        compared++;
        differing += std::memcmp(creature.At(x, y), fel.At(192 + x, 56 + y), 3) != 0;
    };
    for (uint32_t x = 0; x < creature.Width(); x++) compare(x, creature.Height() - 1);
    for (uint32_t y = 0; y < creature.Height(); y++) {
        compare(0, y);
        compare(creature.Width() - 1, y);
    }
    EXPECT_EQ(differing, 0) << "of " << compared << " edge pixels";
}

TEST(Data, ClosingPictureFadesIntoBlackAtItsCorners)
{
    const PictureView b = Picture("butterfly");
    ASSERT_GT(b.Width(), 0u);
    for (auto [x, y] : {std::array<uint32_t, 2>{0, 0}, {b.Width() - 1, 0}, {0, b.Height() - 1},
                        {b.Width() - 1, b.Height() - 1}})
        EXPECT_LT(Luminance(b.At(x, y)), 24) << x << "," << y;
    EXPECT_GT(Luminance(b.At(b.Width() / 2, b.Height() / 2)), 24);
}

// ---- texts ------------------------------------------------------------------------------

TEST(Data, ScrollerTextsHaveTheirExactLengthsInTheDotFont)
{
    const struct {
        const char *name;
        size_t length;
    } texts[] = {{"helmet", 142}, {"water", 110}};
    for (const auto &want : texts) {
        SCOPED_TRACE(want.name);
        const Entry *entry = Find(want.name);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->payload.size(), want.length);
        const std::string text(entry->payload.begin(), entry->payload.end());
        for (char c : text) EXPECT_TRUE(c >= 32 && c <= 95) << "code " << static_cast<int>(c);
        EXPECT_NE(text.find("QUIET MOSS"), std::string::npos) << text;
    }
}

// ---- meshes -----------------------------------------------------------------------------

struct Bounds {
    float low[3] = {1e30f, 1e30f, 1e30f}, high[3] = {-1e30f, -1e30f, -1e30f};
};

// Checks a mesh entry's size, finite vertices and triangles with area; returns its bounds.
Bounds CheckMesh(const std::string &name, uint32_t min_triangles, uint32_t max_triangles)
{
    Bounds bounds;
    const Entry *entry = Find(name);
    if (!entry || entry->payload.size() < 8) {
        ADD_FAILURE() << "no mesh " << name;
        return bounds;
    }
    const uint32_t count = Word(entry->payload.data());
    EXPECT_EQ(entry->payload.size(), 8 + 36ull * count);
    EXPECT_GE(count, min_triangles);
    EXPECT_LE(count, max_triangles);
    int degenerate = 0;
    for (uint32_t t = 0; t < count && 8 + 36ull * (t + 1) <= entry->payload.size(); t++) {
        float v[9];
        std::memcpy(v, &entry->payload[8 + 36 * t], 36);
        for (int i = 0; i < 9; i++) {
            EXPECT_TRUE(std::isfinite(v[i])) << "triangle " << t;
            bounds.low[i % 3] = std::min(bounds.low[i % 3], v[i]);
            bounds.high[i % 3] = std::max(bounds.high[i % 3], v[i]);
        }
        const float a[3] = {v[3] - v[0], v[4] - v[1], v[5] - v[2]}, b[3] = {v[6] - v[0], v[7] - v[1], v[8] - v[2]};
        const float cross[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
        degenerate += std::sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]) < 1e-4f;
    }
    EXPECT_EQ(degenerate, 0) << name;
    return bounds;
}

TEST(Data, MascotIsCentredAndAboutSeventyUnitsTall)
{
    const Bounds b = CheckMesh("lemurbandit", 300, 5000);
    EXPECT_GE(b.high[1] - b.low[1], 60.0f);
    EXPECT_LE(b.high[1] - b.low[1], 80.0f);
    for (int axis = 0; axis < 3; axis++) EXPECT_NEAR((b.low[axis] + b.high[axis]) / 2, 0.0f, 1.0f) << axis;
}

TEST(Data, StemGrowsOutOfTheBulbAndStaysInView)
{
    const Bounds b = CheckMesh("lodyga", 300, 20000);
    for (int axis = 0; axis < 3; axis++) {
        EXPECT_GE(b.low[axis], -200.0f) << axis;
        EXPECT_LE(b.high[axis], 200.0f) << axis;
    }
    EXPECT_GT(b.high[1], 120.0f);  // well above the bulb's top at y 60
    // Something starts inside the bulb's crown, near the axis, so the stem is rooted there.
    const Entry *entry = Find("lodyga");
    ASSERT_NE(entry, nullptr);
    bool rooted = false;
    for (size_t at = 8; at + 12 <= entry->payload.size(); at += 12) {
        float v[3];
        std::memcpy(v, &entry->payload[at], 12);
        rooted |= v[1] > 35 && v[1] < 55 && v[0] * v[0] + v[2] * v[2] < 15 * 15;
    }
    EXPECT_TRUE(rooted);
}

// ---- the build steps --------------------------------------------------------------------

TEST(Data, TextCheckRefusesWhatTheScrollerCannotDraw)
{
    const std::string dir = Make_TempDir("qm-data-text");
    const struct {
        const char *content;
        int length;
        bool accepted;
        const char *message;  // part of the error, for refused texts
        const char *block;    // what is written, for accepted ones
    } cases[] = {
        {"QUIET MOSS\n", 10, true, "", "QUIET MOSS"},
        {"QUIET MOSS\r\n", 10, true, "", "QUIET MOSS"},
        {"A;B\\C_", 6, true, "", "A;B\\C_"},
        {"QUIET MOSS\n", 11, false, "10 characters, the scroller needs exactly 11", ""},
        {"Quiet moss\n", 10, false, "character 'u'", ""},
        {"QUIET\tMOSS\n", 10, false, "outside codes 32 to 95", ""},
        {"QUIET\nMOSS\n", 10, false, "outside codes 32 to 95", ""},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content);
        const std::string source = dir + "/text" + std::to_string(n) + ".txt";
        const std::string output = dir + "/block" + std::to_string(n++) + ".txt";
        std::ofstream(source, std::ios::binary) << c.content;
        const ProcessResult result =
            Run_Command("cmake -DSOURCE=" + source + " -DOUTPUT=" + output + " -DLENGTH=" + std::to_string(c.length) +
                        " -P " + source_dir + "/data/texts/prepare.cmake 2>&1");
        if (c.accepted) {
            EXPECT_EQ(result.status, 0) << result.output;
            const Bytes block = ReadFile(output);
            EXPECT_EQ(std::string(block.begin(), block.end()), c.block);
        } else {
            EXPECT_EQ(result.status, 1);
            EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
            EXPECT_FALSE(std::filesystem::exists(output));
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(Data, MeshGeneratorRefusesWhatItDoesNotKnow)
{
    const struct {
        const char *arguments;
        const char *message;
    } cases[] = {
        {"", "usage: meshgen lemurbandit|lodyga OUTPUT.obj\n"},
        {"lemur /tmp/x.obj", "meshgen: unknown mesh 'lemur' (lemurbandit or lodyga)\n"},
        {"lodyga /nonexistent-folder/x.obj", "meshgen: cannot write /nonexistent-folder/x.obj\n"},
    };
    for (const auto &c : cases) {
        const ProcessResult result = Run_Command(build_dir + "/meshgen " + c.arguments + " 2>&1");
        EXPECT_EQ(result.status, 1) << c.arguments;
        EXPECT_EQ(result.output, c.message);
    }
}

TEST(Data, SameSourcesGiveTheSameArchiveBytes)
{
    // The whole chain again, into a fresh folder: rasterise, generate, check, pack.
    const std::string dir = Make_TempDir("qm-data-again");
    const std::string data = source_dir + "/data";
    std::string script = "set -e; cd " + dir + "; ";
    for (const char *picture : {"bootpic", "logo", "fri1", "fri2", "oczka", "creeds", "brzydalek", "fel",
                                "siekierka", "butterfly"})
        script += std::string("rsvg-convert --format=png --output=") + picture + ".png " + data + "/pictures/" +
                  picture + ".svg; ";
    for (const char *mesh : {"lemurbandit", "lodyga"})
        script += build_dir + "/meshgen " + mesh + " " + mesh + ".obj; ";
    for (const char *text : {"helmet -DLENGTH=142", "water -DLENGTH=110"}) {
        const std::string name = std::string(text).substr(0, std::string(text).find(' '));
        script += "cmake -DSOURCE=" + data + "/texts/" + name + ".txt -DOUTPUT=" + name + ".txt" +
                  std::string(text).substr(name.size()) + " -P " + data + "/texts/prepare.cmake; ";
    }
    script += build_dir + "/zaf pack first.zaf " + data + "/manifest.txt -I " + dir + "; ";
    script += build_dir + "/zaf pack second.zaf " + data + "/manifest.txt -I " + dir;
    const ProcessResult result = Run_Command("sh -c '" + script + "' 2>&1");
    ASSERT_EQ(result.status, 0) << result.output;

    const Bytes built = ReadFile(build_dir + "/quiet_moss.zaf");
    EXPECT_FALSE(built.empty());
    EXPECT_TRUE(ReadFile(dir + "/first.zaf") == ReadFile(dir + "/second.zaf"));
    EXPECT_TRUE(ReadFile(dir + "/first.zaf") == built) << "a rebuild from the same sources differs";
    std::filesystem::remove_all(dir);
}

}  // namespace
