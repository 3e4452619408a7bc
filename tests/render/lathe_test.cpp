// The pulsing column (entry 35): the shape of the column and its shell, how the waves move
// along it with ramp_a, the backdrop outside the band, and the sprites at rest half-way.
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "scenes/lathe/lathe.h"
#include "render/scene_probe.h"
#include "support/process.h"
#include "support/read_png.h"
#include "timeline/timeline.h"

namespace {

double radius(const LatheVertex &p) { return std::hypot(p.x, p.z); }
double angle(const LatheVertex &p) { return std::atan2(p.z, -p.x); }

// Column radius 20, shell 100, both on the +z half; each mid-cell halfway between its rings in
// height and its points in angle. Swell factors span 0.1 ... 1.5 and repeat after 24 entries to
// within half a step, so the wrap of ramp_a from 24 to 0 barely shows.
TEST(Lathe, ColumnShellAndWaveTable)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    const LatheView v = Lathe_View();
    struct Side { const LatheVertex (*rings)[16]; const LatheVertex (*mids)[15]; double r; };
    for (auto [rings, mids, r] :
         {Side{v.inner, v.mid_inner, 20}, Side{v.outer, v.mid_outer, 100}})
        for (int i = 0; i < 29; i++)
            for (int k = 0; k < 15; k++) {
                for (const LatheVertex &p : {rings[i][k], rings[i + 1][k + 1], mids[i][k]})
                    EXPECT_TRUE(std::fabs(radius(p) - r) < 1e-3 * r && p.z >= 0) << i << " " << k;
                EXPECT_FLOAT_EQ(mids[i][k].y, (rings[i][k + 1].y + rings[i + 1][k].y) / 2) << i;
                EXPECT_NEAR(angle(mids[i][k]), (angle(rings[i][k]) + angle(rings[i][k + 1])) / 2,
                            1e-5) << k;
            }

    const auto [low, high] = std::minmax_element(v.wave, v.wave + 83);
    EXPECT_TRUE(std::fabs(*low - 0.1f) < 0.01f && std::fabs(*high - 1.5f) < 0.01f);
    float step = 0;
    for (int m = 0; m + 1 < 83; m++)
        step = std::max(step, std::fabs(v.wave[m + 1] - v.wave[m]));
    for (int m = 0; m + 24 < 83; m++)
        EXPECT_LT(std::fabs(v.wave[m + 24] - v.wave[m]), step / 2) << m;
}

// How much a render at ramp_a = a swells inner rings 0 ... 28, then mid-cell rings 0 ... 28.
std::vector<float> swell_at(float a)
{
    const LatheView v = Lathe_View();
    ramp_a = a;
    Lathe_Render();
    std::vector<float> s;
    for (int r = 0; r < 58; r++)
        s.push_back(r < 29 ? v.live_inner[r][0].x / v.inner[r][0].x
                           : v.live_mid_inner[r - 29][0].x / v.mid_inner[r - 29][0].x);
    return s;
}

void Backdrop() { glCallList(2); }

// Window places of the sprite bodies' centres at the given drift, found by their colour and
// keyed by its red (one per size), and how many cell fans of the column pass the culling.
std::map<long, std::vector<std::pair<float, float>>> Bodies(float drift, int *cells)
{
    std::map<long, std::vector<std::pair<float, float>>> bodies;
    std::set<std::pair<long, long>> seen;
    std::set<int> fans;
    chan_x = drift;
    for (const FeedbackVertex &v : Feedback(Lathe_Render)) {
        if (v.a == 1 && v.g > 0 && std::fabs(v.b / v.g - 0.75f / 0.9f) < 1e-3f)
            fans.insert(v.polygon);
        if ((std::fabs(v.a - 0.8f) < 1e-3f || std::fabs(v.a - 0.6f) < 1e-3f) && v.r > 0 &&
            std::fabs(v.g / v.r - 0.55f / 0.9f) < 1e-3f &&
            seen.insert({std::lround(v.wx * 100), std::lround(v.wy * 100)}).second)
            bodies[std::lround(v.r * 100)].push_back({v.wx, v.wy});
    }
    *cells = int(fans.size());
    return bodies;
}

