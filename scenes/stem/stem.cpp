// Scene module Stem: a ribbed bulb with the "lodyga" stem growing from it turns in a square
// window between black bars, ringed by bands of faint glowing discs, seen through haze panes.
#include "scenes/stem/stem.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <cmath>
#include <cstdlib>

#include "assets/decoders.h"
#include "timeline/timeline.h"

// ---- constants and tables ------------------------------------------------------------------

constexpr int profile_points = 12;
constexpr int rib_count = 3;
constexpr int segment_count = 30;
constexpr int segment_points = rib_count * profile_points;

// Half a rib's outline in the plane x = 0: height y, distance z from the vertical axis.
constexpr float bulb_profile[profile_points][3] = {
    {0, 55, 0},    {0, 60, 40},   {0, 55, 75},   {0, 40, 105},  {0, 35, 110},  {0, 17, 120},
    {0, -17, 120}, {0, -35, 110}, {0, -40, 105}, {0, -55, 75},  {0, -60, 40},  {0, -55, 0},
};

// Cosine and sine of 12 degrees: the outer ribs' turn either side of the middle one.
constexpr double rib_cos = 0.9781476;
constexpr double rib_sin = 0.20791169;

// Turn from one segment to the next, a little over 24 degrees.
constexpr double segment_step = 0.41997902;

constexpr int clusters = 64;
constexpr int discs_per_cluster = 4;
constexpr int disc_points = 9;
constexpr int set_points = clusters * discs_per_cluster * disc_points;
constexpr int disc_set_count = 10;

// Octagons in the plane z = 0: the centre, then the rim clockwise from the top.
constexpr float disc_small[disc_points][3] = {
    {0, 0, 0},
    {0, 5, 0},  {3.535535f, 3.535535f, 0},   {5, 0, 0},  {3.535535f, -3.535535f, 0},
    {0, -5, 0}, {-3.535535f, -3.535535f, 0}, {-5, 0, 0}, {-3.535535f, 3.535535f, 0},
};
constexpr float disc_large[disc_points][3] = {
    {0, 0, 0},
    {0, 7, 0},  {4.949749f, 4.949749f, 0},   {7, 0, 0},  {4.949749f, -4.949749f, 0},
    {0, -7, 0}, {-4.949749f, -4.949749f, 0}, {-7, 0, 0}, {-4.949749f, 4.949749f, 0},
};

// Every band starts from x = -5 and winds its 64 clusters five times round (5 pi / 32 each).
constexpr int scatter_tx = -5;
constexpr float scatter_step = 0.4908738f;
constexpr int scatter_range_x = 10;
constexpr int scatter_range_z = 10;

// One band of discs on the bulb's surface, anchored at a profile point (ty, tz) and tilted
// about x to lie along the surface there; scattered in this order, small and large alternating.
struct DiscBand {
    const float (*shape)[3];
    int ty, tz;
    float tilt;
    int range_y;
};
constexpr DiscBand disc_bands[disc_set_count] = {
    {disc_small, -17, 120, 0, 17},     {disc_large, -17, 120, 0, 17},
    {disc_small, 17, 120, -0.5f, 15},  {disc_large, 17, 120, -0.5f, 15},
    {disc_small, 35, 110, -0.95f, 20}, {disc_large, 35, 110, -0.95f, 20},
    {disc_small, 40, 105, -1.1f, 30},  {disc_large, 40, 105, -1.1f, 30},
    {disc_small, -35, 110, 0.5f, 12},  {disc_large, -35, 110, 0.5f, 12},
};

constexpr float bulb_edge_colour[4] = {0.4f, 0.2f, 0.2f, 1};
constexpr float bulb_mid_colour[4] = {0.7f, 0.5f, 0.3f, 1};
constexpr float mesh_colour[4] = {0.7f, 0.4f, 0.3f, 0.8f};
constexpr float haze_colour[4] = {0.7f, 0.6f, 0.5f, 0.2f};

// A disc glows in its centre colour and fades out to its clear rim.
struct DiscColours {
    float centre[4];
    float rim[4];
};
constexpr DiscColours disc_colours_light = {{1, 0.9f, 0.8f, 0.2f}, {0.6f, 0.5f, 0.4f, 0}};
constexpr DiscColours disc_colours_amber = {{1, 0.7f, 0.5f, 0.3f}, {0.6f, 0.3f, 0.1f, 0}};

