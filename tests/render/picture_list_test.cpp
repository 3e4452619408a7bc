// Picture lists drawn for real, in the capture library's context: the list called under a
// pixel-exact orthographic view, every pixel compared with the tile and row it must come from.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <vector>

#include "assets/decoders.h"
#include "apps/capture/capture.h"
#include "support/process.h"

namespace {

const int view = 64;

// Each tile's own colour, its first stored row marked brighter.
unsigned char Tile_Byte(uint32_t tile, uint32_t row, int channel)
{
    return (unsigned char)(40 * (tile + 1) + (row == 0 ? 100 : 0) + channel * 3);
}

// Fault caught: tiles laid out from another corner, a tile's rows upside down, a list that
// enables texturing or sets filters itself (scenes call lists with and without texturing).
TEST(PictureList, TileZeroLowerLeftFirstRowOnTopAndNoStateOfItsOwn)
{
    if (!Run_CaseAlone())
        return;
    Capture_Open(PlayerSetup{QM_BUILD_DIR});
    glViewport(0, 0, view, view);
    glMatrixMode(GL_PROJECTION);
    glOrtho(0, view, 0, view, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    // What the caller sets around the list: the list itself sets none of it.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    const unsigned char plain[3] = {200, 10, 90};
    glColor3ubv(plain);

    // Three tiles across and two down, of 16 x 4: neither square nor as many across as down.
    const uint32_t across = 3, down = 2, w = 16, h = 4, list = 5;
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
        glReadPixels(0, 0, view, view, GL_RGB, GL_UNSIGNED_BYTE, frame.data());
        int wrong = 0;
        for (int y = 0; y < view; y++)
            for (int x = 0; x < view; x++)
                for (int channel = 0; channel < 3; channel++) {
                    int tile = (y / h) * across + x / w, row = h - 1 - y % h;   // from the top
                    int want = x >= int(across * w) || y >= int(down * h) ? 0
                               : textured ? Tile_Byte(tile, row, channel) : plain[channel];
                    wrong += frame[(y * view + x) * 3 + channel] != want;
                }
        EXPECT_EQ(wrong, 0) << (textured ? "textured" : "untextured");
    }
    // Mesa keeps the recorded images where LeakSanitizer cannot see them.
    glDeleteLists(list, 1);
}

}  // namespace
