// Picture lists drawn for real: an offscreen EGL context (Mesa's surfaceless platform), the
// list called under a pixel-exact orthographic view, every pixel compared with the tile and
// row it must come from.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/decoders.h"

namespace {

// EGL is opened at run time so the test needs no extra link library.
bool Make_Context(int width, int height)
{
    void *egl = dlopen("libEGL.so.1", RTLD_NOW | RTLD_GLOBAL);
    if (!egl)
        return false;
    auto get = (PFNEGLGETPROCADDRESSPROC)dlsym(egl, "eglGetProcAddress");
    auto platform_display =
        (PFNEGLGETPLATFORMDISPLAYEXTPROC)get("eglGetPlatformDisplayEXT");
    auto initialize = (PFNEGLINITIALIZEPROC)get("eglInitialize");
    auto bind_api = (PFNEGLBINDAPIPROC)get("eglBindAPI");
    auto choose = (PFNEGLCHOOSECONFIGPROC)get("eglChooseConfig");
    auto pbuffer = (PFNEGLCREATEPBUFFERSURFACEPROC)get("eglCreatePbufferSurface");
    auto context = (PFNEGLCREATECONTEXTPROC)get("eglCreateContext");
    auto make_current = (PFNEGLMAKECURRENTPROC)get("eglMakeCurrent");
    if (!platform_display || !initialize || !bind_api || !choose || !pbuffer || !context
        || !make_current)
        return false;
    EGLDisplay display = platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY,
                                          nullptr);
    EGLint major, minor, count;
    EGLConfig config;
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                        EGL_OPENGL_BIT, EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8,
                                        EGL_BLUE_SIZE, 8, EGL_NONE};
    const EGLint surface_attributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    if (display == EGL_NO_DISPLAY || !initialize(display, &major, &minor)
        || !bind_api(EGL_OPENGL_API) || !choose(display, config_attributes, &config, 1, &count)
        || count < 1)
        return false;
    EGLSurface surface = pbuffer(display, config, surface_attributes);
    EGLContext gl = context(display, config, EGL_NO_CONTEXT, nullptr);
    return surface != EGL_NO_SURFACE && gl != EGL_NO_CONTEXT
        && make_current(display, surface, surface, gl);
}

const int view = 64;

class PictureList : public ::testing::Test {
protected:
    static void SetUpTestSuite() { context_ready = Make_Context(view, view); }
    void SetUp() override
    {
        ASSERT_TRUE(context_ready) << "no EGL surfaceless context (Mesa's libegl-mesa0)";
        glViewport(0, 0, view, view);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, view, 0, view, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    // What the caller sets around the list: the list itself sets none of it.
    static void Texture_State()
    {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    }
    static std::vector<unsigned char> Read_Pixels()
    {
        std::vector<unsigned char> rgb(view * view * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, view, view, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        return rgb;
    }
    static inline bool context_ready = false;
};

// Each tile's own colour, its first stored row marked brighter.
unsigned char Tile_Byte(uint32_t tile, uint32_t row, int channel)
{
    return (unsigned char)(40 * (tile + 1) + (row == 0 ? 100 : 0) + channel * 3);
}

TEST_F(PictureList, TileZeroLowerLeftFirstRowOnTop)
{
    struct Case {
        uint32_t across, down, w, h;
    };
    const Case cases[] = {{1, 1, 8, 8}, {2, 2, 8, 8}, {3, 1, 4, 16}, {2, 3, 16, 4}};
    GLuint list = 5;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.across << "x" << c.down << " of " << c.w << "x" << c.h);
        std::vector<unsigned char> pixels;
        for (uint32_t tile = 0; tile < c.across * c.down; tile++)
            for (uint32_t row = 0; row < c.h; row++)
                for (uint32_t x = 0; x < c.w; x++)
                    for (int channel = 0; channel < 3; channel++)
                        pixels.push_back(Tile_Byte(tile, row, channel));
        Picture picture{c.w, c.h, c.across, c.down, pixels.data()};

        SetUp();
        Picture_BuildList(list, &picture);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
        // Compiling must not draw.
        EXPECT_EQ(Read_Pixels(), std::vector<unsigned char>(view * view * 3, 0));
        pixels.assign(pixels.size(), 0);   // the upload was recorded at compile time

        Texture_State();
        glEnable(GL_TEXTURE_2D);
        glCallList(list);
        glDisable(GL_TEXTURE_2D);
        std::vector<unsigned char> frame = Read_Pixels();
        int wrong = 0;
        for (int y = 0; y < view; y++)
            for (int x = 0; x < view; x++) {
                const unsigned char *got = &frame[(y * view + x) * 3];
                bool inside = x < int(c.across * c.w) && y < int(c.down * c.h);
                uint32_t tile = (y / c.h) * c.across + x / c.w;
                uint32_t row = c.h - 1 - y % c.h;   // rows counted from the tile's top
                for (int channel = 0; channel < 3; channel++) {
                    int want = inside ? Tile_Byte(tile, row, channel) : 0;
                    if (got[channel] != want && wrong++ < 3)
                        ADD_FAILURE() << "pixel (" << x << ", " << y << ") channel " << channel
                                      << " is " << int(got[channel]) << ", want " << want;
                }
            }
        EXPECT_EQ(wrong, 0);
        // Mesa keeps the recorded images where LeakSanitizer cannot see them.
        glDeleteLists(list, 1);
        list++;
    }
}

TEST_F(PictureList, SetsNoStateOfItsOwn)
{
    unsigned char pixels[2 * 4 * 4 * 3] = {};
    Picture picture{4, 4, 2, 1, pixels};
    Picture_BuildList(30, &picture);
    // Texturing stays off, so the quads take the current colour.
    glColor3ub(200, 10, 90);
    glCallList(30);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    glDeleteLists(30, 1);
    std::vector<unsigned char> frame = Read_Pixels();
    const unsigned char *inside = &frame[(1 * view + 6) * 3];
    const unsigned char *outside = &frame[(5 * view + 6) * 3];
    EXPECT_EQ(std::vector<int>(inside, inside + 3), (std::vector<int>{200, 10, 90}));
    EXPECT_EQ(std::vector<int>(outside, outside + 3), (std::vector<int>{0, 0, 0}));
}

}  // namespace
