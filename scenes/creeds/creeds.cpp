// Scene module Creeds: two counter-turning shells of glowing trefoil cells, a dark figure masked
// into each, swinging apart and together under four corner labels lit one per entry.
#include "scenes/creeds/creeds.h"
#include "scenes/window_view.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <array>
#include <cmath>
#include <cstdint>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "timeline/timeline.h"

// ---- constants and tables ------------------------------------------------------------------

constexpr int spoke_count = 10;
constexpr int ring_count = 20;
constexpr int cell_count = spoke_count * ring_count;
constexpr int shape_points = 78;
constexpr int disc_points = 30;   // the three discs come first, then the 48 blade points
constexpr int phase_count = 6;

// One cell as stored: three discs of 10 points (a centre, then an octagon of radius 20 about
// it, closed on its first point), then three sets of four thin blade quads along +z.
constexpr float cell_shape[shape_points][3] = {
    // disc 0
    {0, 10, 0}, {0, 30, 0}, {14.14214f, 24.14214f, 0}, {20, 10, 0},
    {14.14214f, -4.14214f, 0}, {0, -10, 0}, {-14.14214f, -4.14214f, 0}, {-20, 10, 0},
    {-14.14214f, 24.14214f, 0}, {0, 30, 0},
    // disc 1
    {8.660254f, -5, 0}, {25.98076f, -15, 0}, {13.83663f, -24.31852f, 0},
    {-1.339747f, -22.32051f, 0}, {-10.65827f, -10.17638f, 0}, {-8.660254f, 5, 0},
    {3.483873f, 14.31852f, 0}, {18.66026f, 12.32051f, 0}, {27.97878f, 0.176381f, 0},
    {25.98076f, -15, 0},
    // disc 2: disc 1 mirrored in x
    {-8.660254f, -5, 0}, {-25.98076f, -15, 0}, {-13.83663f, -24.31852f, 0},
    {1.339747f, -22.32051f, 0}, {10.65827f, -10.17638f, 0}, {8.660254f, 5, 0},
    {-3.483873f, 14.31852f, 0}, {-18.66026f, 12.32051f, 0}, {-27.97878f, 0.176381f, 0},
    {-25.98076f, -15, 0},
    // blade set 0, on disc 0's centre; the second and third quads are short
    {0, 10, 0}, {0, 10, 700}, {-60, 10, 700}, {-10, 10, 0},
    {0, 10, 0}, {0, 10, 700}, {60, 10, 100}, {10, 10, 0},
    {0, 10, 0}, {0, 10, 700}, {0, -40, 100}, {0, 0, 0},
    {0, 10, 0}, {0, 10, 700}, {0, 60, 700}, {0, 20, 0},
    // blade set 1, on disc 2's centre
    {-8.660254f, -5, 0}, {-8.660254f, -5, 700}, {-68.66026f, -5, 700}, {-18.66025f, -5, 0},
    {-8.660254f, -5, 0}, {-8.660254f, -5, 700}, {51.33974f, -5, 700}, {1.339746f, -5, 0},
    {-8.660254f, -5, 0}, {-8.660254f, -5, 700}, {-8.660254f, -55, 700}, {-8.660254f, -15, 0},
    {-8.660254f, -5, 0}, {-8.660254f, -5, 700}, {-8.660254f, 45, 700}, {-8.660254f, 5, 0},
    // blade set 2, on disc 1's centre: set 1 moved, not mirrored
    {8.660254f, -5, 0}, {8.660254f, -5, 700}, {-51.33974f, -5, 700}, {-1.339746f, -5, 0},
    {8.660254f, -5, 0}, {8.660254f, -5, 700}, {68.66026f, -5, 700}, {18.66025f, -5, 0},
    {8.660254f, -5, 0}, {8.660254f, -5, 700}, {8.660254f, -55, 700}, {8.660254f, -15, 0},
    {8.660254f, -5, 0}, {8.660254f, -5, 700}, {8.660254f, 45, 700}, {8.660254f, 5, 0},
};

