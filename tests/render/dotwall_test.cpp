// The phosphor dot wall (entries 16 to 20): the fades behind the letterbox and the direction the
// bands roll in each entry, read from the frames; the picture on the wall, from what is sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/scene_probe.h"
#include "support/process.h"
#include "scenes/dotwall/dotwall.h"
#include "timeline/timeline.h"
#include "timeline/scene_script.h"
#include "apps/capture/capture.h"

namespace {

// Plays `entry` from its start, as `-debug 0 400 <entry>` does, with the state and lists that
// entry 16's init leaves for all five entries. At 20 frames a second the band phase, which follows
// ramp_a (20 steps a second), moves by one step every frame.
void PlayFrom(int entry)
{
    SceneScript_Debug(0, 400, entry);
    Capture_Open(PlayerSetup{"", 20.0});
    DotWall_Init();
}

// Draws the next frame; a full one is read back, and its letterbox bars must be black.
Frame Draw(bool quick = false)
{
    Player_Step(quick);
    if (quick)
        return {};
    Frame f = Player_Read();
    EXPECT_TRUE(BlackGl(f, 0, 0, 640, 80) && BlackGl(f, 0, 400, 640, 80)) << "letterbox";
    return f;
}

class DotWallFade : public testing::TestWithParam<int> {};

// Fault caught: a fade running the wrong way, drawn without the fade channel, or not reaching
// black at its end.
TEST_P(DotWallFade, MiddleBrightensFromBlackInEntry16AndDarkensToBlackInEntry20)
{
    if (!Run_CaseAlone())
        return;
    const int entry = GetParam();
    const bool rising = entry == 16;
    PlayFrom(entry);
    std::vector<double> seen;
    Frame f;
    for (int k = 0; Player_PeekEntry() == entry; k++) {
        // Every tenth frame is read, and in entry 20 every frame once the fade is nearly done.
        f = Draw(k % 10 != 0 && (rising || chan_y < 0.85f));
        if (k == 0 && rising) {
            EXPECT_TRUE(BlackGl(f, 0, 0, 640, 480)) << "the fade channel starts at 1";
        }
        if (k % 10 == 0) {
            MeanColour middle = MeanGl(f, 0, 200, 640, 80);
            seen.push_back(middle.r + middle.g + middle.b);
        }
    }
    for (size_t i = 1; i < seen.size(); i++)
        EXPECT_TRUE(rising ? seen[i] > seen[i - 1] : seen[i] < seen[i - 1])
            << testing::PrintToString(seen);
    // The last frame shows no more than the fade channel lets through.
    if (!rising) {
        int brightest = 0;
        for (size_t i = 0; i < f.rgba.size(); i++)
            brightest = std::max<int>(brightest, i % 4 == 3 ? 0 : f.rgba[i]);
        EXPECT_LE(brightest, int(std::ceil(255 * (1 - chan_y)))) << "fade channel " << chan_y;
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, DotWallFade, testing::Values(16, 20));

// The r + g + b of every pixel, rows bottom-up.
std::vector<double> Luma(const Frame &f)
{
    std::vector<double> l(f.rgba.size() / 4);
    for (size_t i = 0; i < l.size(); i++)
        l[i] = f.rgba[4 * i] + f.rgba[4 * i + 1] + f.rgba[4 * i + 2];
    return l;
}

struct Shift { int x, y; };

// How far, in pixels, the change from frame 0 to 1 has moved by the change from 1 to 2: the
// shift that best correlates the two differences over the middle of the wall. The dots and the
// picture stand still and cancel out; what is left is the bands' roll.
Shift RollBetween(const std::vector<double> *f)
{
    auto at = [&](int k, int x, int y) { return f[k][y * 640 + x] - f[k - 1][y * 640 + x]; };
    Shift best{0, 0};
    double best_r = -2;
    for (int sy = -24; sy <= 24; sy++)
        for (int sx = -24; sx <= 24; sx++) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 0;
            for (int y = 170; y < 310; y++)
                for (int x = 140; x < 500; x += 2) {
                    double a = at(1, x - sx, y - sy), b = at(2, x, y);
                    sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b, n++;
                }
            double r = (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
            if (r > best_r)
                best_r = r, best = {sx, sy};
        }
    return best;
}

struct Roll {
    int entry;
    int column_step;   // where the column or cell bands move per step; 0: rows band alone
};
void PrintTo(const Roll &roll, std::ostream *out) { *out << roll.entry; }

class DotWallBands : public testing::TestWithParam<Roll> {};

// Fault caught: bands that stand still, roll the wrong way or by more than a step, the wrong
// kind of band for the entry (rows alone, columns crossing rows, diagonals). Near the moment
// the wall faces the viewer a cell is about 16 pixels across and 13 high.
TEST_P(DotWallBands, RollOneCellDownAFrameWithTheEntrysColumnStep)
{
    if (!Run_CaseAlone())
        return;
    const Roll c = GetParam();
    PlayFrom(c.entry);
    do
        Draw(true);
    while (chan_x < -4 && Player_PeekEntry() == c.entry);
    // A whole cycle of band phases (the ramp of the frame before each frame) about the moment
    // the wall faces the viewer, three of them climbing one by one.
    std::vector<std::vector<double>> luma;
    std::vector<int> phase;
    while (luma.size() < 9 && Player_PeekEntry() == c.entry) {
        phase.push_back(int(std::nearbyint(ramp_a)));
        luma.push_back(Luma(Draw()));
    }
    size_t i = 0;
    while (i + 2 < phase.size() && !(phase[i + 1] == phase[i] + 1 && phase[i + 2] == phase[i] + 2))
        i++;
    ASSERT_LT(i + 2, phase.size()) << testing::PrintToString(phase);
    Shift s = RollBetween(&luma[i]);
    EXPECT_TRUE(s.y >= -16 && s.y <= -10) << "rows band moved " << s.y << " up";
    const int along = s.x * c.column_step;
    EXPECT_TRUE(c.column_step ? along >= 12 && along <= 20 : std::abs(s.x) <= 2)
        << "moved " << s.x << " right";
}

INSTANTIATE_TEST_SUITE_P(Entries, DotWallBands,
                         testing::Values(Roll{17, 0}, Roll{18, -1}, Roll{19, 1}));

// Fault caught: the picture mirrored or upside down on the wall, a dot given another channel's
// alpha or colour. Facing the viewer, the wall's cells lie in rows across the screen; read
// from the vertices sent, a cell's dots are lit (alpha above the faint rims') per palette
// colour: no dot for the text (index 1), the bars of the top rows (index 2) in the blue dot
// alone, each bar colour in its own dots.
TEST(DotWallPicture, ShowsTheImageTheRightWayRoundInItsColours)
{
    if (!Run_CaseAlone())
        return;
    PlayFrom(17);
    Draw(true);
    chan_x = 0;
    struct Cell {
        float wx, wy;
        int lit;   // bit 0 red, 1 green, 2 blue
    };
    const float callers[3][3] = {{1, 0.4f, 0.3f}, {0.6f, 1, 0.3f}, {0.6f, 0.3f, 0.8f}};
    std::vector<Cell> cells;
    for (const FeedbackVertex &v : Feedback(DotWall_RenderB))
        for (int c = 0; c < 3; c++)
            if (v.r == callers[c][0] && v.g == callers[c][1] && v.b == callers[c][2] && v.a != 0.02f) {
                // Each cell starts with its red dot's centre, in the wall's plane (the red rays'
                // own colour differs from the red caller's in alpha alone).
                if (c == 0 && v.z == 0 && (cells.empty() || std::hypot(cells.back().wx - v.wx, cells.back().wy - v.wy) > 3))
                    cells.push_back({v.wx, v.wy, 0});
                if (!cells.empty() && v.a > 0.05f)
                    cells.back().lit |= 1 << c;
            }
    ASSERT_EQ(cells.size(), 800u);
    std::stable_sort(cells.begin(), cells.end(), [](const Cell &a, const Cell &b) { return a.wy > b.wy; });
    // Per row the background (index 0) lights what the row's band leaves; the other indices
    // light the same dots in every row.
    int lit_by_index[16];
    std::fill(std::begin(lit_by_index), std::end(lit_by_index), -1);
    for (int row = 0; row < 25; row++) {
        std::sort(cells.begin() + 32 * row, cells.begin() + 32 * row + 32,
                  [](const Cell &a, const Cell &b) { return a.wx < b.wx; });
        lit_by_index[0] = -1;
        for (int column = 0; column < 32; column++) {
            const int index = DotWall_ImageCell(row, column), lit = cells[32 * row + column].lit;
            if (lit_by_index[index] < 0)
                lit_by_index[index] = lit;
            EXPECT_EQ(lit, lit_by_index[index]) << "row " << row << ", column " << column;
        }
    }
    EXPECT_EQ(lit_by_index[1], 0);
    EXPECT_EQ(lit_by_index[2], 4);
    std::sort(lit_by_index + 2, lit_by_index + 6);
    EXPECT_EQ(std::unique(lit_by_index + 2, lit_by_index + 6) - lit_by_index, 6) << "bar colours";
}

}  // namespace
