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

// Fault caught: an option matched by prefix or case, a line missing or out of order, -window
// setting rather than toggling full screen, -debug values read as options or options as its
// first two values, the script header left unedited.
TEST(OptionsTest, ScanTable)
{
    const std::string debug = "QM_x: debug mode.\nQM_x: start: ";
    const struct {
        std::vector<std::string> args;
        std::string output;
        bool fullscreen;
        int silent, first_entry;
        float start, end;
    } cases[] = {
        {{}, "", true, 0, 0, 0, 310},
        {{"-window", "-window"}, "QM_x: windowed mode.\nQM_x: windowed mode.\n", true, 0, 0, 0,
         310},
        {{"-silent", "-window"}, "QM_x: silent mode.\nQM_x: windowed mode.\n", false, 1, 0, 0,
         310},
        {{"-windowed", "-Window", "-silentx", "-SILENT", "window", "-debu", "--window"},
         "", true, 0, 0, 0, 310},
        {{"-debug", "12.5", "200", "8", "-silent"},
         debug + "+12.500, end: +200.000, offset: 8;\nQM_x: silent mode.\n", true, 1, 8, 12.5,
         200},
        // The third value is also tested as an option: "-window" reads as offset 0.
        {{"-debug", "0", "310", "-window"},
         debug + "+0.000, end: +310.000, offset: 0;\nQM_x: windowed mode.\n", false, 0, 0, 0, 310},
        {{"-debug", "-window", "-silent", "3"}, debug + "+0.000, end: +0.000, offset: 3;\n", true,
         0, 3, 0, 0},
        {{"-debug", "-1.5", "2.25", "41"}, debug + "-1.500, end: +2.250, offset: 41;\n", true, 0,
         41, -1.5, 2.25},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        ::testing::internal::CaptureStdout();
        ScanArgs(c.args);
        fflush(stdout);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
        EXPECT_EQ((video_flags & SDL_FULLSCREEN) != 0, c.fullscreen);
        EXPECT_EQ(silent_mode, c.silent);
        EXPECT_EQ(debug_mode, c.output.rfind(debug, 0) == 0);
        EXPECT_EQ(scene_script.first_entry, &scene_entries[c.first_entry]);
        EXPECT_EQ(scene_script.last_index, 41 - c.first_entry);
        EXPECT_EQ(scene_script.start_time, c.start);
        EXPECT_EQ(scene_script.end_time, c.end);
    }
}

// Fault caught: a -debug without its values or with an offset past the entries read anyway.
TEST(OptionsDeathTest, RefusesIncompleteOrOutOfRangeDebug)
{
    const struct { std::vector<std::string> args; const char *message; } cases[] = {
        {{"-debug"}, "QM_x: -debug needs three values: <start> <end> <offset>."},
        {{"-window", "-debug", "0", "310"}, "QM_x: -debug needs three values"},
        {{"-debug", "0", "310", "42"}, "QM_x: -debug offset 42 is outside 0 to 41."},
        {{"-debug", "0", "310", "-1"}, "QM_x: -debug offset -1 is outside 0 to 41."},
        // A second -debug is held to the entries the first one left.
        {{"-debug", "0", "310", "30", "-debug", "0", "310", "12"},
         "QM_x: -debug offset 12 is outside 0 to 11."},
    };
    for (const auto &c : cases) {
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
