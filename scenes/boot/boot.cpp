// Scene module I: the boot screen shown while loading, then the opening scenes. Its loader
// runs on the main thread before the loading thread exists and stops the clock for loading.
#include "scenes/boot/boot.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

#include "assets/decoders.h"
#include "assets/zaf.h"
#include "platform/fsound.h"
#include "runtime/loading.h"
#include "runtime/options.h"
#include "timeline/timeline.h"

// ---- Constants and tables ----------------------------------------------------------------

constexpr int grid_columns = 20;
constexpr int grid_rows = 15;
constexpr int tile_size = 32;
constexpr int tile_bytes = tile_size * tile_size * 3;

struct GridPair {
    int column, row;
};

// The tiles of the first group, row by row from the bottom; the other 150 form the second.
static const GridPair boot_grid_pairs[150] = {
    {1, 0}, {2, 0}, {4, 0}, {5, 0}, {6, 0}, {12, 0}, {15, 0}, {16, 0},
    {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}, {9, 1}, {12, 1}, {13, 1}, {14, 1}, {16, 1},
    {19, 1},
    {0, 2}, {2, 2}, {3, 2}, {7, 2}, {8, 2}, {9, 2}, {13, 2}, {15, 2}, {16, 2}, {17, 2}, {19, 2},
    {0, 3}, {2, 3}, {4, 3}, {5, 3}, {7, 3}, {8, 3}, {9, 3}, {10, 3}, {12, 3}, {13, 3}, {16, 3},
    {17, 3}, {18, 3}, {19, 3},
    {0, 4}, {2, 4}, {4, 4}, {8, 4}, {10, 4}, {14, 4}, {15, 4}, {16, 4}, {19, 4},
    {1, 5}, {2, 5}, {3, 5}, {4, 5}, {6, 5}, {7, 5}, {8, 5}, {11, 5}, {12, 5}, {16, 5}, {18, 5},
    {0, 6}, {3, 6}, {4, 6}, {5, 6}, {6, 6}, {7, 6}, {8, 6}, {9, 6}, {14, 6}, {17, 6},
    {0, 7}, {1, 7}, {2, 7}, {4, 7}, {8, 7}, {9, 7}, {11, 7}, {13, 7}, {16, 7}, {19, 7},
    {2, 8}, {4, 8}, {6, 8}, {10, 8}, {11, 8}, {13, 8}, {15, 8}, {16, 8}, {18, 8},
    {0, 9}, {6, 9}, {7, 9}, {8, 9}, {10, 9}, {17, 9}, {19, 9},
    {1, 10}, {6, 10}, {7, 10}, {9, 10}, {10, 10}, {11, 10}, {12, 10}, {13, 10}, {15, 10},
    {17, 10}, {18, 10}, {19, 10},
    {0, 11}, {2, 11}, {3, 11}, {6, 11}, {7, 11}, {8, 11}, {12, 11}, {13, 11}, {17, 11}, {19, 11},
    {4, 12}, {6, 12}, {9, 12}, {12, 12}, {13, 12}, {14, 12}, {16, 12}, {17, 12},
    {2, 13}, {3, 13}, {4, 13}, {14, 13}, {15, 13}, {17, 13}, {19, 13},
    {0, 14}, {1, 14}, {2, 14}, {3, 14}, {4, 14}, {5, 14}, {10, 14}, {12, 14}, {13, 14}, {14, 14},
    {18, 14}, {19, 14},
};

// Side colours of a tile box: front and back edge of the two wall shades.
static const GLfloat side_s1[4] = {0.6f, 0.3f, 0.2f, 0.5f};
static const GLfloat side_s2[4] = {0.6f, 0.3f, 0.2f, 1.0f};
static const GLfloat side_s3[4] = {0.6f, 0.4f, 0.2f, 0.5f};
static const GLfloat side_s4[4] = {0.6f, 0.4f, 0.2f, 1.0f};

// Orthographic x 0…640, y 0…480, z -1…1, in OpenGL's column order.
static const GLfloat wipe_projection[16] = {
    0.003125f, 0, 0, 0, 0, 0.004167f, 0, 0, 0, 0, -1, 0, -1, -1, 0, 1,
};

enum : GLuint {
    list_picture = 2,
    list_indicator_frame = 5,
    list_indicator_square = 6,
    list_first_group = 12,
    list_second_group = 13,
    list_haze = 16,
};