TEST(Lathe, BackdropSpritesAndWaves)
{
    if (!Run_CaseAlone())
        return;
    FirstFrameOf(35);

    // List 2 alone shows "fel" 24 rows up and the creature over it at (192, 80), as stored,
    // whatever colour is current, and leaves texturing off. From the second frame on the
    // backdrop draws without the depth test: outside the band the frame is list 2's.
    Player_Step();
    const Frame f = Player_Read();
    glColor4f(1, 0, 1, 0.5f);
    const Frame backdrop = Redraw(Backdrop);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    const Frame fel = Read_Png(QM_BUILD_DIR "/data/fel.png"),
                creature = Read_Png(QM_BUILD_DIR "/data/brzydalek.png");
    int wrong = 0;
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++) {
            const int cx = x - 192, cy = y - 80, fy = y - 24;
            Rgba a = backdrop.at_gl(x, y), b = {0, 0, 0, 255};
            if (cx >= 0 && cx < creature.width && cy >= 0 && cy < creature.height)
                b = creature.at_gl(cx, cy);
            else if (fy >= 0 && fy < fel.height && x < fel.width)
                b = fel.at_gl(x, fy);
            wrong += a.r != b.r || a.g != b.g || a.b != b.b;
            wrong += (y < 80 || y >= 400) && f.at_gl(x, y) != a;
        }
    EXPECT_EQ(wrong, 0);

    // At chan_x = 0 every sprite inside the band stands at its table place in the band's
    // camera. Drifting, each layer moves as one, the two far ones up and the two near ones down
    // as chan_x grows, each faster than the layer behind it. The column faces the viewer: most
    // of its cells pass the culling.
    int cells = 0, inside = 0, placed = 0;
    const float drift = chan_x;
    const auto still = Bodies(0, &cells), moved = Bodies(1, &cells);
    EXPECT_GT(cells, 29 * 15 * 4 * 3 / 4);
    glCallList(3);
    GLdouble model[16], projection[16], x, y, z;
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model), glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    const LatheView v = Lathe_View();
    for (int layer = 0; layer < 4; layer++)
        for (const float *p : v.sprites[layer]) {
            gluProject(p[0], p[1], v.layer_z[layer], model, projection, viewport, &x, &y, &z);
            inside += x >= 0 && x < 640 && y >= 80 && y < 400;
            for (auto &[red, places] : still)
                for (auto [x1, y1] : places)
                    placed += std::hypot(x1 - x, y1 - y) < 0.05;
        }
    EXPECT_TRUE(inside > 40 && placed == inside) << placed << " of " << inside;
    std::vector<float> rise;   // per size, largest red (smallest sprite, farthest layer) first
    for (auto it = still.rbegin(); it != still.rend(); ++it) {
        std::vector<float> dy;
        for (auto [x, y] : it->second)
            for (auto [x1, y1] : moved.at(it->first))
                if (std::hypot(x1 - x, y1 - y) < 8)
                    dy.push_back(std::fabs(x1 - x) < 0.05f ? y1 - y : 1e3f);
        std::sort(dy.begin(), dy.end());
        const float median = dy[dy.size() / 2];
        EXPECT_GE(std::count_if(dy.begin(), dy.end(), [&](float d) { return std::fabs(d - median) < 0.05f; }),
                  std::max<long>(10, it->second.size() - 2)) << "size with red " << it->first;
        rise.push_back(median);
    }
    ASSERT_EQ(rise.size(), 4u);
    EXPECT_TRUE(0 < rise[0] && rise[0] < rise[1] && 0 > rise[2] && rise[2] > rise[3])
        << rise[0] << " " << rise[1] << " " << rise[2] << " " << rise[3];
    chan_x = drift;

    // The waves move in whole steps of ramp_a, travel down the column one ring per two steps,
    // each mid-cell ring one step ahead of the ring below it; at 24 they stay within the table.
    EXPECT_EQ(swell_at(23), swell_at(23.99f));
    const std::vector<float> s5 = swell_at(5), s6 = swell_at(6), s7 = swell_at(7);
    for (int r = 0; r < 28; r++)
        EXPECT_TRUE(s7[r] == s5[r + 1] && std::fabs(s5[29 + r] - s6[r]) < 1e-6f) << r;
    const std::vector<float> top = swell_at(24);
    EXPECT_NE(swell_at(23.99f), top);
    for (float s : top)
        EXPECT_TRUE(s > 0.09f && s < 1.51f) << s;
}

}  // namespace
