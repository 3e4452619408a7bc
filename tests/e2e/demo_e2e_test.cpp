// The real quiet_moss under Xvfb: what it prints, how it ends, its exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "fuzz/zaf_craft.h"
#include "platform/fsound.h"
#include "support/frame_checks.h"
#include "support/process.h"
#include "support/read_png.h"
#include "apps/capture/capture.h"

namespace {

// A working folder holding the built archive (and no soundtrack), as a user's would.
class DemoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = Make_TempDir("e2e");
        std::filesystem::create_symlink(QM_BUILD_DIR "/quiet_moss.zaf", dir + "/quiet_moss.zaf");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Runs a shell script in the working folder under its own X server. `timeout` keeps a
    // demo that fails to end from running its whole five minutes.
    ProcessResult RunUnderXvfb(const std::string &script, int seconds = 60)
    {
        std::string command = "cd " + dir + " && DEMO=" QM_BUILD_DIR "/quiet_moss CLOSE=" QM_BUILD_DIR
                              "/tests/qm-close-window SDL_AUDIODRIVER=dummy timeout " +
                              std::to_string(seconds) +
                              " " QM_SOURCE_DIR "/tests/tools/with-xvfb sh -c '" + script + "'";
        return Run_Command(command);
    }

    std::string dir;
    const std::string find_window =
        "wid=$(xdotool search --sync --name \"quiet moss\" | head -n 1); ";
};

// Fault caught: option lines missing, no timing table (its format is the timeline test's), a
// switch before its start or several in a frame, the end time not honoured, a scene that fails
// on its entry's first frame (from 305 s on every entry is passed, one a frame), the last frame
// not held for a second at the end.
TEST_F(DemoTest, DebugRunsSwitchOneEntryAFrameAndEndAsTold)
{
    const struct {
        const char *options, *last;
        double from, to;   // where the last switch line lies
        size_t switches;
    } cases[] = {
        // The one switch comes on the first frame at or after 1.455 s: how long after depends on
        // the frame time (under TSan 1.89 s), so the bound is the end time, tested first.
        {"0 3 0", "QM_x: end of demo time.", 1.455, 3.0, 1},
        // 41 switches, then the one that finds no entry left after entry 41's end. Every
        // switch runs an init, one a frame, so how late it comes depends on the frame time
        // (312.2 s under TSan): the bound is the end time, and the last line says which end.
        {"305 400 0", "QM_x: end of effects.", 309.362, 400.0, 42},
    };
    for (const auto &c : cases) {
        // On a terminal the demo writes each line as it comes, so the time from the last line
        // (the end) to the exit is the hold, less however late the line is read.
        ProcessResult r = RunUnderXvfb(
            std::string("cr=$(printf \"\\r\"); { script -qec \"$DEMO -window -silent -debug ") +
            c.options + "\" /dev/null; echo $? >status; } | while IFS= read -r l; do "
                        "printf \"%s\\n\" \"${l%$cr}\"; date +%s%N >last; done; date +%s%N >exit");
        ASSERT_EQ(std::stoi(Craft_Read(dir + "/status")), 0) << r.output;
        const double held =
            (std::stoll(Craft_Read(dir + "/exit")) - std::stoll(Craft_Read(dir + "/last"))) / 1e9;
        EXPECT_GT(held, 0.8) << c.options;
        std::vector<std::string> lines = Split_Lines(r.output);
        ASSERT_EQ(lines.size(), 4 + 42 + c.switches + 1) << r.output;
        EXPECT_EQ(lines[2], "QM_x: debug mode.");
        EXPECT_EQ(lines[45].rfind("41 ent: ", 0), 0u) << lines[45];
        double at = std::stod(lines[lines.size() - 2]);
        EXPECT_TRUE(at >= c.from && at < c.to) << at;
        EXPECT_EQ(lines.back(), c.last);
    }
}

// Fault caught: Escape or a window close ignored, or ending with another status.
TEST_F(DemoTest, EscapeAndWindowCloseEndItAtOnce)
{
    // Without -debug the demo would run five minutes: ending within the minute that `timeout`
    // allows means the request was honoured.
    for (std::string action : {"xdotool windowfocus --sync $wid key Escape", "$CLOSE $wid"}) {
        ProcessResult r =
            RunUnderXvfb("$DEMO -window -silent & pid=$!; " + find_window + action + "; wait $pid");
        EXPECT_EQ(r.status, 0) << action << ": " << r.output;
        EXPECT_EQ(r.output, "QM_x: windowed mode.\nQM_x: silent mode.\n") << action;
    }
}

