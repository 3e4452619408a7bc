// Scene module Lathe: over a flat painted backdrop, a half column turned on a lathe swells in
// waves, its cells glowing and raying out, with four parallax layers of soft sprites and a haze.
#include "scenes/lathe/lathe.h"
#include "scenes/window_view.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <cmath>
#include <cstdlib>

#include "assets/decoders.h"
#include "timeline/timeline.h"

// ---- constants and tables ------------------------------------------------------------------

constexpr int ring_count = 30;
constexpr int ring_points = 16;
constexpr int mid_count = 29;
constexpr int mid_points = 15;

// Swell factors: 0.8 + 0.7 sin a, a rising by 0.26 an entry; about 24.17 entries a period.
constexpr int wave_count = 83;
constexpr float wave_base = 0.8f;
constexpr float wave_depth = 0.7f;
constexpr float wave_step = 0.26f;

// The profiles turned about the y axis: the column's surface and the shell its rays reach.
constexpr LatheVertex inner_profile = {-20, -60, 0};
constexpr LatheVertex outer_profile = {-100, -62, 0};
constexpr float outer_stretch = 2.6f;

// A sixteenth of a half turn; the cell middles start half a step in.
constexpr float ring_angle_step = 0.1963495408f;
constexpr float mid_angle_start = 0.09817477f;

// Each ring's rise above ring 0; rings 0 and 1 coincide.
constexpr float ring_offset(int r)
{
    return r < 2 ? 0.0f : 4.0f * (r - 1);
}
constexpr float mid_offset(int r)
{
    return r < 1 ? 0.0f : 4.0f * r - 2;
}

// A cell's middle glows with its width: g = (middle's live x) / this.
constexpr float glow_divisor = -29.3f;
constexpr float glow_colour[3] = {1.2f, 0.9f, 0.75f};
constexpr float cell_rim_colour[4] = {0.5f, 0.3f, 0.15f, 0.5f};

// Rays from a cell's middle to the shell: alpha (middle's live x) / this at the middle.
constexpr float ray_divisor = -200.0f;
constexpr float ray_colour[3] = {1.0f, 0.9f, 0.85f};
constexpr float ray_far_alpha = 0.01f;

// The sprite outline, counter-clockwise from the top, symmetric about the y axis.
constexpr int outline_points = 10;
constexpr float sprite_outline[outline_points][2] = {
    {0, 3.92f},     {-2.45f, 5.88f}, {-4.9f, 2.94f}, {-5.39f, -0.98f}, {-2.94f, -2.45f},
    {0, -6.86f},    {2.94f, -2.45f}, {5.39f, -0.98f}, {4.9f, 2.94f},   {2.45f, 5.88f},
};
constexpr float halo_growth = 1.3f;

// One sprite size: its scale and depth, its body and halo lists, the body's vertex factors
// b0 ... b9, its centre factor and its alpha factor.
struct SpriteSize {
    float scale, z;
    GLuint body_list, halo_list;
    float rim[outline_points];
    float centre, alpha;
};
constexpr SpriteSize sprite_sizes[4] = {
    {1.0f, 3, 10, 20, {0.5f, 0.6f, 0.7f, 0.8f, 0.8f, 0.8f, 0.7f, 0.6f, 0.5f, 0.4f}, 0.2f, 0.8f},
    {0.9f, 2, 11, 21, {0.6f, 0.7f, 0.8f, 0.9f, 0.9f, 0.8f, 0.7f, 0.6f, 0.6f, 0.5f}, 0.3f, 0.8f},
    {0.7f, 1, 12, 22, {0.7f, 0.8f, 0.9f, 1.0f, 1.0f, 0.9f, 0.8f, 0.7f, 0.6f, 0.5f}, 0.9f, 0.6f},
    {0.5f, 0, 13, 23, {0.8f, 0.9f, 1.0f, 1.0f, 1.0f, 1.0f, 0.9f, 0.8f, 0.7f, 0.7f}, 1.0f, 0.6f},
};
constexpr float body_fan_colour[3] = {0.9f, 0.55f, 0.4f};
constexpr float body_rim_alpha = 0.9f;
constexpr float body_edge_colour[3] = {1.0f, 0.65f, 0.5f};
constexpr float body_edge_alpha = 0.5f;
constexpr float halo_colour[3] = {1.0f, 0.8f, 0.75f};
constexpr int halo_ring = 5;   // the mid-cell ring whose width sets the halo alphas

