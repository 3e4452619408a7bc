// Pixel checks of the phosphor dot wall (entries 16 to 20): fades, letterbox, what a cell of
// the picture's background and of its dark text shows under each kind of band, and the bands'
// roll. Cells are found on screen by projecting the wall's geometry as the scene places it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "timeline/timeline.h"
#include "tools/capture/capture.h"

namespace {

// The scene's placement of the wall: projection, view and the wall's grid (bottom row at
// y = -450, rows 36 apart; column j at x = -736 + 46 j). The red dot's centre is 10 above a
// cell's origin.
constexpr double wall_projection[16] = {
    1.58579695, 0, 0, 0, 0, 3.1715951, 0, 0, 0, 0, -1.00076902, -1, 0, 0, -2.00077009, 0,
};
constexpr double wall_view[16] = {
    0.977801979, 0, 0, 0, 0, 0.95609802, -0.209528998, 0, 0, 0.204878002, 0.977801979, 0,
    0, -0.00000300000011, -1431.7821, 1,
};
constexpr double band_table[10] = {0.28, 0.35, 0.45, 0.35, 0.28, 0.22, 0.14, 0.0, 0.14, 0.22};

struct Axis {
    double x, y, z;
};
constexpr Axis axis_ab{0.5, 0.5, 0.2};
constexpr Axis axis_c{0.5, 0.2, -0.5};
constexpr Axis axis_de{0.5, -0.5, 0.2};

// Cells of the picture, as (row counted from the top, column): every cell of the dark text
// (index 1) in rows 7 to 14, and background cells (index 0) in the rows and columns that are
// background from end to end.
struct Cell {
    int row, column;
};
constexpr Cell text_cells[] = {
    {7, 10},  {7, 11},  {7, 15},  {7, 16},  {7, 18},  {7, 19},  {8, 10},  {8, 12},
    {8, 14},  {8, 18},  {8, 19},  {8, 20},  {9, 10},  {9, 11},  {9, 14},  {9, 16},
    {9, 18},  {9, 20},  {10, 10}, {10, 12}, {10, 15}, {10, 16}, {10, 18}, {10, 19},
    {12, 7},  {12, 8},  {12, 9},  {12, 11}, {12, 13}, {12, 17}, {12, 18}, {12, 19},
    {12, 21}, {12, 22}, {13, 8},  {13, 11}, {13, 13}, {13, 17}, {13, 19}, {13, 21},
    {13, 23}, {14, 8},  {14, 12}, {14, 17}, {14, 18}, {14, 19}, {14, 21}, {14, 23},
};
constexpr int background_rows[] = {6, 11, 15, 18, 24};
constexpr int background_columns[] = {3, 28};

constexpr int wall_rows = 25;

struct WindowPoint {
    double x, y;
};

// glRotate's matrix (column-major) for an angle in degrees about an unnormalised axis.
static void rotation(double degrees, Axis a, double m[16])
{
    double n = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    double x = a.x / n, y = a.y / n, z = a.z / n;
    double r = degrees * M_PI / 180.0, c = std::cos(r), s = std::sin(r), t = 1 - c;
    double rot[16] = {
        x * x * t + c,     y * x * t + z * s, x * z * t - y * s, 0,
        x * y * t - z * s, y * y * t + c,     y * z * t + x * s, 0,
        x * z * t + y * s, y * z * t - x * s, z * z * t + c,     0,
        0,                 0,                 0,                 1,
    };
    std::copy(std::begin(rot), std::end(rot), m);
}

static void transform(const double m[16], const double v[4], double out[4])
{
    for (int i = 0; i < 4; i++)
        out[i] = m[i] * v[0] + m[4 + i] * v[1] + m[8 + i] * v[2] + m[12 + i] * v[3];
}

// Where a point of the wall (before the turn) lands in window coordinates, y from the bottom.
static WindowPoint project(double x, double y, double z, double angle, Axis axis)
{
    double r[16];
    rotation(angle, axis, r);
    double p[4] = {x, y, z, 1}, a[4], b[4], c[4];
    transform(r, p, a);
    transform(wall_view, a, b);
    transform(wall_projection, b, c);
    return {(c[0] / c[3] + 1) * 320.0, 80 + (c[1] / c[3] + 1) * 160.0};
}

// The red dot's centre of a cell (row from the top).
static WindowPoint red_dot(Cell cell, double angle, Axis axis)
{
    double x = -736 + 46 * cell.column;
    double y = -450 + 36 * (wall_rows - 1 - cell.row) + 10;
    return project(x, y, 0, angle, axis);
}

// The green dot's centre of a cell.
static WindowPoint green_dot(Cell cell, double angle, Axis axis)
{
    double x = -736 + 46 * cell.column - 8.660254;
    double y = -450 + 36 * (wall_rows - 1 - cell.row) - 5;
    return project(x, y, 0, angle, axis);
}

// Brightest channel value in the 3 x 3 pixels about a point.
static int peak(const Frame &f, WindowPoint p, int channel)
{
    int best = 0;
    int cx = int(std::lround(p.x)), cy = int(std::lround(p.y));
    for (int y = cy - 1; y <= cy + 1; y++)
        for (int x = cx - 1; x <= cx + 1; x++) {
            Rgba c = f.at_gl(x, y);
            int v = channel == 0 ? c.r : channel == 1 ? c.g : c.b;
            best = std::max(best, v);
        }
    return best;
}

// A frame as the scene drew it, with the turn it drew at and the band phase of its bottom
// row (the rounded ramp of the frame before).
struct Drawn {
    Frame frame;
    int entry;
    float angle;
    unsigned band_start;
};

static Drawn draw_next()
{
    unsigned band_start = unsigned(std::nearbyint(ramp_a));
    Capture_Step();
    return {Capture_Read(), Capture_CurrentEntry(), chan_x, band_start};
}

// Steps quickly up to the frame at demo time t.
static void skip_to(double t)
{
    if (!Capture_IsOpen())
        Capture_Open(CaptureSetup{});
    Capture_SkipTo(Capture_FrameIndex(t, Capture_Fps()));
}

// Draws frames from demo time t on until two consecutive ones have band phases b and b + 1
// with b in [lo, hi]: the bands roll by one step between them.
static std::pair<Drawn, Drawn> draw_roll(double t, unsigned lo, unsigned hi)
{
    skip_to(t);
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
static double band_term(Bands bands, unsigned band_start, Cell cell)
{
    int n = wall_rows - 1 - cell.row;
    double k = -band_table[(band_start + n) % 10];
    if (bands == Bands::columns)
        k += band_table[(band_start + cell.column) % 10];
    if (bands == Bands::cells)
        k += band_table[(band_start + 32 * n + cell.column) % 10];
    return k;
}

// The letterbox lets at least half the picture through between these window rows.
static bool in_clear_middle(WindowPoint p)
{
    return p.y >= 160 && p.y <= 320;
}

// Between two frames the bands roll by one step: every background cell in the clear middle
// whose band term changes by 0.1 or more gets brighter or darker as the rolled phase says.
// The green dot is read: its alpha, 0.5 plus the term, never clamps.
static void expect_roll(const Drawn &a, const Drawn &b, Axis axis, Bands bands)
{
    std::vector<Cell> cells;
    // Columns 0 to 2 and 29 to 31 lie under the rays of the bars.
    for (int r : background_rows)
        for (int j = 3; j <= 28; j++)
            cells.push_back({r, j});
    for (int j : background_columns)
        for (int r = 0; r < wall_rows; r++)
            cells.push_back({r, j});

    int checked = 0;
    for (Cell c : cells) {
        WindowPoint pa = green_dot(c, a.angle, axis), pb = green_dot(c, b.angle, axis);
        if (!in_clear_middle(pa))
            continue;
        double dk = band_term(bands, b.band_start, c) - band_term(bands, a.band_start, c);
        if (std::fabs(dk) < 0.1)
            continue;
        int ga = peak(a.frame, pa, 1), gb = peak(b.frame, pb, 1);
        EXPECT_EQ(dk > 0, gb > ga) << "cell (" << c.row << ", " << c.column << "): band term "
                                   << dk << " from phase " << a.band_start << ", green " << ga
                                   << " -> " << gb;
        checked++;
    }
    EXPECT_GE(checked, 10);
}

// Text cells draw only where their band term is above 0, the dark text's alphas being the
// term alone. Between two frames, a text cell whose clamped term rises or falls by 0.15 or
// more brightens or darkens with it, by at least a tenth of that change in full red, at its
// red dot's centre.
static int expect_text_follows(const Drawn &a, const Drawn &b, Axis axis, Bands bands)
{
    int checked = 0;
    for (Cell c : text_cells) {
        WindowPoint pa = red_dot(c, a.angle, axis), pb = red_dot(c, b.angle, axis);
        if (!in_clear_middle(pa))
            continue;
        double ka = std::max(0.0, band_term(bands, a.band_start, c));
        double kb = std::max(0.0, band_term(bands, b.band_start, c));
        if (std::fabs(kb - ka) < 0.15)
            continue;
        int ra = peak(a.frame, pa, 0), rb = peak(b.frame, pb, 0);
        double rise = (kb > ka ? rb - ra : ra - rb);
        EXPECT_GE(rise, 0.1 * 255 * std::fabs(kb - ka))
            << "text cell (" << c.row << ", " << c.column << "): term " << ka << " -> " << kb
            << ", red " << ra << " -> " << rb;
        checked++;
    }
    return checked;
}

}  // namespace

// Entries 16 and 17: the fade in from black, the letterbox, a lit row with its red rays, dark
// text, and the row bands rolling down the wall.
TEST(DotWall, RowBands)
{
    // The first frame of entry 16 draws with the fade channel at 1.
    skip_to(76.5);
    while (Capture_PeekEntry() != 16)
        Capture_Step(true);
    Drawn first = draw_next();
    ASSERT_EQ(first.entry, 16);
    EXPECT_TRUE(first.frame.black_gl(0, 0, 640, 480));

    // Near the unturned wall of entry 17, the band-0 row lands on rows 19 or 20, below the
    // coloured bars, whose own rays would mix in.
    auto [a, b] = draw_roll(81.8, 2, 3);
    ASSERT_EQ(a.entry, 17);
    ASSERT_EQ(b.entry, 17);

    EXPECT_TRUE(a.frame.black_gl(0, 0, 640, 80));
    EXPECT_TRUE(a.frame.black_gl(0, 400, 640, 80));
    // The middle line is clear; near the bars only an eighth of the picture shows through.
    double middle = a.frame.mean_gl(0, 236, 640, 8).r;
    double near_bar = a.frame.mean_gl(0, 100, 640, 8).r;
    EXPECT_GT(middle, 30);
    EXPECT_GT(middle, 3 * near_bar);

    // The band-0 row: its background dots are red, and its rays red only. The rays are read
    // beyond the wall's left edge, along the ray axis of the row's first cell, against the
    // next frame, where the same row's band is 0.14 and its red rays much fainter.
    int n0 = int(7 - a.band_start);
    Cell lit{wall_rows - 1 - n0, 3};
    WindowPoint dot = red_dot(lit, a.angle, axis_ab);
    int red = peak(a.frame, dot, 0), green = peak(a.frame, dot, 1), blue = peak(a.frame, dot, 2);
    EXPECT_GT(red, 1.5 * green);
    EXPECT_GT(red, 1.5 * blue);

    double cx = -736, cy = -450 + 36 * n0 + 10;
    double dr = 0, dg = 0, db = 0;
    for (double f : {0.3, 0.45, 0.6}) {
        WindowPoint base = project(cx, cy, 0, a.angle, axis_ab);
        WindowPoint tip = project(cx, cy, 200, a.angle, axis_ab);
        int x = int(std::lround(base.x + f * (tip.x - base.x)));
        int y = int(std::lround(base.y + f * (tip.y - base.y)));
        Rgba ca = a.frame.at_gl(x, y), cb = b.frame.at_gl(x, y);
        dr += ca.r - cb.r;
        dg += ca.g - cb.g;
        db += ca.b - cb.b;
    }
    EXPECT_GT(dr, 20) << "red rays of the band-0 row";
    EXPECT_LT(dg, 0.6 * dr) << "green rays of the band-0 row";
    EXPECT_LT(db, 0.6 * dr) << "blue rays of the band-0 row";

    // Text under the row band alone draws nothing of its own: it stays well below the lit
    // background of its row.
    int text_checked = 0;
    for (Cell c : text_cells) {
        WindowPoint p = red_dot(c, a.angle, axis_ab);
        if (!in_clear_middle(p) || -band_term(Bands::rows, a.band_start, c) > 0.22)
            continue;
        int background = std::max(peak(a.frame, red_dot({c.row, 3}, a.angle, axis_ab), 0),
                                  peak(a.frame, red_dot({c.row, 28}, a.angle, axis_ab), 0));
        EXPECT_LT(peak(a.frame, p, 0), 0.6 * background)
            << "text cell (" << c.row << ", " << c.column << ")";
        text_checked++;
    }
    EXPECT_GT(text_checked, 0);

    expect_roll(a, b, axis_ab, Bands::rows);
}

// Entries 18 to 20: the lattice and diagonal bands roll and light the text; the fade out
// leaves the last frame black.
TEST(DotWall, ColumnAndCellBands)
{
    struct Case {
        int entry;
        double t;   // the wall is nearly unturned here
        Axis axis;
        Bands bands;
    };
    const Case cases[] = {
        {18, 90.9, axis_c, Bands::columns},
        {19, 100.7, axis_de, Bands::cells},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("entry " + std::to_string(c.entry));
        auto [a, b] = draw_roll(c.t, 0, 7);
        ASSERT_EQ(a.entry, c.entry);
        ASSERT_EQ(b.entry, c.entry);
        expect_roll(a, b, c.axis, c.bands);

        EXPECT_GT(expect_text_follows(a, b, c.axis, c.bands), 0) << "no text cell changed";
    }

    // The last frame of entry 20: the fade channel is just short of 1 there, so at most that
    // remainder of the picture may show.
    skip_to(108.3);
    Drawn last;
    while (Capture_PeekEntry() == 20)
        last = draw_next();
    ASSERT_EQ(last.entry, 20);
    int limit = int(std::ceil(255 * (1 - chan_y)));
    int brightest = 0;
    for (size_t i = 0; i < last.frame.rgba.size(); i++)
        if (i % 4 != 3)
            brightest = std::max<int>(brightest, last.frame.rgba[i]);
    EXPECT_LE(brightest, limit) << "fade channel " << chan_y;
}
