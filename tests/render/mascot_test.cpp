// The mascot scenes (entries 4 to 7): what their frames show, and the geometry of sparks and
// trails read back in GL feedback, where generated texture coordinates return each vertex's
// own coordinates (those passed to glVertex).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "scenes/mascot/mascot.h"
#include "tools/capture/capture.h"

namespace {

void Open()
{
    if (!Capture_IsOpen())
        Capture_Open(CaptureSetup{QM_BUILD_DIR});
}

struct Vertex {
    float x, y, z, r = 0, g = 0, b = 0, a = 0;
    float dist(const Vertex &o) const { return std::hypot(x - o.x, y - o.y, z - o.z); }
};

// The vertices of every triangle that draw() sends down the pipeline, in order, in a view so
// wide that nothing is clipped unless draw() sets its own.
std::vector<Vertex> Feedback(void (*draw)())
{
    static std::vector<GLfloat> buf(1 << 24);
    static const GLubyte white[3] = {255, 255, 255};
    static const GLfloat r_plane[4] = {0, 0, 1, 0};   // s and t take x and y by default
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-2000, 2000, -2000, 2000, -2000, 2000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
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
    std::vector<Vertex> out;
    for (GLint k = 0; k < n; k += 2 + 3 * 12) {   // token, count 3, three vertices
        EXPECT_TRUE(buf[k] == GL_POLYGON_TOKEN && buf[k + 1] == 3);
        for (const GLfloat *f = &buf[k + 2]; f < &buf[k + 2 + 3 * 12]; f += 12)
            out.push_back({f[8], f[9], f[10], f[4], f[5], f[6], f[7]});
    }
    return out;
}

}  // namespace

TEST(Mascot, SparkShrinksAndFadesWithDistanceAndVanishesFrom600)
{
    Open();
    const struct {
        Vertex p;
        float radius, alpha;   // radius 0: nothing drawn
    } cases[] = {{{0, 0, 0}, 100, 1}, {{180, 0, -240}, 70, 0.5f}, {{360, 480, 0}, 0, 0},
                 {{0, 0, -650}, 0, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.p.x << ", " << c.p.y << ", " << c.p.z);
        spark_position[0] = c.p.x, spark_position[1] = c.p.y, spark_position[2] = c.p.z;
        spark_colour[0] = 1, spark_colour[1] = 0.5f, spark_colour[2] = 0.25f;
        float rim = 0, alpha = 0;
        for (const Vertex &v : Feedback(Mascot_DrawSpark)) {
            if (v.g == 0.5f && v.b == 0.25f) {   // the spark's own colour: the disc centres
                alpha = v.a;
                EXPECT_LT(v.dist(c.p), 1e-3f);
            } else if (v.r == 1 && v.a == 0) {   // the clear white disc rims
                rim = std::max(rim, v.dist(c.p));
            }
        }
        EXPECT_NEAR(rim, c.radius, 1e-3f);
        EXPECT_NEAR(alpha, c.alpha, 1e-5f);
    }
}

// One run through entries 4 to 7.
TEST(Mascot, BarsTrailMirroredSparksLogoAndClosing)
{
    Open();
    while (Capture_PeekEntry() != 4)
        Capture_Skip();
    Capture_Step();
    const Frame first = Capture_Read();   // the bars closed: black but three 2-pixel gaps
    for (int y = 0; y < 480; y++)
        for (int x = 0; x < 640; x++)
            ASSERT_EQ(first.black_gl(x, y, 1, 1), y < 80 || y >= 400 || (y - 80) % 159 > 1)
                << "(" << x << ", " << y << ")";

    // Copy k of the trail is copy 0 turned by 6k degrees about y, and denser than the last.
    glPushMatrix();   // the list pops it
    const std::vector<Vertex> t = Feedback([] { glCallList(5); });
    ASSERT_TRUE(!t.empty() && t.size() % 20 == 0) << t.size();
    const size_t n = t.size() / 20;
    float err = 0;
    for (size_t k = 0; k < 20; k++) {
        const double c = std::cos(k * M_PI / 30), s = std::sin(k * M_PI / 30);
        for (size_t i = 0; i < n; i++)
            err = std::max(err, t[k * n + i].dist({float(t[i].x * c + t[i].z * s), t[i].y,
                                                   float(t[i].z * c - t[i].x * s)}));
        EXPECT_TRUE(k == 0 || t[k * n].a > t[k * n - 1].a) << "copy " << k;
    }
    EXPECT_LT(err, 0.01f);
    EXPECT_TRUE(std::fabs(t[0].a - 0.01f) < 1e-6f && std::fabs(t.back().a - 0.142f) < 2e-3f);

    // Mid entry 4 the inner bars have faded open towards the middle of the screen.
    const Frame mid = Capture_FrameAt(13);
    EXPECT_GT(mid.mean_gl(0, 230, 640, 8).r, 4 * mid.mean_gl(0, 84, 640, 8).r + 20);
    EXPECT_TRUE(mid.black_gl(0, 0, 640, 80) && mid.black_gl(0, 400, 640, 80));

    // The pink pass is the warm one mirrored through the y axis, its rows in reverse order;
    // the warm one runs its rows from z = chan_x backwards. Sparks within 400 of the origin lie
    // whole inside the view; their disc centres are the only vertices in a spark's full red.
    std::vector<Vertex> pass[2];
    for (const Vertex &v : Feedback(Mascot_RenderA)) {
        auto &p = pass[v.g < v.b];
        if (v.r == 1 && v.a > 0 && v.dist({0, 0, 0}) < 400 && (p.empty() || p.back().dist(v)))
            p.push_back(v);
    }
    const auto by_z = [](const Vertex &u, const Vertex &v) { return u.z < v.z; };
    EXPECT_TRUE(std::is_sorted(pass[0].rbegin(), pass[0].rend(), by_z));
    std::stable_sort(pass[0].begin(), pass[0].end(), by_z);
    ASSERT_TRUE(pass[0].size() >= 10 && pass[0].size() == pass[1].size()) << pass[0].size();
    for (size_t i = 0; i < pass[0].size(); i++) {
        const Vertex &w = pass[0][i];
        EXPECT_EQ(pass[1][i].dist({-w.x, w.y, -w.z}), 0) << "spark " << i << " of the pink pass";
    }

    // Entry 5: the logo, pixel for pixel, its lower left corner at (0, 8).
    const Frame logo = Capture_ReadPng(QM_BUILD_DIR "/data/logo.png"), shown = Capture_FrameAt(19);
    for (int y = 0; y < logo.height; y++)
        for (int x = 0; x < logo.width; x++) {
            const Rgba p = logo.at_gl(x, y), q = shown.at_gl(x, y + 8);
            ASSERT_TRUE(p.r == q.r && p.g == q.g && p.b == q.b) << "(" << x << ", " << y << ")";
        }

    // The last frame of entry 7 is black from edge to edge.
    const Frame last = Capture_FrameAt(30.25);
    ASSERT_TRUE(Capture_CurrentEntry() == 7 && Capture_PeekEntry() == 8);
    EXPECT_TRUE(last.black_gl(0, 0, 640, 480));
}