// x 0...640 and y 0...480 onto the window; 0.004167 is not quite 1/240, so the top row of
// screen units reaches a hair past the window's edge.
constexpr float screen_ortho_matrix[16] = {
    0.003125f, 0, 0, 0, 0, 0.004167f, 0, 0, 0, 0, -1, 0, -1, -1, 0, 1,
};

enum : GLuint {
    list_bars = 2,
    list_curtain = 3,
    list_haze = 4,
    list_mesh = 5,
    list_frame = 7,
    list_bulb = 8,
    list_first_disc_set = 10,   // set s in list 10 + s: light sets even, amber sets odd
};

// ---- module state --------------------------------------------------------------------------

static Mesh *stem_mesh;
static float bulb_ribs[rib_count][profile_points][3];
static float bulb_rings[segment_count][segment_points][3];
static float disc_sets[disc_set_count][set_points][3];

// Helpers, defined at the end of the file.
static void Stem_ScatterDiscs(const float (*shape)[3], float (*out)[3], int tx, int ty, int tz,
                              float step, float tilt, int range_x, int range_y, int range_z);
static void Stem_BuildDiscList(GLuint list, const float (*set)[3], const DiscColours &colours);
static void turn_about_y(float p[3], float c, float s);
static void screen_setup(void);
static void draw_world(bool grow);

// ---- loader --------------------------------------------------------------------------------

// Runs on the loading thread: no GL. The mesh decoder has already checked that the payload
// holds every triangle its header counts, and the scene reads no more than those.
void Stem_Load(void)
{
    stem_mesh = ZAF_ReadASE("lodyga");

    for (int j = 0; j < profile_points; j++) {
        const float *p = bulb_profile[j];
        float *r0 = bulb_ribs[0][j], *r1 = bulb_ribs[1][j], *r2 = bulb_ribs[2][j];
        r0[0] = float(p[0] * rib_cos + p[2] * rib_sin);
        r0[1] = p[1];
        r0[2] = float(p[2] * rib_cos - p[0] * rib_sin);
        r1[0] = p[0];
        r1[1] = p[1];
        r1[2] = p[2];
        r2[0] = float(p[0] * rib_cos - p[2] * rib_sin);
        r2[1] = p[1];
        r2[2] = float(p[2] * rib_cos + p[0] * rib_sin);
    }

    float a = 0;
    for (int i = 0; i < segment_count; i++) {
        const float c = std::cos(a), s = std::sin(a);
        for (int r = 0; r < rib_count; r++) {
            for (int j = 0; j < profile_points; j++) {
                float *q = bulb_rings[i][profile_points * r + j];
                q[0] = bulb_ribs[r][j][0];
                q[1] = bulb_ribs[r][j][1];
                q[2] = bulb_ribs[r][j][2];
                turn_about_y(q, c, s);
            }
        }
        a = float(a + segment_step);
    }

    for (int s = 0; s < disc_set_count; s++) {
        const DiscBand &b = disc_bands[s];
        Stem_ScatterDiscs(b.shape, disc_sets[s], scatter_tx, b.ty, b.tz, scatter_step, b.tilt,
                          scatter_range_x, b.range_y, scatter_range_z);
    }
}

// The loader's results, for checks of their shape.
const float (*Stem_RingSegment(int i))[3]
{
    return bulb_rings[i];
}

const float (*Stem_DiscSet(int s))[3]
{
    return disc_sets[s];
}

// ---- init ----------------------------------------------------------------------------------