// Lifts the discs off the core and the blades' feet just below them.
constexpr float disc_lift = 160;
constexpr float blade_lift = 90;

// Spokes fan about Y across the -z side, rings turn the spokes about X.
constexpr float spoke_first_angle = 1.8849556f;
constexpr double spoke_step = 0.28;
constexpr double ring_step = 0.312596284;

// Disc centres (0-2), disc rims (3-5), blade bases (6-8) and the other blade points (9-11).
constexpr float cell_colour_values[12][4] = {
    {1, 0.7f, 0.8f, 0.9f},   {0.7f, 1, 0.8f, 0.8f},   {0.7f, 0.8f, 1, 0.7f},
    {1, 0, 0, 0.03f},        {0, 1, 0, 0.03f},        {0, 0, 1, 0.03f},
    {1, 0.5f, 0.2f, 0.11f},  {0.5f, 1, 0.2f, 0.1f},   {0.5f, 0.2f, 1, 0.09f},
    {1, 0.3f, 0.1f, 0.02f},  {0.3f, 1, 0.1f, 0.02f},  {0.3f, 0.1f, 1, 0.02f},
};

// The brightness wave: what a spoke's phase takes off its disc centres and blade bases.
constexpr float phase_fade_disc[phase_count] = {0.35f, 0.1f, 0.35f, 0.65f, 0.8f, 0.65f};
constexpr float phase_fade_ray[phase_count] = {0.035f, 0.01f, 0.035f, 0.055f, 0.07f, 0.055f};

// What a mask takes off a cell's disc centres and blade bases.
struct MaskCell {
    float disc, blade;
};
using CellMask = std::array<MaskCell, cell_count>;

// A figure drawn as it shows on the shell when it faces the viewer: one line per spoke from the
// top down, one character per ring from left to right. '#' darkens the cell, '+' only quiets
// its blades, '.' leaves it lit. Stored spoke-minor: entry i + 10 k.
using MaskArt = std::array<const char *, spoke_count>;

constexpr CellMask make_mask(const MaskArt &art)
{
    CellMask mask{};
    for (int i = 0; i < spoke_count; i++) {
        const char *line = art[i];
        for (int k = 0; k < ring_count; k++) {
            switch (line[k]) {
            case '#': mask[i + spoke_count * k] = {0.8f, 0.06f}; break;
            case '+': mask[i + spoke_count * k] = {0, 0.06f}; break;
            case '.': mask[i + spoke_count * k] = {0, 0}; break;
            default: throw "mask lines hold 20 of '#', '+' and '.'";
            }
        }
        if (line[ring_count] != 0)
            throw "mask lines hold 20 of '#', '+' and '.'";
    }
    return mask;
}

// clang-format off
constexpr CellMask cell_masks[4] = {
    // 0, entries 33 and 34: a sprig of moss on its bank
    make_mask({".........#..........",
               "........###.........",
               ".......#.#.#........",
               "......#..#..#.......",
               "........###.........",
               ".......#.#.#........",
               "......#..#..#.......",
               ".........#..........",
               ".......#####........",
               ".....#########......"}),
    // 1, entry 32: a toadstool shedding spores
    make_mask({"..............#.....",
               "......########......",
               "....############..#.",
               "...##############...",
               "....#.#.#.#.#.#.....",
               ".........##.........",
               ".........##.........",
               ".........##.........",
               "........####........",
               "...................."}),
    // 2, entries 29 and 30: a crescent moon and a star
    make_mask({"........####........",
               "......###...........",
               ".....##......#......",
               "....###.....###.....",
               "....##.......#......",
               "....##..............",
               "....###.............",
               ".....##.............",
               "......###...........",
               "........####........"}),
    // 3, entry 31: a dew drop with a glint whose discs stay lit
    make_mask({".........#..........",
               ".........#..........",
               "........###.........",
               "........###.........",
               ".......#####........",
               "......###+###.......",
               "......#######.......",
               "......#######.......",
               ".......#####........",
               "........###........."}),
};
// clang-format on

