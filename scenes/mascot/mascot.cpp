// Scene module H: in a letterbox band, an orange and a pink trail of twenty turned mascots
// spin against each other while two mirrored swarms of sparks stream past; the black bars
// around the band open, hold under the logo, close, and finally seal their gaps.
#include "scenes/mascot/mascot.h"
#include "scenes/window_view.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <cmath>
#include <cstdlib>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "timeline/timeline.h"

// ---- constants and tables ------------------------------------------------------------------

constexpr int frame_count = 20;
constexpr float mascot_scale = 6.0f;
// 6 degrees in radians as the turns are stepped: a little more than pi / 30.
constexpr float frame_turn = 0.10472f;

constexpr int spark_rows = 100;
constexpr int spark_pairs = 10;
constexpr float row_spacing = 100.0f;
// Sparks this far from the origin or further have faded out.
constexpr float spark_reach = 600.0f;
constexpr float beam_length = 20.0f;
constexpr float rim_diagonal = 0.707107f;

constexpr float beam_tip[4] = {0.9f, 0.7f, 0.6f, 0.0f};    // colour A
constexpr float beam_root[4] = {0.9f, 0.7f, 0.6f, 0.1f};   // colour B
constexpr float disc_rim[4] = {1.0f, 1.0f, 1.0f, 0.0f};    // colour D

// The two passes' spark colours: the second pass is the first mirrored through the y axis.
constexpr float pass_colour[2][3] = {{1.0f, 0.5f, 0.4f}, {1.0f, 0.4f, 0.5f}};

// The four beam tips about a spark, each beam a thin triangle towards the origin.
constexpr float beam_offsets[4][3] = {
    {0, beam_length, 0}, {0, -beam_length, 0}, {beam_length, 0, 0}, {-beam_length, 0, 0},
};

// Rim points of the three octagons, in units of the radius: xy, yz and xz planes, each
// closed on its first point.
constexpr float diag = rim_diagonal;
constexpr float disc_rims[3][9][3] = {
    {{0, 1, 0}, {diag, diag, 0}, {1, 0, 0}, {diag, -diag, 0}, {0, -1, 0},
     {-diag, -diag, 0}, {-1, 0, 0}, {-diag, diag, 0}, {0, 1, 0}},
    {{0, 0, 1}, {0, diag, diag}, {0, 1, 0}, {0, diag, -diag}, {0, 0, -1},
     {0, -diag, -diag}, {0, -1, 0}, {0, -diag, diag}, {0, 0, 1}},
    {{1, 0, 0}, {diag, 0, diag}, {0, 0, 1}, {-diag, 0, diag}, {-1, 0, 0},
     {-diag, 0, -diag}, {0, 0, -1}, {diag, 0, -diag}, {1, 0, 0}},
};

// Trail colours; each copy's alpha is the one before times trail_alpha_growth.
constexpr float orange_trail[3] = {0.8f, 0.4f, 0.2f};
constexpr float pink_trail[3] = {0.8f, 0.2f, 0.4f};
constexpr float trail_alpha_first = 0.01f;
constexpr float trail_alpha_growth = 1.15f;

// The band between the bars, where the 3-D part is drawn.
constexpr int band_y = 80;
constexpr int band_height = 320;

enum : GLuint {
    list_orange_trail = 5,
    list_pink_trail = 6,
    list_open_bars = 7,
    list_closed_bars = 8,
    list_logo = 9,
};

// ---- module state --------------------------------------------------------------------------

static Picture *mascot_logo;
// Frame 0 is the decoded mesh scaled; frames 1 to 19 share its triangle count.
static Mesh mascot_frames[frame_count];
static const Mesh *mascot_mesh;   // the decoded record; frame 0 shares its triangles
static float mascot_sparks[spark_rows][spark_pairs][2];

float spark_position[3];
float spark_colour[4];

// Helpers, defined at the end of the file.
static void draw_band(void);
static void draw_spark_pass(int pass);
static void bar_quads(float middle_alpha);
static void compile_trail(GLuint list, const float colour[3]);

// ---- loader --------------------------------------------------------------------------------