// The filled indicators of a boot-screen shot, or -1 when the shot is not the boot screen:
// a filled square tints its middle, a hollow frame tints its side and leaves the middle be.
int FilledIndicators(const Frame &shot)
{
    auto luma = [&](int x, int y) {
        Rgba p = shot.at_gl(x, y);
        return (2 * p.r + 5 * p.g + p.b) / 8;
    };
    int filled = 0;
    for (int k = 0; k < 8; k++) {
        int x = int(320 + (20 + 40 * k - 320) * 1.00405);  // the boot view's scale
        int middle = luma(x, 435), side = luma(x + 12, 435);
        if (std::abs(middle - side) < 8)
            return -1;
        filled += middle > side;
    }
    return filled;
}

// Fault caught: loading that blocks the boot screen, flags raised all at once or out of step
// with the loaders, a demo that never leaves the boot screen.
TEST_F(DemoTest, BootScreenFillsWhileLoadingAndEntryOneFollows)
{
    // Screenshots twice a second while the demo loads, then Escape.
    ProcessResult r = RunUnderXvfb(
        std::string("$DEMO -window -silent & pid=$!; ") + find_window +
        "ffmpeg -loglevel error -f x11grab -framerate 2 -video_size 640x480 -i $DISPLAY+0,0 "
        "-t 16 shot_%03d.png; "
        "xdotool windowfocus --sync $wid key Escape; wait $pid");
    ASSERT_EQ(r.status, 0) << r.output;

    std::vector<int> states;
    for (int i = 1;; i++) {
        char name[32];
        snprintf(name, sizeof name, "/shot_%03d.png", i);
        if (!std::filesystem::exists(dir + name))
            break;
        states.push_back(FilledIndicators(Read_Png(dir + name)));
    }
    ASSERT_GE(states.size(), 20u);
    std::string seen = ::testing::PrintToString(states);
    EXPECT_EQ(states.front(), 0) << seen;
    // The indicators fill one by one (never unfill), all eight before the boot screen ends,
    // and the opening scenes follow within the capture.
    size_t end_of_boot = 0;
    while (end_of_boot < states.size() && states[end_of_boot] >= 0)
        end_of_boot++;
    ASSERT_LT(end_of_boot, states.size()) << "the boot screen never ended: " << seen;
    ASSERT_GT(end_of_boot, 0u) << seen;
    for (size_t i = 1; i < end_of_boot; i++)
        EXPECT_GE(states[i], states[i - 1]) << seen;
    EXPECT_EQ(states[end_of_boot - 1], 8) << seen;
    std::set<int> partial(states.begin(), states.begin() + end_of_boot);
    partial.erase(0), partial.erase(8);
    EXPECT_GE(partial.size(), 4u) << "the indicators should fill gradually: " << seen;
}

// Fault caught: QUIET_MOSS_SIZE not giving the window its size, the boot screen's peach reaching
// the bars or the picture off centre, a bad size not refused with one line and status 1.
TEST_F(DemoTest, SizeFromTheEnvironmentShapesTheWindow)
{
    const struct {
        const char *size, *geometry;
        int bar;   // width of each side bar
    } cases[] = {{"960x540", "960x540", 120}, {"desktop", "1024x768", 0}};
    for (const auto &c : cases) {
        ProcessResult r = RunUnderXvfb(
            std::string("QUIET_MOSS_SIZE=") + c.size + " $DEMO -window -silent & pid=$!; " +
            find_window + "xdotool getwindowgeometry $wid | grep Geometry; "
            "ffmpeg -y -loglevel error -f x11grab -framerate 4 -video_size " + c.geometry +
            " -i $DISPLAY+0,0 -t 1.5 -update 1 shot.png; "
            "xdotool windowfocus --sync $wid key Escape; wait $pid");
        ASSERT_EQ(r.status, 0) << c.size << ": " << r.output;
        EXPECT_NE(r.output.find(std::string("Geometry: ") + c.geometry + "\n"), std::string::npos)
            << c.size << ": " << r.output;
        Frame shot = Read_Png(dir + "/shot.png");   // the last of the shots
        const int h = shot.height, pw = h * 4 / 3;
        if (c.bar > 0) {
            EXPECT_TRUE(BlackGl(shot, 0, 0, c.bar, h)) << c.size << ": left bar";
            EXPECT_TRUE(BlackGl(shot, c.bar + pw, 0, c.bar, h)) << c.size << ": right bar";
        }
        // The boot screen's peach across the picture, edge to edge.
        for (int x : {c.bar, c.bar + pw / 2, c.bar + pw - 1})
            EXPECT_GT(MeanGl(shot, x, 0, 1, h).r, 150) << c.size << ": column " << x;
    }
    ProcessResult r = RunUnderXvfb("QUIET_MOSS_SIZE=640x48 $DEMO -window -silent");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "QM_x: windowed mode.\nQM_x: silent mode.\nQUIET_MOSS_SIZE: \"640x48\" "
                        "is neither WIDTHxHEIGHT (each 64 to 7680) nor desktop\n");
}