// Label tiles: 512 RGB pixels each, tile n at byte n * 1536.
constexpr int label_tiles = 8;
constexpr uint32_t tile_pixels = 512;
constexpr uint32_t tile_bytes = tile_pixels * 3;

// One textured quad of list 8: the tile and its four (s, t) -> (x, y) pairs.
struct LabelQuad {
    int tile;
    float corners[4][4];
};
constexpr LabelQuad label_quads[label_tiles] = {
    {1, {{0, 0, -700, 628}, {1, 0, -444, 628}, {1, 1, -444, 500}, {0, 1, -700, 500}}},
    {0, {{1, 1, -700, 500}, {0, 1, -956, 500}, {0, 0, -956, 628}, {1, 0, -700, 628}}},
    {2, {{1, 0, 700, 628}, {0, 0, 444, 628}, {0, 1, 444, 500}, {1, 1, 700, 500}}},
    {3, {{0, 1, 700, 500}, {1, 1, 956, 500}, {1, 0, 956, 628}, {0, 0, 700, 628}}},
    {4, {{1, 1, 700, -628}, {0, 1, 444, -628}, {0, 0, 444, -500}, {1, 0, 700, -500}}},
    {5, {{0, 0, 700, -500}, {1, 0, 956, -500}, {1, 1, 956, -628}, {0, 1, 700, -628}}},
    {7, {{0, 1, -700, -628}, {1, 1, -444, -628}, {1, 0, -444, -500}, {0, 0, -700, -500}}},
    {6, {{1, 0, -700, -500}, {0, 0, -956, -500}, {0, 1, -956, -628}, {1, 1, -700, -628}}},
};

// Glow lists 2 to 5 and the corner each covers: bottom left, bottom right, top right, top left.
constexpr int glow_corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
constexpr float glow_grey[4] = {0.5f, 0.5f, 0.5f, 0.3f};
constexpr float glow_yellow[4] = {0.9f, 0.8f, 0.3f, 0.5f};
constexpr float glow_orange[4] = {1, 0.7f, 0.5f, 1};

// The dark core's rim: an octagon of radius 200, closed on its first point.
constexpr float core_rim[9][2] = {
    {200, 0},  {141.4214f, -141.4214f}, {0, -200}, {-141.4214f, -141.4214f}, {-200, 0},
    {-141.4214f, 141.4214f}, {0, 200}, {141.4214f, 141.4214f}, {200, 0},
};

// The labels, glows and cores lie on z = 0, 2000 units from the eye. A far plane at exactly
// 2000 leaves them to rounding, and single-precision transforms land them 0.0001 beyond it,
// clipped. One unit more keeps them; the shells' far halves stay clipped as before.
constexpr double camera_far = 2001;

enum : GLuint {
    list_glow_bottom_left = 2,
    list_glow_bottom_right = 3,
    list_glow_top_right = 4,
    list_glow_top_left = 5,
    list_core = 6,
    list_screen = 7,
    list_labels = 8,
    list_first_cell = 10,   // 15 per cell, spoke-major: cell (k, i) starts at 10 + 15 (20 i + k)
};

// ---- module state --------------------------------------------------------------------------

static Picture *creeds_picture;
// The cell turned to each spoke, then each spoke turned to each ring: ring k, spoke i, point.
static float spoke_shapes[spoke_count][shape_points][3];
static float shell_cells[ring_count][spoke_count][shape_points][3];
// Working copy whose alphas the renders rewrite per cell.
static float cell_colours[12][4];
// Phase of the first spoke in the next frame, carried from frame to frame.
static int32_t phase_start;

