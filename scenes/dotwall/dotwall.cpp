// Scene module DotWall: a close-up of a picture tube. A wall of 32 x 25 cells, each a triad of
// soft red, green and blue dots with faint rays, lit from a small palette image and swept by
// rolling bands of brightness, turns slowly inside a letterbox.
#include "scenes/dotwall/dotwall.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <cmath>

#include "timeline/timeline.h"

// ---- constants and tables ------------------------------------------------------------------

constexpr int wall_rows = 25;
constexpr int wall_columns = 32;

// The picture the wall shows, top row first: palette indices. Dark pixel text (index 1) on a
// lit background, with coloured bars at both edges of the upper rows; rows 0, 6, 15, 18 and
// 24 are background from end to end.
// clang-format off
constexpr unsigned char wall_image[wall_rows][wall_columns] = {
    {0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0},
    {0,2,2,0,0,0,0,1,0,0,1,0,1,0,1,1,1,0,1,1,1,0,1,1,1,0,0,0,0,2,2,0},
    {0,2,2,0,0,0,1,0,1,0,1,0,1,0,0,1,0,0,1,0,0,0,0,1,0,0,0,0,0,2,2,0},
    {0,2,2,0,0,0,1,0,1,0,1,0,1,0,0,1,0,0,1,1,0,0,0,1,0,0,0,0,0,2,2,0},
    {0,2,2,0,0,0,1,1,0,0,1,0,1,0,0,1,0,0,1,0,0,0,0,1,0,0,0,0,0,2,2,0},
    {0,2,2,0,0,0,0,1,1,0,1,1,1,0,1,1,1,0,1,1,1,0,0,1,0,0,0,0,0,2,2,0},
    {0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0},
    {0,3,3,0,0,0,0,0,0,0,1,1,0,0,0,1,1,0,1,1,0,0,0,0,0,0,0,0,0,3,3,0},
    {0,3,3,0,0,0,0,0,0,0,1,0,1,0,1,0,0,0,1,1,1,0,0,0,0,0,0,0,0,3,3,0},
    {0,3,3,0,0,0,0,0,0,0,1,1,0,0,1,0,1,0,1,0,1,0,0,0,0,0,0,0,0,3,3,0},
    {0,3,3,0,0,0,0,0,0,0,1,0,1,0,0,1,1,0,1,1,0,0,0,0,0,0,0,0,0,3,3,0},
    {0,0,0,0,0,0,0,1,0,1,1,1,0,1,0,1,1,0,0,1,0,1,1,1,0,1,0,0,0,0,0,0},
    {0,4,4,0,0,0,0,1,1,1,0,1,0,1,0,0,0,1,1,1,0,1,1,0,0,0,0,0,0,4,4,0},
    {0,4,4,0,0,0,0,0,1,0,0,1,0,1,0,0,0,1,0,1,0,1,0,1,0,0,0,0,0,4,4,0},
    {0,4,4,0,0,0,0,0,1,0,0,0,1,0,0,0,0,1,1,1,0,1,0,1,0,0,0,0,0,4,4,0},
    {0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0},
    {0,5,5,0,0,0,0,0,0,1,1,0,0,1,1,0,0,1,1,0,0,1,1,0,0,0,0,0,0,5,5,0},
    {0,5,5,0,0,0,0,0,1,0,0,1,1,0,0,1,1,0,0,1,1,0,0,1,0,0,0,0,0,5,5,0},
    {0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0},
    {0,0,0,0,0,0,0,1,0,0,0,1,0,1,1,1,0,1,1,1,0,1,1,1,0,0,0,0,0,0,0,0},
    {0,0,0,0,0,0,0,1,1,0,1,1,0,1,0,1,0,1,0,0,0,1,0,0,0,0,0,0,0,0,0,0},
    {0,0,0,0,0,0,0,1,0,1,0,1,0,1,0,1,0,1,1,1,0,1,1,1,0,0,0,0,0,0,0,0},
    {0,0,0,0,0,0,0,1,0,0,0,1,0,1,0,1,0,0,0,1,0,0,0,1,0,0,0,0,0,0,0,0},
    {0,0,0,0,0,0,0,1,0,0,0,1,0,1,1,1,0,1,1,1,0,1,1,1,0,0,0,0,0,0,0,0},
    {0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0},
};
// clang-format on