// Fault caught: the soundtrack started during loading instead of with entry 1.
TEST_F(DemoTest, SoundtrackStartsWithEntryOne)
{
    // SDL's disk driver writes the mix to a file, faster than real time with a short delay,
    // so the file holds at least as much sound time as the demo ran in wall time.
    std::filesystem::create_symlink(QM_BUILD_DIR "/quiet_moss.mp3", dir + "/quiet_moss.mp3");
    ProcessResult r = RunUnderXvfb("SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=out.raw "
                                   "SDL_DISKAUDIODELAY=8 $DEMO -window -debug 0 3.5 0 >/dev/null");
    ASSERT_EQ(r.status, 0) << r.output;

    // The first clearly audible sample, in 44.1 kHz stereo 16-bit.
    const std::string raw = Craft_Read(dir + "/out.raw");
    std::vector<int16_t> pcm(raw.size() / 2);
    memcpy(pcm.data(), raw.data(), pcm.size() * 2);
    auto loud = std::find_if(pcm.begin(), pcm.end(), [](int16_t v) { return std::abs(v) > 64; });
    ASSERT_NE(loud, pcm.end()) << "no music at all in " << raw.size() << " bytes";
    EXPECT_GE((loud - pcm.begin()) / 2 / 44100.0, 1.455) << "the music began before entry 1";
}

// Fault caught: a damaged archive met by the real binary ending with another status than 1,
// more than one line, or a line where it must be silent.
TEST_F(DemoTest, BadArchiveEndsWithItsMessageAndStatusOne)
{
    const std::string archive = Craft_Read(QM_BUILD_DIR "/quiet_moss.zaf");
    const struct {
        const char *name;
        std::string bytes;   // the archive's contents; none at all for "missing"
        const char *output;  // after the option lines; null: one line of our own words
    } cases[] = {
        {"missing", "", ""},
        {"wrong magic", std::string("ZAF\0", 4) + archive.substr(4), ""},
        {"no boot picture", std::string("ZAFD") + std::string(12, '\0'),
         "ZAF_Read: FATAL_ERROR: File not found.\n"},
        {"cut short", archive.substr(0, 3000), nullptr},
        // A sound picture, but not the 20 x 15 tiles the tile scenes upload.
        {"boot picture of another layout",
         Craft_Archive({{"bootpic", ZAF_TYPE_PICTURE, Craft_Picture(20, 14, 32, 32)}}),
         "Boot_Load: FATAL_ERROR: Picture \"bootpic\" is 20 x 14 tiles of 32 x 32, not 20 x 15 of 32 x 32.\n"},
    };
    for (const auto &c : cases) {
        std::filesystem::remove(dir + "/quiet_moss.zaf");
        if (!c.bytes.empty())
            Craft_Write(dir + "/quiet_moss.zaf", c.bytes);
        ProcessResult r = RunUnderXvfb("$DEMO -window -silent");
        EXPECT_EQ(r.status, 1) << c.name << ": " << r.output;
        const std::string options = "QM_x: windowed mode.\nQM_x: silent mode.\n";
        ASSERT_EQ(r.output.rfind(options, 0), 0u) << c.name << ": " << r.output;
        std::string rest = r.output.substr(options.size());
        if (c.output)
            EXPECT_EQ(rest, c.output) << c.name;
        else
            EXPECT_EQ(Split_Lines(rest).size(), 1u) << c.name << ": " << r.output;
    }
}