// Helpers, defined at the end of the file.
static void check_picture(void);
static void compile_cell(const float (*points)[3], GLuint &name);
static void set_camera(void);
static void draw_shell(float turn, int phase, const CellMask &mask);
static void draw_apart(const CellMask &mask, GLuint glow_list);
static void draw_veiled(const CellMask &mask);
static void draw_shell_pass(int phase, const CellMask &mask);

// ---- loader --------------------------------------------------------------------------------

// Reads the labels and turns every point of the 200 cells into place; no GL.
void Creeds_Load(void)
{
    creeds_picture = ZAF_ReadPicture("creeds");
    check_picture();

    float a = spoke_first_angle;
    for (int i = 0; i < spoke_count; i++) {
        const double c = std::cos(double(a)), s = std::sin(double(a));
        for (int n = 0; n < shape_points; n++) {
            const float *p = cell_shape[n];
            const float z = p[2] + (n < disc_points ? disc_lift : blade_lift);
            spoke_shapes[i][n][0] = float(p[0] * c + z * s);
            spoke_shapes[i][n][1] = p[1];
            spoke_shapes[i][n][2] = float(z * c - p[0] * s);
        }
        a = float(a + spoke_step);
    }

    float b = 0;
    for (int k = 0; k < ring_count; k++) {
        const double c = std::cos(double(b)), s = std::sin(double(b));
        for (int i = 0; i < spoke_count; i++)
            for (int n = 0; n < shape_points; n++) {
                const float *p = spoke_shapes[i][n];
                shell_cells[k][i][n][0] = p[0];
                shell_cells[k][i][n][1] = float(p[1] * c - p[2] * s);
                shell_cells[k][i][n][2] = float(p[1] * s + p[2] * c);
            }
        b = float(b + ring_step);
    }

    for (int n = 0; n < 12; n++)
        for (int j = 0; j < 4; j++)
            cell_colours[n][j] = cell_colour_values[n][j];
}

// ---- init ----------------------------------------------------------------------------------

// GL state of the renders; the labels, their glows, the core, the screen quad and the cells.
void Creeds_Init(void)
{
    // 0 on entry 29's first frame, also when the timeline plays again.
    phase_start = 0;
    glClearColor(0, 0, 0, 0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT, GL_FILL);
    glPolygonMode(GL_BACK, GL_FILL);
    glShadeModel(GL_SMOOTH);
    glViewport(0, 0, 640, 480);
    Picture_SetTextureState();

    // Labels are opaque: blending is off while they are drawn, so no alpha of the texture
    // environment can thin them.
    const Picture &pic = *creeds_picture;
    glNewList(list_labels, GL_COMPILE);
        glDisable(GL_BLEND);
        glEnable(GL_TEXTURE_2D);
        for (const LabelQuad &quad : label_quads) {
            glTexImage2D(GL_TEXTURE_2D, 0, 3, pic.tile_width, pic.tile_height, 0, GL_RGB,
                         GL_UNSIGNED_BYTE, pic.pixels + quad.tile * tile_bytes);
            glBegin(GL_QUADS);
                for (const float *c : quad.corners) {
                    glTexCoord2f(c[0], c[1]);
                    glVertex3f(c[2], c[3], 0);
                }
            glEnd();
        }
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_BLEND);
    glEndList();

    // Each glow is brightest, and opaque, at the middle of its label's inner edge.
    for (int n = 0; n < 4; n++) {
        const float sx = float(glow_corners[n][0]), sy = float(glow_corners[n][1]);
        glNewList(list_glow_bottom_left + n, GL_COMPILE);
            glBegin(GL_QUADS);
                glColor4fv(glow_grey);
                glVertex3f(700 * sx, 628 * sy, 0);
                glVertex3f(444 * sx, 628 * sy, 0);
                glColor4fv(glow_yellow);
                glVertex3f(444 * sx, 500 * sy, 0);
                glColor4fv(glow_orange);
                glVertex3f(700 * sx, 500 * sy, 0);

                glVertex3f(700 * sx, 500 * sy, 0);
                glColor4fv(glow_yellow);
                glVertex3f(956 * sx, 500 * sy, 0);
                glColor4fv(glow_grey);
                glVertex3f(956 * sx, 628 * sy, 0);
                glVertex3f(700 * sx, 628 * sy, 0);
            glEnd();
        glEndList();
    }

    // Black in the middle, fading to nothing at radius 200: it dims what lies behind a shell.
    glNewList(list_core, GL_COMPILE);
        glBegin(GL_TRIANGLE_FAN);
            glColor4f(0, 0, 0, 1);
            glVertex3f(0, 0, 0);
            glColor4f(1, 1, 1, 0.01f);
            for (const float *p : core_rim)
                glVertex3f(p[0], p[1], 0);
        glEnd();
    glEndList();

    // The whole window in the caller's colour: the veil of the first and last entries.
    glNewList(list_screen, GL_COMPILE);
        View_Window();
        glBegin(GL_QUADS);
            glVertex3f(0, 0, 0);
            glVertex3f(640, 0, 0);
            glVertex3f(640, 480, 0);
            glVertex3f(0, 480, 0);
        glEnd();
    glEndList();

    GLuint name = list_first_cell;
    for (int i = 0; i < spoke_count; i++)
        for (int k = 0; k < ring_count; k++)
            compile_cell(shell_cells[k][i], name);
}

