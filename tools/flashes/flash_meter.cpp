#include "tools/flashes/flash_meter.h"

#include <algorithm>
#include <array>
#include <cmath>

// The sRGB transfer function, undone.
static const std::array<double, 256> linear = [] {
    std::array<double, 256> table{};
    for (int i = 0; i < 256; i++) {
        double c = i / 255.0;
        table[i] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    return table;
}();

double Flash_Luminance(uint8_t r, uint8_t g, uint8_t b)
{
    return 0.2126 * linear[r] + 0.7152 * linear[g] + 0.0722 * linear[b];
}

void FlashSeries::Add(int64_t frame, double value)
{
    if (!started) {
        started = true;
        low = high = value;
        return;
    }
    if (direction == 0) {
        low = std::min(low, value);
        high = std::max(high, value);
        if (value - low >= flash_step)
            direction = 1, turn = low, far = value;
        else if (high - value >= flash_step)
            direction = -1, turn = high, far = value;
        else
            return;
    } else if ((value - far) * direction > 0) {
        far = value;
    } else if ((far - value) * direction >= flash_step) {
        direction = -direction, turn = far, far = value, counted = false;
    }
    if (!counted && (far - turn) * direction >= flash_step
        && std::min(turn, far) < flash_dark_limit) {
        transitions.push_back(frame);
        counted = true;
    }
}

FlashWindow Flash_Worst(const std::vector<int64_t> &transitions, int64_t window)
{
    FlashWindow worst;
    for (size_t i = 0, j = 0; i < transitions.size(); i++) {
        while (j < transitions.size() && transitions[j] < transitions[i] + window)
            j++;
        if (int(j - i) > worst.count)
            worst = {int(j - i), transitions[i]};
    }
    return worst;
}

std::vector<FlashStretch> Flash_Over(const std::vector<int64_t> &transitions, int64_t window,
                                     int limit)
{
    std::vector<FlashStretch> stretches;
    for (size_t i = 0; i + limit < transitions.size(); i++)
        if (transitions[i + limit] - transitions[i] < window)
            stretches.push_back({transitions[i], transitions[i + limit]});
    return Flash_Merge(stretches);
}

std::vector<FlashStretch> Flash_Merge(std::vector<FlashStretch> stretches)
{
    std::sort(stretches.begin(), stretches.end(),
              [](FlashStretch a, FlashStretch b) { return a.first < b.first; });
    std::vector<FlashStretch> merged;
    for (FlashStretch s : stretches) {
        if (!merged.empty() && s.first <= merged.back().last)
            merged.back().last = std::max(merged.back().last, s.last);
        else
            merged.push_back(s);
    }
    return merged;
}

FlashMeter::FlashMeter(int grid, const std::vector<int> &spans) : grid(grid)
{
    for (int span : spans) {
        const size_t positions = grid - span + 1;
        areas.push_back({span, std::vector<FlashSeries>(positions * positions)});
    }
    cells.resize(size_t(grid + 1) * (grid + 1));
}

void FlashMeter::Add(int64_t frame, const uint8_t *rgba, int width, int height)
{
    // Luminance sums per cell, then prefix sums over them (row 0 and column 0 stay zero), so
    // any block's sum is four lookups. Pixel p lies in cell p * grid / size, so cell c begins
    // at the first pixel edge(c) of this rounding.
    std::fill(cells.begin(), cells.end(), 0.0);
    auto at = [&](int row, int column) -> double & {
        return cells[size_t(row) * (grid + 1) + column];
    };
    auto edge = [&](int c, int size) { return (c * size + grid - 1) / grid; };
    for (int y = 0; y < height; y++) {
        const uint8_t *p = rgba + size_t(y) * width * 4;
        for (int x = 0; x < width; x++, p += 4)
            at(y * grid / height + 1, x * grid / width + 1) += Flash_Luminance(p[0], p[1], p[2]);
    }
    for (int row = 1; row <= grid; row++)
        for (int column = 1; column <= grid; column++)
            at(row, column) += at(row - 1, column) + at(row, column - 1) - at(row - 1, column - 1);

    for (FlashArea &area : areas) {
        const int positions = grid - area.span + 1, n = area.span;
        for (int row = 0; row < positions; row++) {
            for (int column = 0; column < positions; column++) {
                double sum = at(row + n, column + n) - at(row, column + n) - at(row + n, column)
                    + at(row, column);
                double pixels = double(edge(row + n, height) - edge(row, height))
                    * (edge(column + n, width) - edge(column, width));
                area.blocks[size_t(row) * positions + column].Add(frame, sum / pixels);
            }
        }
    }
}
