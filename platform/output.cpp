// The 4:3 picture inside an output of any size.
#include "platform/output.h"

#include <cctype>
#include <cmath>
#include <cstdint>

// ---- module state ---------------------------------------------------------------------------

static int output_width = scene_width;
static int output_height = scene_height;
static OutputRect picture = {0, 0, scene_width, scene_height};

// Helpers, defined at the end of the file.
static int read_number(const char *&p);
static void clear_black();
static int map_edge(int v, int units, int origin, int pixels);

// ---- sizes ----------------------------------------------------------------------------------

bool Output_SizeFits(int width, int height)
{
    auto fits = [](int n) { return n >= output_min_size && n <= output_max_size; };
    return fits(width) && fits(height);
}

bool Output_ParseSize(const char *text, int *width, int *height)
{
    const char *p = text;
    int w = read_number(p);
    if (w < 0 || (*p != 'x' && *p != 'X'))
        return false;
    p++;
    int h = read_number(p);
    if (h < 0 || *p || !Output_SizeFits(w, h))
        return false;
    *width = w;
    *height = h;
    return true;
}

// ---- the output -----------------------------------------------------------------------------

void Output_SetSize(int width, int height)
{
    output_width = width;
    output_height = height;
    // The largest 4:3 rectangle that fits, centred.
    if (int64_t(width) * 3 >= int64_t(height) * 4)
        picture = {0, 0, int(int64_t(height) * 4 / 3), height};
    else
        picture = {0, 0, width, int(int64_t(width) * 3 / 4)};
    picture.x = (width - picture.width) / 2;
    picture.y = (height - picture.height) / 2;

    glEnable(GL_SCISSOR_TEST);
    clear_black();
    glViewport(picture.x, picture.y, picture.width, picture.height);
}

int Output_Width()
{
    return output_width;
}

int Output_Height()
{
    return output_height;
}

OutputRect Output_Picture()
{
    return picture;
}

void Output_ClearBars()
{
    if (picture.width != output_width || picture.height != output_height)
        clear_black();
}

// ---- viewports ------------------------------------------------------------------------------

OutputRect Output_Map(int x, int y, int width, int height)
{
    int x0 = map_edge(x, scene_width, picture.x, picture.width);
    int y0 = map_edge(y, scene_height, picture.y, picture.height);
    int x1 = map_edge(x + width, scene_width, picture.x, picture.width);
    int y1 = map_edge(y + height, scene_height, picture.y, picture.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

void Output_Viewport(GLint x, GLint y, GLsizei width, GLsizei height)
{
    OutputRect r = Output_Map(x, y, width, height);
    glViewport(r.x, r.y, r.width, r.height);
}

// ---- helpers --------------------------------------------------------------------------------

// Up to five digits at *p, moving p past them; -1 where there are none or more.
static int read_number(const char *&p)
{
    int n = 0, digits = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); p++) {
        if (++digits > 5)
            return -1;
        n = n * 10 + (*p - '0');
    }
    return digits ? n : -1;
}

// Clears the whole output black, leaving the clear colour as it was and the scissor box on
// the picture.
static void clear_black()
{
    GLfloat colour[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, colour);
    glScissor(0, 0, output_width, output_height);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(colour[0], colour[1], colour[2], colour[3]);
    glScissor(picture.x, picture.y, picture.width, picture.height);
}

// One edge in the scenes' units to the output's pixels.
static int map_edge(int v, int units, int origin, int pixels)
{
    return origin + int(std::lround(double(v) * pixels / units));
}