// ---- renders -------------------------------------------------------------------------------
//
// Carried state: phase_start, set by each render from the frame's ramp_a and read by the next
// frame's render, across all six entries (0 on the very first frame of entry 29). A frame thus
// depends on its own channels and on the previous frame's ramp_a; nothing else carries.

// Entry 29: the shells with the crescent turn at the centre as the black veil lifts.
void Creeds_RenderEnter(void)
{
    draw_veiled(cell_masks[2]);
}

// Entry 30: the crescent shells swing apart and together; the top right label glows.
void Creeds_RenderA(void)
{
    draw_apart(cell_masks[2], list_glow_top_right);
}

// Entry 31: the dew drop shells; the bottom right label glows.
void Creeds_RenderB(void)
{
    draw_apart(cell_masks[3], list_glow_bottom_right);
}

// Entry 32: the toadstool shells; the top left label glows.
void Creeds_RenderC(void)
{
    draw_apart(cell_masks[1], list_glow_top_left);
}

// Entry 33: the moss shells; the bottom left label glows.
void Creeds_RenderD(void)
{
    draw_apart(cell_masks[0], list_glow_bottom_left);
}

// Entry 34: the moss shells turn at the centre as the black veil falls.
void Creeds_RenderLeave(void)
{
    draw_veiled(cell_masks[0]);
}

int Creeds_MaskCell(int mask, int spoke, int ring)
{
    const MaskCell &m = cell_masks[mask][spoke + spoke_count * ring];
    return (m.disc > 0) + 2 * (m.blade > 0);
}

// ---- helpers -------------------------------------------------------------------------------

// The labels' quads upload tiles of tile_width x tile_height from pixels + 1536 n for n up to
// 7, and GL reads each row padded to whole words: anything else would be read past.
static void check_picture(void)
{
    const Picture &p = *creeds_picture;
    const uint64_t size = uint64_t(p.tile_width) * p.tile_height;
    const uint64_t tiles = uint64_t(p.tiles_across) * p.tiles_down;
    if (size != tile_pixels || tiles < label_tiles || p.tile_width % 4 != 0)
        ZAF_Fatal("Creeds_Load: FATAL_ERROR: Picture \"creeds\" is %u x %u tiles of %u x %u, "
                  "not 8 or more of 512 pixels at least 4 wide.\n",
                  p.tiles_across, p.tiles_down, p.tile_width, p.tile_height);
}

