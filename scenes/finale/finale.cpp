// Scene module B, the finale: a 640 x 480 picture assembles like a comb, a dot-matrix message
// scrolls over a rolling wave behind a stack of orange squares, and a butterfly zooms into black.
#include "scenes/finale/finale.h"
#include "scenes/window_view.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include <cmath>

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "scenes/dot_font.h"
#include "timeline/timeline.h"

// ---- constants and tables ------------------------------------------------------------------

// The comb picture: 10 x 15 tiles of 64 x 32, the whole screen.
constexpr uint32_t comb_tiles_across = 10;
constexpr uint32_t comb_tiles_down = 15;
constexpr uint32_t comb_tile_width = 64;
constexpr uint32_t comb_tile_height = 32;
constexpr int comb_tile_bytes = comb_tile_width * comb_tile_height * 3;

// The butterfly: 3 x 1 tiles of 128 x 256, drawn 254 high about the origin.
constexpr uint32_t butterfly_tiles = 3;
constexpr uint32_t butterfly_tile_width = 128;
constexpr uint32_t butterfly_tile_height = 256;
constexpr int butterfly_tile_bytes = butterfly_tile_width * butterfly_tile_height * 3;
constexpr float butterfly_left = -152;
constexpr float butterfly_right = 232;
constexpr float butterfly_half_height = 127;

// The message: 110 characters, each 8 font columns of 3 bitmap columns, 5 font rows of 3.
constexpr int text_length = 110;
constexpr int dot_size = 3;
constexpr int glyph_columns = dot_font_columns * dot_size;
constexpr int bitmap_columns = text_length * glyph_columns;
constexpr int bitmap_rows = dot_font_rows * dot_size;

// The wave: a twentieth of a turn per index, so index 20 repeats index 0.
constexpr int wave_steps = 20;
constexpr float wave_step = 0.31415926f;

// The wave grid: 95 columns of 1 x 4 quads from x = -48, 15 rows from y = -10.
constexpr int grid_columns = 95;
constexpr float grid_left = -48;
constexpr float grid_bottom = -10;
constexpr float grid_quad_height = 4;
constexpr float text_lit[4] = {0.9f, 0.7f, 0.6f, 0.7f};
constexpr float text_unlit[4] = {0.2f, 0.2f, 0.2f, 1.0f};

// The stack: up to 19 squares of side 48, 4 apart, from z = 0 toward the eye.
constexpr int stack_squares = 19;
constexpr float stack_half_side = 24;
constexpr float stack_spacing = 4;
constexpr float stack_colour[4] = {1.0f, 0.7f, 0.55f, 0.1f};

// The stripes over the butterfly: 4 bands of 64, dark at their edges in colour A, in their
// middles in colour B.
constexpr int stripe_bands = 4;
constexpr float stripe_band_height = 64;
constexpr float stripe_z = 0.5f;

enum : GLuint {
    list_flat_view = 10,
    list_comb_even = 11,
    list_comb_odd = 12,
    list_stack = 13,
    list_depth_view = 14,
    list_butterfly = 16,
    list_cover = 17,
};

// ---- module state --------------------------------------------------------------------------

static Picture *finale_picture_a;
static Picture *finale_picture_b;
static const unsigned char *finale_text;
static float finale_heights[wave_steps + 1][wave_steps + 1];
// Column after column, row 0 at the bottom: byte index = column * 15 + row.
static unsigned char finale_text_bitmap[bitmap_columns][bitmap_rows];
static float stripe_colour_a[4] = {0, 0, 0, 0};
static float stripe_colour_b[4] = {0, 0, 0, 0};

// Helpers, defined at the end of the file.
static void check_picture(const char *name, const Picture *p, uint32_t across, uint32_t down,
                          uint32_t width, uint32_t height);
static void compile_comb_tiles(uint32_t first_column);
static void stack_square(int i);
static void draw_stripes(void);

// ---- loader --------------------------------------------------------------------------------

