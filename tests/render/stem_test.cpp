// Bulb and disc rings (entries 21 to 27): loader geometry and rand() draws, then the frames.
#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

#include "assets/zaf.h"
#include "render/scene_probe.h"
#include "support/process.h"
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
    if (!Run_CaseAlone())
        return;
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

// The window positions of what Stem_RenderGrow sends at these channels, by kind: the bulb
// (opaque), the light and the amber disc centres (alpha 0.2, 0.3), the haze panes, the mesh.
enum { bulb, light, amber, haze, mesh };
static std::array<Places, 5> Seen(float x, float y, float z)
{
    chan_x = x, chan_y = y, chan_z = z;
    std::array<Places, 5> out;
    for (const FeedbackVertex &v : Feedback(Stem_RenderGrow)) {
        const int k = v.a == 1 && v.r > 0   ? bulb
                      : v.a == 0.2f         ? (v.r == 1 ? light : haze)
                      : v.a == 0.3f         ? amber
                      : v.a == 0.8f         ? mesh
                                            : -1;
        if (k >= 0)
            out[k].emplace_back(v.wx, v.wy);
    }
    return out;
}

// One run through entries 21 to 27, a frame or two for each fault.
TEST(Stem, CurtainBandAndDiscs)
{
    if (!Run_CaseAlone())
        return;
    auto redraw = [](void (*r)(), float y, float z) { chan_y = y, chan_z = z; return Redraw(r); };
    EXPECT_TRUE(BlackGl(FirstFrameOf(21), 0, 0, 640, 480)) << "first frame of entry 21";

    // A band of height 0: bars and fades over the clear colour, nothing of the 3-D view.
    const Frame closed = FirstFrameOf(22);
    EXPECT_TRUE(BlackGl(closed, 0, 0, 80, 480) && BlackGl(closed, 560, 0, 80, 480));
    EXPECT_TRUE(closed.at_gl(320, 0).r < 5 && closed.at_gl(320, 479).r < 5);
    for (int y : {239, 240})
        EXPECT_TRUE(closed.at_gl(320, y).r > 200 &&
                    MeanGl(closed, 80, y, 480, 1).r == closed.at_gl(320, y).r) << y;

    // Halfway through entries 22 and 26 the 3-D view shows in a band chan_z high, centred on
    // the middle line: the rows that differ from the closed frame.
    auto band_at = [&closed](double t) {
        const Frame f = Capture_FrameAt(t);
        int low = 480, high = -1;
        for (int y = 0; y < 480; y++)
            for (int x = 80; x < 560; x++)
                if (!(f.at_gl(x, y) == closed.at_gl(x, y)))
                    low = std::min(low, y), high = std::max(high, y);
        EXPECT_NEAR(high + 1 - low, chan_z, 2) << t;
        EXPECT_NEAR(low + high + 1, 480, 2) << t;
    };
    band_at(110.93);

    // Entry 23 at scale 1 is the opening render with a full band: dark bulb, smooth haze beside.
    const Frame unscaled = Capture_FrameAt(113.9);
    ASSERT_EQ(Player_CurrentEntry(), 23);
    EXPECT_LT(MeanGl(unscaled, 290, 210, 60, 60).g, 0.8 * MeanGl(unscaled, 90, 210, 60, 60).g);
    EXPECT_LT(Roughness(unscaled), 0.2);
    EXPECT_TRUE(redraw(Stem_RenderOpen, 0, 480) == unscaled);

    // Late in entry 24 each swollen group, with the other or alone, has moved out over the haze.
    Capture_FrameAt(126);
    ASSERT_EQ(Player_CurrentEntry(), 24);
    const float light = chan_y, amber = chan_z;
    for (auto [y, z] : {std::pair{light, amber}, {light, 1.0f}, {1.0f, amber}})
        EXPECT_GT(Roughness(redraw(Stem_RenderGrow, y, z)), 0.4) << "scales " << y << ", " << z;

    // Against chan_x the bulb and the mesh turn once, the light discs 1.5 times, the amber ones
    // 0.3 times: each is back where it started first at 360, 240 and 1200 (amber turning 2.7
    // times, the other way round, would be back at 133.3 and at 1200 too). chan_y swells the
    // light group alone, chan_z the amber one; the haze stays.
    const struct {
        float x, y, z;
        bool bulb_stays, light_stays, amber_stays;
    } moves[] = {{240, 1, 1, false, true, false}, {1200, 1, 1, false, true, true},
                 {360, 1, 1, true, false, false}, {400 / 3.0f, 1, 1, false, false, false},
                 {0, 2, 1, true, false, true},    {0, 1, 2, true, true, false}};
    const std::array<Places, 5> still = Seen(0, 1, 1);
    for (const auto &m : moves) {
        const bool stays[] = {m.bulb_stays, m.light_stays, m.amber_stays, true, m.bulb_stays};
        const std::array<Places, 5> seen = Seen(m.x, m.y, m.z);
        for (int kind = bulb; kind <= mesh; kind++)
            EXPECT_EQ(SamePlaces(seen[kind], still[kind]), stays[kind])
                << "kind " << kind << " at " << m.x << ", " << m.y << ", " << m.z;
    }
    // Each segment of the bulb is lit along its middle rib and dark along both edges (where
    // the ribs meet on the axis, both colours meet).
    float middle = 3, edges = 0;
    for (const FeedbackVertex &v : Feedback([] { glCallList(8); }))
        for (int n = 0; n < 30 * 36; n++) {
            const float *p = Stem_RingSegment(n / 36)[n % 36];
            if (v.dist({p[0], p[1], p[2]}) < 1e-3f && std::hypot(p[0], p[2]) > 1)
                (n % 36 / 12 == 1 ? middle = std::min(middle, v.r + v.g + v.b)
                                  : edges = std::max(edges, v.r + v.g + v.b));
        }
    EXPECT_GT(middle, edges);
    // Each disc list draws its set's 256 discs of eight triangles and nothing past them (the
    // driver, not our code, reads the points, so the sanitizer cannot see a disc too many).
    static GLuint list;
    for (list = 10; list < 20; list++) {
        int polygons = 0;
        Feedback([] { glCallList(list); }, &polygons);
        EXPECT_EQ(polygons, 256 * 8) << "list " << list;
    }
    band_at(134.93);

    // Entry 27 starts as entry 22 rests and ends under the black block, a faint fade below it.
    EXPECT_TRUE(FirstFrameOf(27) == closed);
    const Frame last = LastFrameOf(27, 137.46);
    const int block = int(std::ceil(480 + chan_x));
    EXPECT_TRUE(BlackGl(last, 0, block, 640, 480 - block)) << chan_x;
    EXPECT_LT(MeanGl(last, 0, 0, 640, block).r, 12) << chan_x;
}