// The 15 lists of one cell under consecutive names: three disc fans, then twelve blade quads.
// Each list's first point takes the caller's colour, the rest the list's own.
static void compile_cell(const float (*points)[3], GLuint &name)
{
    for (int d = 0; d < 3; d++) {
        const float (*disc)[3] = points + 10 * d;
        glNewList(name++, GL_COMPILE);
            glBegin(GL_TRIANGLE_FAN);
                glVertex3fv(disc[0]);
                glColor4fv(cell_colour_values[3 + d]);
                for (int n = 1; n < 10; n++)
                    glVertex3fv(disc[n]);
            glEnd();
        glEndList();
    }
    for (int s = 0; s < 3; s++)
        for (int q = 0; q < 4; q++) {
            const float (*quad)[3] = points + disc_points + 16 * s + 4 * q;
            glNewList(name++, GL_COMPILE);
                glBegin(GL_QUADS);
                    glVertex3fv(quad[0]);
                    glColor4fv(cell_colour_values[9 + s]);
                    glVertex3fv(quad[1]);
                    glVertex3fv(quad[2]);
                    glVertex3fv(quad[3]);
                glEnd();
            glEndList();
        }
}

// 45 degree perspective from 2000 units in front of the origin: at z = 0 the window spans
// about +-1102 across and +-828 up and down.
static void set_camera(void)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45, 1.33, 1, camera_far);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0, 0, 2000, 0, 0, 0, 0, 1, 0);
}

// One shell over its core, its axis upright, turned by turn degrees.
static void draw_shell(float turn, int phase, const CellMask &mask)
{
    glCallList(list_core);
    glRotatef(-270, 0, 0, 1);
    glRotatef(turn, 1, 0, 0);
    draw_shell_pass(phase, mask);
}

// Entries 30 to 33: labels and one glow, then the shells at +wave_a and -wave_a. Only the
// first shell is wrapped: the second's matrix is left for the next frame's camera to clear.
static void draw_apart(const CellMask &mask, GLuint glow_list)
{
    set_camera();
    glCallList(list_labels);
    glCallList(glow_list);
    glPushMatrix();
    glTranslatef(wave_a, 0, 0);
    draw_shell(chan_x, phase_start, mask);
    glPopMatrix();
    glTranslatef(-wave_a, 0, 0);
    draw_shell(-chan_x, phase_start + 1, mask);
    phase_start = int32_t(std::nearbyint(ramp_a));
}

// Entries 29 and 34: both shells at the centre under a black veil of alpha chan_y.
static void draw_veiled(const CellMask &mask)
{
    set_camera();
    glPushMatrix();
    draw_shell(chan_x, phase_start, mask);
    glPopMatrix();
    draw_shell(-chan_x, phase_start + 1, mask);
    phase_start = int32_t(std::nearbyint(ramp_a));
    glColor4f(0, 0, 0, chan_y);
    glCallList(list_screen);
}

// The 200 cells once under the current matrix. All cells of a spoke share a phase, the next
// spoke takes the next one; the mask and the phase dim disc centres and blade bases. Alphas
// below 0 are clamped by GL, so a marked cell keeps only its faint rims and blades.
static void draw_shell_pass(int phase, const CellMask &mask)
{
    GLuint name = list_first_cell;
    int ph = phase;
    for (int i = 0; i < spoke_count; i++) {
        for (int k = 0; k < ring_count; k++) {
            const MaskCell &m = mask[i + spoke_count * k];
            for (int d = 0; d < 3; d++)
                cell_colours[d][3] = cell_colour_values[d][3] - m.disc - phase_fade_disc[ph];
            for (int s = 6; s < 9; s++)
                cell_colours[s][3] = cell_colour_values[s][3] - m.blade - phase_fade_ray[ph];
            for (int d = 0; d < 3; d++) {
                glColor4fv(cell_colours[d]);
                glCallList(name++);
            }
            for (int s = 6; s < 9; s++)
                for (int q = 0; q < 4; q++) {
                    glColor4fv(cell_colours[s]);
                    glCallList(name++);
                }
        }
        if (++ph == phase_count)
            ph = 0;
    }
}
