// The boot screen and the opening scenes, as the demo draws them. Their view puts one unit of the
// picture plane on about one pixel, so picture coordinates are read as window coordinates, away
// from the edges of what is looked at.
#include <gtest/gtest.h>

#include <cstdlib>

#include "render/scene_probe.h"
#include "support/process.h"
#include "runtime/loading.h"
#include "timeline/scene_script.h"
#include "apps/capture/capture.h"

namespace {

int Difference(Rgba a, Rgba b)
{
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

// Fault caught: an indicator that fills for another flag than its own, or a hollow one that
// tints its hole.
TEST(BootRenderTest, IndicatorsAreHollowUntilTheirFlagRises)
{
    if (!Run_CaseAlone())
        return;
    Capture_Open(PlayerSetup{QM_BUILD_DIR});
    for (auto &flag : loader_flags)
        flag = 0;
    ASSERT_EQ(Player_Step(), 0);
    Frame none = Player_Read();
    for (int k = 0; k < 4; k++)
        loader_flags[k] = 1;
    ASSERT_EQ(Player_Step(), 0);
    Frame half = Player_Read();
    ASSERT_EQ(Player_CurrentEntry(), 0);

    // A raised flag swaps the frame for a filled square: the middle (the frame's hole) and the
    // frame's side, 12 units out, both change. A lowered one changes neither.
    for (int k = 0; k < loader_flag_count; k++)
        for (int x : {20 + 40 * k, 32 + 40 * k})
            EXPECT_EQ(Difference(none.at_gl(x, 444), half.at_gl(x, 444)) > 20, k < 4)
                << "indicator " << k << " at x " << x;
    // The hollow last one tints its side and leaves its hole as the bare picture beyond it.
    EXPECT_LE(Difference(half.at_gl(300, 444), half.at_gl(320, 444)), 6);
    EXPECT_GT(Difference(half.at_gl(312, 444), half.at_gl(320, 444)), 20);
}

// Whether the middle of a tile changed between two frames of the same view.
bool TileMoved(const Frame &before, const Frame &after, int column, int row)
{
    for (int y = 32 * row + 8; y < 32 * row + 24; y++)
        for (int x = 32 * column + 8; x < 32 * column + 24; x++)
            if (!(before.at_gl(x, y) == after.at_gl(x, y)))
                return true;
    return false;
}

// Whether the mean colours of a 12 x 12 block in each corner of a tile's face differ from another
// frame's by no more than a one-unit shift of the face makes where the picture has sharp edges.
bool TileAsIn(const Frame &a, const Frame &b, int column, int row)
{
    for (int x : {2, 17})
        for (int y : {2, 17}) {
            MeanColour p = MeanGl(a, 32 * column + x, 32 * row + y, 12, 12);
            MeanColour q = MeanGl(b, 32 * column + x, 32 * row + y, 12, 12);
            if (std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b) > 80)
                return false;
        }
    return true;
}

// Fault caught: both tile groups flying at once, a tile in neither group or in both, the groups
// swapped or mirrored, tiles that show another tile's part of the picture or show it turned,
// entry 2 bringing back the tiles entry 1 sent away.
TEST(BootRenderTest, OneHalfOfTheTilesFliesInEntryOneAndTheOtherInEntryTwo)
{
    if (!Run_CaseAlone())
        return;
    Capture_Open(PlayerSetup{QM_BUILD_DIR, 20.0});
    Frame picture = Capture_FrameAt(1.0);
    Frame start1 = FirstFrameOf(1);
    Frame later1 = Capture_FrameAt(3.5);
    Frame start2 = FirstFrameOf(2);
    Frame later2 = Capture_FrameAt(6.5);
    ASSERT_EQ(Player_CurrentEntry(), 2);

    int moved1 = 0, moved2 = 0, as_before = 0, back = 0;
    bool first[20][15] = {};
    for (int row = 0; row < 15; row++)
        for (int column = 0; column < 20; column++) {
            // Before they fly the tiles show the boot picture as it was, but for a few that the
            // indicators overlap.
            as_before += TileAsIn(picture, start1, column, row);
            // In entry 2 the first group is gone: where it stood the second group's walls and
            // the haze show, so only the tiles that stayed in entry 1 are looked at.
            if (TileMoved(start1, later1, column, row))
                moved1++, first[column][row] = true, back += TileAsIn(picture, start2, column, row);
            else if (TileMoved(start2, later2, column, row))
                moved2++;
            else
                ADD_FAILURE() << "tile (" << column << ", " << row << ") never flies";
        }
    EXPECT_GE(as_before, 280);
    EXPECT_EQ(moved1, 150);
    EXPECT_EQ(moved2, 150);
    EXPECT_LE(back, 75) << "tiles of the first group seen again in entry 2";
    EXPECT_TRUE(first[1][0] && !first[0][0]) << "tile (1, 0) flies first, tile (0, 0) second";
}

// Fault caught: bars closing from the wrong sides, or covering the three lines the wipe leaves.
TEST(BootRenderTest, WipeBarsCloseFromAlternateSidesOntoThreeThinLines)
{
    if (!Run_CaseAlone())
        return;
    // Entry 3 alone, as `-debug 0 400 3` plays it: times count from its start.
    SceneScript_Debug(0, 400, 3);
    Capture_Open(PlayerSetup{QM_BUILD_DIR});

    // About a second in, the bars are about 73 long. From the bottom up the bands close
    // rightwards from x 0 and x 320, leftwards from x 320 and x 640, and so on alternately.
    Frame mid = Capture_FrameAt(1.06);
    for (auto [y, rightwards] : {std::pair{10, true}, {120, false}, {300, true}, {430, false}})
        for (int half : {0, 320}) {
            const int closed = rightwards ? half : half + 280, open = rightwards ? half + 280 : half;
            EXPECT_TRUE(BlackGl(mid, closed, y, 40, 40)) << "band at " << y << ", x " << closed;
            EXPECT_FALSE(BlackGl(mid, open, y, 40, 40)) << "band at " << y << ", x " << open;
        }

    // The last frame: black but for three lines of the clear colour between the bands.
    Frame last;
    while (Player_PeekEntry() == 3) {
        Player_Step();
        last = Player_Read();
    }
    for (auto [y, h] : {std::pair{0, 80}, {82, 157}, {241, 157}, {400, 80}})
        EXPECT_TRUE(BlackGl(last, 0, y, 640, h)) << "band from y " << y;
    for (int y : {80, 81, 239, 240, 398, 399}) {
        MeanColour line = MeanGl(last, 0, y, 640, 1);
        EXPECT_TRUE(line.r > 253 && line.g > 202 && line.g < 206 && line.b > 176 && line.b < 180)
            << "line y " << y << ": " << line.r << " " << line.g << " " << line.b;
    }
}

}  // namespace
