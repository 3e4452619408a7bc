// The demo's data as the build packs it into quiet_moss.zaf, read with the demo's own reader:
// the picture layouts the scenes rely on, the boot picture under its indicators, texts the dot
// font can draw. What a scene shows of its pictures and meshes is its own render test's part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "assets/decoders.h"
#include "assets/zaf.h"

namespace {

// Tile width and height, tiles across and down, width, height: 0 leaves it to the picture;
// min_tiles and tile_pixels bind only where non-zero.
const struct { const char *name; uint32_t exact[6], min_tiles, tile_pixels; } layouts[] = {
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

// Fault caught: a picture redrawn with another tile layout or size than its scene draws it with
// (tiles read past, parts off screen), tiles that are not a power of two, or left blank.
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
}

// Fault caught: a busy or bright band under the boot indicators, where they would not stand out.
TEST(Data, BootPictureLeavesTheIndicatorBandCalmAndDark)
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
}

// Fault caught: the creature rasterised over black or with its backdrop shifted (an <image> the
// rasteriser could not load draws nothing), which shows as a frame around it in its scene.
TEST(Data, CreatureCarriesItsBackdropsOwnPixelsToItsEdges)
{
    // It covers fel's x 192-448, y 120-376 counted from the top: rows 56-312 from the bottom.
    const PictureView creature = View("brzydalek"), fel = View("fel");
    ASSERT_TRUE(creature.Width() == 256 && creature.Height() == 256 && fel.Height() == 432);
    int seam = 0;
    for (uint32_t i = 0; i < 256; i++)
        for (auto [x, y] : {std::pair{i, 255u}, std::pair{0u, i}, std::pair{255u, i}})
            seam += !std::equal(creature.At(x, y), creature.At(x, y) + 3, fel.At(192 + x, 56 + y));
    EXPECT_EQ(seam, 0);
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

}  // namespace
