// Scene module Helmet: the viewer sits inside a shell of 72 striped spikes that turns in depth
// fog; below, a dot text crosses a leaning wall, lit by beams from one light point.
#include "scenes/helmet/helmet.h"
#include "scenes/window_view.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <cmath>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "scenes/dot_font.h"
#include "timeline/timeline.h"

// ---- constants and tables ------------------------------------------------------------------

constexpr int ring_count = 18;
constexpr int tilt_count = 4;
constexpr int facet_count = 8;

// The base spike: its tip towards the viewer, an octagonal base 70 units further out.
constexpr float spike_tip[3] = {0, 0, -40};
constexpr float spike_base[facet_count][3] = {
    {0, 20, -110},         {14.14214f, 14.14214f, -110},   {20, 0, -110},
    {14.14214f, -14.14214f, -110}, {0, -20, -110},         {-14.14214f, -14.14214f, -110},
    {-20, 0, -110},        {-14.14214f, 14.14214f, -110},
};

// Ring 0 tilts the spike about y by 2π/7 + i·π/7; each further ring turns ring 0 by 20°
// about z. Both angles are accumulated in single precision.
constexpr float tilt_first = 0.8975979f;
constexpr float tilt_step = 0.4487989505f;
constexpr float ring_first = 0.34906584f;
constexpr float ring_step = 0.3490658504f;

constexpr float light[3] = {0, 100, 200};
constexpr float light_reach = 500;
constexpr float rim_colour[4] = {0.9f, 0.7f, 0.5f, 0.0f};
constexpr float beam_ends[4][3] = {{0, 20, 0}, {0, -20, 0}, {20, 0, 0}, {-20, 0, 0}};

// Stripe shades of the two passes over the shell.
constexpr float pass_one_shade[3] = {1.0f, 0.9f, 0.8f};
constexpr float pass_two_shade[3] = {0.8f, 0.7f, 0.6f};

constexpr float stripe_step = 0.0625f;   // a sixteenth of a spike's edge
constexpr int stripe_lines = 16;

constexpr int text_length = 142;
constexpr float char_pitch = 320;   // 8 columns of 40, no gap between characters
constexpr float dot_pitch = 40;

constexpr float wall_colour[4] = {0.3f, 0.1f, 0.2f, 1.0f};
constexpr float wall_lean = 42;

constexpr float fog_colour[4] = {0.2f, 0.1f, 0.1f, 0.1f};
constexpr int fog_slabs = 25;
constexpr float fog_first = -110;
constexpr float fog_step = 2.8f;

// Octagon of the glow disc, closed on its first point.
constexpr float glow_rim[9][2] = {
    {0, 20}, {15, 15}, {20, 0}, {15, -15}, {0, -20}, {-15, -15}, {-20, 0}, {-15, 15}, {0, 20},
};

enum : GLuint {
    list_view = 6,
    list_bars = 7,
    list_wall_camera = 8,
    list_fog = 9,
    list_wall = 24,
    list_glow = 25,
};

// ---- module state --------------------------------------------------------------------------

float helmet_dot[3];
float helmet_spikes[ring_count][tilt_count][facet_count][3][3];

static const signed char *helmet_text;

// Working colours, rewritten before every use: the dot's alpha per dot, the stripes per pass.
static float dot_colour[4] = {1.0f, 0.8f, 0.6f, 0.0f};
static float stripe_a[4];
static float stripe_b[4];

static void draw_shell(const float shade[3], float alpha_a, float alpha_b);
static void quad(float x0, float y0, float x1, float y1, float z);

// ---- loader --------------------------------------------------------------------------------

