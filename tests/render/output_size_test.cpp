// The demo at other output sizes: the 4:3 picture placed and scaled, the bars black, quick
// frames cut at any size, and the same pictures as at 640 × 480.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/capture/capture.h"
#include "platform/output.h"
#include "support/frame_checks.h"
#include "support/process.h"
#include "support/read_png.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

namespace {

// Mean absolute difference (0…255) of two frames of one size, over red, green and blue.
double MeanDifference(const Frame &a, const Frame &b)
{
    double sum = 0;
    for (size_t i = 0; i < a.rgba.size(); i++)
        if (i % 4 != 3)
            sum += std::abs(int(a.rgba[i]) - int(b.rgba[i]));
    return sum / (double(a.width) * a.height * 3);
}

// The frames qm-capture writes at 640 × 480 for the given times (as text).
std::vector<Frame> FramesAt640(const std::vector<std::string> &times)
{
    std::string dir = Make_TempDir("size-640"), args;
    for (const auto &t : times)
        args += " --at " + t;
    ProcessResult r =
        Run_Command(std::string(QM_BUILD_DIR) + "/qm-capture" + args + " --out " + dir + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<Frame> frames;
    for (const auto &t : times)
        frames.push_back(Read_Png(dir + "/frame_" + t + ".png"));
    std::filesystem::remove_all(dir);
    return frames;
}

std::string TimeText(double t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", t);
    return text;
}

}  // namespace

// Fault caught: the picture not the largest 4:3 that fits, not centred, scaled by one side only;
// neighbouring viewports that no longer meet.
TEST(OutputSize, PictureIsTheLargestCentredFourByThree)
{
    if (!Run_CaseAlone())
        return;
    Capture_Open(PlayerSetup{QM_BUILD_DIR});
    const struct {
        int w, h;
        OutputRect picture;
        OutputRect band;   // the scenes' band (0, 80, 640, 320) in the output
    } cases[] = {
        {640, 480, {0, 0, 640, 480}, {0, 80, 640, 320}},
        {1920, 1080, {240, 0, 1440, 1080}, {240, 180, 1440, 720}},
        {3840, 2160, {480, 0, 2880, 2160}, {480, 360, 2880, 1440}},
        {1280, 1024, {0, 32, 1280, 960}, {0, 192, 1280, 640}},
        {64, 7680, {0, 3816, 64, 48}, {0, 3824, 64, 32}},
        {1000, 1000, {0, 125, 1000, 750}, {0, 250, 1000, 500}},
    };
    for (const auto &c : cases) {
        Output_SetSize(c.w, c.h);
        EXPECT_EQ(Output_Picture(), c.picture) << c.w << "x" << c.h;
        EXPECT_EQ(Output_Map(0, 80, 640, 320), c.band) << c.w << "x" << c.h;
        EXPECT_EQ(Output_Map(0, 0, 640, 480), c.picture) << c.w << "x" << c.h;
        // The finale's square viewport and its neighbours share their edges.
        OutputRect left = Output_Map(0, 0, 80, 480), middle = Output_Map(80, 0, 480, 480),
                   right = Output_Map(560, 0, 80, 480);
        EXPECT_EQ(left.x + left.width, middle.x) << c.w << "x" << c.h;
        EXPECT_EQ(middle.x + middle.width, right.x) << c.w << "x" << c.h;
        EXPECT_EQ(right.x + right.width, c.picture.x + c.picture.width) << c.w << "x" << c.h;
    }
    Output_SetSize(640, 480);
    int w = 0, h = 0;
    for (const char *bad : {"", "640", "640x", "x480", "63x480", "640x7681", "640x480x", "-640x480",
                            "640 x480", "640x480 ", "0640x0480000"})
        EXPECT_FALSE(Output_ParseSize(bad, &w, &h)) << bad;
    EXPECT_TRUE(Output_ParseSize("7680X64", &w, &h) && w == 7680 && h == 64);
}

// At 1920 × 1080 the boot screen's peach stops at the picture's edges, the bars stay black,
// and a quick frame draws nothing anywhere.
// Fault caught: a clear that reaches the bars, a picture off centre or scaled wrongly, a quick
// frame's empty box that only covers 640 × 480.
TEST(OutputSize, BarsStayBlackAndThePictureLiesWhereItShould)
{
    if (!Run_CaseAlone())
        return;
    Capture_Open(PlayerSetup{QM_BUILD_DIR, 60, 1920, 1080});
    const std::vector<std::string> times = {"0.50", "20.00"};   // boot screen, mascot: peach
    std::vector<Frame> small = FramesAt640(times);
    for (size_t i = 0; i < times.size(); i++) {
        Frame f = Capture_FrameAt(std::stod(times[i]));
        ASSERT_EQ(f.width, 1920);
        EXPECT_TRUE(BlackGl(f, 0, 0, 240, 1080)) << times[i] << ": left bar";
        EXPECT_TRUE(BlackGl(f, 1680, 0, 240, 1080)) << times[i] << ": right bar";
        // The picture reaches its edges: its outermost columns are drawn.
        for (int x : {240, 1679})
            EXPECT_GT(MeanGl(f, x, 0, 1, 1080).r, 50) << times[i] << ": column " << x;
        Frame down = f.box_down(240, 0, 1440, 1080, 640, 480);
        EXPECT_LT(MeanDifference(down, small[i]), 4.0) << times[i];

        // A quick frame leaves every pixel as it was.
        ASSERT_EQ(Player_Step(true), 0);
        EXPECT_TRUE(Player_Read() == f) << times[i] << ": a quick frame drew";
    }
}

// A dozen moments across the nine modules at 1280 × 960, shrunk back to 640 × 480, against
// the frames drawn at 640 × 480. Measured mean differences (0–255): 0.19 to 1.89; the bound is
// twice each, at least 0.5. With the viewports left unmapped the moments differ by 19 to 128;
// moved by one output pixel, by 0.9 to 3.9, which fails most of them.
// Fault caught: a viewport mapped from the wrong corner, by the wrong scale, not mapped at all.
TEST(OutputSize, LargerFramesShrinkToThe640Pictures)
{
    if (!Run_CaseAlone())
        return;
    Capture_Open(PlayerSetup{QM_BUILD_DIR, 60, 1280, 960});
    const struct {
        int entry;
        double bound;
    } moments[] = {{1, 3.8},  {5, 0.6},  {11, 0.7}, {13, 1.0}, {17, 1.7}, {19, 1.4},
                   {23, 0.5}, {28, 1.4}, {31, 2.4}, {35, 0.9}, {38, 0.5}, {40, 0.5}};
    std::vector<std::string> times;
    for (const auto &m : moments)
        times.push_back(TimeText(0.5 * (scene_entries[m.entry].start +
                                        scene_entries[m.entry + 1].start)));
    std::vector<Frame> small = FramesAt640(times);
    for (size_t i = 0; i < times.size(); i++) {
        Frame down = Capture_FrameAt(std::stod(times[i])).box_down(0, 0, 1280, 960, 640, 480);
        double d = MeanDifference(down, small[i]);
        EXPECT_LT(d, moments[i].bound) << "entry " << moments[i].entry << " at " << times[i];
    }
}
