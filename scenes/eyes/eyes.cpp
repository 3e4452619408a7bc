// Scene module G: a white band and a white curtain frame two blinking eyes; then a curved net
// of 71 x 9 stitches between two friezes opens into lit wells until a line of text stays dark.
#include "scenes/eyes/eyes.h"
#include "scenes/window_view.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "timeline/timeline.h"

// ---- constants and tables ------------------------------------------------------------------

// The net: cell (i, j) lies between corner columns i, i + 1 and corner points j, j + 1.
constexpr int net_columns = 71;
constexpr int net_rows = 9;
constexpr int corner_columns = net_columns + 1;
constexpr int corner_points = net_rows + 1;

// Corner arcs of the well floors, the lids and the beam tips; centre arcs of floors and lids.
constexpr int floor_arc = 0, lid_arc = 1, tip_arc = 2;
constexpr float corner_radii[3] = {50, 80, 240};
constexpr float centre_radii[2] = {50, 80};
constexpr float arc_step = 0.314159654f;
constexpr float centre_first_angle = 0.15707964f;
constexpr float column_spacing = 10;
// Every centre column midway between its corner columns, column 0 included.
constexpr float centre_first_x = 5;

constexpr int swell_count = 196;
constexpr float swell_step = 0.12f;
// ramp_b of entries 11 to 13 rounds to at most 52; the last columns read these entries.
constexpr int swell_phase_top = 52;
static_assert(swell_phase_top + 2 * (corner_columns - 1) < swell_count);
static_assert(swell_phase_top + 1 + 2 * (net_columns - 1) < swell_count);

constexpr int layer_count = 81;
constexpr int random_layers = 50;
constexpr int random_opens = 100;
constexpr int reveal_opens = 16;

// The text the closed stitches spell at the end, as it reads on screen, top line first. The
// camera looks along +z, so x grows to the screen's left: screen column s is net column 66 - s,
// and text line t is net row 6 - t.
constexpr int pattern_count = 143;
constexpr int pattern_lines = 5;
constexpr int pattern_width = 64;
constexpr const char *pattern_text[pattern_lines] = {
    ".###.#.#.###.###.###...#...#.###.###.###...#.#.#..#.###.###.###.",
    ".#.#.#.#..#..#....#....##.##.#.#.#...#.....#.#.##.#..#...#..#...",
    ".#.#.#.#..#..##...#....#.#.#.#.#.###.###...##..#.##..#...#..###.",
    ".##..#.#..#..#....#....#...#.#.#...#...#...#.#.#..#..#...#....#.",
    "...#.###.###.###..#....#...#.###.###.###...#.#.#..#.###..#..###.",
};

struct Cell {
    int column, row;
};

constexpr std::array<Cell, pattern_count> pattern_from_text(void)
{
    std::array<Cell, pattern_count> cells{};
    int n = 0;
    for (int t = 0; t < pattern_lines; t++)
        for (int s = 0; s < pattern_width; s++)
            if (pattern_text[t][s] == '#') {
                if (n == pattern_count)
                    throw "pattern_text holds more than pattern_count cells";
                cells[n++] = {66 - s, 6 - t};
            }
    if (n != pattern_count)
        throw "pattern_text holds fewer than pattern_count cells";
    return cells;
}

// 143 distinct cells in columns 3 to 66, rows 2 to 6; a wrong count does not compile.
constexpr std::array<Cell, pattern_count> pattern_cells = pattern_from_text();

// Display lists; the eye lists are 30 + f (left) and 40 + f (right) for frame f = 0 ... 7.
enum : GLuint {
    list_screen = 1,
    list_band = 2,
    list_curtain_top = 4,
    list_curtain_bottom = 5,
    list_cover_top = 6,
    list_cover_bottom = 7,
    list_net_view = 8,
    list_lower_frieze = 10,
    list_upper_frieze = 11,
    list_left_eye = 30,
    list_no_left_eye = 38,
    list_right_eye = 40,
    list_no_right_eye = 48,
};