constexpr float wall_palette[16][3] = {
    {0.7f, 0.5f, 0.4f}, {0, 0, 0}, {0, 0, 0.9f}, {0, 0.9f, 0}, {0.9f, 0.9f, 0}, {0.9f, 0, 0},
    {0, 1, 1},          {0, 0, 0}, {0, 0, 0},    {0, 0, 0},    {0, 0, 0},       {0, 0, 0},
    {0, 0, 0},          {0, 0, 0}, {0, 0, 0},    {0, 0, 0},
};

// Brightness of a band by phase; the row band subtracts it, a column or cell band adds it.
constexpr int band_count = 10;
constexpr float band_table[band_count] = {0.28f, 0.35f, 0.45f, 0.35f, 0.28f,
                                          0.22f, 0.14f, 0.0f,  0.14f, 0.22f};

// 35 degree perspective, aspect 2, near 1, far about 2601.7 (column-major).
constexpr float wall_projection[16] = {
    1.58579695f, 0, 0, 0, 0, 3.1715951f, 0, 0, 0, 0, -1.00076902f, -1, 0, 0, -2.00077009f, 0,
};
// The wall 1431.78 units in front of the eye, tilted by about 12 degrees about x.
constexpr float wall_view[16] = {
    0.977801979f, 0, 0, 0, 0, 0.95609802f, -0.209528998f, 0, 0, 0.204878002f, 0.977801979f, 0,
    0, -0.00000300000011f, -1431.7821f, 1,
};
// x 0 ... 640 and y 0 ... 480 onto the window.
constexpr float screen_projection[16] = {
    0.00312500005f, 0, 0, 0, 0, 0.00416699983f, 0, 0, 0, 0, -1, 0, -1, -1, 0, 1,
};

// The red dot's fan: its centre, then the octagon of radius 20 about it, clockwise from the
// top and closed on its first point.
constexpr float dot_centre[2] = {0, 10};
constexpr float dot_rim[9][2] = {
    {0, 30},          {14.14214f, 24.14214f},  {20, 10},   {14.14214f, -4.14214f},
    {0, -10},         {-14.14214f, -4.14214f}, {-20, 10},  {-14.14214f, 24.14214f},
    {0, 30},
};
constexpr float dot_rim_alpha = 0.1f;

// The three dots of a triad: the red fan turned about the origin by the given cosine and sine.
struct DotFan {
    unsigned list;
    float cos_a, sin_a;
    float rim[3];
};
constexpr DotFan dot_fans[3] = {
    {10, 1, 0, {1, 0.8f, 0.6f}},                 // red
    {11, -0.5f, -0.8660254f, {0.8f, 1, 0.6f}},   // blue, -120 degrees
    {12, -0.5f, 0.8660254f, {0.8f, 0.6f, 1}},    // green, +120 degrees
};

// Four rays leave each dot centre towards the viewer: left, right, down, up. Per ray: the far
// end's offset from the centre at z = ray_length, then the near end's at z = 0.
constexpr float ray_length = 200;
constexpr float ray_ends[4][4] = {
    {-60, 0, -10, 0},
    {60, 0, 10, 0},
    {0, -50, 0, -10},
    {0, 50, 0, 10},
};
constexpr float ray_alpha = 0.02f;

struct RayFan {
    unsigned first_list;
    float cx, cy;
    float colour[4][3];
};
constexpr RayFan ray_fans[3] = {
    {20, 0, 10, {{1, 0.4f, 0.3f}, {1, 0.5f, 0.3f}, {1, 0.4f, 0.3f}, {1, 0.4f, 0.3f}}},
    {30, -8.660254f, -5, {{0.5f, 1, 0.3f}, {0.5f, 1, 0.3f}, {0.5f, 1, 0.3f}, {0.5f, 1, 0.3f}}},
    {40, 8.660254f, -5, {{0.5f, 0.3f, 1}, {0.5f, 0.3f, 1}, {0.5f, 0.3f, 1}, {0.5f, 0.3f, 1}}},
};

// The colours a cell sets before calling its red, green and blue lists.
constexpr float red_caller[3] = {1, 0.4f, 0.3f};
constexpr float green_caller[3] = {0.6f, 1, 0.3f};
constexpr float blue_caller[3] = {0.6f, 0.3f, 0.8f};