// The layers back to front: drift per unit of chan_x, depth, sprite size (index into
// sprite_sizes) and the divisor of the halo alpha. Layer 1 is the smallest and farthest.
struct SpriteLayer {
    float drift, z;
    int size;
    float halo_divisor;
};
constexpr int layer_count = 4;
constexpr SpriteLayer sprite_layers[layer_count] = {
    {1.0f, 0, 3, -40},
    {1.2f, 10, 2, -50},
    {-1.4f, 20, 1, -100},
    {-1.6f, 30, 0, -110},
};
constexpr int layer_sprites = 32;

// Sprite layout: 8 rows of 4 sprites per layer, x from 60 to 160, each row 24 above the last.
constexpr float sprite_base_y = -96;
constexpr float sprite_row_rise = 24;

// The haze over the band: alphas from the live x of two cell middles, darker at the edges.
constexpr float haze_edge_colour[3] = {0.2f, 0.1f, 0.0f};
constexpr float haze_middle_colour[3] = {0.3f, 0.2f, 0.0f};
constexpr int haze_edge_ring = 15;
constexpr float haze_edge_divisor = -50.0f;
constexpr int haze_middle_ring = 10;
constexpr float haze_middle_divisor = -60.0f;

enum : GLuint {
    list_backdrop = 2,
    list_band = 3,
    list_overlay_view = 7,
    list_creature = 8,
    list_backdrop_picture = 9,
};

// ---- module state --------------------------------------------------------------------------

static Picture *lathe_picture_a;   // "brzydalek", the creature
static Picture *lathe_picture_b;   // "fel", the backdrop behind it

static float lathe_wave[wave_count];

static LatheVertex ring_inner[ring_count][ring_points];
static LatheVertex ring_outer[ring_count][ring_points];
static LatheVertex mid_inner[mid_count][mid_points];
static LatheVertex mid_outer[mid_count][mid_points];

// Live copies: y fixed by the loader, x and z rewritten by every render.
static LatheVertex live_inner[ring_count][ring_points];
static LatheVertex live_outer[ring_count][ring_points];
static LatheVertex live_mid_inner[mid_count][mid_points];
static LatheVertex live_mid_outer[mid_count][mid_points];

// Per sprite size, in the order of sprite_sizes: body outline and halo outline.
static LatheVertex sprite_body[4][outline_points];
static LatheVertex sprite_halo[4][outline_points];

// Per layer, back to front: the sprites' (x, y).
static float sprite_places[layer_count][layer_sprites][2];

// Helpers, defined at the end of the file.
static void build_rings(void);
static void place_sprites(void);
static void compile_backdrop(void);
static void compile_band(void);
static void compile_overlay_view(void);
static void compile_body(int size);
static void compile_halo(int size);
template <int N>
static void swell_rings(const LatheVertex (*base)[N], LatheVertex (*live)[N], int rings,
                        int first, const LatheVertex (*shell)[N], LatheVertex (*live_shell)[N]);
static void draw_cells(void);
static void draw_rays(void);
static void draw_sprites(void);
static void draw_haze(void);

// ---- loader --------------------------------------------------------------------------------

// Reads the two pictures and builds everything the render reads. The pictures are only ever
// read through their own lists, which stay within what the decoder allocated, so any size is
// safe; a picture other than the built ones is merely placed differently.
void Lathe_Load(void)
{
    lathe_picture_a = ZAF_ReadPicture("brzydalek");
    lathe_picture_b = ZAF_ReadPicture("fel");

    build_rings();

    float a = 0.0f;
    for (float &f : lathe_wave) {
        f = wave_base + wave_depth * std::sin(a);
        a += wave_step;
    }

    for (int i = 0; i < 4; i++) {
        const SpriteSize &size = sprite_sizes[i];
        const float grown = halo_growth * size.scale;
        for (int k = 0; k < outline_points; k++) {
            const float *o = sprite_outline[k];
            sprite_body[i][k] = {size.scale * o[0], size.scale * o[1], size.z};
            sprite_halo[i][k] = {grown * o[0], grown * o[1], size.z};
        }
    }

    place_sprites();
}

// ---- init ----------------------------------------------------------------------------------

