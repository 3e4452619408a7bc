// The glow shells (entries 29 to 34) as drawn: black at both ends, the cell lists' order, the
// brightness wave's phase carried from frame to frame, and the labels with the moving glow.
#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include <GL/glu.h>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "scenes/creeds/creeds.h"
#include "render/scene_probe.h"
#include "support/process.h"
#include "timeline/timeline.h"

// Window x, y of cell (spoke, ring)'s first disc centre; false where the far plane cut the fan.
static bool disc_centre(int spoke, int ring, double p[2])
{
    static GLfloat buffer[128];
    glFeedbackBuffer(128, GL_2D, buffer);
    glRenderMode(GL_FEEDBACK);
    glCallList(10 + 15 * (20 * spoke + ring));
    if (glRenderMode(GL_RENDER) != 8 * 8)   // eight triangles: token, count, three x y
        return false;
    p[0] = p[1] = 0;
    for (int v = 0; v < 48; v++)
        p[v % 2] += buffer[2 + v / 6 * 8 + v % 6] / 24;
    return true;
}

// How a label shows in window box (ends exclusive): the correlation of its pixels with its tiles
// 2n, 2n + 1 read left to right and upright, and their standard deviation.
static std::pair<double, double> label_likeness(const Frame &f, const Picture &pic, int label,
                                                const int box[4])
{
    double sp = 0, st = 0, spp = 0, stt = 0, spt = 0;
    for (int v = 0; v < 16; v++)
        for (int u = 0; u < 64; u++) {
            const uint8_t *t = pic.pixels + (2 * label + u / 32) * 1536 + (32 * v + u % 32) * 3;
            Rgba c = f.at_gl(int(box[0] + (u + 0.5) * (box[2] - box[0]) / 64),
                             int(box[3] - (v + 0.5) * (box[3] - box[1]) / 16));
            double x = c.r + c.g + c.b, y = t[0] + t[1] + t[2];
            sp += x, st += y, spp += x * x, stt += y * y, spt += x * y;
        }
    double vp = spp - sp * sp / 1024, vt = stt - st * st / 1024;
    return {(spt - sp * st / 1024) / std::sqrt(vp * vt), std::sqrt(vp / 1024)};
}

static GLuint probe_list;
static void CallProbe() { glColor4f(1, 1, 1, 1), glCallList(probe_list); }

using Point = std::tuple<long, long, long>;
static Point At(const FeedbackVertex &v)
{
    return {std::lround(v.x * 100), std::lround(v.y * 100), std::lround(v.z * 100)};
}

// The mask whose figure the current entry's render puts on both shells, from the alphas each
// visible cell's disc centres and first blade base are sent with (found by where the cell lists
// hold them): all three centres dark where the mask darkens the discs, disc 0 lit elsewhere,
// blades quieter than those of the spoke's other lit cells where it quiets only the blades.
// -1 unless exactly one mask fits.
static int Figure()
{
    static std::map<Point, std::pair<int, int>> where;   // (spoke * 20 + ring, disc 0-2 or blade)
    for (int c = where.empty() ? 0 : 200; c < 200; c++)
        for (int kind = 0; kind < 4; kind++)
            for (probe_list = 10 + 15 * (c % 10 * 20 + c / 10) + kind;
                 const FeedbackVertex &v : Feedback(CallProbe))
                if (v.a == 1)
                    where[At(v)] = {c % 10 * 20 + c / 10, kind};
    float alpha[2][200][4];   // per pass and cell: the three disc centres, the blade base
    std::fill_n(&alpha[0][0][0], 1600, -1.0f);
    int pass = -1;
    bool in_core = false;
    // The labels' list turns texturing off, and with it the coordinates the feedback carries:
    // the render is fed back without it, and the lists are made anew after.
    glNewList(8, GL_COMPILE), glEndList();
    const std::vector<FeedbackVertex> drawn = Feedback(current_entry->render);
    Creeds_Init();
    for (const FeedbackVertex &v : drawn) {
        const bool core = v.a == 1 && v.r == 0 && v.dist({0, 0, 0}) < 1e-3f;
        pass = std::min(pass + (core && !in_core), 1), in_core = core;
        if (auto it = where.find(At(v)); it != where.end() && pass >= 0)
            alpha[pass][it->second.first][it->second.second] = v.a;
    }
    int fits = 0, figure = -1, seen = 0;
    for (int m = 0; m < 4; m++) {
        bool fit = true;
        for (auto &cells : alpha)
            for (int i = 0; i < 10; i++) {
                float loudest = 0;   // blades of the spoke's lit cells
                for (int k = 0; k < 20; k++)
                    loudest = cells[20 * i + k][0] > 0 ? std::max(loudest, cells[20 * i + k][3])
                                                       : loudest;
                for (int k = 0; k < 20; k++) {
                    const float *c = cells[20 * i + k];
                    if (c[0] < 0)
                        continue;
                    seen += m == 0;
                    const int marks = Creeds_MaskCell(m, i, k);
                    fit &= marks & 1 ? std::max({c[0], c[1], c[2]}) <= 0 : c[0] > 0;
                    fit &= c[0] == 0 || c[3] < 0 || (c[3] < loudest - 0.03f) == (marks >> 1);
                }
            }
        fits += fit, figure = fit ? m : figure;
    }
    EXPECT_GT(seen, 100) << "cells seen in entry " << Player_CurrentEntry();
    return fits == 1 ? figure : -1;
}

