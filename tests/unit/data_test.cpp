// The demo's data as the build packs it into quiet_moss.zaf, read with the demo's own reader:
// picture layouts and content the scenes rely on, texts the dot font can draw, meshes within
// their bounds. A source the build's own checks would refuse shows here as the fault it makes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "assets/decoders.h"
#include "assets/zaf.h"

namespace {

// Tile width and height, tiles across and down, width, height: 0 leaves it to the picture;
// min_tiles and tile_pixels bind only where non-zero.
const struct {
    const char *name;
    uint32_t exact[6], min_tiles, tile_pixels;
} layouts[] = {
    {"bootpic", {32, 32, 20, 15}, 0, 0},   {"logo", {}, 0, 0},
    {"fri1", {0, 0, 0, 0, 640, 64}, 0, 0}, {"fri2", {0, 0, 0, 0, 640, 64}, 0, 0},
    {"oczka", {32, 32}, 16, 0},            {"creeds", {}, 8, 512},
    {"brzydalek", {}, 0, 0},               {"fel", {0, 0, 0, 0, 640}, 0, 0},
    {"siekierka", {64, 32, 10, 15}, 0, 0}, {"butterfly", {128, 256, 3, 1}, 0, 0},
};
const struct { const char *name; size_t length; } texts[] = {{"helmet", 142}, {"water", 110}};

// The built archive, opened once with the demo's own reader and decoders: a missing entry, a
// wrong type or a payload shorter than its header ends the process with the reader's message.
void OpenArchive()
{
    static const int opened = ZAF_Open(QM_BUILD_DIR "/quiet_moss.zaf");
    (void)opened;
}

double Luminance(const unsigned char *rgb) { return 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]; }

// A picture entry seen as the scenes draw it: (x, y) with y counted up from the bottom.
struct PictureView {
    uint32_t across, down, tile_width, tile_height;
    const unsigned char *pixels;

    uint32_t Width() const { return across * tile_width; }
    uint32_t Height() const { return down * tile_height; }
    const unsigned char *At(uint32_t x, uint32_t y) const
    {
        const size_t tile = (y / tile_height) * across + x / tile_width;
        const size_t row_from_top = tile_height - 1 - y % tile_height;
        return pixels + ((tile * tile_height + row_from_top) * tile_width + x % tile_width) * 3;
    }
};

// Decoded records live until the process ends, as they do in the demo.
template <class T> T *Keep(T *record)
{
    static auto *kept = new std::vector<const void *>;  // never destroyed, like the records
    kept->push_back(record);
    return record;
}

PictureView View(const char *name)
{
    OpenArchive();
    const Picture *p = Keep(ZAF_ReadPicture(name));
    const PictureView view{p->tiles_across, p->tiles_down, p->tile_width, p->tile_height, p->pixels};
    EXPECT_EQ(ZAF_LastLength(), 16 + size_t{view.Width()} * view.Height() * 3) << name << ": not its header's size";
    return view;
}

// Fault caught: a picture redrawn with another tile layout, size or placement than its scene
// draws it with (tiles read past, parts off screen), or left blank.
TEST(Data, PicturesKeepTheLayoutsTheirScenesRelyOnAndHaveContrast)
{
    for (const auto &want : layouts) {
        SCOPED_TRACE(want.name);
        const PictureView p = View(want.name);
        const uint32_t got[6] = {p.tile_width, p.tile_height, p.across, p.down, p.Width(), p.Height()};
        for (int i = 0; i < 6; i++) EXPECT_TRUE(!want.exact[i] || got[i] == want.exact[i]) << i << ": " << got[i];
        for (uint32_t side : {p.tile_width, p.tile_height}) EXPECT_TRUE(side && !(side & (side - 1))) << side;
        EXPECT_GE(p.across * p.down, want.min_tiles);
        EXPECT_TRUE(!want.tile_pixels || p.tile_width * p.tile_height == want.tile_pixels);
        double low = 255, high = 0;
        for (size_t i = 0; i < size_t{p.Width()} * p.Height(); i++)
            low = std::min(low, Luminance(p.pixels + 3 * i)), high = std::max(high, Luminance(p.pixels + 3 * i));
        EXPECT_GT(high - low, 120);   // a finished picture, not a blank
    }
    // The logo at (0, 8) stays on the lower black bar (y 0 to 80); the backdrop at (0, 24)
    // stays on screen, and the creature at (192, 80) on the backdrop.
    const PictureView logo = View("logo"), fel = View("fel"), creature = View("brzydalek");
    EXPECT_LE(logo.Width(), 640u);
    EXPECT_LE(8 + logo.Height(), 80u);
    EXPECT_LE(24 + fel.Height(), 480u);
    EXPECT_LE(192 + creature.Width(), fel.Width());
    EXPECT_LE(80 + creature.Height(), 24 + fel.Height());
}