// GL state of the scene and its lists: backdrop, band camera, the two pictures, the overlay
// view, the sprite bodies and their halos.
void Lathe_Init(void)
{
    glClearColor(0, 0, 0, 0);
    glShadeModel(GL_SMOOTH);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    // Back faces go: the column shows only its front half, and the rays only the quads that
    // face the viewer. Said outright rather than trusted to earlier scenes.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);

    Picture_SetTextureState();

    compile_backdrop();
    compile_band();
    Picture_BuildList(list_creature, lathe_picture_a);
    Picture_BuildList(list_backdrop_picture, lathe_picture_b);
    compile_overlay_view();
    for (int i = 0; i < 4; i++)
        compile_body(i);
    for (int i = 0; i < 4; i++)
        compile_halo(i);
}

// ---- renders -------------------------------------------------------------------------------

// Carried from frame to frame: nothing of the module's own, the live rings are rewritten whole
// from ramp_a. The one GL state that crosses frames is the depth test, left off by each render:
// the backdrop of every frame but the first draws without it, so the creature covers the
// backdrop; on the first frame the init's depth test keeps the creature out.

// The backdrop; the column swelling in waves, its cells glowing from the middle and raying
// out to the shell; the sprite layers drifting with chan_x; the haze breathing over the band.
void Lathe_Render(void)
{
    glCallList(list_backdrop);
    glCallList(list_band);

    // The scene script keeps ramp_a within 0 ... 24: indices at most 24 + 58 and 25 + 56.
    const int i0 = static_cast<int>(ramp_a);
    const int i1 = static_cast<int>(ramp_a + 1);
    swell_rings<ring_points>(ring_inner, live_inner, ring_count, i0, ring_outer, live_outer);
    swell_rings<mid_points>(mid_inner, live_mid_inner, mid_count, i1, mid_outer,
                            live_mid_outer);

    glEnable(GL_DEPTH_TEST);
    draw_cells();
    glDisable(GL_DEPTH_TEST);
    draw_rays();
    draw_sprites();
    draw_haze();
}

LatheView Lathe_View(void)
{
    LatheView view = {ring_inner, ring_outer,     mid_inner,  mid_outer,
                      live_inner, live_mid_inner, lathe_wave, sprite_places, {}};
    for (int i = 0; i < layer_count; i++)
        view.layer_z[i] = sprite_layers[i].z;
    return view;
}

// ---- helpers -------------------------------------------------------------------------------

// Point p of a profile turned about the y axis by t; x < 0 puts it on the +z half.
static LatheVertex turned(const LatheVertex &p, float t)
{
    return {p.x * std::cos(t), p.y, -p.x * std::sin(t)};
}

// Ring 0 of each array by angle, the other rings as copies of it raised by their offsets,
// then the shell stretched upwards; the live copies start as the rings themselves.
static void build_rings(void)
{
    float t = 0.0f;
    for (int k = 0; k < ring_points; k++) {
        ring_inner[0][k] = turned(inner_profile, t);
        ring_outer[0][k] = turned(outer_profile, t);
        t += ring_angle_step;
    }
    t = mid_angle_start;
    for (int k = 0; k < mid_points; k++) {
        mid_inner[0][k] = turned(inner_profile, t);
        mid_outer[0][k] = turned(outer_profile, t);
        t += ring_angle_step;
    }

    for (int r = 1; r < ring_count; r++) {
        for (int k = 0; k < ring_points; k++) {
            ring_inner[r][k] = ring_inner[0][k];
            ring_inner[r][k].y += ring_offset(r);
            ring_outer[r][k] = ring_outer[0][k];
            ring_outer[r][k].y += ring_offset(r);
        }
    }
    for (int r = 1; r < mid_count; r++) {
        for (int k = 0; k < mid_points; k++) {
            mid_inner[r][k] = mid_inner[0][k];
            mid_inner[r][k].y += mid_offset(r);
            mid_outer[r][k] = mid_outer[0][k];
            mid_outer[r][k].y += mid_offset(r);
        }
    }

    for (auto &ring : ring_outer)
        for (LatheVertex &p : ring)
            p.y *= outer_stretch;
    for (auto &ring : mid_outer)
        for (LatheVertex &p : ring)
            p.y *= outer_stretch;

    for (int r = 0; r < ring_count; r++) {
        for (int k = 0; k < ring_points; k++) {
            live_inner[r][k] = ring_inner[r][k];
            live_outer[r][k] = ring_outer[r][k];
        }
    }
    for (int r = 0; r < mid_count; r++) {
        for (int k = 0; k < mid_points; k++) {
            live_mid_inner[r][k] = mid_inner[r][k];
            live_mid_outer[r][k] = mid_outer[r][k];
        }
    }
}

