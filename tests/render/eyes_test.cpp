// The eyes and stitch net (entries 8 to 15): the stitch layers the loader leaves, and what the
// frames show of the band, the curtain, the eyes, the net's cover, the friezes and the close.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "scenes/eyes/eyes.h"
#include "render/scene_probe.h"
#include "support/process.h"
#include "support/read_png.h"
#include "timeline/timeline.h"

// Whether the w x h block of the frame at (x, y) is the source picture's block at (px, 0).
static bool ShowsPicture(const Frame &f, int x, int y, const Frame &picture, int px, int w, int h)
{
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++)
            if (!(f.at_gl(x + i, y + j) == picture.at_gl(px + i, j)))
                return false;
    return true;
}

// The lines cut to the smallest box that holds every '#'.
static std::vector<std::string> Crop(const std::vector<std::string> &lines)
{
    size_t top = lines.size(), bottom = 0, left = std::string::npos, right = 0;
    for (size_t t = 0; t < lines.size(); t++)
        if (lines[t].find('#') != std::string::npos) {
            top = std::min(top, t), bottom = t;
            left = std::min(left, lines[t].find('#')), right = std::max(right, lines[t].rfind('#'));
        }
    std::vector<std::string> out;
    for (size_t t = top; t <= bottom && t < lines.size(); t++)
        out.push_back(lines[t].substr(left, right + 1 - left));
    return out;
}

// Random layers open 100 stitches, none open the layer before; reveal layers keep the last
// one's and open 16 more, never a pattern cell, so layer 80 leaves only the text closed.
TEST(Eyes, StitchLayersFollowTheirPhases)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    for (int layer = 0; layer <= 80; layer++) {
        SCOPED_TRACE("layer " + std::to_string(layer));
        const unsigned char(*open)[9] = Eyes_StitchLayer(layer);
        int count = 0, shared = 0, dropped = 0, stray = 0;
        for (int i = 0; i < 71; i++)
            for (int j = 0; j < 9; j++) {
                count += open[i][j];
                bool before = layer > 0 && layer != 50 && Eyes_StitchLayer(layer - 1)[i][j];
                shared += before && open[i][j];
                dropped += before && !open[i][j];
                stray += !open[i][j] && (i < 3 || i > 66 || j < 2 || j > 6);
            }
        EXPECT_EQ(count, layer < 50 ? 100 : 16 * (layer - 49));
        EXPECT_EQ(layer < 50 ? shared : dropped, 0);
        EXPECT_TRUE(layer < 80 || stray == 0);
    }
}

// The stitches a net render shows: cell[i][j] is '#' for a lid, '.' for a lit well and ' '
// where the view clips the cell's centre, for column i by x and row j by angle about the
// net's axis (row 8 the highest); x_rightwards: whether x grows to the right on screen.
struct Net {
    char cell[71][9];
    bool x_rightwards;
};
static Net NetShown(void (*render)())
{
    // The centre of each cell's fan: a lid's own colour, or a well floor's (s, 0.9 s, 0.7 s).
    std::map<float, std::map<float, FeedbackVertex>> centres;   // by x, by angle
    std::set<float> angles;
    for (const FeedbackVertex &v : Feedback(render)) {
        const bool lid = v.r == 0.5f && v.g == 0.3f && v.b == 0.2f && v.a == 1;
        const bool floor = v.n == 3 && v.r > 0 && v.a == 1 && std::fabs(v.g - 0.9f * v.r) < 1e-5f &&
                           std::fabs(v.b - 0.7f * v.r) < 1e-5f;
        const float angle = std::round(1e3f * std::atan2(v.z, v.y));
        if (lid || floor)
            centres[std::round(v.x)][angle] = v, angles.insert(angle);
    }
    Net net;
    memset(net.cell, ' ', sizeof net.cell);
    EXPECT_TRUE(centres.size() == 71 && angles.size() == 9) << centres.size() << ", " << angles.size();
    int i = 0;
    for (auto column = centres.begin(); column != centres.end() && i < 71; column++, i++)
        for (const auto &[angle, v] : column->second)
            net.cell[i][std::min<int>(std::distance(angles.begin(), angles.find(angle)), 8)] =
                v.r == 0.5f ? '#' : '.';
    net.x_rightwards = centres.at(355).begin()->second.wx < centres.at(365).begin()->second.wx;
    return net;
}

// Whether the net shows layer L of the stitch layers wherever the view shows a cell.
static void ExpectLayer(const Net &net, int layer)
{
    const unsigned char(*open)[9] = Eyes_StitchLayer(layer);
    int shown = 0;
    for (int i = 0; i < 71; i++)
        for (int j = 0; j < 9; j++) {
            shown += net.cell[i][j] != ' ';
            EXPECT_TRUE(net.cell[i][j] == ' ' || (net.cell[i][j] == '#') == !open[i][j])
                << "layer " << layer << ", cell " << i << ", " << j;
        }
    EXPECT_GT(shown, 600);
}