// Fault caught: content the scenes show lost to a redrawing: a busy or bright band under the
// boot indicators (they would not stand out), eye frames that do not open in order, a seam
// where the creature meets its backdrop.
TEST(Data, PicturesCarryWhatTheirScenesShow)
{
    // The eight indicators are drawn in translucent amber over x 0-340, y 420-470.
    const PictureView boot = View("bootpic");
    ASSERT_EQ(boot.Height(), 480u);
    for (int c = 0; c < 3; c++) {
        double sum = 0, square = 0;
        for (uint32_t y = 420; y < 470; y++)
            for (uint32_t x = 0; x < 340; x++)
                sum += boot.At(x, y)[c], square += boot.At(x, y)[c] * boot.At(x, y)[c];
        const double mean = sum / (340 * 50);
        EXPECT_LT(std::sqrt(square / (340 * 50) - mean * mean), 4.0) << "channel " << c;
        EXPECT_LT(mean, 80.0) << "channel " << c;
    }

    // Tile n starts n × 3072 bytes into the pixels: 2f the left eye, 2f + 1 the right; each
    // frame shows more lit pixels than the one before, even the closed eye its lid.
    const PictureView eyes = View("oczka");
    ASSERT_GE(eyes.across * eyes.down, 16u);
    int lit[16] = {};
    for (int i = 0; i < 16 * 32 * 32; i++)
        lit[i / 1024] += Luminance(eyes.pixels + i * 3) > 60;
    for (int f = 0; f < 8; f++) {
        EXPECT_GT(lit[2 * f], 20) << "frame " << f;
        EXPECT_NEAR(lit[2 * f], lit[2 * f + 1], lit[2 * f] / 5 + 4) << "frame " << f;
        EXPECT_TRUE(f == 0 || (lit[2 * f] > lit[2 * f - 2] && lit[2 * f + 1] > lit[2 * f - 1]))
            << "frame " << f;
    }
    EXPECT_GT(lit[14], 2 * lit[0]);

    // brzydalek at (192, 80) over fel at (0, 24): its top, left and right edges show fel's pixels.
    const PictureView fel = View("fel"), creature = View("brzydalek");
    const uint32_t w = creature.Width(), h = creature.Height();
    int differing = 0;
    for (uint32_t i = 0; i < w + 2 * h; i++) {
        const uint32_t x = i < w ? i : (i - w) % 2 * (w - 1), y = i < w ? h - 1 : (i - w) / 2;
        differing += std::memcmp(creature.At(x, y), fel.At(192 + x, 56 + y), 3) != 0;
    }
    EXPECT_EQ(differing, 0) << "of " << w + 2 * h << " edge pixels";
}

// Fault caught: a text of another length than its scroller runs through, or with characters
// the dot font cannot draw.
TEST(Data, ScrollerTextsHaveTheirExactLengthsInTheDotFont)
{
    OpenArchive();
    for (const auto &want : texts) {
        SCOPED_TRACE(want.name);
        const char *data = static_cast<const char *>(Keep(ZAF_ReadData(want.name)));
        const std::string text(data, ZAF_LastLength());
        EXPECT_EQ(text.size(), want.length);
        for (char c : text) EXPECT_TRUE(c >= 32 && c <= 95) << "code " << static_cast<int>(c);
        EXPECT_NE(text.find("QUIET MOSS"), std::string::npos) << text;
    }
}

struct Bounds {
    float low[3] = {1e30f, 1e30f, 1e30f}, high[3] = {-1e30f, -1e30f, -1e30f};
    bool rooted = false;   // some vertex inside the bulb's crown, near the axis
};

// Checks a mesh entry's size, triangle count, finite vertices and triangles with area.
Bounds CheckMesh(const char *name, uint32_t min_triangles, uint32_t max_triangles)
{
    OpenArchive();
    const Mesh *mesh = Keep(ZAF_ReadASE(name));
    EXPECT_EQ(ZAF_LastLength(), 8 + 36ull * mesh->triangle_count);
    EXPECT_TRUE(mesh->triangle_count >= min_triangles && mesh->triangle_count <= max_triangles) << mesh->triangle_count;
    Bounds b;
    int degenerate = 0, not_finite = 0;
    for (const float *p = mesh->triangles; p < mesh->triangles + 9 * mesh->triangle_count; p += 9) {
        const float a[3] = {p[3] - p[0], p[4] - p[1], p[5] - p[2]}, c[3] = {p[6] - p[0], p[7] - p[1], p[8] - p[2]};
        const float n[3] = {a[1] * c[2] - a[2] * c[1], a[2] * c[0] - a[0] * c[2], a[0] * c[1] - a[1] * c[0]};
        degenerate += std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) < 1e-4f;
        for (int i = 0; i < 9; i++) {
            not_finite += !std::isfinite(p[i]);
            b.low[i % 3] = std::min(b.low[i % 3], p[i]);
            b.high[i % 3] = std::max(b.high[i % 3], p[i]);
        }
        for (int i = 0; i < 9; i += 3)
            b.rooted |= p[i + 1] > 35 && p[i + 1] < 55 && p[i] * p[i] + p[i + 2] * p[i + 2] < 15 * 15;
    }
    EXPECT_EQ(degenerate, 0) << name;
    EXPECT_EQ(not_finite, 0) << name;
    return b;
}

// Fault caught: a mesh regenerated off its centre, out of scale, not rooted in the bulb, or
// with flat or non-finite triangles.
TEST(Data, MeshesLieWithinTheBoundsTheirScenesGiveThem)
{
    // The mascot: centred, about 70 units tall before its scene scales x and y by 6.
    const Bounds mascot = CheckMesh("lemurbandit", 300, 5000);
    EXPECT_TRUE(mascot.high[1] - mascot.low[1] >= 60 && mascot.high[1] - mascot.low[1] <= 80);
    for (int axis = 0; axis < 3; axis++) EXPECT_NEAR((mascot.low[axis] + mascot.high[axis]) / 2, 0.0f, 1.0f) << axis;
    // The stem: within ±200, rooted in the bulb's crown and growing well above its top at y 60.
    const Bounds stem = CheckMesh("lodyga", 300, 20000);
    for (int axis = 0; axis < 3; axis++) EXPECT_TRUE(stem.low[axis] >= -200 && stem.high[axis] <= 200) << axis;
    EXPECT_GT(stem.high[1], 120.0f);
    EXPECT_TRUE(stem.rooted);
}

}  // namespace
