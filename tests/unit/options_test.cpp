// The command-line option scan: whole-word matches, the lines it prints, -debug's edits of
// the scene script, and its refusals.
#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/options.h"
#include "timeline/scene_script.h"

namespace {

struct ScanResult {
    std::string output;
    bool fullscreen;
};

// Runs the scan over a fresh process state, as main does right after start-up.
void ScanArgs(std::vector<std::string> args)
{
    debug_mode = silent_mode = 0;
    debug_start = debug_end = 0.0f;
    debug_offset = 0;
    video_flags = SDL_FULLSCREEN | SDL_OPENGL;
    SceneScript_Reset();

    args.insert(args.begin(), "quiet_moss");
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Options_Scan(int(args.size()), argv.data());
}

ScanResult Scan(const std::vector<std::string> &args)
{
    ::testing::internal::CaptureStdout();
    ScanArgs(args);
    fflush(stdout);
    return {::testing::internal::GetCapturedStdout(), (video_flags & SDL_FULLSCREEN) != 0};
}

TEST(OptionsTest, ScanTable)
{
    struct Case {
        std::vector<std::string> args;
        const char *output;
        bool fullscreen;
        int silent;
        int debug;
    };
    const Case cases[] = {
        {{}, "", true, 0, 0},
        {{"-window"}, "QM_x: windowed mode.\n", false, 0, 0},
        {{"-window", "-window"}, "QM_x: windowed mode.\nQM_x: windowed mode.\n", true, 0, 0},
        {{"-silent"}, "QM_x: silent mode.\n", true, 1, 0},
        {{"-silent", "-window"}, "QM_x: silent mode.\nQM_x: windowed mode.\n", false, 1, 0},
        // Only whole, case-sensitive arguments are options.
        {{"-windowed", "-Window", "-silentx", "-SILENT", "window", "-debu", "--window"},
         "", true, 0, 0},
        {{"-debug", "0", "310", "8"},
         "QM_x: debug mode.\nQM_x: start: +0.000, end: +310.000, offset: 8;\n", true, 0, 1},
        {{"-debug", "5", "20", "0", "-silent"},
         "QM_x: debug mode.\nQM_x: start: +5.000, end: +20.000, offset: 0;\n"
         "QM_x: silent mode.\n",
         true, 1, 1},
        // The third value is also tested as an option: "-window" reads as offset 0.
        {{"-debug", "0", "310", "-window"},
         "QM_x: debug mode.\nQM_x: start: +0.000, end: +310.000, offset: 0;\n"
         "QM_x: windowed mode.\n",
         false, 0, 1},
        // The first two values are not.
        {{"-debug", "-window", "-silent", "3"},
         "QM_x: debug mode.\nQM_x: start: +0.000, end: +0.000, offset: 3;\n", true, 0, 1},
        {{"-debug", "-1.5", "2.25", "41"},
         "QM_x: debug mode.\nQM_x: start: -1.500, end: +2.250, offset: 41;\n", true, 0, 1},
    };
    for (const Case &c : cases) {
        std::string label = ::testing::PrintToString(c.args);
        ScanResult r = Scan(c.args);
        EXPECT_EQ(r.output, c.output) << label;
        EXPECT_EQ(r.fullscreen, c.fullscreen) << label;
        EXPECT_EQ(silent_mode, c.silent) << label;
        EXPECT_EQ(debug_mode, c.debug) << label;
    }
}

TEST(OptionsTest, DebugEditsTheScriptHeader)
{
    Scan({"-debug", "12.5", "200", "8"});
    EXPECT_EQ(debug_start, 12.5f);
    EXPECT_EQ(debug_end, 200.0f);
    EXPECT_EQ(debug_offset, 8);
    EXPECT_EQ(scene_script.start_time, 12.5f);
    EXPECT_EQ(scene_script.end_time, 200.0f);
    EXPECT_EQ(scene_script.last_index, 33);
    EXPECT_EQ(scene_script.first_entry, &scene_entries[8]);

    Scan({});
    EXPECT_EQ(scene_script.start_time, 0.0f);
    EXPECT_EQ(scene_script.end_time, 310.0f);
    EXPECT_EQ(scene_script.last_index, 41);
    EXPECT_EQ(scene_script.first_entry, &scene_entries[0]);
}

TEST(OptionsDeathTest, RefusesIncompleteOrOutOfRangeDebug)
{
    struct Case {
        std::vector<std::string> args;
        const char *message;
    };
    const Case cases[] = {
        {{"-debug"}, "QM_x: -debug needs three values: <start> <end> <offset>."},
        {{"-debug", "0"}, "QM_x: -debug needs three values"},
        {{"-window", "-debug", "0", "310"}, "QM_x: -debug needs three values"},
        {{"-debug", "0", "310", "42"}, "QM_x: -debug offset 42 is outside 0 to 41."},
        {{"-debug", "0", "310", "-1"}, "QM_x: -debug offset -1 is outside 0 to 41."},
        // A second -debug is held to the entries the first one left.
        {{"-debug", "0", "310", "30", "-debug", "0", "310", "12"}, "QM_x: -debug offset 12 is outside 0 to 11."},
    };
    for (const Case &c : cases) {
        // The refusal is printed on standard output; send it where the death test looks.
        EXPECT_EXIT(
            {
                dup2(STDERR_FILENO, STDOUT_FILENO);
                ScanArgs(c.args);
            },
            ::testing::ExitedWithCode(1), c.message)
            << ::testing::PrintToString(c.args);
    }
}

}  // namespace