constexpr int eye_frame_count = 8;
constexpr int eye_tile = 32;
constexpr int eye_tile_bytes = eye_tile * eye_tile * 3;

struct EyePair {
    GLuint left, right;
};

constexpr int no_eye = -1;
constexpr EyePair eyes(int left, int right)
{
    return {left == no_eye ? list_no_left_eye : list_left_eye + left,
            right == no_eye ? list_no_right_eye : list_right_eye + right};
}

// The eye frames by animation step: a blink, a pause, the eyes opening and looking about.
constexpr EyePair eye_frames[] = {
    eyes(no_eye, no_eye),
    eyes(0, 0), eyes(1, 1), eyes(2, 2), eyes(3, 3), eyes(4, 4), eyes(5, 5), eyes(6, 6),
    eyes(7, 7),
    eyes(6, 6), eyes(5, 5), eyes(4, 4), eyes(3, 3), eyes(2, 2), eyes(1, 1), eyes(0, 0),
    eyes(no_eye, no_eye), eyes(no_eye, no_eye), eyes(no_eye, no_eye),
    eyes(0, 0), eyes(1, 1), eyes(2, 2), eyes(3, 3), eyes(4, 4), eyes(5, 5), eyes(6, 6),
    eyes(7, 7),
    eyes(7, 7), eyes(7, 7), eyes(7, 7), eyes(7, 7), eyes(7, 7), eyes(7, 7), eyes(7, 7),
    eyes(7, 7),
    eyes(7, 6), eyes(7, 5), eyes(7, 4), eyes(7, 3), eyes(7, 2), eyes(7, 1), eyes(7, 0),
    eyes(6, no_eye), eyes(5, 0), eyes(4, 1), eyes(3, 2), eyes(2, 3), eyes(1, 4), eyes(0, 5),
    eyes(no_eye, 6),
    eyes(0, 7), eyes(1, 7), eyes(2, 7), eyes(3, 7), eyes(4, 7), eyes(5, 7), eyes(6, 7),
    eyes(7, 7),
    eyes(6, 6), eyes(5, 5), eyes(4, 4), eyes(3, 3), eyes(2, 2), eyes(1, 1), eyes(0, 0),
    eyes(no_eye, no_eye),
    eyes(no_eye, no_eye), eyes(no_eye, no_eye), eyes(no_eye, no_eye), eyes(no_eye, no_eye),
};
static_assert(std::size(eye_frames) == 70);

// Colours of the net: a closed stitch's lid, centre and edge; the dark foot of a well wall.
constexpr GLfloat lid_centre[4] = {0.5f, 0.3f, 0.2f, 1};
constexpr GLfloat lid_edge[4] = {0.3f, 0.2f, 0.1f, 1};
constexpr GLfloat wall_foot[4] = {0, 0, 0, 1};
constexpr GLfloat beam_tip[4] = {0.5f, 0.3f, 0.0f, 0.0f};
// A column's light follows how far its floor has swollen: s = -y / 125 at its lowest centre.
constexpr float light_scale = 125;

// ---- module state --------------------------------------------------------------------------

struct Point {
    float x, y, z;
};

static Picture *lower_frieze;
static Picture *upper_frieze;
static Picture *eye_tiles;

static Point corner_arcs[3][corner_columns][corner_points];
static Point centre_arcs[2][net_columns][net_rows];
static float swell_table[swell_count];
static unsigned char stitch_layers[layer_count][net_columns][net_rows];

// The arcs as the current frame swells them; overwritten whole by every net frame.
static Point frame_corners[3][corner_columns][corner_points];
static Point frame_centres[2][net_columns][net_rows];

// Helpers, defined at the end of the file.
static Point turned_about_x(Point p, float angle);

template <int R, int K, int J>
static void build_arcs(Point (&arcs)[R][K][J], const float (&radii)[R], float first_x,
                       float first_angle);