TEST(Eyes, BandCurtainEyesNetAndClose)
{
    if (!Run_CaseAlone())
        return;
    OpenCapture();
    const Frame eyes = Read_Png(QM_BUILD_DIR "/data/oczka.png");
    const Frame lower = Read_Png(QM_BUILD_DIR "/data/fri1.png");
    const Frame upper = Read_Png(QM_BUILD_DIR "/data/fri2.png");

    // Entry 8's first frame is cleared before its init sets black, in the colour the scenes
    // before it left; then the band rises from below until the screen is white. Entry 9 starts
    // with the curtain closed.
    ASSERT_EQ(Player_SkipToEntry(8), 0);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    Rgba p = FirstFrameOf(8).at_gl(320, 240);
    EXPECT_LE(std::max({std::fabs(p.r - 255 * clear[0]), std::fabs(p.g - 255 * clear[1]),
                        std::fabs(p.b - 255 * clear[2])}), 1);
    Player_Step();
    EXPECT_EQ(Range(Player_Read(), 0, 8, 640, 472).second, 0);
    const Frame last = LastFrameOf(8, 32.0);
    EXPECT_TRUE(Range(last, 0, 0, 640, 440).first == 255 &&
                Range(last, 0, 440, 640, 40).first > 200);
    EXPECT_EQ(Range(FirstFrameOf(9), 0, 0, 640, 480).first, 255);

    // Entry 10: the open curtain, dark on its middle line; the eyes by step, each tile pixel
    // for pixel (2f the left eye of frame f, 2f + 1 the right), or no eye at all (-1).
    const int steps[][3] = {{0, -1, -1}, {1, 0, 0}, {30, 7, 7}, {42, 6, -1}, {49, -1, 6},
                            {67, -1, -1}, {70, -1, -1}};
    for (auto [step, left, right] : steps) {
        SCOPED_TRACE("step " + std::to_string(step));
        while (Player_PeekEntry() != 10 || std::nearbyint(ramp_a) < step)
            Player_Skip();
        Player_Step();
        ASSERT_EQ(std::nearbyint(ramp_a), step);
        Frame f = Player_Read();
        EXPECT_LT(MeanGl(f, 0, 226, 260, 28).r, 30);
        EXPECT_TRUE(left < 0 ? Range(f, 280, 224, 32, 32).second < 60
                             : ShowsPicture(f, 280, 224, eyes, 64 * left, 32, 32));
        EXPECT_TRUE(right < 0 ? Range(f, 328, 224, 32, 32).second < 60
                              : ShowsPicture(f, 328, 224, eyes, 64 * right + 32, 32, 32));
    }

    // Entry 11 starts with the net under opaque black on the middle line (its pixels lie half
    // a pixel off it), graded to white at the friezes, which lie in their bands.
    Frame net = FirstFrameOf(11);
    EXPECT_LE(Range(net, 0, 239, 640, 2).second, 1);
    for (int y = 250; y < 410; y += 40)
        EXPECT_GT(MeanGl(net, 0, y + 40, 640, 1).r, MeanGl(net, 0, y, 640, 1).r + 10) << y;
    EXPECT_TRUE(ShowsPicture(net, 0, 0, lower, 0, 640, 64));
    EXPECT_TRUE(ShowsPicture(net, 0, 416, upper, 0, 640, 64));

    // Entry 12 walks the layers with chan_x, the swell at its furthest (ramp_b 52); entry 13
    // holds layer 80, the text in closed stitches reading on screen as the module writes it.
    while (demo_time < 62)
        Player_Skip();
    do
        Player_Step(true);
    while (std::nearbyint(ramp_b) != 52);
    ASSERT_EQ(Player_CurrentEntry(), 12);
    ExpectLayer(NetShown(Eyes_RenderE), int(std::nearbyint(chan_x)));
    FirstFrameOf(13);
    const Net text = NetShown(Eyes_RenderD);
    ExpectLayer(text, 80);
    std::vector<std::string> seen, written;
    for (int j = 8; j >= 0; j--) {
        seen.emplace_back();
        for (int k = 0; k < 71; k++)
            seen.back() += text.cell[text.x_rightwards ? k : 70 - k][j];
    }
    for (int t = 0; t < 5; t++)
        written.push_back(Eyes_PatternLine(t));
    // Where the view clips a cell (' '), what it shows is not known.
    std::vector<std::string> shown = Crop(seen), text_lines = Crop(written);
    for (size_t t = 0; t < shown.size() && t < text_lines.size(); t++)
        for (size_t k = 0; k < shown[t].size() && k < text_lines[t].size(); k++)
            shown[t][k] = shown[t][k] == ' ' ? text_lines[t][k] : shown[t][k];
    EXPECT_EQ(shown, text_lines);

    EXPECT_GT(Range(LastFrameOf(14, 74.83), 0, 0, 640, 480).first, 248) << "entry 14 ends closed";

    // Entry 15 ends with the band gone above the screen but for a faint trace at the top.
    const Frame end = LastFrameOf(15, 76.58);
    EXPECT_TRUE(Range(end, 0, 0, 640, 440).second == 0 && Range(end, 0, 440, 640, 40).second < 16);
}