// 256 draws of rand(): per row of four, 16 x values for the front layer's four sprites, then
// the next layer's back to the farthest, then 16 y values in the same order.
static void place_sprites(void)
{
    float base = sprite_base_y;
    for (int m = 0; m < 8; m++) {
        const int i = 4 * m;
        for (int layer = layer_count - 1; layer >= 0; layer--)
            for (int j = 0; j < 4; j++)
                sprite_places[layer][i + j][0] = float((rand() % 11) * 10 + 60);
        for (int layer = layer_count - 1; layer >= 0; layer--)
            for (int j = 0; j < 4; j++)
                sprite_places[layer][i + j][1] = base + float((rand() % 6) * 4);
        base += sprite_row_rise;
    }
}

// The whole window in pixels: "fel" from (0, 24), the creature over it at (192, 80), colours
// as the pictures hold them; then a clean depth buffer for the band.
static void compile_backdrop(void)
{
    glNewList(list_backdrop, GL_COMPILE);
        View_Window();
        glEnable(GL_TEXTURE_2D);
        glColor4f(0, 0, 0, 1);
        glTranslatef(0, 24, 0);
        glCallList(list_backdrop_picture);
        glTranslatef(192, 56, 0);
        glCallList(list_creature);
        glDisable(GL_TEXTURE_2D);
        glClear(GL_DEPTH_BUFFER_BIT);
    glEndList();
}

