// The spike shell and light-beam scroller (entry 28): the font its loader unpacks, the shell,
// the light's reach over single dots, and what the frames of the entry show.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <tuple>

#include "render/scene_probe.h"
#include "scenes/dot_font.h"
#include "scenes/helmet/helmet.h"

namespace {

// One dot at (x, y, 0): the polygons that reach the rasteriser and their largest alpha.
std::pair<int, float> DrawDot(float x, float y)
{
    helmet_dot[0] = x, helmet_dot[1] = y, helmet_dot[2] = 0;
    int polygons = 0;
    float alpha = -1;
    for (const FeedbackVertex &v : Feedback(Helmet_DrawDot, &polygons))
        alpha = std::max(alpha, v.a);
    return {polygons, alpha};
}

}  // namespace

TEST(Helmet, FontShellAndLightReach)
{
    OpenCapture();
    Helmet_Init();   // the glow disc's list
    // F stands upright, unmirrored: its top row lit in columns 1 to 6, its stem in columns 1
    // and 2, columns 0 and 7 dark. Bytes without a glyph, negative ones included, are blank.
    for (int r = 0; r < dot_font_rows; r++)
        for (int k = 0; k < dot_font_columns; k++) {
            if (r == 4 || k < 3 || k == 7) {
                EXPECT_EQ(DotFont_Cell('F', r, k), r == 4 ? k >= 1 && k <= 6 : k == 1 || k == 2)
                    << "row " << r << ", column " << k;
            }
            for (signed char blank : {' ', '`', '\x7f', char(-70)})
                EXPECT_EQ(DotFont_Cell(blank, r, k), 0) << int(blank);
        }

    // The shell: every facet of a spike shares its tip, all tips lie on one sphere, and no two
    // meet, however the rings and tilts are indexed.
    const auto spikes = std::span(&helmet_spikes[0][0], 72);
    const float *tip0 = spikes[0][0][0];
    for (auto &spike : spikes)
        for (auto &other : spikes) {
            const float *a = spike[0][0], *b = other[0][0];
            EXPECT_NEAR(std::hypot(a[0], a[1], a[2]), std::hypot(tip0[0], tip0[1], tip0[2]), 1e-3);
            EXPECT_TRUE(std::equal(a, a + 3, spike[7][0]));
            EXPECT_TRUE(&other == &spike || std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]) > 10);
        }

    // The nearest a dot comes to the light is 200 units, so 0.6 is the brightest it gets.
    EXPECT_EQ(DrawDot(0, 100), std::make_pair(12, 0.6f));   // 8 disc triangles, 4 beams
    // Float by float across the end of the light's reach at its height: dots are drawn whole
    // up to the last, which lies exactly at the reach with alpha 0; beyond, nothing at all.
    float x = std::sqrt(500.0f * 500 - 200 * 200) - 16 * 0x1p-15f, last_alpha = -1;
    int undrawn = 0;
    for (int i = 0; i < 32; i++, x = std::nextafter(x, 1000.0f)) {
        auto [polygons, alpha] = DrawDot(x, 100);
        EXPECT_TRUE((polygons == 12 && undrawn == 0) || (polygons == 0 && ++undrawn))
            << polygons << " polygons at x " << x << " after " << undrawn << " dots undrawn";
        last_alpha = polygons ? alpha : last_alpha;
    }
    EXPECT_GT(undrawn, 0);
    EXPECT_EQ(last_alpha, 0.0f);
}

// A box on the wall, inside it however far the wall leans, shows plain wall, or lit dots and
// beams, by where the text stands. The bars are black over any clear colour: the first frame
// is cleared in the colour the scene before left.
TEST(Helmet, BarsAndTextWhereTheLightFalls)
{
    OpenCapture();
    while (Player_PeekEntry() != 28)
        Player_Skip();
    const std::tuple<double, bool, const char *> cases[] = {
        {0, false, "first frame: the text starts right of the light's reach"},
        {139.5, true, "Q and U under the light"},
        {163.0, true, "E and . under the light"},
        {188.3, false, "last frames: the last character has passed"},
    };
    for (auto [t, lit, when] : cases) {
        SCOPED_TRACE(when);
        glClearColor(1, 1, 1, 1);
        Player_SkipTo(std::max(Player_NextFrame(), Player_FrameIndex(t, Player_Fps())));
        Player_Step();
        const Frame f = Player_Read();
        ASSERT_EQ(Player_CurrentEntry(), 28);
        EXPECT_TRUE(f.black_gl(0, 0, 80, 480) && f.black_gl(600, 0, 40, 480));
        int brightest = 0;   // red, the strongest part of the dots' and beams' colour
        for (int y = 192; y < 240; y++)
            for (int x = 300; x < 440; x++)
                brightest = std::max<int>(brightest, f.at_gl(x, y).r);
        EXPECT_TRUE(lit ? brightest > 150 : brightest == f.at_gl(300, 192).r) << brightest;
    }
}