// Reads the scroller text, unpacks the dot font for this scene and the finale, and builds the
// 72 spikes of the shell. No GL: this runs on the loading thread.
void Helmet_Load(void)
{
    helmet_text = static_cast<const signed char *>(ZAF_ReadData("helmet"));
    // The scroller reads 142 bytes whatever the entry holds.
    if (ZAF_LastLength() < text_length)
        ZAF_Fatal("Helmet_Load: FATAL_ERROR: Text \"helmet\" is %u bytes, shorter than %d.\n",
                  ZAF_LastLength(), text_length);

    DotFont_Unpack();

    float a = tilt_first;
    for (int i = 0; i < tilt_count; i++) {
        const float c = std::cos(a), s = std::sin(a);
        for (int j = 0; j < facet_count; j++) {
            const float *corners[3] = {spike_tip, spike_base[j], spike_base[(j + 1) % facet_count]};
            for (int v = 0; v < 3; v++) {
                const float *p = corners[v];
                float *q = helmet_spikes[0][i][j][v];
                q[0] = p[0] * c + p[2] * s;
                q[1] = p[1];
                q[2] = p[2] * c - p[0] * s;
            }
        }
        a += tilt_step;
    }

    float b = ring_first;
    for (int k = 1; k < ring_count; k++) {
        const float c = std::cos(b), s = std::sin(b);
        for (int i = 0; i < tilt_count; i++)
            for (int j = 0; j < facet_count; j++)
                for (int v = 0; v < 3; v++) {
                    const float *p = helmet_spikes[0][i][j][v];
                    float *q = helmet_spikes[k][i][j][v];
                    q[0] = p[0] * c - p[1] * s;
                    q[1] = p[0] * s + p[1] * c;
                    q[2] = p[2];
                }
        b += ring_step;
    }
}

// ---- init ----------------------------------------------------------------------------------

// GL state of the render and its six lists. Texturing, lighting and culling are left off by
// the scenes before, and stay so.
void Helmet_Init(void)
{
    glClearColor(0, 0, 0, 0);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT, GL_FILL);
    glPolygonMode(GL_BACK, GL_FILL);
    glShadeModel(GL_SMOOTH);

    // The 520 x 480 picture between the bars, seen from the shell's centre.
    glNewList(list_view, GL_COMPILE);
        glViewport(80, 0, 520, 480);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(65.0, 1.0833, 1.0, 2000.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_DEPTH_TEST);
    glEndList();

    // Black bars, 80 pixels on the left and 40 on the right, in window coordinates.
    glNewList(list_bars, GL_COMPILE);
        View_Window();
        glColor4f(0, 0, 0, 1);
        glBegin(GL_QUADS);
            quad(0, 0, 80, 480, -0.5f);
            quad(600, 0, 640, 480, -0.5f);
        glEnd();
    glEndList();

    // The wall is seen from the left and above its middle; it is drawn over whatever lies
    // behind it.
    glNewList(list_wall_camera, GL_COMPILE);
        glLoadIdentity();
        gluLookAt(-650, 100, 400, -200, 100, 0, 0, 1, 0);
        glDisable(GL_DEPTH_TEST);
    glEndList();

    glNewList(list_wall, GL_COMPILE);
        glColor4fv(wall_colour);
        glBegin(GL_QUADS);
            glVertex3f(-500, 180, 0);
            glVertex3f(-500, -20, 0);
            glVertex3f(500, -20, 0);
            glVertex3f(500, 180, 0);
        glEnd();
    glEndList();

    // Faint slabs between the spikes' tips and bases: with the depth test on, the deeper a
    // spike's surface, the more slabs lie over it.
    glNewList(list_fog, GL_COMPILE);
        glColor4fv(fog_colour);
        glBegin(GL_QUADS);
            float z = fog_first;
            for (int n = 0; n < fog_slabs; n++) {
                glVertex3f(-500, -500, z);
                glVertex3f(500, -500, z);
                glVertex3f(500, 500, z);
                glVertex3f(-500, 500, z);
                z += fog_step;
            }
        glEnd();
    glEndList();

    // The centre keeps the caller's colour; the rim fades out.
    glNewList(list_glow, GL_COMPILE);
        glBegin(GL_TRIANGLE_FAN);
            glVertex3f(0, 0, 0);
            glColor4fv(rim_colour);
            for (const float *p : glow_rim)
                glVertex3f(p[0], p[1], 0);
        glEnd();
    glEndList();
}

// ---- renders -------------------------------------------------------------------------------

// Carried state: none. Every frame is computed from the channels alone; the dot, its colour and
// the stripe colours are rewritten before each use.