// The wave heights, the two pictures and the message, and the message's dot bitmap.
void Finale_Load(void)
{
    // The angles are running sums of the step in single precision, as the table was made.
    float a = 0;
    for (int i = 0; i <= wave_steps; i++) {
        float b = 0;
        for (int j = 0; j <= wave_steps; j++) {
            finale_heights[i][j] = 20 * std::cos(a) - 20 * std::sin(b) - 40;
            b += wave_step;
        }
        a += wave_step;
    }

    // The lists upload fixed tiles of fixed sizes: any other layout would be read past.
    finale_picture_a = ZAF_ReadPicture("siekierka");
    check_picture("siekierka", finale_picture_a, comb_tiles_across, comb_tiles_down,
                  comb_tile_width, comb_tile_height);
    finale_picture_b = ZAF_ReadPicture("butterfly");
    check_picture("butterfly", finale_picture_b, butterfly_tiles, 1, butterfly_tile_width,
                  butterfly_tile_height);
    finale_text = static_cast<const unsigned char *>(ZAF_ReadData("water"));
    if (ZAF_LastLength() < uint32_t(text_length))
        ZAF_Fatal("Finale_Load: FATAL_ERROR: Text \"water\" is %u bytes, not at least %d.\n",
                  ZAF_LastLength(), text_length);

    for (int n = 0; n < text_length; n++) {
        // Bytes are read as signed: those above 127 are blanks like the space.
        const signed char ch = static_cast<signed char>(finale_text[n]);
        if (ch <= 32)
            continue;
        for (int r = 0; r < dot_font_rows; r++)
            for (int k = 0; k < dot_font_columns; k++) {
                if (DotFont_Cell(ch, r, k) != 1)
                    continue;
                const int column = glyph_columns * n + dot_size * k;
                for (int dc = 0; dc < dot_size; dc++)
                    for (int dr = 0; dr < dot_size; dr++)
                        finale_text_bitmap[column + dc][dot_size * r + dr] = 1;
            }
    }
}

// One cell of the message's bitmap, for the tests.
int Finale_TextCell(int column, int row)
{
    return finale_text_bitmap[column][row];
}

// ---- init ----------------------------------------------------------------------------------

// GL state of the six entries, and their lists.
void Finale_Init(void)
{
    glClearColor(0, 0, 0, 0);
    glShadeModel(GL_SMOOTH);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    Picture_SetTextureState();

    // Window coordinates, one unit a pixel; the opaque black gives the textured tiles, whose
    // replace mode takes alpha from the colour, full alpha.
    glNewList(list_flat_view, GL_COMPILE);
        glDisable(GL_DEPTH_TEST);
        View_Window();
        glColor4f(0, 0, 0, 1);
    glEndList();

    // Texturing stays on from the even half to the end of the odd one, which always follows.
    glNewList(list_comb_even, GL_COMPILE);
        glEnable(GL_TEXTURE_2D);
        compile_comb_tiles(0);
    glEndList();
    glNewList(list_comb_odd, GL_COMPILE);
        compile_comb_tiles(1);
        glDisable(GL_TEXTURE_2D);
    glEndList();

    glNewList(list_stack, GL_COMPILE);
        glColor4fv(stack_colour);
        glBegin(GL_QUADS);
            for (int i = 0; i < stack_squares; i++)
                stack_square(i);
        glEnd();
    glEndList();

    // A square viewport in the middle; the eye looks along +z, so +x runs to the left.
    glNewList(list_depth_view, GL_COMPILE);
        glEnable(GL_DEPTH_TEST);
        glViewport(80, 0, 480, 480);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(30.0, 1.0, 1.0, 1000.0);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        gluLookAt(0, 0, -160, 0, 0, 0, 0, 1, 0);
    glEndList();

    // Full red alpha for the replace mode; the caller enables texturing around the call.
    glNewList(list_butterfly, GL_COMPILE);
        glColor4f(1, 0, 0, 1);
        for (uint32_t t = 0; t < butterfly_tiles; t++) {
            const float x = butterfly_left + float(butterfly_tile_width * t);
            glTexImage2D(GL_TEXTURE_2D, 0, 3, butterfly_tile_width, butterfly_tile_height, 0,
                         GL_RGB, GL_UNSIGNED_BYTE,
                         finale_picture_b->pixels + t * butterfly_tile_bytes);
            glBegin(GL_QUADS);
                glTexCoord2f(0, 1); glVertex3f(x, -butterfly_half_height, 0);
                glTexCoord2f(1, 1); glVertex3f(x + butterfly_tile_width, -butterfly_half_height, 0);
                glTexCoord2f(1, 0); glVertex3f(x + butterfly_tile_width, butterfly_half_height, 0);
                glTexCoord2f(0, 0); glVertex3f(x, butterfly_half_height, 0);
            glEnd();
        }
    glEndList();

    // In the caller's colour, just in front of the butterfly and its stripes.
    glNewList(list_cover, GL_COMPILE);
        glBegin(GL_QUADS);
            glVertex3f(butterfly_left, -butterfly_half_height, 0.6f);
            glVertex3f(butterfly_right, -butterfly_half_height, 0.6f);
            glVertex3f(butterfly_right, butterfly_half_height, 0.6f);
            glVertex3f(butterfly_left, butterfly_half_height, 0.6f);
        glEnd();
    glEndList();
}

