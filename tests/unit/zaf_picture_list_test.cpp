// Picture lists drawn for real: an offscreen EGL context (Mesa's surfaceless platform), the
// list called under a pixel-exact orthographic view, every pixel compared with the tile and
// row it must come from.
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "assets/decoders.h"

namespace {

const int view = 64;

// EGL is opened at run time so the test needs no extra link library.
bool Make_Context()
{
    void *egl = dlopen("libEGL.so.1", RTLD_NOW);
    if (!egl)
        return false;
// Core entry points: all there where the library is.
#define EGL_FUNCTION(name) auto name##_ = (decltype(&name))dlsym(egl, #name)
    EGL_FUNCTION(eglGetPlatformDisplay);
    EGL_FUNCTION(eglInitialize);
    EGL_FUNCTION(eglBindAPI);
    EGL_FUNCTION(eglChooseConfig);
    EGL_FUNCTION(eglCreatePbufferSurface);
    EGL_FUNCTION(eglCreateContext);
    EGL_FUNCTION(eglMakeCurrent);
    EGLDisplay display = eglGetPlatformDisplay_(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY,
                                                nullptr);
    EGLint count;
    EGLConfig config;
    const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                        EGL_OPENGL_BIT, EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8,
                                        EGL_BLUE_SIZE, 8, EGL_NONE};
    const EGLint surface_attributes[] = {EGL_WIDTH, view, EGL_HEIGHT, view, EGL_NONE};
    if (display == EGL_NO_DISPLAY || !eglInitialize_(display, nullptr, nullptr)
        || !eglBindAPI_(EGL_OPENGL_API)
        || !eglChooseConfig_(display, config_attributes, &config, 1, &count) || count < 1)
        return false;
    EGLSurface surface = eglCreatePbufferSurface_(display, config, surface_attributes);
    EGLContext gl = eglCreateContext_(display, config, EGL_NO_CONTEXT, nullptr);
    return surface != EGL_NO_SURFACE && gl != EGL_NO_CONTEXT
        && eglMakeCurrent_(display, surface, surface, gl);
}

// Each tile's own colour, its first stored row marked brighter.
unsigned char Tile_Byte(uint32_t tile, uint32_t row, int channel)
{
    return (unsigned char)(40 * (tile + 1) + (row == 0 ? 100 : 0) + channel * 3);
}

TEST(PictureList, TileZeroLowerLeftFirstRowOnTopAndNoStateOfItsOwn)
{
    ASSERT_TRUE(Make_Context()) << "no EGL surfaceless context (Mesa's libegl-mesa0)";
    glOrtho(0, view, 0, view, -1, 1);
    // What the caller sets around the list: the list itself sets none of it.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    const unsigned char plain[3] = {200, 10, 90};
    glColor3ubv(plain);

    const uint32_t cases[][4] = {{2, 2, 8, 8}, {3, 2, 16, 4}};   // tiles across, down; w, h
    GLuint list = 5;
    for (const auto &[across, down, w, h] : cases) {
        SCOPED_TRACE(testing::Message() << across << "x" << down << " of " << w << "x" << h);
        std::vector<unsigned char> pixels, frame(view * view * 3);
        for (uint32_t tile = 0; tile < across * down; tile++)
            for (uint32_t row = 0; row < h; row++)
                for (uint32_t i = 0; i < w * 3; i++)
                    pixels.push_back(Tile_Byte(tile, row, i % 3));
        Picture picture{w, h, across, down, pixels.data()};

        glClear(GL_COLOR_BUFFER_BIT);
        Picture_BuildList(list, &picture);
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
        glReadPixels(0, 0, view, view, GL_RGB, GL_UNSIGNED_BYTE, frame.data());
        EXPECT_EQ(frame, std::vector<unsigned char>(frame.size(), 0)) << "compiling drew";
        pixels.assign(pixels.size(), 0);   // the upload was recorded at compile time

        // Untextured the quads take the current colour; textured, each pixel its tile's.
        for (bool textured : {false, true}) {
            if (textured)
                glEnable(GL_TEXTURE_2D);
            glCallList(list);
            EXPECT_EQ((bool)glIsEnabled(GL_TEXTURE_2D), textured);
            glDisable(GL_TEXTURE_2D);
            std::vector<unsigned char> want;
            for (int y = 0; y < view; y++)
                for (int x = 0; x < view; x++)
                    for (int channel = 0; channel < 3; channel++) {
                        bool inside = x < int(across * w) && y < int(down * h);
                        uint32_t tile = (y / h) * across + x / w;
                        uint32_t row = h - 1 - y % h;   // rows counted from the tile's top
                        want.push_back(!inside    ? 0
                                       : textured ? Tile_Byte(tile, row, channel)
                                                  : plain[channel]);
                    }
            glReadPixels(0, 0, view, view, GL_RGB, GL_UNSIGNED_BYTE, frame.data());
            size_t at = std::mismatch(frame.begin(), frame.end(), want.begin()).first
                - frame.begin();
            EXPECT_EQ(at, frame.size()) << "first wrong pixel (" << at / 3 % view << ", "
                                        << at / 3 / view << ")";
        }
        // Mesa keeps the recorded images where LeakSanitizer cannot see them.
        glDeleteLists(list++, 1);
    }
}

}  // namespace
