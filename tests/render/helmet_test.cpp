// The spike shell and light-beam scroller (entry 28): the font its loader unpacks, the shell it
// builds, the light's reach over single dots, and what the frames of the entry show.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <span>
#include <tuple>

#include "scenes/dot_font.h"
#include "scenes/helmet/helmet.h"
#include "tools/capture/capture.h"

namespace {

float Distance(const float *p, const float *q)
{
    return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
}

// One dot in feedback mode: the polygons that reach the rasteriser and the largest alpha
// among their vertices.
std::pair<int, float> DrawDot(float x, float y)
{
    static GLfloat buffer[1024];
    glFeedbackBuffer(1024, GL_3D_COLOR, buffer);
    glRenderMode(GL_FEEDBACK);
    helmet_dot[0] = x, helmet_dot[1] = y, helmet_dot[2] = 0;
    Helmet_DrawDot();
    int used = glRenderMode(GL_RENDER), polygons = 0;
    float alpha = -1;
    for (int i = 0; i < used; i += 2 + 7 * int(buffer[i + 1]), polygons++)
        for (int v = 0; v < int(buffer[i + 1]); v++)
            alpha = std::max(alpha, buffer[i + 8 + 7 * v]);
    return {polygons, alpha};
}

}  // namespace

TEST(Helmet, FontShellAndLightReach)
{
    if (!Capture_IsOpen())
        Capture_Open(CaptureSetup{.data_dir = QM_BUILD_DIR});
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

    // Every tip 40 from the centre, outside the caps within 51 degrees of the poles; base
    // corners 20 from the spike's axis at 110 along it; no two tips closer than the 20-degree
    // step between rings allows.
    float closest = 1e9f;
    for (auto &spike : std::span(&helmet_spikes[0][0], 72)) {
        const float *tip = spike[0][0];
        EXPECT_NEAR(std::hypot(tip[0], tip[1], tip[2]), 40, 1e-3);
        EXPECT_LT(std::fabs(tip[2]), 40 * std::cos(51 * M_PI / 180));
        const float foot[3] = {tip[0] * 2.75f, tip[1] * 2.75f, tip[2] * 2.75f};
        for (auto &facet : spike)
            for (const float *p : {facet[1], facet[2]}) {
                EXPECT_TRUE(std::equal(tip, tip + 3, facet[0]));
                EXPECT_NEAR(Distance(p, foot), 20, 1e-3);
                EXPECT_NEAR(std::hypot(p[0], p[1], p[2]), std::hypot(110.0f, 20.0f), 1e-3);
            }
        for (auto &other : std::span(&helmet_spikes[0][0], 72))
            if (&other != &spike)
                closest = std::min(closest, Distance(other[0][0], tip));
    }
    EXPECT_GT(closest, 10);

    // Under a view that clips nothing: the nearest a dot comes to the light is 200 units, so
    // 0.6 is the brightest it gets.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-1000, 1000, -1000, 1000, -1000, 1000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
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
    if (!Capture_IsOpen())
        Capture_Open(CaptureSetup{.data_dir = QM_BUILD_DIR});
    while (Capture_PeekEntry() != 28)
        Capture_Skip();
    const std::tuple<double, bool, const char *> cases[] = {
        {0, false, "first frame: the text starts right of the light's reach"},
        {139.5, true, "Q and U under the light"},
        {163.0, true, "E and . under the light"},
        {188.3, false, "last frames: the last character has passed"},
    };
    for (auto [t, lit, when] : cases) {
        SCOPED_TRACE(when);
        glClearColor(1, 1, 1, 1);
        Capture_SkipTo(std::max(Capture_NextFrame(), Capture_FrameIndex(t, Capture_Fps())));
        Capture_Step();
        const Frame f = Capture_Read();
        ASSERT_EQ(Capture_CurrentEntry(), 28);
        EXPECT_TRUE(f.black_gl(0, 0, 80, 480) && f.black_gl(600, 0, 40, 480));
        int brightest = 0;   // red, the strongest part of the dots' and beams' colour
        for (int y = 192; y < 240; y++)
            for (int x = 300; x < 440; x++)
                brightest = std::max<int>(brightest, f.at_gl(x, y).r);
        EXPECT_TRUE(lit ? brightest > 150 : brightest == f.at_gl(300, 192).r) << brightest;
    }
}