// ---- renders -------------------------------------------------------------------------------
//
// The renders carry nothing from one frame to the next: each frame follows from the channels
// alone (the stripe colours are rewritten before each use).

// Entry 36: the comb halves slide in from above and below; they end 2 units past meeting.
void Finale_RenderShutters(void)
{
    glCallList(list_flat_view);
    glPushMatrix();
    glTranslatef(0, 480 - chan_x, 0);
    glCallList(list_comb_even);
    glPopMatrix();
    glTranslatef(0, chan_x - 480, 0);
    glCallList(list_comb_odd);
}

// Entries 37 and 39: the picture in place, and one square for every whole step below chan_x,
// the farthest first.
void Finale_RenderStack(void)
{
    glCallList(list_flat_view);
    glCallList(list_comb_even);
    glCallList(list_comb_odd);
    glCallList(list_depth_view);

    glColor4fv(stack_colour);
    glBegin(GL_QUADS);
        for (int i = 0; i < chan_x; i++)
            stack_square(i);
    glEnd();
}

// Entry 38: the message on the wave grid, read from bitmap column s on. The wave indices run
// on from phase p and wrap at 20 before use; the table's row 20 serves their + 1 neighbours.
void Finale_RenderWaterText(void)
{
    glCallList(list_flat_view);
    glCallList(list_comb_even);
    glCallList(list_comb_odd);
    glCallList(list_depth_view);

    const int p = int(std::nearbyint(ramp_a));
    const int s = int(std::nearbyint(chan_x));

    glPushMatrix();
    glRotatef(wave_a, 0, 0, 1);
    glBegin(GL_QUADS);
        int j = p;
        for (int y = 0; y < bitmap_rows; y++) {
            if (j >= wave_steps)
                j = 0;
            const float Y = grid_bottom + y;
            int i = p;
            for (int cc = grid_columns; cc >= 1; cc--) {
                if (i >= wave_steps)
                    i = 0;
                const float X = grid_left + (grid_columns - cc);
                glColor4fv(finale_text_bitmap[cc + s][y] ? text_lit : text_unlit);
                glVertex3f(X, Y, finale_heights[i][j]);
                glVertex3f(X + 1, Y, finale_heights[i + 1][j]);
                glVertex3f(X + 1, Y + grid_quad_height, finale_heights[i + 1][j + 1]);
                glVertex3f(X, Y + grid_quad_height, finale_heights[i][j + 1]);
                i++;
            }
            j++;
        }
    glEnd();
    glPopMatrix();

    glCallList(list_stack);
}

// Entry 40: the striped butterfly behind the comb, whose halves part as chan_x falls from 480.
void Finale_RenderReveal(void)
{
    glCallList(list_flat_view);
    glPushMatrix();
    glTranslatef(320, 240, -0.5f);
    glEnable(GL_TEXTURE_2D);
    glCallList(list_butterfly);
    glDisable(GL_TEXTURE_2D);
    draw_stripes();
    glPopMatrix();

    glPushMatrix();
    glColor4f(0, 0, 0, 1);
    glTranslatef(0, 480 - chan_x, 0.7f);
    glCallList(list_comb_even);
    glPopMatrix();
    glTranslatef(0, chan_x - 480, 0.7f);
    glCallList(list_comb_odd);
}

