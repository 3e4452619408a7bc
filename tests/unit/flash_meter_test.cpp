// The flash meter behind qm-flashes: what counts as a transition, how the worst second and the
// failing stretches are found, and which blocks of the picture a flash shows in.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "tools/flashes/flash_meter.h"

namespace {

// Fault caught: channels weighted alike or not linearised (sRGB mid grey is about 0.216 of
// white's luminance, not a half), green not the brightest channel.
TEST(FlashMeter, LuminanceIsLinearAndWeighted)
{
    EXPECT_EQ(Flash_Luminance(0, 0, 0), 0.0);
    EXPECT_NEAR(Flash_Luminance(255, 255, 255), 1.0, 1e-9);
    EXPECT_NEAR(Flash_Luminance(128, 128, 128), 0.2159, 0.0005);
    const double r = Flash_Luminance(255, 0, 0), g = Flash_Luminance(0, 255, 0),
                 b = Flash_Luminance(0, 0, 255);
    EXPECT_GT(g, r);
    EXPECT_GT(r, b);
    EXPECT_GT(b, 0.0);
}

// Fault caught: every frame of a fade counted, noise counted or turning a movement, a step
// below 0.1 counted, flicker among bright states counted, a one-second window one frame too
// long or short, stretches not found or not merged.
TEST(FlashMeter, SeriesCountsTransitionsAndFindsTheWorstSecond)
{
    auto square = [](double low, double high) {
        return [=](int k) { return (k / 6) % 2 ? high : low; };   // 5 Hz at 60 fps
    };
    auto triangle = [](int k) { return std::abs((k + 30) % 60 - 30) / 30.0; };   // 1 Hz
    const struct {
        const char *name;
        std::function<double(int)> value;
        int worst;                        // transitions within any 60 frames
        std::vector<FlashStretch> over;   // more than 6 of them within 60 frames
    } cases[] = {
        // Turns on frames 6, 12, ... 114: ten of them fit in 60 frames.
        {"black and white at 5 Hz", square(0, 1), 10, {{6, 114}}},
        {"darker end 0.75", square(0.75, 0.95), 10, {{6, 114}}},
        {"between bright states", square(0.85, 1), 0, {}},
        {"steps of 0.09", square(0.3, 0.39), 0, {}},
        {"fades up and down once a second", triangle, 2, {}},
        {"the same with noise", [&](int k) { return triangle(k) + (k % 2 ? 0.04 : -0.04); }, 2,
         {}},
        // Up on frame 10, down on frame 70: never both within one second.
        {"one second of white", [](int k) { return k >= 10 && k < 70 ? 1.0 : 0.0; }, 1, {}},
    };
    for (const auto &c : cases) {
        FlashSeries series;
        for (int k = 0; k < 120; k++)
            series.Add(k, c.value(k));
        EXPECT_EQ(Flash_Worst(series.transitions, 60).count, c.worst) << c.name;
        std::vector<FlashStretch> over = Flash_Over(series.transitions, 60, 6);
        ASSERT_EQ(over.size(), c.over.size()) << c.name;
        for (size_t i = 0; i < over.size(); i++) {
            EXPECT_EQ(over[i].first, c.over[i].first) << c.name;
            EXPECT_EQ(over[i].last, c.over[i].last) << c.name;
        }
    }
}

// Fault caught: blocks mirrored or transposed, a block's mean taken over the wrong pixels, a
// flash too small for any block counted.
TEST(FlashMeter, FlashShowsInTheBlocksThatCoverIt)
{
    const int size = 64, grid = 32, span = 16, positions = grid - span + 1;
    const struct {
        const char *name;
        int x, y, w, h;   // the flashing square, y from the bottom row
        // Blocks as (row from the bottom, column).
        std::vector<std::pair<int, int>> flashing, still;
    } cases[] = {
        {"the top left quarter", 0, 32, 32, 32, {{16, 0}, {16, 8}, {8, 0}},
         {{0, 0}, {16, 16}, {0, 16}}},
        {"the bottom right quarter", 32, 0, 32, 32, {{0, 16}}, {{16, 0}, {16, 16}, {0, 0}}},
        // 64 pixels of a block of 1024: the block's mean moves by 0.0625.
        {"an 8 x 8 square", 28, 28, 8, 8, {}, {{8, 8}, {7, 7}}},
    };
    for (const auto &c : cases) {
        FlashMeter meter(grid, {span});
        std::vector<uint8_t> rgba(size * size * 4);
        for (int k = 0; k < 60; k++) {
            const uint8_t level = (k / 6) % 2 ? 255 : 0;
            for (int y = 0; y < size; y++)
                for (int x = 0; x < size; x++)
                    for (int i = 0; i < 3; i++) {
                        bool inside = x >= c.x && x < c.x + c.w && y >= c.y && y < c.y + c.h;
                        rgba[(y * size + x) * 4 + i] = inside ? level : 0;
                    }
            meter.Add(k, rgba.data(), size, size);
        }
        const std::vector<FlashSeries> &blocks = meter.areas[0].blocks;
        ASSERT_EQ(blocks.size(), size_t(positions * positions));
        for (auto [row, column] : c.flashing)
            EXPECT_EQ(blocks[row * positions + column].transitions.size(), 9u)
                << c.name << ": block " << row << ", " << column;
        for (auto [row, column] : c.still)
            EXPECT_EQ(blocks[row * positions + column].transitions.size(), 0u)
                << c.name << ": block " << row << ", " << column;
    }
}

}  // namespace
