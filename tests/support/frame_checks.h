// What the render and end-to-end tests look for in a read-back frame: a rectangle's mean colour,
// or whether it is black. Coordinates count y from the bottom row, as Frame::at_gl does, and a
// pixel outside the frame throws as it does there.
#pragma once

#include "player/player.h"

struct MeanColour {
    double r, g, b;
};

// Mean colour (0…255 per channel) of the w × h rectangle whose lower left pixel is (x, y).
inline MeanColour MeanGl(const Frame &f, int x, int y, int w, int h)
{
    MeanColour sum{0, 0, 0};
    for (int row = y; row < y + h; row++) {
        for (int col = x; col < x + w; col++) {
            const Rgba p = f.at_gl(col, row);
            sum.r += p.r, sum.g += p.g, sum.b += p.b;
        }
    }
    const double n = double(w) * h;
    return MeanColour{sum.r / n, sum.g / n, sum.b / n};
}

// Whether every pixel of that rectangle has zero red, green and blue.
inline bool BlackGl(const Frame &f, int x, int y, int w, int h)
{
    for (int row = y; row < y + h; row++) {
        for (int col = x; col < x + w; col++) {
            const Rgba p = f.at_gl(col, row);
            if (p.r || p.g || p.b)
                return false;
        }
    }
    return true;
}