// ---- Module state ------------------------------------------------------------------------

static Picture *boot_picture;
static int boot_grid[grid_columns * grid_rows];

static void build_tile_group(GLuint list, int group);
static void look_at_picture(void);

// ---- Loader ------------------------------------------------------------------------------

// Stops the clock for loading, reads the boot picture and marks the first tile group.
void Boot_Load(void)
{
    time_step = 0.0f;
    boot_picture = ZAF_ReadPicture("bootpic");
    // The tile lists upload 300 tiles of 32 x 32 from it: any other layout would be read past.
    const Picture &p = *boot_picture;
    if (p.tiles_across != grid_columns || p.tiles_down != grid_rows || p.tile_width != tile_size ||
        p.tile_height != tile_size)
        ZAF_Fatal("Boot_Load: FATAL_ERROR: Picture \"bootpic\" is %u x %u tiles of %u x %u, not "
                  "20 x 15 of 32 x 32.\n",
                  p.tiles_across, p.tiles_down, p.tile_width, p.tile_height);
    for (const GridPair &pair : boot_grid_pairs)
        boot_grid[pair.row * grid_columns + pair.column] = 1;
}

// ---- Inits -------------------------------------------------------------------------------

// The state of the whole module, the boot picture and the two indicator shapes.
void Boot_Init(void)
{
    glClearColor(1.0f, 0.8f, 0.7f, 0.0f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_DEPTH_TEST);
    glFrontFace(GL_CCW);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glShadeModel(GL_SMOOTH);
    glViewport(0, 0, 640, 480);

    // The negative far value is deliberate: nothing beyond the near plane is clipped, and
    // every scene here lies 760 units or more from the eye.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(35.0, 1.33, 1.0, -400.0);

    Picture_SetTextureState();
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_MODELVIEW);

    Picture_BuildList(list_picture, boot_picture);

    // A 28 × 40 frame with a 20 × 24 hole.
    glNewList(list_indicator_frame, GL_COMPILE);
        glBegin(GL_QUAD_STRIP);
            glVertex2f(-14, 20);
            glVertex2f(-10, 12);
            glVertex2f(14, 20);
            glVertex2f(10, 12);
            glVertex2f(14, -20);
            glVertex2f(10, -12);
            glVertex2f(-14, -20);
            glVertex2f(-10, -12);
            glVertex2f(-14, 20);
            glVertex2f(-10, 12);
        glEnd();
    glEndList();

    glNewList(list_indicator_square, GL_COMPILE);
        glBegin(GL_QUADS);
            glVertex2f(-10, 12);
            glVertex2f(-10, -12);
            glVertex2f(10, -12);
            glVertex2f(10, 12);
        glEnd();
    glEndList();
}

// The haze layers and the two tile groups; the soundtrack starts here.
void Boot_InitTiles(void)
{
    glEnable(GL_DEPTH_TEST);

    glNewList(list_haze, GL_COMPILE);
        glColor4f(1.0f, 0.8f, 0.7f, 0.4f);
        glBegin(GL_QUADS);
            for (int k = 0; k < 20; k++) {
                GLfloat z = -400.0f + 20.0f * k;
                glVertex3f(0, 0, z);
                glVertex3f(640, 0, z);
                glVertex3f(640, 480, z);
                glVertex3f(0, 480, z);
            }
        glEnd();
    glEndList();

    build_tile_group(list_first_group, 1);
    build_tile_group(list_second_group, 0);

    FSOUND_Stream_Play(2, music_stream);
}

