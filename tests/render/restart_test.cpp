// Playing the timeline again on the scenes already loaded (the browser's backward seek): every
// frame as a fresh run draws it, from wherever the timeline stood.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "apps/capture/capture.h"
#include "assets/zaf.h"
#include "platform/headless_gl.h"
#include "runtime/loading.h"
#include "scenes/boot/boot.h"
#include "support/process.h"
#include "support/read_png.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

namespace {

// Entries' first frames, which inherit what the entries before them left (a fresh process: a
// new context's GL state and the output's viewport): the boot screen, its tiles, the mascot,
// the eyes, the dot wall, the glow shells, the column; the frames after them, which carry
// values from their first; frames in the middle of the mascot, the dot wall and the finale.
const double times[] = {0.0, 1.5, 10.3, 20.0, 30.3, 76.6, 79.6, 83.0, 188.4, 188.5, 225.2, 280.0};

std::vector<Frame> FramesFromHere()
{
    std::vector<Frame> frames;
    for (double t : times)
        frames.push_back(Capture_FrameAt(t));
    return frames;
}

}  // namespace

// Restarted from the end of the demo and from inside modules that leave culling, depth test,
// blending or a carried value behind, the timeline draws the fresh run's frames byte for byte.
TEST(PlayerRestart, DrawsTheFreshRunsFramesFromAnywhere)
{
    if (!Run_CaseAlone())
        return;
    Capture_Open(PlayerSetup{QM_BUILD_DIR});
    const std::vector<Frame> fresh = FramesFromHere();
    int distinct = 0;
    for (size_t i = 1; i < fresh.size(); i++)
        distinct += !(fresh[i] == fresh[i - 1]);
    ASSERT_EQ(distinct, int(fresh.size()) - 1) << "the moments must differ to prove anything";

    // (where the timeline stands when it restarts, what to call it)
    const std::pair<double, const char *> from[] = {
        {-1, "the end"}, {240.0, "the column"}, {90.0, "the dot wall"},
        {200.0, "the glow shells"}, {0.0, "the first frame"}};
    for (auto [t, what] : from) {
        if (t < 0) {
            while (!Player_Step(true)) {
            }
        } else {
            Player_Restart();
            Capture_FrameAt(t);
        }
        Player_Restart();
        EXPECT_EQ(Player_NextFrame(), 0) << what;
        const std::vector<Frame> again = FramesFromHere();
        for (size_t i = 0; i < again.size(); i++)
            EXPECT_TRUE(again[i] == fresh[i]) << "at " << times[i] << " s after a restart from "
                                              << what;
    }
}

// The browser's start: the loading sequence walked by the front end a step at a time, the boot
// screen drawn between the steps, then the player started on what was loaded. Its frames are
// qm-capture's, from a process that loaded everything before its first frame.
TEST(PlayerRestart, StartLoadedDrawsTheCapturesFrames)
{
    if (!Run_CaseAlone())
        return;
    const std::vector<std::string> moments = {"0", "1.5", "20", "76.6", "188.4"};
    const std::string dir = Make_TempDir("restart-capture");
    std::string args;
    for (const auto &t : moments)
        args += " --at " + t;
    ProcessResult r = Run_Command(std::string(QM_BUILD_DIR) + "/qm-capture" + args + " --out " +
                                  dir + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;

    HeadlessGL_Open(scene_width, scene_height);
    ZAF_Open((std::string(QM_BUILD_DIR) + "/quiet_moss.zaf").c_str());
    Boot_Load();
    Timeline_Prepare(&scene_script, 0);
    for (int i = 0; i < loading_step_count; i++) {
        Loading_Take(i);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        ASSERT_EQ(Timeline_Frame(), 0);
    }
    Player_StartLoaded(PlayerSetup{QM_BUILD_DIR});
    EXPECT_THROW(Player_StartLoaded(PlayerSetup{QM_BUILD_DIR}), PlayerError);
    for (const auto &t : moments) {
        const Frame f = Capture_FrameAt(std::stod(t));
        const Frame ref = Read_Png(dir + "/frame_" + t + ".png");
        bool same = f.width == ref.width && f.height == ref.height;
        for (size_t i = 0; same && i < f.rgba.size(); i++)
            same = i % 4 == 3 || f.rgba[i] == ref.rgba[i];
        EXPECT_TRUE(same) << "at " << t << " s";
    }
    std::filesystem::remove_all(dir);
}