// Reads the logo and the mascot, turns the mascot's copies and lays out the sparks.
void Mascot_Load(void)
{
    mascot_logo = ZAF_ReadPicture("logo");
    mascot_mesh = ZAF_ReadASE("lemurbandit");
    mascot_frames[0] = *mascot_mesh;

    const uint32_t count = mascot_mesh->triangle_count;
    float *base = mascot_frames[0].triangles;
    for (size_t v = 0; v < size_t{count} * 3; v++) {
        base[3 * v] *= mascot_scale;
        base[3 * v + 1] *= mascot_scale;
    }

    // The decoder has checked the count against the entry; 19 copies of a large mesh may still
    // not fit in memory.
    float theta = frame_turn;
    for (int k = 1; k < frame_count; k++) {
        float *copy = (float *)malloc(count ? size_t{count} * 36 : 1);
        if (!copy)
            ZAF_Fatal("Mascot_Load: FATAL_ERROR: No memory for %u triangles of \"lemurbandit\" "
                      "turned.\n",
                      count);
        const float c = std::cos(theta), s = std::sin(theta);
        for (size_t v = 0; v < size_t{count} * 3; v++) {
            const float x = base[3 * v], y = base[3 * v + 1], z = base[3 * v + 2];
            copy[3 * v] = x * c + z * s;
            copy[3 * v + 1] = y;
            copy[3 * v + 2] = z * c - x * s;
        }
        mascot_frames[k].triangles = copy;
        theta += frame_turn;
    }

    // Exactly 2000 draws, x before y: every later loader's sparks and noise depend on it.
    for (auto &row : mascot_sparks)
        for (auto &pair : row) {
            pair[0] = 32.0f * (rand() % 16);
            pair[1] = 64.0f * (rand() % 16 - 8);
        }
}

// ---- init ----------------------------------------------------------------------------------

// The module's state and its lists: the logo, open and closed bars, the two trails.
void Mascot_Init(void)
{
    glClearColor(1.0f, 0.8f, 0.7f, 0.0f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);

    Picture_SetTextureState();

    Picture_BuildList(list_logo, mascot_logo);

    glNewList(list_open_bars, GL_COMPILE);
        bar_quads(0.0f);
    glEndList();

    glNewList(list_closed_bars, GL_COMPILE);
        bar_quads(1.0f);
    glEndList();

    compile_trail(list_orange_trail, orange_trail);
    compile_trail(list_pink_trail, pink_trail);
}

// ---- renders -------------------------------------------------------------------------------
//
// The renders carry nothing from one frame to the next: each frame follows from chan_x,
// chan_y and chan_z alone. spark_position and spark_colour are scratch, set before every use.

// Entries 4 and 6: trails and sparks, the bars' inner edges at opacity chan_y.
void Mascot_RenderA(void)
{
    draw_band();
    View_Window();
    bar_quads(chan_y);
}

// Entry 5: trails and sparks between the open bars, the logo 8 pixels up on the lower bar.
void Mascot_RenderB(void)
{
    draw_band();
    View_Window();
    glCallList(list_open_bars);
    glTranslatef(0, 8, 0);
    // The bars leave opaque black current: under GL_REPLACE the logo takes its alpha from it.
    glEnable(GL_TEXTURE_2D);
    glCallList(list_logo);
    glDisable(GL_TEXTURE_2D);
}

// Entry 7: the closed bars, and their three gaps filled from the left (chan_y) and from the
// right (chan_z) until nothing is left.
void Mascot_RenderC(void)
{
    draw_band();
    View_Window();
    glCallList(list_closed_bars);
    // In the opaque black the closed bars leave current.
    glBegin(GL_QUADS);
        glVertex2f(0, 80);
        glVertex2f(chan_y, 80);
        glVertex2f(chan_y, 82);
        glVertex2f(0, 82);

        glVertex2f(chan_z, 239);
        glVertex2f(640, 239);
        glVertex2f(640, 241);
        glVertex2f(chan_z, 241);

        glVertex2f(chan_z, 398);
        glVertex2f(640, 398);
        glVertex2f(640, 400);
        glVertex2f(chan_z, 400);
    glEnd();
}