// GL state of the scene and its lists: bars, curtain, resting frame, bulb, mesh, haze, discs.
void Stem_Init(void)
{
    glClearColor(0.9f, 0.8f, 0.7f, 0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT, GL_FILL);
    glPolygonMode(GL_BACK, GL_FILL);
    glShadeModel(GL_SMOOTH);

    glNewList(list_bars, GL_COMPILE);
        screen_setup();
        glColor4f(0, 0, 0, 1);
        glBegin(GL_QUADS);
            glVertex3f(0, 0, 0);
            glVertex3f(80, 0, 0);
            glVertex3f(80, 480, 0);
            glVertex3f(0, 480, 0);
            glVertex3f(560, 0, 0);
            glVertex3f(640, 0, 0);
            glVertex3f(640, 480, 0);
            glVertex3f(560, 480, 0);
        glEnd();
    glEndList();

    // Opaque below y 0 and above 480, fading to clear towards a 2-unit gap at the middle:
    // sliding it by the screen's height covers the screen or uncovers it.
    glNewList(list_curtain, GL_COMPILE);
        glBegin(GL_QUADS);
            glColor4f(0, 0, 0, 1);
            glVertex3f(560, -480, 0);
            glVertex3f(0, -480, 0);
            glVertex3f(0, 0, 0);
            glVertex3f(560, 0, 0);

            glVertex3f(0, 0, 0);
            glVertex3f(560, 0, 0);
            glColor4f(0, 0, 0, 0);
            glVertex3f(560, 239, 0);
            glVertex3f(0, 239, 0);

            glColor4f(0, 0, 0, 0);
            glVertex3f(0, 241, 0);
            glVertex3f(560, 241, 0);
            glColor4f(0, 0, 0, 1);
            glVertex3f(560, 480, 0);
            glVertex3f(0, 480, 0);

            glVertex3f(560, 480, 0);
            glVertex3f(0, 480, 0);
            glVertex3f(0, 960, 0);
            glVertex3f(560, 960, 0);
        glEnd();
    glEndList();

    // The bars and the curtain's two fades at rest, over the whole screen whatever viewport
    // the 3-D view used.
    glNewList(list_frame, GL_COMPILE);
        screen_setup();
        glBegin(GL_QUADS);
            glColor4f(0, 0, 0, 1);
            glVertex3f(0, 0, 0);
            glVertex3f(80, 0, 0);
            glVertex3f(80, 480, 0);
            glVertex3f(0, 480, 0);

            glColor4f(0, 0, 0, 1);
            glVertex3f(0, 0, 0);
            glVertex3f(560, 0, 0);
            glColor4f(0, 0, 0, 0);
            glVertex3f(560, 239, 0);
            glVertex3f(0, 239, 0);

            glColor4f(0, 0, 0, 0);
            glVertex3f(0, 241, 0);
            glVertex3f(560, 241, 0);
            glColor4f(0, 0, 0, 1);
            glVertex3f(560, 480, 0);
            glVertex3f(0, 480, 0);

            glVertex3f(560, 0, 0);
            glVertex3f(640, 0, 0);
            glVertex3f(640, 480, 0);
            glVertex3f(560, 480, 0);
        glEnd();
    glEndList();

    // Each segment is a rib lit along its middle and dark along both edges.
    glNewList(list_bulb, GL_COMPILE);
        for (const auto &segment : bulb_rings) {
            glBegin(GL_QUAD_STRIP);
                for (int j = 0; j < profile_points; j++) {
                    glColor4fv(bulb_edge_colour);
                    glVertex3fv(segment[j]);
                    glColor4fv(bulb_mid_colour);
                    glVertex3fv(segment[profile_points + j]);
                }
            glEnd();
            glBegin(GL_QUAD_STRIP);
                for (int j = 0; j < profile_points; j++) {
                    glColor4fv(bulb_mid_colour);
                    glVertex3fv(segment[profile_points + j]);
                    glColor4fv(bulb_edge_colour);
                    glVertex3fv(segment[2 * profile_points + j]);
                }
            glEnd();
        }
    glEndList();

    // The stem as the archive gives it, a batch per triangle, one flat translucent colour.
    glNewList(list_mesh, GL_COMPILE);
        glColor4fv(mesh_colour);
        for (uint32_t t = 0; t < stem_mesh->triangle_count; t++) {
            const float *v = stem_mesh->triangles + 9 * size_t(t);
            glBegin(GL_TRIANGLES);
                glVertex3fv(v);
                glVertex3fv(v + 3);
                glVertex3fv(v + 6);
            glEnd();
        }
    glEndList();

    // Eight faint panes stacked from the bulb's middle towards the eye.
    glNewList(list_haze, GL_COMPILE);
        glColor4fv(haze_colour);
        glBegin(GL_QUADS);
            for (int z = 0; z <= 140; z += 20) {
                glVertex3f(-220, -220, z);
                glVertex3f(220, -220, z);
                glVertex3f(220, 220, z);
                glVertex3f(-220, 220, z);
            }
        glEnd();
    glEndList();

    for (int s = 0; s < disc_set_count; s++)
        Stem_BuildDiscList(list_first_disc_set + s, disc_sets[s],
                           s % 2 == 0 ? disc_colours_light : disc_colours_amber);
}

// ---- renders -------------------------------------------------------------------------------

// The renders carry nothing from one frame to the next: each frame follows from chan_x,
// chan_y and chan_z alone.

