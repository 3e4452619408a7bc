// The spike shell and light-beam scroller (entry 28): the font its loader unpacks, the shell
// and its stripes, the light's reach over single dots, where the text's dots stand, and what the
// frames of the entry show.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <span>
#include <tuple>

#include "fuzz/zaf_craft.h"
#include "render/scene_probe.h"
#include "support/process.h"
#include "scenes/dot_font.h"
#include "scenes/helmet/helmet.h"
#include "timeline/timeline.h"

namespace {

const FeedbackVertex light{0, 100, 200};

// One dot at (x, y, 0): the polygons that reach the rasteriser and their largest alpha, or -1
// where anything but the disc's centre and the beams' ends at the light has alpha.
std::pair<int, float> DrawDot(float x, float y)
{
    helmet_dot[0] = x, helmet_dot[1] = y, helmet_dot[2] = 0;
    int polygons = 0;
    float alpha = -1;
    bool stray = false;
    for (const FeedbackVertex &v : Feedback(Helmet_DrawDot, &polygons)) {
        alpha = std::max(alpha, v.a);
        stray |= v.a > 0 && v.dist(light) > 1e-3f && v.dist({0, 0, 0}) > 1e-3f;
    }
    return {polygons, stray ? -1 : alpha};
}

void FirstFacet()
{
    const auto &f = helmet_spikes[0][0][0];
    Helmet_DrawStripedTriangle(f[0], f[1], f[2]);
}

}  // namespace

TEST(Helmet, FontShellAndLightReach)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    Helmet_Init();   // the glow disc's list
    // F stands upright, unmirrored: its top row lit in columns 1 to 6, its stem in columns 1
    // and 2, columns 0 and 7 dark.
    for (int r = 0; r < dot_font_rows; r++)
        for (int k = 0; k < dot_font_columns; k++)
            EXPECT_TRUE((r < 4 && k > 2 && k < 7) ||
                        DotFont_Cell('F', r, k) == (r == 4 ? k >= 1 && k <= 6 : k == 1 || k == 2))
                << "row " << r << ", column " << k;

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

    // A facet's stripes run across it: every vertex lies on one of its two long edges at a
    // sixteenth step m from the tip, in the colour of alpha 0.5 + wave_b where m is even and
    // 0.5 - wave_b where odd; no polygon spans more than one step, and every step from the tip
    // to the base is met.
    const float(*f)[3] = helmet_spikes[0][0][0];
    const FeedbackVertex tip{f[0][0], f[0][1], f[0][2]}, ends[2] = {{f[1][0], f[1][1], f[1][2]},
                                                                   {f[2][0], f[2][1], f[2][2]}};
    for (float wave : {-0.5f, 0.0f, 0.5f}) {
        wave_b = wave;
        Helmet_Render();   // sets the stripe colours
        int steps = 0;     // the cross-lines met
        std::map<int, std::pair<int, int>> band;   // per polygon, its lowest and highest step
        for (const FeedbackVertex &v : Feedback(FirstFacet)) {
            bool on_step = false;
            for (const FeedbackVertex &end : ends) {
                const float m = 16 * v.dist(tip) / end.dist(tip);
                if (std::fabs(m - std::round(m)) < 1e-3f &&
                    std::fabs(v.dist(tip) + v.dist(end) - end.dist(tip)) < 1e-3f) {
                    const int q = int(std::round(m));
                    auto &[low, high] = band.try_emplace(v.polygon, q, q).first->second;
                    steps |= 1 << q, on_step = true, low = std::min(low, q), high = std::max(high, q);
                    EXPECT_NEAR(v.a, int(std::round(m)) % 2 ? 0.5f - wave : 0.5f + wave, 1e-3f)
                        << "step " << m << ", wave_b " << wave;
                }
            }
            EXPECT_TRUE(on_step) << "a vertex off the steps, wave_b " << wave;
        }
        EXPECT_EQ(steps, (1 << 17) - 1) << "wave_b " << wave;
        for (auto [polygon, steps] : band)
            EXPECT_LE(steps.second - steps.first, 1) << "polygon " << polygon << " spans steps";
    }

    // The nearest a dot comes to the light is 200 units, so 0.6 is the brightest it gets.
    // Only the disc's centre and the beams' ends at the light are lit.
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
// beams, by where the text stands. The bars are black over any clear colour (the first frame
// is cleared in the colour the scene before left), and the view fills the window between them.
TEST(Helmet, BarsAndTextWhereTheLightFalls)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    ASSERT_EQ(Player_SkipToEntry(28), 0);
    const std::tuple<double, bool, const char *> cases[] = {
        {0, false, "first frame: the text starts right of the light's reach"},
        {139.5, true, "Q and U under the light"},
        {188.3, false, "last frames: the last character has passed"},
    };
    for (auto [t, lit, when] : cases) {
        SCOPED_TRACE(when);
        glClearColor(0, 1, 0, 1);
        Player_SkipTo(std::max(Player_NextFrame(), Player_FrameIndex(t, Player_Fps())));
        Player_Step();
        const Frame f = Player_Read();
        ASSERT_EQ(Player_CurrentEntry(), 28);
        EXPECT_TRUE(BlackGl(f, 0, 0, 80, 480) && BlackGl(f, 600, 0, 40, 480));
        int cleared = 0;   // pixels left in the clear colour beside the bars
        for (int y = 0; y < 480; y++)
            for (int x : {80, 599})
                cleared += f.at_gl(x, y).r == 0 && f.at_gl(x, y).g == 255 && f.at_gl(x, y).b == 0;
        EXPECT_EQ(cleared, 0);
        const int brightest = Range(f, 300, 192, 140, 48).second, wall = Range(f, 300, 192, 1, 1).second;
        EXPECT_TRUE(lit ? brightest > 150 : brightest == wall) << brightest;
    }
}

