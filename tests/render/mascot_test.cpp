// The mascot scenes (entries 4 to 7): the geometry of sparks and trails as sent to GL, and what
// the frames show.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "render/scene_probe.h"
#include "scenes/mascot/mascot.h"

using Vertex = FeedbackVertex;

// A spark's size or fade off with distance, or one drawn from 600 on (radius 0: nothing).
TEST(Mascot, SparkShrinksAndFadesWithDistanceAndVanishesFrom600)
{
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

// Entry 4's bars, trail copies and mirrored passes; the logo's place; entry 7's black close.
TEST(Mascot, BarsTrailMirroredSparksLogoAndClosing)
{
    const Frame first = FirstFrameOf(4);   // chan_y = 1: black but three full-width 2-pixel rows
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++)
            ASSERT_EQ(first.black_gl(x, y, 1, 1), y < 80 || y >= 400 || (y - 80) % 159 > 1)
                << "(" << x << ", " << y << ")";

    // Trail copy k is copy 0 turned by 6k degrees about y, and denser than copy k - 1.
    glPushMatrix();   // the list pops it
    const std::vector<Vertex> t = Feedback([] { glCallList(5); });
    ASSERT_TRUE(!t.empty() && t.size() % 20 == 0) << t.size();
    const size_t n = t.size() / 20;
    float err = 0;
    for (size_t k = 0; k < 20; k++) {
        const double c = std::cos(k * M_PI / 30), s = std::sin(k * M_PI / 30);
        for (size_t i = 0; i < n; i++)
            err = std::max(err, t[k * n + i].dist({float(t[i].x * c + t[i].z * s), t[i].y,
                                                   float(t[i].z * c - t[i].x * s)}));
        EXPECT_TRUE(k == 0 || t[k * n].a > t[k * n - 1].a) << "copy " << k;
    }
    EXPECT_LT(err, 0.01f);

    // Mid entry 4 the inner bars have faded open towards the middle, the outer ones not.
    const Frame mid = Capture_FrameAt(13);
    EXPECT_GT(mid.mean_gl(0, 230, 640, 8).r, 4 * mid.mean_gl(0, 84, 640, 8).r + 20);
    EXPECT_TRUE(mid.black_gl(0, 0, 640, 80) && mid.black_gl(0, 400, 640, 80));

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
    std::stable_sort(pass[0].begin(), pass[0].end(), by_z);
    ASSERT_TRUE(pass[0].size() >= 10 && pass[0].size() == pass[1].size()) << pass[0].size();
    for (size_t i = 0; i < pass[0].size(); i++)
        EXPECT_EQ(pass[1][i].dist({-pass[0][i].x, pass[0][i].y, -pass[0][i].z}), 0) << i;

    // Entry 5: the logo, pixel for pixel, its lower left corner at (0, 8).
    const Frame logo = Capture_ReadPng(QM_BUILD_DIR "/data/logo.png"), shown = Capture_FrameAt(19);
    for (int y = 0; y < logo.height; y++)
        for (int x = 0; x < logo.width; x++) {
            const Rgba p = logo.at_gl(x, y), q = shown.at_gl(x, y + 8);
            ASSERT_TRUE(p.r == q.r && p.g == q.g && p.b == q.b) << "(" << x << ", " << y << ")";
        }

    EXPECT_TRUE(LastFrameOf(7, 30.25).black_gl(0, 0, 640, 480)) << "entry 7 ends black";
}