// Entries 21 and 27: the black curtain, chan_x screen units up, over the bare clear colour.
void Stem_RenderSlide(void)
{
    glCallList(list_bars);
    glTranslatef(0, chan_x, 0);
    glCallList(list_curtain);
}

// Entries 22 and 26: the scene through a band chan_z pixels high from y = chan_y.
void Stem_RenderOpen(void)
{
    glViewport(80, int(chan_y), 480, int(chan_z));
    draw_world(false);
}

// Entries 23 to 25: the scene in the full square, the light discs scaled by chan_y and the
// amber ones by chan_z.
void Stem_RenderGrow(void)
{
    glViewport(80, 0, 480, 480);
    draw_world(true);
}

// ---- helpers -------------------------------------------------------------------------------

// Fills one disc set: 64 clusters of four discs, each disc the shape moved by a random whole
// (ox, oy, oz) offset, the cluster tilted about x, moved to the anchor, then turned about y a
// step further than the cluster before. Draws exactly three rand() values per disc.
static void Stem_ScatterDiscs(const float (*shape)[3], float (*out)[3], int tx, int ty, int tz,
                              float step, float tilt, int range_x, int range_y, int range_z)
{
    const float ct = std::cos(tilt), st = std::sin(tilt);
    float angle = 0;
    for (int k = 0; k < clusters; k++) {
        float (*cluster)[3] = out;
        for (int d = 0; d < discs_per_cluster; d++) {
            const int ox = rand() % range_x;
            const int oy = 2 * (rand() % range_y);
            const float oz = float(rand() % range_z) / 10;
            for (int i = 0; i < disc_points; i++) {
                out[i][0] = shape[i][0] + ox;
                out[i][1] = shape[i][1] + oy;
                out[i][2] = shape[i][2] + oz;
            }
            out += disc_points;
        }
        const float ca = std::cos(angle), sa = std::sin(angle);
        for (float (*p)[3] = cluster; p != out; p++) {
            const float y = (*p)[1], z = (*p)[2];
            (*p)[1] = y * ct - z * st + ty;
            (*p)[2] = y * st + z * ct + tz;
            (*p)[0] += tx;
            turn_about_y(*p, ca, sa);
        }
        angle += step;
    }
}

// Each disc a fan from its centre colour to its clear rim, closed on its first rim point.
static void Stem_BuildDiscList(GLuint list, const float (*set)[3], const DiscColours &colours)
{
    glNewList(list, GL_COMPILE);
        for (int d = 0; d < clusters * discs_per_cluster; d++, set += disc_points) {
            glBegin(GL_TRIANGLE_FAN);
                glColor4fv(colours.centre);
                glVertex3fv(set[0]);
                glColor4fv(colours.rim);
                for (int i = 1; i < disc_points; i++)
                    glVertex3fv(set[i]);
                glVertex3fv(set[1]);
            glEnd();
        }
    glEndList();
}

// Turns p about the y axis by the angle whose cosine and sine are c and s.
static void turn_about_y(float p[3], float c, float s)
{
    const float x = p[0], z = p[2];
    p[0] = x * c + z * s;
    p[2] = z * c - x * s;
}

// The whole window in screen units, for the bars, curtain and fades.
static void screen_setup(void)
{
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(screen_ortho_matrix);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// The bulb and mesh turned by chan_x, the light discs by a further half turn and the amber
// ones back by 1.2 of it (net 1.5 and 0.3 chan_x), each group scaled about the origin when
// growing; then the unturned haze and the bars and fades over the whole window.
static void draw_world(bool grow)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45, 1, 1, 2000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(200, 200, 400, 0, 0, 0, 0, 1, 0);

    glPushMatrix();
    glRotatef(chan_x, 0, 1, 0);
    glCallList(list_bulb);
    glCallList(list_mesh);
    glRotatef(0.5f * chan_x, 0, 1, 0);

    glPushMatrix();
    if (grow)
        glScalef(chan_y, chan_y, chan_y);
    for (int s = 0; s < disc_set_count; s += 2)
        glCallList(list_first_disc_set + s);
    glPopMatrix();

    glPushMatrix();
    glRotatef(-1.2f * chan_x, 0, 1, 0);
    if (grow)
        glScalef(chan_z, chan_z, chan_z);
    for (int s = 1; s < disc_set_count; s += 2)
        glCallList(list_first_disc_set + s);
    glPopMatrix();
    glPopMatrix();

    glCallList(list_haze);
    glCallList(list_frame);
}