// The orthographic view of the closing bars.
void Boot_InitWipe(void)
{
    glClearColor(1.0f, 0.8f, 0.7f, 0.0f);
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glLoadMatrixf(wipe_projection);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// ---- Renders -----------------------------------------------------------------------------
//
// The renders carry nothing from frame to frame: each frame follows from the channels and the
// loader flags alone, so a frame nobody looks at need not be drawn.

// The boot picture with one indicator per loader flag: hollow until the flag rises.
void Boot_Render(void)
{
    look_at_picture();
    glPushMatrix();
    glColor4f(0, 0, 0, 1);
    glEnable(GL_TEXTURE_2D);
    glCallList(list_picture);
    glDisable(GL_TEXTURE_2D);

    glColor4f(0.9f, 0.7f, 0.3f, 0.4f);
    glTranslatef(20, 444, 0);
    for (int k = 0; k < loader_flag_count; k++) {
        glCallList(loader_flags[k].load() == 1 ? list_indicator_square : list_indicator_frame);
        if (k < loader_flag_count - 1)
            glTranslatef(40, 0, 0);
    }
    glPopMatrix();
}

// Entry 1: the first tile group sinks through the haze.
void Boot_RenderTilesA(void)
{
    look_at_picture();
    glCallList(list_second_group);
    glPushMatrix();
    glTranslatef(0, 0, chan_x);
    glCallList(list_first_group);
    glPopMatrix();
    glCallList(list_haze);
}

// Entry 2: the second group follows.
void Boot_RenderTilesB(void)
{
    look_at_picture();
    glPushMatrix();
    glTranslatef(0, 0, chan_x);
    glCallList(list_second_group);
    glPopMatrix();
    glCallList(list_haze);
}

// Eight black bars closing the four bands from alternate sides.
void Boot_RenderWipe(void)
{
    const GLfloat a = chan_x;
    const GLfloat bars[8][4] = {
        {0, a, 0, 80},          {320 - a, 320, 82, 239}, {0, a, 241, 398},
        {320 - a, 320, 400, 480}, {320, 320 + a, 0, 80},  {640 - a, 640, 82, 239},
        {320, 320 + a, 241, 398}, {640 - a, 640, 400, 480},
    };
    glColor4f(0, 0, 0, 1);
    glBegin(GL_QUADS);
        for (const auto &bar : bars) {
            glVertex3f(bar[0], bar[2], -0.5f);
            glVertex3f(bar[1], bar[2], -0.5f);
            glVertex3f(bar[1], bar[3], -0.5f);
            glVertex3f(bar[0], bar[3], -0.5f);
        }
    glEnd();
}

// ---- Helpers -----------------------------------------------------------------------------

// The eye 760 units in front of the picture's centre: one unit at z 0 is about one pixel.
static void look_at_picture(void)
{
    glLoadIdentity();
    gluLookAt(320, 240, 760, 320, 240, 0, 0, 1, 0);
}

// A 32 × 32 column reaching back to z -600, its four walls shaded by the side colours.
static void tile_walls(GLfloat x, GLfloat y)
{
    glBegin(GL_QUAD_STRIP);
        glColor4fv(side_s1); glVertex3f(x + 32, y + 32, 0);
        glColor4fv(side_s2); glVertex3f(x + 32, y + 32, -600);
        glColor4fv(side_s3); glVertex3f(x + 32, y, 0);
        glColor4fv(side_s4); glVertex3f(x + 32, y, -600);
        glColor4fv(side_s1); glVertex3f(x, y, 0);
        glColor4fv(side_s2); glVertex3f(x, y, -600);
        glColor4fv(side_s3); glVertex3f(x, y + 32, 0);
        glColor4fv(side_s4); glVertex3f(x, y + 32, -600);
        glColor4fv(side_s1); glVertex3f(x + 32, y + 32, 0);
        glColor4fv(side_s2); glVertex3f(x + 32, y + 32, -600);
    glEnd();
}

// The tile boxes of one group, each with its tile of the picture on its face: 31 units
// wide, so a one-unit seam shows between neighbours.
static void build_tile_group(GLuint list, int group)
{
    glNewList(list, GL_COMPILE);
        for (int r = 0; r < grid_rows; r++) {
            for (int j = 0; j < grid_columns; j++) {
                int k = r * grid_columns + j;
                if (boot_grid[k] != group)
                    continue;
                GLfloat x = tile_size * j, y = tile_size * r;
                tile_walls(x, y);
                glEnable(GL_TEXTURE_2D);
                glTexImage2D(GL_TEXTURE_2D, 0, 3, tile_size, tile_size, 0, GL_RGB,
                             GL_UNSIGNED_BYTE, boot_picture->pixels + k * tile_bytes);
                glBegin(GL_QUADS);
                    glTexCoord2f(0, 1); glVertex3f(x, y, 0);
                    glTexCoord2f(1, 1); glVertex3f(x + 31, y, 0);
                    glTexCoord2f(1, 0); glVertex3f(x + 31, y + 31, 0);
                    glTexCoord2f(0, 0); glVertex3f(x, y + 31, 0);
                glEnd();
                glDisable(GL_TEXTURE_2D);
            }
        }
    glEndList();
}