static void fill_random_layers(void);
static void fill_reveal_layers(void);
static void compile_eye(GLuint list, int tile, float left);
static void draw_net(int layer, float cover);
static void swell_arcs(void);
static void draw_stitch_sides(const Point (*inner)[corner_points],
                              const Point (*outer)[corner_points], int i, int j,
                              const GLfloat *inner_colour, const GLfloat *outer_colour);
static void draw_curtain(float middle_alpha);

// ---- loader --------------------------------------------------------------------------------

// Reads the friezes and eye frames, builds the arcs and the swell, fills the stitch layers.
void Eyes_Load(void)
{
    lower_frieze = ZAF_ReadPicture("fri1");
    upper_frieze = ZAF_ReadPicture("fri2");
    eye_tiles = ZAF_ReadPicture("oczka");
    // The eye lists read 16 tiles of 32 x 32 straight from the pixels, whatever the header's
    // tile size; the decoder has already refused a size that overflows.
    const Picture &e = *eye_tiles;
    const uint64_t eye_bytes =
        uint64_t(e.tile_width) * e.tiles_across * e.tile_height * e.tiles_down * 3;
    if (eye_bytes < uint64_t(2 * eye_frame_count) * eye_tile_bytes)
        ZAF_Fatal("Eyes_Load: FATAL_ERROR: Picture \"oczka\" holds %llu pixel bytes, not the "
                  "16 eye tiles of 32 x 32.\n",
                  (unsigned long long)eye_bytes);

    build_arcs(corner_arcs, corner_radii, 0, 0);
    build_arcs(centre_arcs, centre_radii, centre_first_x, centre_first_angle);

    float c = 0;
    for (float &swell : swell_table) {
        swell = std::sin(c) + 1.5f;
        c += swell_step;
    }

    fill_random_layers();
    fill_reveal_layers();
}

const unsigned char (*Eyes_StitchLayer(int layer))[9]
{
    return stitch_layers[layer];
}

const char *Eyes_PatternLine(int line)
{
    return pattern_text[line];
}

// ---- init ----------------------------------------------------------------------------------