TEST(Creeds, VeilsListsPhasesAndLabels)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    ZAF_Open(QM_BUILD_DIR "/quiet_moss.zaf");   // the loading sequence has closed it
    static const Picture &pic = *ZAF_ReadPicture("creeds");   // kept, as the demo keeps its own
    ZAF_Close();
    EXPECT_TRUE(BlackGl(FirstFrameOf(29), 0, 0, 640, 480)) << "entry 29 starts under a black veil";

    // Lists are spoke-major: a spoke's 20 cells share x (rings turn about X), x falls from the
    // first spoke to the last, and the last name is 3009. The view cuts no fan.
    glMatrixMode(GL_PROJECTION), glLoadIdentity(), glOrtho(-1e3, 1e3, -1e3, 1e3, -1e3, 1e3);
    glMatrixMode(GL_MODELVIEW), glLoadIdentity();
    double c[10][20][2];
    for (int i = 0; i < 10; i++)
        for (int k = 0; k < 20; k++) {
            ASSERT_TRUE(disc_centre(i, k, c[i][k])) << "spoke " << i << ", ring " << k;
            EXPECT_NEAR(c[i][k][0], c[i][0][0], 0.01) << "spoke " << i << ", ring " << k;
            EXPECT_TRUE(i == 0 || c[i][0][0] < c[i - 1][0][0] - 1) << "spoke " << i;
        }
    EXPECT_TRUE(glIsList(3009));

    // Every entry shows one of the masks' figures on both shells, cell for cell: the veiled
    // entries those of their neighbours, the four middle ones each its own.
    int figure[6];
    const Frame entering = Capture_FrameAt(189.5);
    figure[0] = Figure();

    // Entry 30: second-shell spoke i starts at phase phase_start + 1 + i, phase 1 lit most, and
    // phase_start is the last frame's ramp rounded halves to even (frame 12 follows a forced 4.5).
    // The render leaves the second shell's matrices current, so its centres are found there.
    Player_SkipTo(Player_FrameIndex(192.45, Player_Fps()));
    for (int n = 0; n < 18; n++) {
        if (n == 12)
            ramp_a = 4.5f, Creeds_RenderA();
        int start = int(std::nearbyint(ramp_a));
        Player_Step();
        ASSERT_EQ(Player_CurrentEntry(), 30);
        Frame f = Player_Read();
        int red[8] = {}, brightest = 0;   // over one phase cycle, clear of the crowded poles
        for (int i = 2; i < 8; i++) {
            for (int k = 0; k < 20; k++)
                if (double p[2]; disc_centre(i, k, p))
                    red[i] = std::max<int>(red[i], f.at_gl(int(p[0]), int(p[1])).r);
            brightest = red[i] > red[brightest] ? i : brightest;
        }
        EXPECT_EQ((start + 1 + brightest) % 6, 1) << "frame " << n << " after ramp " << start;
    }

    // Entries 30 to 33: labels upright in the corners (tiles 0-1 top left, 2-3 top right, 4-5
    // bottom right, 6-7 bottom left); the glow veils one per entry, taking much of its contrast.
    const int lit[4] = {1, 2, 0, 3};
    double spread[4][4];   // per label and entry
    int boxes[4][4];
    for (int e = 0; e < 4; e++) {
        Frame f = Capture_FrameAt(194.7 + 8 * e);
        ASSERT_EQ(Player_CurrentEntry(), 30 + e);
        int box[4][4] = {{640, 640}, {640, 640}, {640, 640}, {640, 640}};   // x0, y0, x1, y1
        for (int y = 0; y < 480; y++)
            for (int x = 0; x < 640; x++)
                if ((y < 140 || y > 340) && f.at_gl(x, y).r >= 150) {   // bright, off the shells
                    int *b = box[y > 240 ? x >= 320 : 3 - (x >= 320)];
                    b[0] = std::min(b[0], x), b[1] = std::min(b[1], y);
                    b[2] = std::max(b[2], x + 1), b[3] = std::max(b[3], y + 1);
                }
        // The render leaves the second shell's matrices: its centre stands at -wave_a, the
        // first's mirrored at +wave_a, each within its bright cells over a black core.
        GLdouble model[16], projection[16], x, y, z;
        GLint viewport[4];
        glGetDoublev(GL_MODELVIEW_MATRIX, model), glGetDoublev(GL_PROJECTION_MATRIX, projection);
        glGetIntegerv(GL_VIEWPORT, viewport);
        gluProject(0, 0, 0, model, projection, viewport, &x, &y, &z);
        ASSERT_GT(std::fabs(wave_a), 100);
        EXPECT_EQ(x < 320, wave_a > 0) << x << " at " << wave_a;
        for (int centre : {int(x), 640 - int(x)})
            EXPECT_TRUE(f.at_gl(centre, int(y)).r < 30 && Range(f, centre - 60, int(y) - 60, 120, 120).second > 100)
                << centre;
        figure[1 + e] = Figure();
        for (int n = 0; n < 4; n++) {
            const int *b = box[n], *across = box[n ^ 1], *up = box[3 - n];   // mirror images
            EXPECT_TRUE(b[0] + across[2] == 640 && b[1] + up[3] == 480) << "label " << n;
            auto [likeness, s] = label_likeness(f, pic, n, b);
            EXPECT_TRUE(n == lit[e] || likeness > 0.97) << "label " << n << ": " << likeness;
            spread[n][e] = s;
            std::copy(b, b + 4, boxes[n]);
        }
    }
    const Frame leaving = Capture_FrameAt(223.9);
    figure[5] = Figure();
    for (const Frame *f : {&entering, &leaving})   // no label under either veil
        for (int n = 0; n < 4; n++)
            EXPECT_LT(label_likeness(*f, pic, n, boxes[n]).first, 0.5) << "label " << n;
    EXPECT_TRUE(figure[0] >= 0 && figure[0] == figure[1] && figure[4] == figure[5]);
    EXPECT_EQ(std::set<int>(figure + 1, figure + 5).size(), 4u);
    EXPECT_EQ(*std::min_element(figure, figure + 6), 0);
    for (int n = 0; n < 4; n++)
        for (int e = 0; e < 4; e++)
            EXPECT_EQ(spread[n][e] < 0.7 * *std::max_element(spread[n], spread[n] + 4), n == lit[e])
                << "label " << n << " in entry " << 30 + e;

    EXPECT_TRUE(BlackGl(LastFrameOf(34, 225.16), 0, 0, 640, 480)) << "entry 34 ends veiled";
}