// Entry 28: the shell turns about the viewer in two passes whose stripes pulse in opacity, fog
// deepens it, and over the leaning wall the text glides left, lit where the light reaches.
void Helmet_Render(void)
{
    const float alpha_a = 0.5f + wave_b;
    const float alpha_b = 1 - alpha_a;

    glCallList(list_view);
    glPushMatrix();
    glPushMatrix();
    glRotatef(ramp_a, 0, 1, 0);
    glRotatef(ramp_b, 1, 0, 0);
    draw_shell(pass_one_shade, alpha_a, alpha_b);
    // The second pass turns further from where the first left off.
    glRotatef(ramp_a, 1, 0, 0);
    glRotatef(ramp_b, 0, 0, 1);
    draw_shell(pass_two_shade, alpha_a, alpha_b);
    glPopMatrix();
    glPopMatrix();

    glCallList(list_fog);

    glCallList(list_wall_camera);
    glRotatef(wave_a + wall_lean, -1, 0, 0);
    glCallList(list_wall);

    const float x0 = chan_x;
    for (int n = 0; n < text_length; n++) {
        const signed char ch = helmet_text[n];
        for (int r = 0; r < dot_font_rows; r++)
            for (int k = 0; k < dot_font_columns; k++) {
                if (DotFont_Cell(ch, r, k) != 1)
                    continue;
                helmet_dot[0] = x0 + char_pitch * float(n) + dot_pitch * float(k);
                helmet_dot[1] = dot_pitch * float(r);
                helmet_dot[2] = 0;
                Helmet_DrawDot();
            }
    }

    // Leaves the projection orthographic; the next frame's view list restores it.
    glCallList(list_bars);
}

// 16 bands from the tip to the base, the colours alternating at every cross-line.
void Helmet_DrawStripedTriangle(const float *p0, const float *p1, const float *p2)
{
    const float d1[3] = {(p1[0] - p0[0]) * stripe_step, (p1[1] - p0[1]) * stripe_step,
                         (p1[2] - p0[2]) * stripe_step};
    const float d2[3] = {(p2[0] - p0[0]) * stripe_step, (p2[1] - p0[1]) * stripe_step,
                         (p2[2] - p0[2]) * stripe_step};
    float e1[3] = {p0[0], p0[1], p0[2]};
    float e2[3] = {p0[0], p0[1], p0[2]};
    // Inner cross-lines are sent twice, ending one quad and starting the next: the quads
    // between the copies have no area.
    glBegin(GL_QUAD_STRIP);
        for (int m = 0; m <= stripe_lines; m++) {
            const int copies = m == 0 || m == stripe_lines ? 1 : 2;
            for (int c = 0; c < copies; c++) {
                glColor4fv(m % 2 == 0 ? stripe_a : stripe_b);
                glVertex3fv(e1);
                glVertex3fv(e2);
            }
            for (int i = 0; i < 3; i++) {
                e1[i] += d1[i];
                e2[i] += d2[i];
            }
        }
    glEnd();
}

// A disc at the dot and four beams that are clear at the dot and reach its brightness at the
// light; nothing at all beyond the light's reach.
void Helmet_DrawDot(void)
{
    const float dx = light[0] - helmet_dot[0];
    const float dy = light[1] - helmet_dot[1];
    const float dz = light[2] - helmet_dot[2];
    const float brightness = 1 - std::sqrt(dx * dx + dy * dy + dz * dz) / light_reach;
    if (brightness < 0)
        return;
    dot_colour[3] = brightness;

    glPushMatrix();
    glTranslatef(helmet_dot[0], helmet_dot[1], helmet_dot[2]);
    glColor4fv(dot_colour);
    glCallList(list_glow);
    glPopMatrix();

    glBegin(GL_TRIANGLES);
        for (const float *e : beam_ends) {
            glColor4fv(rim_colour);
            glVertex3fv(helmet_dot);
            glColor4fv(dot_colour);
            glVertex3fv(light);
            glColor4fv(rim_colour);
            glVertex3f(helmet_dot[0] + e[0], helmet_dot[1] + e[1], helmet_dot[2] + e[2]);
        }
    glEnd();
}

// ---- helpers -------------------------------------------------------------------------------

// All 576 spike facets, rings outermost, in stripe colours of one shade and the two alphas.
static void draw_shell(const float shade[3], float alpha_a, float alpha_b)
{
    for (int i = 0; i < 3; i++)
        stripe_a[i] = stripe_b[i] = shade[i];
    stripe_a[3] = alpha_a;
    stripe_b[3] = alpha_b;
    for (auto &ring : helmet_spikes)
        for (auto &tilt : ring)
            for (auto &facet : tilt)
                Helmet_DrawStripedTriangle(facet[0], facet[1], facet[2]);
}

// A rectangle's four corners, counter-clockwise from the lower left, inside a GL_QUADS batch.
static void quad(float x0, float y0, float x1, float y1, float z)
{
    glVertex3f(x0, y0, z);
    glVertex3f(x1, y0, z);
    glVertex3f(x1, y1, z);
    glVertex3f(x0, y1, z);
}