// Where the text's dots stand, read back from the beams: with a crafted text of glyphs between
// bytes of every kind that has none, each dot must be a lit cell of the character whose
// 320-unit cell it falls in, and the character centred under the light shows all of its dots.
TEST(Helmet, EveryCharacterInItsCell)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    const std::string glyphs = "FRJ7L4P/Q?", blanks(" `a~\x7f\x80\xff\0\t\xb0", 10);
    std::string text(142, ' ');
    for (int n = 0; n < 142; n++)
        text[n] = n % 2 ? glyphs[n / 2 % 10] : blanks[n / 2 % 10];
    const std::string path = testing::TempDir() + "helmet.zaf";
    std::ofstream(path, std::ios::binary) << Craft_Archive({{"helmet", ZAF_TYPE_DATA, text}});
    ZAF_Open(path.c_str()), Helmet_Load(), ZAF_Close(), Helmet_Init();
    for (int centred : {1, 2, 77, 141}) {
        chan_x = -140.0f - 320 * centred;   // its columns 0 ... 7 from x -140 to 140
        std::map<std::pair<float, float>, int> beams;   // per dot, the beams that leave it
        const std::vector<FeedbackVertex> v = Feedback(Helmet_Render);
        for (size_t n = 0; n < v.size(); n++)
            if (v[n].dist(light) < 1e-3f)
                for (const FeedbackVertex &d : std::span(&v[n - 1], 3))
                    if (d.polygon == v[n].polygon && d.z == 0 &&
                        std::fmod(d.x - chan_x, 40.0f) == 0 && std::fmod(d.y, 40.0f) == 0)
                        beams[{d.x, d.y}]++;
        int whole = 0, lit = 0;
        for (auto [at, count] : beams) {
            const int column = int(at.first - chan_x) / 40, n = column / 8, r = int(at.second) / 40;
            EXPECT_TRUE(count == 4 && n >= 0 && n < 142 && r >= 0 && r < 5 &&
                        DotFont_Cell(text[n], r, column % 8))
                << count << " beams from a dot in row " << r << ", column " << column % 8
                << " of character " << n << " with " << centred << " centred";
            whole += n == centred;
        }
        for (int c = 0; c < 40; c++)
            lit += DotFont_Cell(text[centred], c / 8, c % 8);
        EXPECT_EQ(whole, lit) << "dots of character " << centred;
    }
}
