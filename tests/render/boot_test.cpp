// The boot screen and the opening scenes, as the demo draws them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>
#include <utility>

#include "runtime/loading.h"
#include "tools/capture/capture.h"

namespace {

// The view of entries 0 to 2: eye 760 units in front of (320, 240), 35° field of view,
// aspect 1.33. A point of the picture plane (z 0) lands on this pixel.
std::pair<int, int> PicturePixel(double x, double y)
{
    const double half_height = 760.0 * std::tan(17.5 * M_PI / 180.0);
    double px = 320.0 + (x - 320.0) / (half_height * 1.33) * 320.0;
    double py = 240.0 + (y - 240.0) / half_height * 240.0;
    return {int(std::floor(px)), int(std::floor(py))};
}

int Difference(Rgba a, Rgba b)
{
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

void Open()
{
    CaptureSetup setup;
    setup.data_dir = QM_BUILD_DIR;
    Capture_Open(setup);
}

TEST(BootRenderTest, IndicatorsAreHollowUntilTheirFlagRises)
{
    Open();
    for (auto &flag : loader_flags)
        flag = 0;
    ASSERT_EQ(Capture_Step(), 0);
    Frame none = Capture_Read();
    for (int k = 0; k < 4; k++)
        loader_flags[k] = 1;
    ASSERT_EQ(Capture_Step(), 0);
    Frame half = Capture_Read();
    ASSERT_EQ(Capture_CurrentEntry(), 0);

    for (int k = 0; k < loader_flag_count; k++) {
        // The hole of the frame (the square's middle) and the frame's side, 12 units out.
        auto [cx, cy] = PicturePixel(20 + 40 * k, 444);
        auto [rx, ry] = PicturePixel(20 + 40 * k + 12, 444);
        if (k < 4) {
            // Filled square: its middle is tinted, the place of the frame's side is not.
            EXPECT_GT(Difference(none.at_gl(cx, cy), half.at_gl(cx, cy)), 20) << "indicator " << k;
            EXPECT_GT(Difference(none.at_gl(rx, ry), half.at_gl(rx, ry)), 20) << "indicator " << k;
        } else {
            EXPECT_EQ(none.at_gl(cx, cy), half.at_gl(cx, cy)) << "indicator " << k;
            EXPECT_EQ(none.at_gl(rx, ry), half.at_gl(rx, ry)) << "indicator " << k;
        }
    }
    // A hollow indicator tints its frame and leaves its hole alone.
    auto [cx, cy] = PicturePixel(20 + 40 * 7, 444);
    auto [rx, ry] = PicturePixel(20 + 40 * 7 + 12, 444);
    auto [bx, by] = PicturePixel(20 + 40 * 7 + 20, 444);  // beyond the frame: bare picture
    EXPECT_LE(Difference(half.at_gl(cx, cy), half.at_gl(bx, by)), 6);
    EXPECT_GT(Difference(half.at_gl(rx, ry), half.at_gl(bx, by)), 20);
}

// The first tile group, row by row from the bottom, as the boot screen's design lists it.
std::set<std::pair<int, int>> FirstGroup()
{
    const char *const rows[15] = {
        "1 2 4 5 6 12 15 16",
        "3 4 5 6 7 8 9 12 13 14 16 19",
        "0 2 3 7 8 9 13 15 16 17 19",
        "0 2 4 5 7 8 9 10 12 13 16 17 18 19",
        "0 2 4 8 10 14 15 16 19",
        "1 2 3 4 6 7 8 11 12 16 18",
        "0 3 4 5 6 7 8 9 14 17",
        "0 1 2 4 8 9 11 13 16 19",
        "2 4 6 10 11 13 15 16 18",
        "0 6 7 8 10 17 19",
        "1 6 7 9 10 11 12 13 15 17 18 19",
        "0 2 3 6 7 8 12 13 17 19",
        "4 6 9 12 13 14 16 17",
        "2 3 4 14 15 17 19",
        "0 1 2 3 4 5 10 12 13 14 18 19",
    };
    std::set<std::pair<int, int>> group;
    for (int row = 0; row < 15; row++) {
        std::istringstream in(rows[row]);
        for (int column; in >> column;)
            group.insert({column, row});
    }
    return group;
}

// Whether the middle of a tile changed between two frames of the same view.
bool TileMoved(const Frame &before, const Frame &after, int column, int row)
{
    auto [x0, y0] = PicturePixel(32 * column + 8, 32 * row + 8);
    auto [x1, y1] = PicturePixel(32 * column + 23, 32 * row + 23);
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++)
            if (!(before.at_gl(x, y) == after.at_gl(x, y)))
                return true;
    return false;
}

TEST(BootRenderTest, OneHalfOfTheTilesFliesInEachOfEntriesOneAndTwo)
{
    Open();
    const std::set<std::pair<int, int>> first = FirstGroup();
    ASSERT_EQ(first.size(), 150u);

    Frame entry0 = Capture_FrameAt(1.0);
    Frame start1 = Capture_FrameAt(1.455);  // entry 1's first frame: nothing has moved yet
    ASSERT_EQ(Capture_CurrentEntry(), 1);
    Frame later1 = Capture_FrameAt(3.5);
    Frame start2 = Capture_FrameAt(4.7);
    ASSERT_EQ(Capture_CurrentEntry(), 2);
    Frame later2 = Capture_FrameAt(6.5);

    int moved1 = 0, moved2 = 0;
    for (int row = 0; row < 15; row++) {
        for (int column = 0; column < 20; column++) {
            bool in_first = first.count({column, row}) > 0;
            bool m1 = TileMoved(start1, later1, column, row);
            EXPECT_EQ(m1, in_first) << "entry 1, tile (" << column << ", " << row << ")";
            moved1 += m1;
            // In entry 2 the first group is gone: what shows where it stood is the second
            // group's walls and the haze, so only the second group's own tiles are checked.
            if (!in_first) {
                bool m2 = TileMoved(start2, later2, column, row);
                EXPECT_TRUE(m2) << "entry 2, tile (" << column << ", " << row << ")";
                moved2 += m2;
            }
        }
    }
    EXPECT_EQ(moved1, 150);
    EXPECT_EQ(moved2, 150);
    EXPECT_TRUE(TileMoved(start1, later1, 1, 0));
    EXPECT_FALSE(TileMoved(start1, later1, 0, 0));

    // The tile grid lines up with the boot picture: a tile's middle shows the same colour.
    for (auto [column, row] : {std::pair{3, 7}, {10, 2}, {17, 12}}) {
        auto [x, y] = PicturePixel(32 * column + 15, 32 * row + 15);
        EXPECT_LE(Difference(entry0.at_gl(x, y), start1.at_gl(x, y)), 6)
            << "tile (" << column << ", " << row << ")";
    }
}

TEST(BootRenderTest, WipeLeavesThreeThinLinesInTheClearColour)
{
    Open();
    Frame last = Capture_FrameAt(10.25);  // entry 3's last frame at 60 fps
    ASSERT_EQ(Capture_CurrentEntry(), 3);
    const Rgba clear{255, 204, 178, 0};
    for (int y = 0; y < 480; y++) {
        bool line = (y >= 80 && y < 82) || (y >= 239 && y < 241) || (y >= 398 && y < 400);
        for (int x = 0; x < 640; x += 7) {
            Rgba p = last.at_gl(x, y);
            if (line)
                EXPECT_LE(Difference(p, clear), 3) << "(" << x << ", " << y << ")";
            else
                EXPECT_TRUE(p.r == 0 && p.g == 0 && p.b == 0) << "(" << x << ", " << y << ")";
        }
    }
}

TEST(BootRenderTest, WipeBarsCloseFromAlternateSides)
{
    Open();
    Frame mid = Capture_FrameAt(9.0);  // a = chan_x is about 73 at 1.06 s into entry 3
    ASSERT_EQ(Capture_CurrentEntry(), 3);
    // Bottom band: bars grow rightwards from x 0 and from x 320; the next band up from 320
    // and 640 leftwards.
    EXPECT_TRUE(mid.black_gl(0, 10, 40, 40));
    EXPECT_FALSE(mid.black_gl(200, 10, 40, 40));
    EXPECT_TRUE(mid.black_gl(320, 10, 40, 40));
    EXPECT_TRUE(mid.black_gl(280, 120, 39, 40));
    EXPECT_FALSE(mid.black_gl(0, 120, 40, 40));
    EXPECT_TRUE(mid.black_gl(600, 120, 40, 40));
}

}  // namespace
