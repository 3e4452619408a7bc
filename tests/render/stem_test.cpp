// Bulb and disc rings (entries 21 to 27): loader geometry and rand() draws, then the frames.
#include <cmath>
#include <cstdlib>
#include <utility>

#include "assets/zaf.h"
#include "render/scene_probe.h"
#include "scenes/stem/stem.h"
#include "timeline/timeline.h"

// p turned about y by a, then about x by t (radians), as glRotatef turns.
static void Turn(double p[3], double a, double t = 0)
{
    const double x = p[0] * std::cos(a) + p[2] * std::sin(a), y = p[1];
    const double z = p[2] * std::cos(a) - p[0] * std::sin(a);
    p[0] = x, p[1] = y * std::cos(t) - z * std::sin(t), p[2] = y * std::sin(t) + z * std::cos(t);
}

// Mean step of green between neighbouring pixels right of the bulb: smooth haze, or discs.
static double Roughness(const Frame &f)
{
    double sum = 0;
    for (int y = 300; y < 400; y++)
        for (int x = 480; x < 550; x++)
            sum += std::abs(f.at_gl(x + 1, y).g - f.at_gl(x, y).g);
    return sum / 7000;
}

// Catches lost or extra rand() draws, a wrong order of offset, tilt, anchor and turn, bad discs.
TEST(Stem, LoaderGeometryAndDraws)
{
    srand(7);
    for (int i = 0; i < 10 * 64 * 4 * 3; i++)   // three draws per disc of 64 clusters of 4
        rand();
    const int next = rand();
    srand(7), ZAF_Open(QM_BUILD_DIR "/quiet_moss.zaf"), Stem_Load(), ZAF_Close();
    EXPECT_EQ(rand(), next) << "a rand() draw lost or added";

    // Segment i is segment 0 turned about y by i steps; 30 steps make just over two turns.
    const float(*s0)[3] = Stem_RingSegment(0);
    const double step = std::atan2(Stem_RingSegment(1)[17][0], Stem_RingSegment(1)[17][2]);
    EXPECT_TRUE(30 * step > 4 * M_PI && 30 * step < 4 * M_PI + 0.1) << step;
    for (int n = 0; n < 30 * 36; n++) {   // point n % 36 of segment n / 36
        double q[3] = {s0[n % 36][0], s0[n % 36][1], s0[n % 36][2]};
        Turn(q, n / 36 * step);
        for (int c = 0; c < 3; c++)
            EXPECT_NEAR(Stem_RingSegment(n / 36)[n % 36][c], q[c], 2e-3) << "point " << n;
    }

    for (int s = 0; s < 10; s++) {
        const float(*set)[3] = Stem_DiscSet(s);
        // The first cluster is unturned: its first disc's rim point 1 (straight up) shows the tilt.
        const double tilt = std::atan2(set[1][2] - set[0][2], set[1][1] - set[0][1]);
        double low[3] = {};
        for (int d = 0; d < 256; d++) {
            const float(*disc)[3] = set + 9 * d;
            for (int i = 1; i < 9; i++)   // a regular octagon of radius 5 or 7
                EXPECT_NEAR(std::hypot(disc[i][0] - disc[0][0], disc[i][1] - disc[0][1],
                            disc[i][2] - disc[0][2]), s % 2 ? 7 : 5, 1e-3) << s << ", " << d;
            // Unturned (5 turns over 64 clusters) and untilted, a centre is off the first by whole
            // x up to 9, even y and tenths of z up to 0.9.
            double o[3] = {disc[0][0], disc[0][1], disc[0][2]};
            Turn(o, -(d / 4) * 10 * M_PI / 64);
            for (int c = 0; c < 3; c++)
                o[c] -= set[0][c];
            Turn(o, 0, -tilt);
            const double w[3] = {std::round(o[0]), 2 * std::round(o[1] / 2),
                                 std::round(10 * o[2]) / 10};
            EXPECT_TRUE(std::hypot(o[0] - w[0], o[1] - w[1], o[2] - w[2]) < 1e-2 &&
                        std::fabs(w[0]) < 9.5 && std::fabs(w[2]) < 0.95) << s << ", " << d;
            for (int c = 0; c < 3; c++)
                low[c] = std::min(low[c], w[c]);
        }
        // Less its offset, the first disc sits on the anchor: x -5, on rib 1 of segment 0.
        Turn(low, 0, tilt);
        EXPECT_NEAR(set[0][0] + low[0], -5, 2e-3) << "set " << s;
        bool on_profile = false;
        for (int j = 12; j < 24; j++)
            on_profile |=
                std::hypot(s0[j][1] - set[0][1] - low[1], s0[j][2] - set[0][2] - low[2]) < 2e-3;
        EXPECT_TRUE(on_profile) << "set " << s;
    }
}

// One run through entries 21 to 27, a frame or two for each fault.
TEST(Stem, CurtainBandAndDiscs)
{
    auto redraw = [](void (*r)(), float y, float z) { chan_y = y, chan_z = z; return Redraw(r); };
    EXPECT_TRUE(FirstFrameOf(21).black_gl(0, 0, 640, 480)) << "first frame of entry 21";

    // A band of height 0: bars and fades over the clear colour, nothing of the 3-D view.
    const Frame closed = FirstFrameOf(22);
    EXPECT_TRUE(closed.black_gl(0, 0, 80, 480) && closed.black_gl(560, 0, 80, 480));
    EXPECT_TRUE(closed.at_gl(320, 0).r < 5 && closed.at_gl(320, 479).r < 5);
    for (int y : {239, 240})
        EXPECT_TRUE(closed.at_gl(320, y).r > 200 &&
                    closed.mean_gl(80, y, 480, 1).r == closed.at_gl(320, y).r) << y;

    // Entry 23 at scale 1 is the opening render with a full band: dark bulb, smooth haze beside.
    const Frame unscaled = Capture_FrameAt(113.9);
    ASSERT_EQ(Player_CurrentEntry(), 23);
    EXPECT_LT(unscaled.mean_gl(290, 210, 60, 60).g, 0.8 * unscaled.mean_gl(90, 210, 60, 60).g);
    EXPECT_LT(Roughness(unscaled), 0.2);
    EXPECT_TRUE(redraw(Stem_RenderOpen, 0, 480) == unscaled);

    // Late in entry 24 each swollen group, with the other or alone, has moved out over the haze.
    Capture_FrameAt(126);
    ASSERT_EQ(Player_CurrentEntry(), 24);
    const float light = chan_y, amber = chan_z;
    for (auto [y, z] : {std::pair{light, amber}, {light, 1.0f}, {1.0f, amber}})
        EXPECT_GT(Roughness(redraw(Stem_RenderGrow, y, z)), 0.4) << "scales " << y << ", " << z;

    // Entry 27 starts as entry 22 rests and ends under the black block, a faint fade below it.
    EXPECT_TRUE(FirstFrameOf(27) == closed);
    const Frame last = LastFrameOf(27, 137.46);
    const int block = int(std::ceil(480 + chan_x));
    EXPECT_TRUE(last.black_gl(0, block, 640, 480 - block)) << chan_x;
    EXPECT_LT(last.mean_gl(0, 0, 640, block).r, 12) << chan_x;
}