// Rays show only where a dot's alpha exceeds this.
constexpr float ray_threshold = 0.5f;

constexpr unsigned letterbox_list = 7;

// Rotation axes of the renders.
constexpr float axis_ab[3] = {0.5f, 0.5f, 0.2f};
constexpr float axis_c[3] = {0.5f, 0.2f, -0.5f};
constexpr float axis_de[3] = {0.5f, -0.5f, 0.2f};

// Which bands light a cell besides the row band.
enum class BandMode { rows, columns, cells };

// ---- module state --------------------------------------------------------------------------

// Band phase of the bottom row, carried from frame to frame across all five entries.
static unsigned band_start;

// Helpers, defined at the end of the file.
static void draw_wall(const float axis[3], BandMode mode);
static void draw_cell(float x, float y, float a_r, float a_g, float a_b);
static void draw_letterbox_list(void);
static void draw_letterbox_direct(float middle_alpha);
static void compile_dot(const DotFan &fan);
static void compile_rays(const RayFan &fan);
static void letterbox_quads(float middle_alpha);

// ---- loader --------------------------------------------------------------------------------

void DotWall_Load(void) {}

int DotWall_ImageCell(int row, int column)
{
    return wall_image[row][column];
}

// ---- init ----------------------------------------------------------------------------------

// GL state of the module's renders, the band phase, and the letterbox, dot and ray lists.
void DotWall_Init(void)
{
    // The band phase starts from 0 on the module's first frame, also when the timeline plays
    // again: the renders carry it on from there.
    band_start = 0;
    glClearColor(0, 0, 0, 0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);

    glNewList(letterbox_list, GL_COMPILE);
        letterbox_quads(0);
    glEndList();
    for (const DotFan &fan : dot_fans)
        compile_dot(fan);
    for (const RayFan &fan : ray_fans)
        compile_rays(fan);
}

// ---- renders -------------------------------------------------------------------------------
//
// The renders carry one value from frame to frame, across all five entries: band_start, the
// rounded ramp of the previous frame. A frame depends on the one before it alone, so a seek
// that draws only the frame before its target gets the bands right.

// Entry 16: the wall under row bands, fading in from black.
void DotWall_RenderA(void)
{
    draw_wall(axis_ab, BandMode::rows);
    draw_letterbox_direct(chan_y);
}

// Entry 17: the wall under row bands.
void DotWall_RenderB(void)
{
    draw_wall(axis_ab, BandMode::rows);
    draw_letterbox_list();
}

// Entry 18: row bands crossed by column bands.
void DotWall_RenderC(void)
{
    draw_wall(axis_c, BandMode::columns);
    draw_letterbox_list();
}

// Entry 19: row bands crossed by diagonal cell bands.
void DotWall_RenderD(void)
{
    draw_wall(axis_de, BandMode::cells);
    draw_letterbox_list();
}

// Entry 20: as entry 19, fading out to black.
void DotWall_RenderE(void)
{
    draw_wall(axis_de, BandMode::cells);
    draw_letterbox_direct(chan_y);
}

// ---- helpers -------------------------------------------------------------------------------

