// What the scene render tests share: opening the capture, an entry's first or last frame, and
// the vertices a draw call sends down the pipeline.
#pragma once

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "apps/capture/capture.h"
#include "support/frame_checks.h"

// Every case that plays has a process of its own (Run_CaseAlone): the first to need the capture
// opens it.
inline void OpenCapture()
{
    if (!Player_IsOpen())
        Capture_Open(PlayerSetup{QM_BUILD_DIR});
}

// Entry e's first frame, skipped to from wherever the capture stands (before the entry).
inline Frame FirstFrameOf(int e)
{
    OpenCapture();
    EXPECT_EQ(Player_SkipToEntry(e), 0) << "the demo ends before entry " << e;
    Player_Step();
    EXPECT_EQ(Player_EntryFirstFrame(e), Player_NextFrame() - 1) << "entry " << e << " had begun";
    return Player_Read();
}

// The frame at demo time t, which must be entry e's last.
inline Frame LastFrameOf(int e, double t)
{
    OpenCapture();
    const Frame f = Capture_FrameAt(t);
    EXPECT_TRUE(Player_CurrentEntry() == e && Player_PeekEntry() != e) << "entry " << e;
    return f;
}

// The current frame drawn again by render, outside the timeline's own frames.
inline Frame Redraw(void (*render)())
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    render();
    return Player_Read();
}

// The darkest and the brightest channel value in a rectangle.
inline std::pair<int, int> Range(const Frame &f, int x, int y, int w, int h)
{
    int least = 255, most = 0;
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++)
            for (int v : {f.at_gl(i, j).r, f.at_gl(i, j).g, f.at_gl(i, j).b})
                least = std::min(least, v), most = std::max(most, v);
    return {least, most};
}

// Window positions, in the order sent.
using Places = std::vector<std::pair<float, float>>;

// Whether two draws put the same vertices on the same places, to a tenth of a pixel.
inline bool SamePlaces(const Places &a, const Places &b)
{
    bool same = a.size() == b.size() && !a.empty();
    for (size_t i = 0; same && i < a.size(); i++)
        same = std::hypot(a[i].first - b[i].first, a[i].second - b[i].second) < 0.1f;
    return same;
}

// Object coordinates, colour, window position, the vertex count of its polygon and which
// polygon of the draw it belongs to, counting from 0.
struct FeedbackVertex {
    float x, y, z, r = 0, g = 0, b = 0, a = 0, wx = 0, wy = 0;
    int n = 0, polygon = 0;
    float dist(const FeedbackVertex &o) const { return std::hypot(x - o.x, y - o.y, z - o.z); }
};

// The vertices of every polygon draw() sends down, in order, with the coordinates it gave them
// (generated texture coordinates carry these back), in a view that clips nothing unless draw()
// sets its own. *polygons, if given, receives the number of polygons.
inline std::vector<FeedbackVertex> Feedback(void (*draw)(), int *polygons = nullptr)
{
    static std::vector<GLfloat> buf(1 << 24);
    static const GLubyte white[3] = {255, 255, 255};
    static const GLfloat r_plane[4] = {0, 0, 1, 0};   // s and t take x and y by default
    glMatrixMode(GL_PROJECTION), glLoadIdentity(), glOrtho(-2e3, 2e3, -2e3, 2e3, -2e3, 2e3);
    glMatrixMode(GL_MODELVIEW), glLoadIdentity();
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
    for (GLenum c : {GL_S, GL_T, GL_R})
        glTexGeni(c, GL_TEXTURE_GEN_MODE, GL_OBJECT_LINEAR);
    glTexGenfv(GL_R, GL_OBJECT_PLANE, r_plane);
    // Texture coordinates reach the feedback only from a unit with a complete texture.
    glTexImage2D(GL_TEXTURE_2D, 0, 3, 1, 1, 0, GL_RGB, GL_UNSIGNED_BYTE, white);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    for (GLenum cap : {GL_TEXTURE_2D, GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R})
        glEnable(cap);
    glFeedbackBuffer(GLsizei(buf.size()), GL_4D_COLOR_TEXTURE, buf.data());
    glRenderMode(GL_FEEDBACK);
    draw();
    const GLint n = glRenderMode(GL_RENDER);
    glPopAttrib();
    EXPECT_GE(n, 0) << "feedback buffer too small";
    std::vector<FeedbackVertex> out;
    int count = 0;
    for (GLint k = 0; k < n; k += 2 + 12 * GLint(buf[k + 1]), count++) {
        EXPECT_EQ(buf[k], GL_POLYGON_TOKEN);
        const int size = GLint(buf[k + 1]);
        for (const GLfloat *f = &buf[k + 2]; f < &buf[k + 2 + 12 * size]; f += 12)
            out.push_back({f[8], f[9], f[10], f[4], f[5], f[6], f[7], f[0], f[1], size, count});
    }
    if (polygons)
        *polygons = count;
    return out;
}