// Entry 41: the striped butterfly scaled by 1 + chan_x under a black cover of alpha chan_x.
void Finale_RenderLast(void)
{
    glCallList(list_flat_view);
    glColor4f(1, 0, 0, 1);
    glTranslatef(320, 240, -0.5f);
    glScalef(chan_x + 1, chan_x + 1, 1);

    glEnable(GL_TEXTURE_2D);
    glCallList(list_butterfly);
    glDisable(GL_TEXTURE_2D);
    draw_stripes();

    glColor4f(0, 0, 0, chan_x);
    glCallList(list_cover);
}

// ---- helpers -------------------------------------------------------------------------------

// Ends the process unless the picture has the tile layout the lists address.
static void check_picture(const char *name, const Picture *p, uint32_t across, uint32_t down,
                          uint32_t width, uint32_t height)
{
    if (p->tiles_across != across || p->tiles_down != down || p->tile_width != width ||
        p->tile_height != height)
        ZAF_Fatal("Finale_Load: FATAL_ERROR: Picture \"%s\" is %u x %u tiles of %u x %u, not "
                  "%u x %u of %u x %u.\n",
                  name, p->tiles_across, p->tiles_down, p->tile_width, p->tile_height, across,
                  down, width, height);
}

// Every other tile column of the comb picture from first_column on, each tile uploaded before
// its quad; the first stored pixel row lies on the tile's upper edge.
static void compile_comb_tiles(uint32_t first_column)
{
    for (uint32_t u = 0; u < comb_tiles_across / 2; u++) {
        const uint32_t column = first_column + 2 * u;
        const float x = float(comb_tile_width * column);
        for (uint32_t r = 0; r < comb_tiles_down; r++) {
            const float y = float(comb_tile_height * r);
            const uint32_t tile = column + comb_tiles_across * r;
            glTexImage2D(GL_TEXTURE_2D, 0, 3, comb_tile_width, comb_tile_height, 0, GL_RGB,
                         GL_UNSIGNED_BYTE, finale_picture_a->pixels + tile * comb_tile_bytes);
            glBegin(GL_QUADS);
                glTexCoord2f(0, 1); glVertex3f(x, y, 0);
                glTexCoord2f(1, 1); glVertex3f(x + comb_tile_width, y, 0);
                glTexCoord2f(1, 0); glVertex3f(x + comb_tile_width, y + comb_tile_height, 0);
                glTexCoord2f(0, 0); glVertex3f(x, y + comb_tile_height, 0);
            glEnd();
        }
    }
}

// The vertices of square i of the stack, i steps of 4 toward the eye, inside a GL_QUADS batch.
static void stack_square(int i)
{
    const float z = -stack_spacing * i;
    glVertex3f(-stack_half_side, -stack_half_side, z);
    glVertex3f(stack_half_side, -stack_half_side, z);
    glVertex3f(stack_half_side, stack_half_side, z);
    glVertex3f(-stack_half_side, stack_half_side, z);
}

// Four bands over the butterfly, each dark in colour A at its edges and B at its middle; the
// two alphas follow the flicker channel and always sum to 0.5.
static void draw_stripes(void)
{
    stripe_colour_a[3] = wave_a + 0.25f;
    stripe_colour_b[3] = 0.5f - stripe_colour_a[3];
    for (int n = 0; n < stripe_bands; n++) {
        const float y = -butterfly_half_height + stripe_band_height * n;
        glBegin(GL_QUAD_STRIP);
            glColor4fv(stripe_colour_a);
            glVertex3f(butterfly_left, y, stripe_z);
            glVertex3f(butterfly_right, y, stripe_z);
            glColor4fv(stripe_colour_b);
            glVertex3f(butterfly_left, y + stripe_band_height / 2, stripe_z);
            glVertex3f(butterfly_right, y + stripe_band_height / 2, stripe_z);
            glColor4fv(stripe_colour_a);
            glVertex3f(butterfly_left, y + stripe_band_height, stripe_z);
            glVertex3f(butterfly_right, y + stripe_band_height, stripe_z);
        glEnd();
    }
}