// Fault caught: a fatal error met by the loading thread while the main thread draws the boot
// screen, ending in a crash, a hang, another status, a line lost in the output buffer, or
// anything printed after the message. Which loader meets it, so how long the boot screen has
// been drawing, varies from case to case; each case runs many times at once, since the fault
// is a race.
TEST_F(DemoTest, DamagedArchiveOnTheLoadingThreadEndsWithItsLine)
{
    const std::string archive = Craft_Read(QM_BUILD_DIR "/quiet_moss.zaf");
    auto word = [&](size_t at) {
        uint32_t value;
        memcpy(&value, &archive[at], 4);
        return value;
    };
    // The directory index of the entry of that name (the name field opens the record).
    auto entry = [&](const char *name) {
        size_t i = 0;
        while (i < word(12) && strcmp(&archive[Craft_At(i, CraftField(0))], name) != 0)
            i++;
        EXPECT_LT(i, word(12)) << "no entry " << name;
        return i;
    };
    // Cut through the middle of an entry: it and every entry after it in the file are short.
    auto cut_in = [&](const char *name) {
        size_t i = entry(name);
        return archive.substr(0, word(Craft_At(i, CRAFT_OFFSET))
                                     + word(Craft_At(i, CRAFT_PACKED)) / 2);
    };
    const std::string drive = "ZAF_Read: FATAL_ERROR: Drive access error.\n";
    const struct {
        const char *name;   // the first damaged entry the loading thread reads
        std::string bytes;
        std::string output;
    } cases[] = {
        {"lemurbandit", cut_in("lemurbandit"), drive},   // the first loader's, 2 s in
        {"oczka", Craft_Put32(archive, Craft_At(entry("oczka"), CRAFT_UNPACKED), 8),
         "ZAF_Read: Fatal error: decompression failed.\n"},
        {"water", cut_in("water"), drive},               // the last read of all, 8 s in
    };
    const int runs = 10;
    std::string script;
    for (const auto &c : cases) {
        std::filesystem::create_directory(dir + "/" + c.name);
        Craft_Write(dir + "/" + c.name + "/quiet_moss.zaf", c.bytes);
        // `timeout` turns a hang into status 124. Each run needs 2 to 8 s of the loading
        // sequence's pauses, but thirty demos drawing at once on a small machine start slowly:
        // under TSan and a load average of 77 they took 135 s, so the limit is generous.
        for (int k = 0; k < runs; k++) {
            const std::string n = std::to_string(k);
            script += std::string("(cd ") + c.name + " && { timeout 200 $DEMO -window -silent >out" +
                      n + " 2>err" + n + "; echo $? >status" + n + "; }) & ";
        }
    }
    ProcessResult r = RunUnderXvfb(script + "wait", 240);
    ASSERT_EQ(r.status, 0) << r.output;
    for (const auto &c : cases) {
        const std::string at = dir + "/" + c.name + "/";
        for (int k = 0; k < runs; k++) {
            const std::string n = std::to_string(k);
            SCOPED_TRACE(std::string(c.name) + " run " + n);
            EXPECT_EQ(Craft_Read(at + "status" + n), "1\n");
            EXPECT_EQ(Craft_Read(at + "out" + n),
                      "QM_x: windowed mode.\nQM_x: silent mode.\n" + c.output);
            EXPECT_EQ(Craft_Read(at + "err" + n), "");
        }
    }
}

// Fault caught: a platform that cannot start (no display, no audio driver) ending without its
// message or with another status.
TEST_F(DemoTest, PlatformFailuresEndWithTheirMessage)
{
    ProcessResult r = Run_Command("cd " + dir + " && env -u DISPLAY SDL_VIDEODRIVER=x11 " QM_BUILD_DIR
                                  "/quiet_moss -window -silent");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, "SDL initialization error ...\n");  // before any option is read
    // Windowed but not silent: the sound library is set up, and its driver does not exist.
    r = RunUnderXvfb("SDL_AUDIODRIVER=no-such-driver $DEMO -window");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output, std::string("QM_x: windowed mode.\nZOKA_PLAYER: ") +
                            FMOD_ErrorString(FMOD_ERR_INIT) + "\n");
}

}  // namespace