// The turned wall, bottom row first, each cell lit by its palette colour and the bands; then
// the band phase for the next frame.
static void draw_wall(const float axis[3], BandMode mode)
{
    glViewport(0, 80, 640, 320);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(wall_projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(wall_view);
    glRotatef(chan_x, axis[0], axis[1], axis[2]);

    unsigned p = band_start;
    unsigned q = band_start;
    for (int r = wall_rows - 1; r >= 0; r--) {
        float y = -450 + 36 * (wall_rows - 1 - r);
        if (mode == BandMode::columns)
            q = band_start;
        for (int j = 0; j < wall_columns; j++) {
            float x = -736 + 46 * j;
            const float *c = wall_palette[wall_image[r][j]];
            float k = -band_table[p];
            if (mode != BandMode::rows) {
                k += band_table[q];
                if (++q == band_count)
                    q = 0;
            }
            draw_cell(x, y, c[0] + k, c[1] + k, c[2] + k);
        }
        if (++p == band_count)
            p = 0;
    }

    band_start = static_cast<unsigned>(std::nearbyint(ramp_a));
}

// One triad at (x, y): the three dots, then their rays. Negative alphas are clamped to 0 by
// GL, so dark channels leave only the lists' own faint rims.
static void draw_cell(float x, float y, float a_r, float a_g, float a_b)
{
    glPushMatrix();
    glTranslatef(x, y, 0);
    glColor4f(red_caller[0], red_caller[1], red_caller[2], a_r);
    glCallList(10);
    glColor4f(blue_caller[0], blue_caller[1], blue_caller[2], a_b);
    glCallList(11);
    glColor4f(green_caller[0], green_caller[1], green_caller[2], a_g);
    glCallList(12);
    // Each list leaves its own colour behind, so the caller's is set again before every ray.
    for (unsigned i = 0; i < 4; i++) {
        glColor4f(red_caller[0], red_caller[1], red_caller[2], a_r - ray_threshold);
        glCallList(20 + i);
    }
    for (unsigned i = 0; i < 4; i++) {
        glColor4f(green_caller[0], green_caller[1], green_caller[2], a_g - ray_threshold);
        glCallList(30 + i);
    }
    for (unsigned i = 0; i < 4; i++) {
        glColor4f(blue_caller[0], blue_caller[1], blue_caller[2], a_b - ray_threshold);
        glCallList(40 + i);
    }
    glPopMatrix();
}

// Switches to window coordinates and sets opaque black for the overlay's first vertex.
static void begin_letterbox(void)
{
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(screen_projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor4f(0, 0, 0, 1);
}

// The letterbox with a clear middle line.
static void draw_letterbox_list(void)
{
    begin_letterbox();
    glCallList(letterbox_list);
}

// The letterbox with black of the given alpha on the middle line: a fade to or from black.
static void draw_letterbox_direct(float middle_alpha)
{
    begin_letterbox();
    letterbox_quads(middle_alpha);
}

// Black bars above and below the wall that fade towards the middle line y = 240, where their
// alpha is middle_alpha. The first vertex takes the caller's colour.
static void letterbox_quads(float middle_alpha)
{
    glBegin(GL_QUADS);
        glVertex2f(0, 0);
        glColor4f(0, 0, 0, 1);
        glVertex2f(640, 0);
        glVertex2f(640, 80);
        glVertex2f(0, 80);

        glVertex2f(0, 80);
        glVertex2f(640, 80);
        glColor4f(0, 0, 0, middle_alpha);
        glVertex2f(640, 240);
        glVertex2f(0, 240);

        glVertex2f(0, 240);
        glVertex2f(640, 240);
        glColor4f(0, 0, 0, 1);
        glVertex2f(640, 400);
        glVertex2f(0, 400);

        glVertex2f(0, 400);
        glVertex2f(640, 400);
        glVertex2f(640, 480);
        glVertex2f(0, 480);
    glEnd();
}

// A soft dot: a fan bright at its centre in the caller's colour, fading to the list's faint
// rim colour, turned about the triad's origin.
static void compile_dot(const DotFan &fan)
{
    auto turned = [&fan](const float p[2]) {
        glVertex3f(p[0] * fan.cos_a - p[1] * fan.sin_a, p[0] * fan.sin_a + p[1] * fan.cos_a, 0);
    };
    glNewList(fan.list, GL_COMPILE);
        glBegin(GL_TRIANGLE_FAN);
            turned(dot_centre);
            glColor4f(fan.rim[0], fan.rim[1], fan.rim[2], dot_rim_alpha);
            for (const float *p : dot_rim)
                turned(p);
        glEnd();
    glEndList();
}

// Four widening rays from a dot centre towards the viewer, one list each: the near centre in
// the caller's colour, the rest in the ray's faint colour.
static void compile_rays(const RayFan &fan)
{
    for (unsigned i = 0; i < 4; i++) {
        const float *e = ray_ends[i];
        const float *c = fan.colour[i];
        glNewList(fan.first_list + i, GL_COMPILE);
            glBegin(GL_QUADS);
                glVertex3f(fan.cx, fan.cy, 0);
                glColor4f(c[0], c[1], c[2], ray_alpha);
                glVertex3f(fan.cx, fan.cy, ray_length);
                glVertex3f(fan.cx + e[0], fan.cy + e[1], ray_length);
                glVertex3f(fan.cx + e[2], fan.cy + e[3], 0);
            glEnd();
        glEndList();
    }
}