// GL state of the module's renders; the eye, frieze, overlay and view lists.
void Eyes_Init(void)
{
    glClearColor(0, 0, 0, 0);
    glShadeModel(GL_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);

    Picture_SetTextureState();

    for (int f = 0; f < eye_frame_count; f++)
        compile_eye(list_left_eye + f, 2 * f, 280);
    glNewList(list_no_left_eye, GL_COMPILE);
    glEndList();
    glNewList(list_no_right_eye, GL_COMPILE);
    glEndList();
    for (int f = 0; f < eye_frame_count; f++)
        compile_eye(list_right_eye + f, 2 * f + 1, 328);

    Picture_BuildList(list_lower_frieze, lower_frieze);
    Picture_BuildList(list_upper_frieze, upper_frieze);

    glNewList(list_screen, GL_COMPILE);
        View_Window();
    glEndList();

    // A white band twice the screen's height: fading in, opaque over one screen, fading out.
    glNewList(list_band, GL_COMPILE);
        glBegin(GL_QUAD_STRIP);
            glColor4f(1, 1, 1, 0);
            glVertex2f(0, -480);
            glVertex2f(640, -480);
            glColor4f(1, 1, 1, 1);
            glVertex2f(0, 0);
            glVertex2f(640, 0);
            glVertex2f(0, 480);
            glVertex2f(640, 480);
            glColor4f(1, 1, 1, 0);
            glVertex2f(0, 960);
            glVertex2f(640, 960);
        glEnd();
    glEndList();

    // The curtain's halves: the caller's colour on the middle line, opaque white from the
    // frieze bands outwards. The upper half leaves white current.
    glNewList(list_curtain_top, GL_COMPILE);
        View_Window();
        glBegin(GL_QUAD_STRIP);
            glVertex2f(0, 240);
            glVertex2f(640, 240);
            glColor4f(1, 1, 1, 1);
            glVertex2f(0, 416);
            glVertex2f(640, 416);
            glVertex2f(0, 480);
            glVertex2f(640, 480);
        glEnd();
    glEndList();
    glNewList(list_curtain_bottom, GL_COMPILE);
        glBegin(GL_QUAD_STRIP);
            glVertex2f(640, 240);
            glVertex2f(0, 240);
            glColor4f(1, 1, 1, 1);
            glVertex2f(640, 64);
            glVertex2f(0, 64);
            glVertex2f(640, 0);
            glVertex2f(0, 0);
        glEnd();
    glEndList();

    // The net's overlay: the caller's colour on the middle line, white at the friezes, which
    // the lower half then draws in their bands.
    glNewList(list_cover_top, GL_COMPILE);
        View_Window();
        glBegin(GL_QUAD_STRIP);
            glVertex2f(0, 240);
            glVertex2f(640, 240);
            glColor4f(1, 1, 1, 1);
            glVertex2f(0, 416);
            glVertex2f(640, 416);
        glEnd();
    glEndList();
    glNewList(list_cover_bottom, GL_COMPILE);
        glBegin(GL_QUADS);
            glVertex2f(640, 240);
            glVertex2f(0, 240);
            glColor4f(1, 1, 1, 1);
            glVertex2f(0, 64);
            glVertex2f(640, 64);
        glEnd();
        glEnable(GL_TEXTURE_2D);
        glCallList(list_lower_frieze);
        glTranslatef(0, 416, 0);
        glCallList(list_upper_frieze);
        glDisable(GL_TEXTURE_2D);
    glEndList();

    // The net seen from below and in front, in the band between the friezes.
    glNewList(list_net_view, GL_COMPILE);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(25.0, 1.818191f, 1.0, 1000.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glViewport(0, 64, 640, 352);
        gluLookAt(355, -160, -940, 355, 0, 0, 0, 1, 0);
    glEndList();
}

// ---- renders -------------------------------------------------------------------------------
//
// The renders carry nothing from one frame to the next: each frame is computed from the
// channels alone, and the swollen arcs are rebuilt whole before they are drawn.

// Entries 8 and 15: a white band rises over black until the screen is white, then leaves it.
void Eyes_RenderA(void)
{
    glCallList(list_screen);
    glTranslatef(0, chan_x, 0);
    glCallList(list_band);
}

// Entries 9 and 14: white above and below the friezes' bands, fading towards the middle line
// to the alpha chan_x: the curtain opens as it falls to 0.
void Eyes_RenderB(void)
{
    draw_curtain(chan_x);
}

// Entry 10: the open curtain, and in its middle the eyes blinking and looking about.
void Eyes_RenderC(void)
{
    draw_curtain(0);
    const int step = int(std::nearbyint(ramp_a));
    if (step <= 69) {
        // The curtain left opaque white current, so the eyes are drawn opaque.
        glEnable(GL_TEXTURE_2D);
        glCallList(eye_frames[step].left);
        glCallList(eye_frames[step].right);
        glDisable(GL_TEXTURE_2D);
    }
}

// Entries 11 and 13: the net of lid-covered or lit stitches, layer ramp_a, its middle line
// covered by black of alpha chan_y.
void Eyes_RenderD(void)
{
    draw_net(int(std::nearbyint(ramp_a)), chan_y);
}

// Entry 12: the net walking through its layers with chan_x, its middle uncovered.
void Eyes_RenderE(void)
{
    draw_net(int(std::nearbyint(chan_x)), 0);
}

// ---- helpers -------------------------------------------------------------------------------

// p turned by angle radians about the x axis, y towards z.
static Point turned_about_x(Point p, float angle)
{
    const float c = std::cos(angle), s = std::sin(angle);
    return {p.x, p.y * c - p.z * s, p.z * c + p.y * s};
}

// Layers 0 to 49: 100 stitches each, none open in the layer before, so the net twinkles.
static void fill_random_layers(void)
{
    for (int layer = 0; layer < random_layers; layer++) {
        unsigned char (*open)[net_rows] = stitch_layers[layer];
        for (int n = 0; n < random_opens; n++) {
            int row, column;
            do {
                row = rand() % net_rows;
                column = rand() % net_columns;
            } while (open[column][row] ||
                     (layer > 0 && stitch_layers[layer - 1][column][row]));
            open[column][row] = 1;
        }
    }
}

// Layers 50 to 80: 16 more stitches each, kept open in every later layer, never one of the
// pattern, so that at the end only the pattern stays closed.
static void fill_reveal_layers(void)
{
    bool in_pattern[net_columns][net_rows] = {};
    for (const Cell &cell : pattern_cells)
        in_pattern[cell.column][cell.row] = true;

    for (int layer = random_layers; layer < layer_count; layer++) {
        for (int n = 0; n < reveal_opens; n++) {
            int row, column;
            // A stitch opened earlier, in this layer or before, is open in this layer too.
            do {
                column = rand() % net_columns;
                row = rand() % net_rows;
            } while (in_pattern[column][row] || stitch_layers[layer][column][row]);
            for (int later = layer; later < layer_count; later++)
                stitch_layers[later][column][row] = 1;
        }
    }
}

// One eye frame: its tile uploaded, then a 32 x 32 quad in the middle of the screen, the
// tile's first row on top.
static void compile_eye(GLuint list, int tile, float left)
{
    glNewList(list, GL_COMPILE);
        glTexImage2D(GL_TEXTURE_2D, 0, 3, eye_tile, eye_tile, 0, GL_RGB, GL_UNSIGNED_BYTE,
                     eye_tiles->pixels + tile * eye_tile_bytes);
        glBegin(GL_QUADS);
            glTexCoord2f(0, 1);
            glVertex2f(left, 224);
            glTexCoord2f(1, 1);
            glVertex2f(left + eye_tile, 224);
            glTexCoord2f(1, 0);
            glVertex2f(left + eye_tile, 256);
            glTexCoord2f(0, 0);
            glVertex2f(left, 256);
        glEnd();
    glEndList();
}

// Both halves of the curtain; the upper one leaves white current, so the colour is set again.
static void draw_curtain(float middle_alpha)
{
    glColor4f(1, 1, 1, middle_alpha);
    glCallList(list_curtain_top);
    glColor4f(1, 1, 1, middle_alpha);
    glCallList(list_curtain_bottom);
}

// The arcs of this frame: every column scaled in y and z by the swell, a wave that travels
// along x as ramp_b advances.
static void swell_arcs(void)
{
    const int n = int(std::nearbyint(ramp_b));
    for (int r = 0; r < 3; r++)
        for (int k = 0; k < corner_columns; k++) {
            const float swell = swell_table[n + 2 * k];
            for (int j = 0; j < corner_points; j++) {
                const Point &p = corner_arcs[r][k][j];
                frame_corners[r][k][j] = {p.x, p.y * swell, p.z * swell};
            }
        }
    for (int r = 0; r < 2; r++)
        for (int k = 0; k < net_columns; k++) {
            const float swell = swell_table[n + 1 + 2 * k];
            for (int j = 0; j < net_rows; j++) {
                const Point &p = centre_arcs[r][k][j];
                frame_centres[r][k][j] = {p.x, p.y * swell, p.z * swell};
            }
        }
}

// The net in its letterboxed view: lids over closed stitches, lit wells under open ones and
// their beams towards the viewer; then the overlay, black of alpha cover on its middle line
// grading to white at the friezes, and the friezes.
static void draw_net(int layer, float cover)
{
    glCallList(list_net_view);
    swell_arcs();
    const unsigned char (*open)[net_rows] = stitch_layers[layer];
    const Point (*const floors)[corner_points] = frame_corners[floor_arc];
    const Point (*const lids)[corner_points] = frame_corners[lid_arc];
    const Point (*const tips)[corner_points] = frame_corners[tip_arc];

    glEnable(GL_DEPTH_TEST);
    for (int i = 0; i < net_columns; i++) {
        const float s = -frame_centres[floor_arc][i][0].y / light_scale;
        const GLfloat floor_centre[4] = {s, 0.9f * s, 0.7f * s, 1};
        const GLfloat floor_edge[4] = {0.6f * s, 0.5f * s, 0.3f * s, 1};
        const GLfloat rim[4] = {0.8f * s, 0.6f * s, 0.4f * s, 1};
        for (int j = 0; j < net_rows; j++) {
            const bool is_open = open[i][j];
            const Point(*const corners)[corner_points] = is_open ? floors : lids;
            glBegin(GL_TRIANGLE_FAN);
                glColor4fv(is_open ? floor_centre : lid_centre);
                glVertex3fv(&frame_centres[is_open ? floor_arc : lid_arc][i][j].x);
                glColor4fv(is_open ? floor_edge : lid_edge);
                glVertex3fv(&corners[i][j].x);
                glVertex3fv(&corners[i + 1][j].x);
                glVertex3fv(&corners[i + 1][j + 1].x);
                glVertex3fv(&corners[i][j + 1].x);
                glVertex3fv(&corners[i][j].x);
            glEnd();
            if (is_open)
                draw_stitch_sides(floors, lids, i, j, wall_foot, rim);
        }
    }

    // Beams are drawn last and without depth, so each blends over the whole net.
    glDisable(GL_DEPTH_TEST);
    for (int i = 0; i < net_columns; i++) {
        const float s = -frame_centres[floor_arc][i][0].y / light_scale;
        const GLfloat beam[4] = {1.0f, 0.8f, 0.5f, 0.3f * s};
        for (int j = 0; j < net_rows; j++)
            if (open[i][j])
                draw_stitch_sides(lids, tips, i, j, beam, beam_tip);
    }

    glColor4f(0, 0, 0, cover);
    glCallList(list_cover_top);
    glColor4f(0, 0, 0, cover);
    glCallList(list_cover_bottom);
}

// The four sides of stitch (i, j) as quads from the inner arc to the outer one, sides P1-P2,
// P2-P3, P3-P4, P4-P1 with P1 = (i, j), P2 = (i + 1, j), P3 = (i + 1, j + 1), P4 = (i, j + 1):
// per side the inner corners in the inner colour, then the outer ones back in the outer colour.
static void draw_stitch_sides(const Point (*inner)[corner_points],
                              const Point (*outer)[corner_points], int i, int j,
                              const GLfloat *inner_colour, const GLfloat *outer_colour)
{
    const int ci[5] = {i, i + 1, i + 1, i, i};
    const int cj[5] = {j, j, j + 1, j + 1, j};
    glBegin(GL_QUADS);
        for (int side = 0; side < 4; side++) {
            const int a = side, b = side + 1;
            glColor4fv(inner_colour);
            glVertex3fv(&inner[ci[a]][cj[a]].x);
            glVertex3fv(&inner[ci[b]][cj[b]].x);
            glColor4fv(outer_colour);
            glVertex3fv(&outer[ci[b]][cj[b]].x);
            glVertex3fv(&outer[ci[a]][cj[a]].x);
        }
    glEnd();
}

// Column 0's arcs, radius by radius, their angle summed in single precision from first_angle;
// every other column is column 0 moved right by the column spacing.
template <int R, int K, int J>
static void build_arcs(Point (&arcs)[R][K][J], const float (&radii)[R], float first_x,
                       float first_angle)
{
    float a = first_angle;
    for (int j = 0; j < J; j++) {
        for (int r = 0; r < R; r++)
            arcs[r][0][j] = turned_about_x({first_x, -radii[r], 0}, a);
        a += arc_step;
    }
    for (int r = 0; r < R; r++)
        for (int k = 1; k < K; k++)
            for (int j = 0; j < J; j++) {
                arcs[r][k][j] = arcs[r][0][j];
                arcs[r][k][j].x += column_spacing * k;
            }
}
