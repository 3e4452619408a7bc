// Pixel checks of the phosphor dot wall (entries 16 to 20): fades, letterbox, background and
// text cells under each kind of band, the bands' roll. Cells are found by projecting the wall.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "timeline/timeline.h"
#include "tools/capture/capture.h"

namespace {

// The scene's placement of the wall: projection, view and the wall's grid (bottom row at
// y = -450, rows 36 apart; column j at x = -736 + 46 j).
constexpr double wall_projection[16] = {
    1.58579695, 0, 0, 0, 0, 3.1715951, 0, 0, 0, 0, -1.00076902, -1, 0, 0, -2.00077009, 0,
};
constexpr double wall_view[16] = {
    0.977801979, 0, 0, 0, 0, 0.95609802, -0.209528998, 0, 0, 0.204878002, 0.977801979, 0,
    0, -0.00000300000011, -1431.7821, 1,
};
constexpr double band_table[10] = {0.28, 0.35, 0.45, 0.35, 0.28, 0.22, 0.14, 0.0, 0.14, 0.22};
constexpr int wall_rows = 25;

using Axis = std::array<double, 3>;
constexpr Axis axis_ab{0.5, 0.5, 0.2}, axis_c{0.5, 0.2, -0.5}, axis_de{0.5, -0.5, 0.2};

// Cells of the picture, as (row counted from the top, column): every cell of the dark text
// (index 1) in rows 7 to 14, and rows and columns that are background (index 0) end to end.
struct Cell {
    int row, column;
};
constexpr Cell text_cells[] = {
    {7, 10},  {7, 11},  {7, 15},  {7, 16},  {7, 18},  {7, 19},  {8, 10},  {8, 12},  {8, 14},
    {8, 18},  {8, 19},  {8, 20},  {9, 10},  {9, 11},  {9, 14},  {9, 16},  {9, 18},  {9, 20},
    {10, 10}, {10, 12}, {10, 15}, {10, 16}, {10, 18}, {10, 19}, {12, 7},  {12, 8},  {12, 9},
    {12, 11}, {12, 13}, {12, 17}, {12, 18}, {12, 19}, {12, 21}, {12, 22}, {13, 8},  {13, 11},
    {13, 13}, {13, 17}, {13, 19}, {13, 21}, {13, 23}, {14, 8},  {14, 12}, {14, 17}, {14, 18},
    {14, 19}, {14, 21}, {14, 23},
};
constexpr int background_rows[] = {6, 11, 15, 18, 24};
constexpr int background_columns[] = {3, 28};   // 0 to 2 and 29 to 31 lie under the bars' rays

struct WindowPoint {
    double x, y;
    // Where the letterbox lets at least half the picture through.
    bool clear() const { return y >= 160 && y <= 320; }
};

// Where a point of the wall lands in window coordinates (y from the bottom), the wall turned
// by angle degrees about axis as glRotate turns it.
WindowPoint project(double x, double y, double z, double angle, Axis a)
{
    double n = std::hypot(a[0], a[1], a[2]), u = a[0] / n, v = a[1] / n, w = a[2] / n;
    double r = angle * M_PI / 180, c = std::cos(r), s = std::sin(r), t = 1 - c;
    double p[4] = {(u * u * t + c) * x + (u * v * t - w * s) * y + (u * w * t + v * s) * z,
                   (v * u * t + w * s) * x + (v * v * t + c) * y + (v * w * t - u * s) * z,
                   (w * u * t - v * s) * x + (w * v * t + u * s) * y + (w * w * t + c) * z, 1};
    for (const double *m : {wall_view, wall_projection}) {
        double q[4];
        for (int i = 0; i < 4; i++)
            q[i] = m[i] * p[0] + m[4 + i] * p[1] + m[8 + i] * p[2] + m[12 + i] * p[3];
        std::copy(q, q + 4, p);
    }
    return {(p[0] / p[3] + 1) * 320, 80 + (p[1] / p[3] + 1) * 160};
}

// A frame as drawn, with its turn and its bottom row's band phase (the previous frame's ramp).
struct Drawn {
    Frame frame;
    int entry;
    float angle;
    unsigned band_start;
};

// The centre of a cell's red dot (10 above the cell's origin) or of its green dot.
WindowPoint dot(const Drawn &d, Axis axis, Cell c, bool green = false)
{
    return project(-736 + 46 * c.column - (green ? 8.660254 : 0),
                   -450 + 36 * (wall_rows - 1 - c.row) + (green ? -5 : 10), 0, d.angle, axis);
}

// Brightest value of a channel (0 red, 1 green, 2 blue) in the 3 x 3 pixels about a point.
int peak(const Frame &f, WindowPoint p, int channel)
{
    int best = 0;
    for (int dy = -1; dy <= 1; dy++)
        for (int dx = -1; dx <= 1; dx++) {
            Rgba c = f.at_gl(int(std::lround(p.x)) + dx, int(std::lround(p.y)) + dy);
            best = std::max<int>(best, channel == 0 ? c.r : channel == 1 ? c.g : c.b);
        }
    return best;
}

Drawn draw_next()
{
    unsigned band_start = unsigned(std::nearbyint(ramp_a));
    Capture_Step();
    return {Capture_Read(), Capture_CurrentEntry(), chan_x, band_start};
}

// Steps quickly to demo time t, then draws frames until two consecutive ones have band phases
// b and b + 1 with b in [lo, hi]: the bands roll by one step between them.
std::pair<Drawn, Drawn> draw_roll(double t, unsigned lo, unsigned hi)
{
    Capture_SkipTo(Capture_FrameIndex(t, Capture_Fps()));
    Drawn a = draw_next();
    for (int i = 0; i < 60; i++) {
        Drawn b = draw_next();
        if (b.band_start == a.band_start + 1 && a.band_start >= lo && a.band_start <= hi)
            return {std::move(a), std::move(b)};
        a = std::move(b);
    }
    ADD_FAILURE() << "no roll from a band phase in [" << lo << ", " << hi << "] after " << t;
    return {std::move(a), Drawn{}};
}

enum class Bands { rows, columns, cells };

// The band term of a cell's alpha: the row band darkens, a column or cell band brightens.
double band_term(Bands bands, unsigned band_start, Cell cell)
{
    int n = wall_rows - 1 - cell.row;
    double k = -band_table[(band_start + n) % 10];
    if (bands == Bands::columns)
        k += band_table[(band_start + cell.column) % 10];
    if (bands == Bands::cells)
        k += band_table[(band_start + 32 * n + cell.column) % 10];
    return k;
}

// Between two frames the bands roll by one step, and the cells in the clear middle whose band
// term changes enough follow it. A background cell's green dot (alpha 0.5 plus the term, never
// clamped) brightens or darkens with a change of 0.1 or more. Text draws only where the term is
// above 0, its alphas being the term alone: a text cell's red dot follows a change of 0.15 or
// more in the clamped term by at least a tenth of it in full red. Returns the text cells checked.
int expect_roll(const Drawn &a, const Drawn &b, Axis axis, Bands bands)
{
    std::vector<std::pair<Cell, bool>> cells;   // with whether the cell is text
    for (int r : background_rows)
        for (int j = 3; j <= 28; j++)
            cells.push_back({{r, j}, false});
    for (int j : background_columns)
        for (int r = 0; r < wall_rows; r++)
            cells.push_back({{r, j}, false});
    for (Cell c : text_cells)
        cells.push_back({c, true});
    int checked[2] = {0, 0};
    for (auto [c, text] : cells) {
        double ka = band_term(bands, a.band_start, c), kb = band_term(bands, b.band_start, c);
        if (text)
            ka = std::max(0.0, ka), kb = std::max(0.0, kb);
        WindowPoint pa = dot(a, axis, c, !text), pb = dot(b, axis, c, !text);
        if (!pa.clear() || std::fabs(kb - ka) < (text ? 0.15 : 0.1))
            continue;
        int va = peak(a.frame, pa, !text), vb = peak(b.frame, pb, !text);
        double need = text ? 0.1 * 255 * std::fabs(kb - ka) : kb > ka;   // background: a step
        EXPECT_GE(kb > ka ? vb - va : va - vb, need)
            << (text ? "text cell (" : "cell (") << c.row << ", " << c.column << "): term " << ka
            << " -> " << kb << " from phase " << a.band_start << ", dot " << va << " -> " << vb;
        checked[text]++;
    }
    EXPECT_GE(checked[0], 10);
    return checked[1];
}

}  // namespace