// A spark at spark_position: beams to the origin, then three soft octagons.
void Mascot_DrawSpark(void)
{
    const float *p = spark_position;
    const float dist = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    const float radius = 100.0f - dist / 10.0f;
    spark_colour[3] = 1.0f - dist / spark_reach;
    if (!(spark_colour[3] > 0.0f))
        return;

    glBegin(GL_TRIANGLES);
        for (const float *o : beam_offsets) {
            glColor4fv(beam_tip);
            glVertex3fv(p);
            glColor4fv(beam_root);
            glVertex3f(0, 0, 0);
            glColor4fv(beam_tip);
            glVertex3f(p[0] + o[0], p[1] + o[1], p[2] + o[2]);
        }
    glEnd();

    for (const auto &rim : disc_rims) {
        glBegin(GL_TRIANGLE_FAN);
            glColor4fv(spark_colour);
            glVertex3fv(p);
            glColor4fv(disc_rim);
            for (const float *u : rim)
                glVertex3f(p[0] + u[0] * radius, p[1] + u[1] * radius, p[2] + u[2] * radius);
        glEnd();
    }
}

// ---- helpers -------------------------------------------------------------------------------

// The band's 3-D view: the trails turning against each other, then both spark passes.
static void draw_band(void)
{
    glViewport(0, band_y, 640, band_height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45.0, 2.0, 1.0, 4600.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(700, 600, 800, 0, 0, 0, 0, 1, 0);

    // The trail lists pop what is pushed here.
    glPushMatrix();
    glRotatef(chan_x, 0, 1, 0);
    glCallList(list_orange_trail);
    glPushMatrix();
    glRotatef(chan_x, 0, -1, 0);
    glCallList(list_pink_trail);

    draw_spark_pass(0);
    draw_spark_pass(1);
}

// Pass 0 runs the rows from 0 up, streaming towards +z as chan_x grows; pass 1 is its mirror
// through the y axis and runs the rows back down, so the nearest sparks blend last in both.
static void draw_spark_pass(int pass)
{
    spark_colour[0] = pass_colour[pass][0];
    spark_colour[1] = pass_colour[pass][1];
    spark_colour[2] = pass_colour[pass][2];
    for (int n = 0; n < spark_rows; n++) {
        const int i = pass == 0 ? n : spark_rows - 1 - n;
        for (const auto &pair : mascot_sparks[i]) {
            if (pass == 0) {
                spark_position[0] = pair[0];
                spark_position[2] = -row_spacing * i + chan_x;
            } else {
                spark_position[0] = -pair[0];
                spark_position[2] = row_spacing * i - chan_x;
            }
            spark_position[1] = pair[1];
            Mascot_DrawSpark();
        }
    }
}

// Four black bars across the screen; the inner two fade towards the middle, where their
// alpha is middle_alpha. Ends with opaque black current.
static void bar_quads(float middle_alpha)
{
    glBegin(GL_QUADS);
        glColor4f(0, 0, 0, 1);
        glVertex2f(0, 0);
        glVertex2f(640, 0);
        glVertex2f(640, 80);
        glVertex2f(0, 80);

        glVertex2f(0, 82);
        glVertex2f(640, 82);
        glColor4f(0, 0, 0, middle_alpha);
        glVertex2f(640, 239);
        glVertex2f(0, 239);

        glVertex2f(0, 241);
        glVertex2f(640, 241);
        glColor4f(0, 0, 0, 1);
        glVertex2f(640, 398);
        glVertex2f(0, 398);

        glVertex2f(0, 400);
        glVertex2f(640, 400);
        glVertex2f(640, 480);
        glVertex2f(0, 480);
    glEnd();
}

// Twenty copies of the mascot, each a step further turned and a little denser, then the pop
// that matches the caller's push.
static void compile_trail(GLuint list, const float colour[3])
{
    glNewList(list, GL_COMPILE);
        float alpha = trail_alpha_first;
        for (const Mesh &frame : mascot_frames) {
            glColor4f(colour[0], colour[1], colour[2], alpha);
            glBegin(GL_TRIANGLES);
                for (size_t v = 0; v < size_t{mascot_frames[0].triangle_count} * 3; v++)
                    glVertex3fv(frame.triangles + 3 * v);
            glEnd();
            alpha *= trail_alpha_growth;
        }
        glPopMatrix();
    glEndList();
}
