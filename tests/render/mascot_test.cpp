// The mascot scenes (entries 4 to 7): the geometry of sparks and trails as sent to GL, and what
// the frames show.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <tuple>
#include <vector>

#include "render/scene_probe.h"
#include "support/process.h"
#include "support/read_png.h"
#include "scenes/mascot/mascot.h"
#include "timeline/timeline.h"

using Vertex = FeedbackVertex;

// A spark's size or fade off with distance, or one drawn from 600 on (radius 0: nothing).
TEST(Mascot, SparkShrinksAndFadesWithDistanceAndVanishesFrom600)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    for (auto [p, radius, alpha] : {std::tuple{Vertex{0, 0, 0}, 100.0f, 1.0f},
                                    {{180, 0, -240}, 70, 0.5f}, {{360, 480, 0}, 0, 0},
                                    {{0, 0, -650}, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << p.x << ", " << p.y << ", " << p.z);
        spark_position[0] = p.x, spark_position[1] = p.y, spark_position[2] = p.z;
        spark_colour[0] = 1, spark_colour[1] = 0.5f, spark_colour[2] = 0.25f;
        float rim = 0, centre_alpha = 0, off_centre = 0;
        for (const Vertex &v : Feedback(Mascot_DrawSpark)) {
            if (v.g == 0.5f && v.b == 0.25f)   // the spark's own colour: the disc centres
                centre_alpha = v.a, off_centre = std::max(off_centre, v.dist(p));
            else if (v.r == 1 && v.a == 0)   // the clear white disc rims
                rim = std::max(rim, v.dist(p));
        }
        EXPECT_LT(off_centre, 1e-3f);
        EXPECT_NEAR(rim, radius, 1e-3f);
        EXPECT_NEAR(centre_alpha, alpha, 1e-5f);
    }
}

// The window positions of each trail's copies at chan_x = x, orange then pink, each copy by
// its alpha (the faintest first).
using Copies = std::map<float, Places>;
static std::array<Copies, 2> Trails(float x)
{
    chan_x = x;
    std::array<Copies, 2> trails;
    for (const Vertex &v : Feedback(Mascot_RenderA))
        if (v.r == 0.8f)
            trails[v.g < v.b][v.a].emplace_back(v.wx, v.wy);
    return trails;
}

// Entries 4 and 6's bars, the trails, the mirrored passes; the logo's place; entry 7's close.
TEST(Mascot, BarsTrailMirroredSparksLogoAndClosing)
{
    if (!Run_CaseAlone())
        return;
    // Entry 4 starts and entry 6 ends with the bars closed: dark but three full-width rows.
    auto closed = [](const Frame &f) {
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++)
                ASSERT_EQ(Range(f, x, y, 1, 1).second > 3, y >= 80 && y < 400 && (y - 80) % 159 < 2)
                    << "(" << x << ", " << y << ")";
    };
    closed(FirstFrameOf(4));

    // Each copy of a trail is the one before turned 6 degrees further, and denser: the orange
    // trail turns with chan_x, so copy k at chan_x + 6 lies where copy k + 1 lies at chan_x;
    // the pink one turns against it.
    const std::array<Copies, 2> at = Trails(40), on = Trails(46), back = Trails(34);
    for (int pink = 0; pink < 2; pink++) {
        ASSERT_EQ(at[pink].size(), 20u) << pink;
        auto next = at[pink].begin(), turned = (pink ? back : on)[pink].begin();
        for (int k = 0; k < 19; k++, turned++)
            EXPECT_TRUE(SamePlaces(turned->second, (++next)->second)) << "pink " << pink << ", copy " << k;
    }

    // Mid entry 4 the inner bars have faded open towards the middle, the outer ones not.
    const Frame mid = Capture_FrameAt(13);
    EXPECT_GT(MeanGl(mid, 0, 230, 640, 8).r, 4 * MeanGl(mid, 0, 84, 640, 8).r + 20);
    EXPECT_TRUE(BlackGl(mid, 0, 0, 640, 80) && BlackGl(mid, 0, 400, 640, 80));

    // Spark (i, j) of the pink pass is the warm pass's with x and z negated, rows from z =
    // chan_x backwards. Sparks within 400 of the origin lie whole inside the view; their disc
    // centres are the only vertices in a spark's full red.
    std::vector<Vertex> pass[2];
    for (const Vertex &v : Feedback(Mascot_RenderA)) {
        auto &p = pass[v.g < v.b];
        if (v.r == 1 && v.a > 0 && v.dist({0, 0, 0}) < 400 && (p.empty() || p.back().dist(v)))
            p.push_back(v);
    }
    const auto by_z = [](const Vertex &u, const Vertex &v) { return u.z < v.z; };
    EXPECT_TRUE(std::is_sorted(pass[0].rbegin(), pass[0].rend(), by_z));
    EXPECT_TRUE(std::all_of(pass[0].begin(), pass[0].end(), [](const Vertex &v) { return v.x >= 0; }))
        << "the warm pass lies on the side of positive x";
    std::stable_sort(pass[0].begin(), pass[0].end(), by_z);
    ASSERT_TRUE(pass[0].size() >= 10 && pass[0].size() == pass[1].size()) << pass[0].size();
    for (size_t i = 0; i < pass[0].size(); i++)
        EXPECT_EQ(pass[1][i].dist({-pass[0][i].x, pass[0][i].y, -pass[0][i].z}), 0) << i;

    // Entry 5: the logo, pixel for pixel, its lower left corner at (0, 8).
    const Frame logo = Read_Png(QM_BUILD_DIR "/data/logo.png"), shown = Capture_FrameAt(19);
    for (int y = 0; y < logo.height; y++)
        for (int x = 0; x < logo.width; x++) {
            const Rgba p = logo.at_gl(x, y), q = shown.at_gl(x, y + 8);
            ASSERT_TRUE(p.r == q.r && p.g == q.g && p.b == q.b) << "(" << x << ", " << y << ")";
        }

    closed(LastFrameOf(6, 28.91));
    // Entry 7 fills the lowest gap from the left up to chan_y, the others from the right from
    // chan_z on, until the screen is black.
    const Frame filling = Capture_FrameAt(29.7);
    for (auto [y, from_left] : {std::pair{80, true}, {239, false}, {398, false}}) {
        const int edge = int(from_left ? chan_y : chan_z), width = from_left ? edge - 8 : 632 - edge;
        const int filled = from_left ? 0 : edge + 8, left = from_left ? edge + 8 : 0;
        EXPECT_TRUE(BlackGl(filling, filled, y, width, 2)) << "gap at " << y << ", edge " << edge;
        EXPECT_GT(Range(filling, left, y, width, 2).second, 60) << "gap at " << y;
    }
    EXPECT_TRUE(BlackGl(LastFrameOf(7, 30.25), 0, 0, 640, 480)) << "entry 7 ends black";
}
