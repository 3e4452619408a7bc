// Flash counting over a sequence of frames, after the general flash threshold of the usual
// guidelines for photosensitive viewers. A transition is a movement of an area's mean relative
// luminance (0 black, 1 white) in one direction by at least 0.1, the darker end below 0.8; a
// flash is a pair of opposing transitions; more than three flashes (six transitions) within any
// one second fail.
#pragma once

#include <cstdint>
#include <vector>

constexpr double flash_step = 0.1;
constexpr double flash_dark_limit = 0.8;

// Relative luminance of an sRGB colour: channels linearised, then weighted.
double Flash_Luminance(uint8_t r, uint8_t g, uint8_t b);

// The transitions of one luminance series. A movement is followed from its turning point; it
// becomes a transition, once, when it has come flash_step from there with its darker end below
// flash_dark_limit, and turns when the series comes back flash_step from its far end. Noise
// smaller than the step neither turns nor counts, and a slow fade counts once.
struct FlashSeries {
    std::vector<int64_t> transitions;   // the frames on which they became transitions

    void Add(int64_t frame, double value);

private:
    bool started = false;
    int direction = 0;   // +1 rising, -1 falling, 0 not yet moved by a step
    double turn = 0, far = 0;   // where the movement began, how far it has come
    double low = 0, high = 0;   // extremes so far, while direction is 0
    bool counted = false;
};

// Most transitions among frames [f, f + window) for any f, and the first such f.
struct FlashWindow {
    int count = 0;
    int64_t first = 0;
};
FlashWindow Flash_Worst(const std::vector<int64_t> &transitions, int64_t window);

// Frame ranges [first, last] holding more than `limit` transitions within `window` frames,
// merged where they overlap.
struct FlashStretch {
    int64_t first, last;
};
std::vector<FlashStretch> Flash_Over(const std::vector<int64_t> &transitions, int64_t window,
                                     int limit);
// The stretches in order of their first frame, those that overlap joined.
std::vector<FlashStretch> Flash_Merge(std::vector<FlashStretch> stretches);

// Mean luminance of every span × span block of a grid × grid division of the frame, at every
// cell position, each block followed as a FlashSeries.
struct FlashArea {
    int span;
    std::vector<FlashSeries> blocks;   // (grid - span + 1)² of them, row by row from the bottom
};

struct FlashMeter {
    int grid;
    std::vector<FlashArea> areas;
    std::vector<double> cells;   // scratch: the cells' luminance sums, then their prefix sums

    FlashMeter(int grid, const std::vector<int> &spans);
    // One frame of RGBA bytes, rows bottom-up.
    void Add(int64_t frame, const uint8_t *rgba, int width, int height);
};