// The 3-D band across the middle of the window and the camera on the column.
static void compile_band(void)
{
    glNewList(list_band, GL_COMPILE);
        glViewport(0, 80, 640, 320);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(30.0, 2.0, 1.0, 420.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClear(GL_DEPTH_BUFFER_BIT);
        glTranslatef(-70, -2, -220);
    glEndList();
}

// The band in pixels, for the haze; the viewport stays the band's.
static void compile_overlay_view(void)
{
    glNewList(list_overlay_view, GL_COMPILE);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, 640, 0, 320, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    glEndList();
}

// A sprite body: a fan dark or bright at its centre by size, then a soft edge out to the
// halo outline, fading to nothing.
static void compile_body(int size)
{
    const SpriteSize &s = sprite_sizes[size];
    const LatheVertex *in = sprite_body[size];
    const LatheVertex *out = sprite_halo[size];
    const float *c = body_fan_colour;
    const float *e = body_edge_colour;
    glNewList(s.body_list, GL_COMPILE);
        glBegin(GL_TRIANGLE_FAN);
            glColor4f(c[0] * s.centre, c[1] * s.centre, c[2] * s.centre, s.alpha);
            glVertex3f(0, 0, 0);
            for (int n = 0; n <= outline_points; n++) {
                const int k = n % outline_points;
                const float b = s.rim[k];
                glColor4f(c[0] * b, c[1] * b, c[2] * b, body_rim_alpha * s.alpha);
                glVertex3f(in[k].x, in[k].y, in[k].z);
            }
        glEnd();
        glBegin(GL_QUAD_STRIP);
            for (int n = 0; n <= outline_points; n++) {
                const int k = n % outline_points;
                const float b = s.rim[k];
                glColor4f(e[0] * b, e[1] * b, e[2] * b, body_edge_alpha * s.alpha);
                glVertex3f(in[k].x, in[k].y, in[k].z);
                glColor4f(e[0] * b, e[1] * b, e[2] * b, 0);
                glVertex3f(out[k].x, out[k].y, out[k].z);
            }
        glEnd();
    glEndList();
}

// A sprite's halo: the grown outline filled from the centre in the caller's colour.
static void compile_halo(int size)
{
    const LatheVertex *out = sprite_halo[size];
    glNewList(sprite_sizes[size].halo_list, GL_COMPILE);
        glBegin(GL_TRIANGLE_FAN);
            glVertex3f(0, 0, 0);
            for (int n = 0; n <= outline_points; n++)
                glVertex3f(out[n % outline_points].x, out[n % outline_points].y,
                           out[n % outline_points].z);
        glEnd();
    glEndList();
}

// Ring r of the column and of its shell, widened by the wave factor first + 2r.
template <int N>
static void swell_rings(const LatheVertex (*base)[N], LatheVertex (*live)[N], int rings,
                        int first, const LatheVertex (*shell)[N], LatheVertex (*live_shell)[N])
{
    for (int r = 0; r < rings; r++) {
        const float f = lathe_wave[first + 2 * r];
        for (int k = 0; k < N; k++) {
            live[r][k].x = base[r][k].x * f;
            live[r][k].z = base[r][k].z * f;
            live_shell[r][k].x = shell[r][k].x * f;
            live_shell[r][k].z = shell[r][k].z * f;
        }
    }
}

static void vertex(const LatheVertex &p)
{
    glVertex3f(p.x, p.y, p.z);
}

// Each cell a fan from its glowing middle to its four corners, counter-clockwise seen from
// the front; the wider the ring, the brighter its middles.
static void draw_cells(void)
{
    for (int r = 0; r < mid_count; r++) {
        const float g = live_mid_inner[r][0].x / glow_divisor;
        for (int k = 0; k < mid_points; k++) {
            glBegin(GL_TRIANGLE_FAN);
                glColor4f(glow_colour[0] * g, glow_colour[1] * g, glow_colour[2] * g, 1.0f);
                vertex(live_mid_inner[r][k]);
                glColor4fv(cell_rim_colour);
                vertex(live_inner[r + 1][k]);
                vertex(live_inner[r][k]);
                vertex(live_inner[r][k + 1]);
                vertex(live_inner[r + 1][k + 1]);
                vertex(live_inner[r + 1][k]);
            glEnd();
        }
    }
}

// Four faint quads per cell from its middle out to the shell, one past each corner; only
// those facing the viewer survive culling.
static void draw_rays(void)
{
    glBegin(GL_QUADS);
        for (int r = 0; r < mid_count; r++) {
            const float rho = live_mid_inner[r][0].x / ray_divisor;
            for (int k = 0; k < mid_points; k++) {
                // Corners in the order upper left, upper right, lower right, lower left.
                const int rows[4] = {r + 1, r + 1, r, r};
                const int cols[4] = {k, k + 1, k + 1, k};
                for (int c = 0; c < 4; c++) {
                    glColor4f(ray_colour[0], ray_colour[1], ray_colour[2], rho);
                    vertex(live_mid_inner[r][k]);
                    glColor4f(ray_colour[0], ray_colour[1], ray_colour[2], ray_far_alpha);
                    vertex(live_inner[rows[c]][cols[c]]);
                    vertex(live_outer[rows[c]][cols[c]]);
                    vertex(live_mid_outer[r][k]);
                }
            }
        }
    glEnd();
}

// The layers back to front, each shifted by its share of chan_x; every sprite its body, then
// its halo in a pale colour whose alpha follows the width of mid-cell ring 5.
static void draw_sprites(void)
{
    const float w = live_mid_inner[halo_ring][0].x;
    for (int i = 0; i < layer_count; i++) {
        const SpriteLayer &layer = sprite_layers[i];
        const SpriteSize &size = sprite_sizes[layer.size];
        const float halo_alpha = w / layer.halo_divisor;
        glPushMatrix();
        glTranslatef(0, layer.drift * chan_x, layer.z);
        for (const float *place : sprite_places[i]) {
            glPushMatrix();
            glTranslatef(place[0], place[1], 0);
            glCallList(size.body_list);
            glColor4f(halo_colour[0], halo_colour[1], halo_colour[2], halo_alpha);
            glCallList(size.halo_list);
            glPopMatrix();
        }
        glPopMatrix();
    }
}

// A brown gradient over the band, darker at its top and bottom edges, its alphas pulsing
// with the widths of mid-cell rings 15 and 10.
static void draw_haze(void)
{
    const float a1 = live_mid_inner[haze_edge_ring][0].x / haze_edge_divisor;
    const float a2 = live_mid_inner[haze_middle_ring][0].x / haze_middle_divisor;
    const float *e = haze_edge_colour;
    const float *m = haze_middle_colour;
    glCallList(list_overlay_view);
    glBegin(GL_QUAD_STRIP);
        glColor4f(e[0], e[1], e[2], a1);
        glVertex3f(0, 0, 0);
        glVertex3f(640, 0, 0);
        glColor4f(m[0], m[1], m[2], a2);
        glVertex3f(0, 160, 0);
        glVertex3f(640, 160, 0);
        glColor4f(e[0], e[1], e[2], a1);
        glVertex3f(0, 320, 0);
        glVertex3f(640, 320, 0);
    glEnd();
}