// All five entries in one run: every frame from the start is stepped to reach them.
TEST(DotWall, FadesLetterboxAndBands)
{
    // The first frame of entry 16 draws with the fade channel at 1.
    Capture_Open(CaptureSetup{});
    while (Capture_PeekEntry() != 16)
        Capture_Step(true);
    Drawn first = draw_next();
    ASSERT_EQ(first.entry, 16);
    EXPECT_TRUE(first.frame.black_gl(0, 0, 640, 480));

    // Entry 17. Near the unturned wall the band-0 row lands on rows 19 or 20, below the
    // coloured bars, whose own rays would mix in.
    auto [a, b] = draw_roll(81.8, 2, 3);
    ASSERT_TRUE(a.entry == 17 && b.entry == 17) << a.entry << ", " << b.entry;
    EXPECT_TRUE(a.frame.black_gl(0, 0, 640, 80));
    EXPECT_TRUE(a.frame.black_gl(0, 400, 640, 80));
    // The middle line is clear; near the bars only an eighth of the picture shows through.
    double middle = a.frame.mean_gl(0, 236, 640, 8).r;
    EXPECT_GT(middle, 30);
    EXPECT_GT(middle, 3 * a.frame.mean_gl(0, 100, 640, 8).r);

    // The band-0 row: its background dots are red, its rays red only, read beyond the wall's left
    // edge against the next frame, where that row's band is 0.14 and its red rays much fainter.
    int n0 = int(7 - a.band_start);
    WindowPoint lit = dot(a, axis_ab, {wall_rows - 1 - n0, 3});
    EXPECT_GT(peak(a.frame, lit, 0),
              1.5 * std::max(peak(a.frame, lit, 1), peak(a.frame, lit, 2)));
    WindowPoint base = project(-736, -450 + 36 * n0 + 10, 0, a.angle, axis_ab);
    WindowPoint tip = project(-736, -450 + 36 * n0 + 10, 200, a.angle, axis_ab);
    double dr = 0, dg = 0, db = 0;
    for (double f : {0.3, 0.45, 0.6}) {
        int x = int(std::lround(base.x + f * (tip.x - base.x)));
        int y = int(std::lround(base.y + f * (tip.y - base.y)));
        Rgba ca = a.frame.at_gl(x, y), cb = b.frame.at_gl(x, y);
        dr += ca.r - cb.r, dg += ca.g - cb.g, db += ca.b - cb.b;
    }
    EXPECT_GT(dr, 20) << "red rays of the band-0 row";
    EXPECT_TRUE(dg < 0.6 * dr && db < 0.6 * dr) << "green " << dg << ", blue " << db;

    // Text under the row band alone draws nothing: well below the lit background of its row.
    int dark_text = 0;
    for (Cell c : text_cells) {
        WindowPoint p = dot(a, axis_ab, c);
        if (!p.clear() || -band_term(Bands::rows, a.band_start, c) > 0.22)
            continue;
        int background = std::max(peak(a.frame, dot(a, axis_ab, {c.row, 3}), 0),
                                  peak(a.frame, dot(a, axis_ab, {c.row, 28}), 0));
        EXPECT_LT(peak(a.frame, p, 0), 0.6 * background)
            << "text cell (" << c.row << ", " << c.column << ")";
        dark_text++;
    }
    EXPECT_GT(dark_text, 0);
    expect_roll(a, b, axis_ab, Bands::rows);

    // Entries 18 and 19, the wall nearly unturned: lattice and diagonal bands light the text.
    const std::tuple<int, double, Axis, Bands> cases[] = {
        {18, 90.9, axis_c, Bands::columns}, {19, 100.7, axis_de, Bands::cells}};
    for (auto [entry, t, axis, bands] : cases) {
        SCOPED_TRACE("entry " + std::to_string(entry));
        auto [from, to] = draw_roll(t, 0, 7);
        ASSERT_TRUE(from.entry == entry && to.entry == entry) << from.entry << ", " << to.entry;
        EXPECT_GT(expect_roll(from, to, axis, bands), 0) << "no text cell changed";
    }

    // The last frame of entry 20: at most the remainder of a fade channel just short of 1 shows.
    Capture_SkipTo(Capture_FrameIndex(108.3, 60));
    Drawn last{};
    while (Capture_PeekEntry() == 20)
        last = draw_next();
    ASSERT_EQ(last.entry, 20);
    int brightest = 0;
    for (size_t i = 0; i < last.frame.rgba.size(); i++)
        brightest = std::max<int>(brightest, i % 4 == 3 ? 0 : last.frame.rgba[i]);
    EXPECT_LE(brightest, int(std::ceil(255 * (1 - chan_y)))) << "fade channel " << chan_y;
}
