// qm-capture: the tick rule, frame selection, seeking's byte identity with drawing every frame,
// PNG orientation, the command line (bench table, bad arguments, video).
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <regex>

#include "support/frame_checks.h"
#include "support/process.h"
#include "support/read_png.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"
#include "apps/capture/capture.h"

namespace fs = std::filesystem;

namespace {

const std::string capture_bin = std::string(QM_BUILD_DIR) + "/qm-capture";

bool same_rgb(const Frame &a, const Frame &b)
{
    bool same = a.width == b.width && a.height == b.height && a.rgba.size() == b.rgba.size();
    for (size_t i = 0; same && i < a.rgba.size(); i++)
        same = i % 4 == 3 || a.rgba[i] == b.rgba[i];
    return same;
}

// A stand-in scene with the habits that make skipping frames dangerous: an init per entry that
// sets GL state and compiles a list, and a render whose picture depends on a value carried
// from the previous frame, across entries too.
int synthetic_frames;
float synthetic_carried;

void Synthetic_Init()
{
    glClearColor(0.1f * float(current_entry - scene_entries + 1), 0.2f, 0.3f, 1.0f);
    glNewList(1, GL_COMPILE);
    glColor3f(1.0f, 0.0f, 0.0f);
    glRectf(0, 0, 40, 40);
    glEndList();
}

void Synthetic_Render()
{
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 640, 0, 480, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(std::fmod(synthetic_carried * 7.0f, 600.0f), 200.0f + 0.5f * chan_x, 0.0f);
    glCallList(1);
    synthetic_carried = demo_time.load() * 60.0f;
    synthetic_frames++;
}

}  // namespace

// Exact multiples of 1/F must land on their frame whatever the binary rounding (3/60 s is 5
// ticks, 0.7 s and 4.1 s at 60 fps are frames 42 and 246).
TEST(CaptureClock, TicksAndFrameIndices)
{
    // (fps, frame k, floor(100 k / F))
    const std::tuple<double, int64_t, int64_t> ticks[] = {
        {60, 0, 0}, {60, 3, 5}, {60, 88, 146}, {60, 89, 148}, {50, 73, 146}, {24, 7, 29}};
    for (auto [fps, k, n] : ticks)
        EXPECT_EQ(Player_TicksBefore(k, fps), n) << k << " at " << fps;
    // (fps, t, the first k with k/F >= t)
    const std::tuple<double, double, int64_t> times[] = {
        {60, 0.0, 0},     {60, 10.25, 615}, {60, 0.001, 1},  {60, 0.7, 42}, {60, 4.1, 246},
        {60, 1.4667, 89}, {50, 1.46, 73},   {50, 1.461, 74}, {24, 0.3, 8}};
    for (auto [fps, t, k] : times)
        EXPECT_EQ(Player_FrameIndex(t, fps), k) << t << " at " << fps;
    EXPECT_THROW(Player_FrameIndex(-0.5, 60), PlayerError);
    EXPECT_THROW(Player_FrameIndex(NAN, 60), PlayerError);
}

// Entry 1 starts at 80/55 = 1.4545 s: the first frame after 146 ticks shows it, with its scene
// clock at 0; the next frame's scene time is the ticks between the two frames. Frames go
// forward only, and the capture opens once per process.
// Parameters: fps, the last frame of entry 0, scene_time on the frame after entry 1's first.
class CaptureEntrySwitch : public ::testing::TestWithParam<std::tuple<double, int64_t, double>> {};

TEST_P(CaptureEntrySwitch, FollowsTheTickRule)
{
    if (!Run_CaseAlone())
        return;
    auto [fps, last0, scene_time_next] = GetParam();
    Capture_Open(PlayerSetup{QM_BUILD_DIR, fps});
    EXPECT_THROW(Capture_Open(PlayerSetup{QM_BUILD_DIR, fps}), PlayerError);
    ASSERT_EQ(Player_SkipTo(last0), 0);
    ASSERT_EQ(Player_Step(), 0);
    EXPECT_EQ(Player_CurrentEntry(), 0);
    // Ticks add 0.01 in single precision: the sum drifts, but far less than one tick.
    EXPECT_NEAR(demo_time.load(), 0.01 * double(Player_TicksBefore(last0, fps)), 1e-4)
        << "the clock runs from the first frame on";
    EXPECT_EQ(Player_PeekEntry(), 1);
    ASSERT_EQ(Player_Step(), 0);
    EXPECT_EQ(Player_CurrentEntry(), 1);
    EXPECT_EQ(scene_clock.load().time, 0.0f);
    ASSERT_EQ(Player_Step(), 0);
    EXPECT_NEAR(scene_clock.load().time, scene_time_next, 1e-6);
    EXPECT_EQ(Player_NextFrame(), last0 + 3);
    EXPECT_THROW(Capture_FrameAt(1.0), PlayerError) << "frames go forward only";
}

INSTANTIATE_TEST_SUITE_P(Rates, CaptureEntrySwitch,
                         ::testing::Values(std::tuple{60.0, 87, 0.02}, std::tuple{50.0, 72, 0.02},
                                           std::tuple{30.0, 43, 0.04}),
                         [](const auto &info) {
                             return std::to_string(int(std::get<0>(info.param))) + "fps";
                         });

// Skipping frames gives the pixels of drawing every frame, and really skips.
TEST(CaptureSkip, MatchesEveryFrameDrawnWithStateAcrossEntries)
{
    if (!Run_CaseAlone())
        return;
    for (int e = 0; e <= 3; e++) {
        scene_entries[e].init = Synthetic_Init;
        scene_entries[e].render = Synthetic_Render;
    }
    // Around the switches into entries 1 (frame 88) and 3 (frame 477), and in between.
    const int64_t targets[] = {86, 87, 88, 89, 290, 470, 476, 477, 478, 479};
    auto png = [dir = Make_TempDir("capture-every")](int64_t k) {
        return dir + "/" + std::to_string(k) + ".png";
    };
    // A child process draws every frame from the process-start state.
    pid_t child = fork();
    if (child == 0) {
        Capture_Open(PlayerSetup{QM_BUILD_DIR, 60});
        for (int64_t k : targets) {
            while (Player_NextFrame() <= k)
                Player_Step(false);
            Capture_WritePng(Player_Read(), png(k));
        }
        _exit(0);
    }
    int status = -1;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed";

    Capture_Open(PlayerSetup{QM_BUILD_DIR, 60});
    Frame previous;
    for (int64_t k : targets) {
        Frame quick = Capture_FrameAt(double(k) / 60.0);
        EXPECT_TRUE(same_rgb(quick, Read_Png(png(k)))) << "frame " << k;
        EXPECT_FALSE(same_rgb(quick, previous)) << "frame " << k << " did not move";
        previous = quick;
    }
    EXPECT_LT(synthetic_frames, 40) << "frames nobody reads were drawn";
    fs::remove_all(fs::path(png(0)).parent_path());
}

// Fault caught: a skip to an entry that stops a frame early or inside the entry, moves on from
// an entry already begun, or runs for ever (or past it) once the entry has passed or the demo
// has ended.
TEST(CaptureSkip, ToAnEntryStopsBeforeItsFirstFrameOrSaysWhyNot)
{
    if (!Run_CaseAlone())
        return;
    Capture_Open(PlayerSetup{QM_BUILD_DIR, 60});
    for (int e : {1, 4, 5, 21, 41}) {
        SCOPED_TRACE("entry " + std::to_string(e));
        ASSERT_EQ(Player_SkipToEntry(e), 0);
        EXPECT_EQ(Player_CurrentEntry(), e - 1);
        EXPECT_EQ(Player_EntryFirstFrame(e), -1);
        ASSERT_EQ(Player_Step(), 0);
        EXPECT_EQ(Player_CurrentEntry(), e);
        EXPECT_EQ(Player_EntryFirstFrame(e), Player_NextFrame() - 1);
        const int64_t next = Player_NextFrame();
        EXPECT_EQ(Player_SkipToEntry(e), 0);
        EXPECT_EQ(Player_NextFrame(), next) << "the entry has begun: nothing to skip";
    }
    EXPECT_THROW(Player_SkipToEntry(21), PlayerError) << "passed";
    EXPECT_THROW(Player_SkipToEntry(42), PlayerError) << "never played";
    while (!Player_Skip()) {
    }
    EXPECT_EQ(Player_SkipToEntry(41), 1) << "the demo has ended";
}

// The real scenes: the binary's seek against drawing every frame, byte for byte, at 10 fps.
// The times cross every module that carries state from frame to frame (the dot wall's band
// phase, the glow shells' phase start, the spike shell's projection left by its bars), land on
// entries' first frames (1.5: entry 1, 30.3: 8, 79.6: 17, 188.4: 29, 225.2: 35) and on the
// frame right after an init (1.6, 188.5).
TEST(CaptureSkip, BinarySeekMatchesEveryFrameDrawn)
{
    const std::vector<std::string> times = {"1.5",   "1.6",   "30.3",  "79.6",  "83.0",
                                            "150.0", "188.4", "188.5", "202.0", "225.2"};
    std::string dirs[2] = {Make_TempDir("capture-seek"), Make_TempDir("capture-every")};
    std::string args = " --fps 10";
    for (const auto &t : times)
        args += " --at " + t;
    for (const char *mode : {"", " --every-frame"}) {
        const std::string &dir = dirs[*mode != 0];
        ProcessResult r = Run_Command(capture_bin + args + mode + " --out " + dir + " 2>&1");
        ASSERT_EQ(r.status, 0) << r.output;
    }
    int shown = 0;
    for (const auto &t : times) {
        std::string name = "/frame_" + t + ".png";
        EXPECT_EQ(Run_Command("cmp " + dirs[0] + name + " " + dirs[1] + name).status, 0) << t;
        Frame f = Read_Png(dirs[0] + name);
        shown += !BlackGl(f, 0, 0, scene_width, scene_height);
    }
    EXPECT_GE(shown, int(times.size()) / 2) << "most compared frames are black: they prove little";
    for (const std::string &dir : dirs)
        fs::remove_all(dir);
}

// Fault caught: rows counted from the top, a PNG stored bottom row first or with alpha, a pixel
// read outside the frame.
TEST(CaptureFrame, PixelsCountFromTheBottomAndPngsStoreItLast)
{
    Frame f{640, 480, std::vector<uint8_t>(640 * 480 * 4, 10)};
    for (int x = 0; x < 640; x++)
        f.rgba[size_t(x) * 4] = 250;   // the bottom row red
    EXPECT_EQ(f.at_gl(3, 0).r, 250);
    EXPECT_EQ(f.at_gl(3, 1).r, 10);
    EXPECT_DOUBLE_EQ(MeanGl(f, 0, 0, 640, 2).r, 130);
    EXPECT_FALSE(BlackGl(f, 0, 1, 640, 479));
    EXPECT_THROW(f.at_gl(640, 0), PlayerError);

    std::string dir = Make_TempDir("capture-png"), path = dir + "/f.png";
    Capture_WritePng(f, path);
    png_image image{};   // read back in libpng's own row order, top row first
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, 0u);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(rgb[0], 10);
    EXPECT_EQ(rgb[size_t(479) * 640 * 3], 250);
    EXPECT_TRUE(same_rgb(Read_Png(path), f));
    EXPECT_THROW(Capture_WritePng(f, dir + "/missing/f.png"), PlayerError);
    fs::remove_all(dir);
}

TEST(CaptureCommand, BenchPrintsOneRowPerEntryAndTheSummary)
{
    ProcessResult r = Run_Command(capture_bin + " --bench --frames 3 2>/dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::regex row(R"(\s*(\d+)\s+\S+\s+(\d+\.\d+)\s+(\d+\.\d+)\s+(\d+\.\d+))");
    const std::regex summary(R"(min fps: \d+\.\d \(entry (\d|[1-3]\d|4[01])\)|total: \d+\.\d s)");
    int rows = 0, summaries = 0;
    std::smatch m;
    for (const std::string &line : Split_Lines(r.output)) {
        if (std::regex_match(line, m, row)) {
            EXPECT_EQ(std::stoi(m[1]), rows++) << line;
            EXPECT_LE(std::stod(m[2]), std::stod(m[3])) << "median above p99: " << line;
        }
        summaries += std::regex_match(line, summary);
    }
    EXPECT_EQ(rows, 42) << r.output;
    EXPECT_EQ(summaries, 2) << r.output;
}

// Over a range the bench draws the frames an export of it writes, no more and no fewer, and
// times them by the entry they belong to. At 10 fps, --from 1.4 --to 1.6 is frames 14 and 15;
// entry 1 starts at 1.4545 s, on frame 15.
TEST(CaptureCommand, BenchOverARangeTimesItsFramesByEntry)
{
    const std::string range = capture_bin + " --bench --from 1.4 --to 1.6 --fps 10";
    // (extra arguments, a line for the frames drawn, an entry's row, the total drawing time)
    const std::tuple<std::string, std::regex, std::regex, std::regex> cases[] = {
        {"", std::regex(R"(# 2 frames from 1.4 s to 1.6 s at 10 fps, 640 x 480)"),
         std::regex(R"(\s*(\d+)\s+\S+\s+\d+\.\d+\s+\d+\.\d+\s+\d+\.\d+)"),
         std::regex(R"(render: (\d+\.\d+) s)")},
        {" --json", std::regex(R"(  "frames": 2,)"),
         std::regex(R"(\s*\{"entry": (\d+), .*\}(,)?)"),
         std::regex(R"(  "render_s": (\d+\.\d+),)")},
    };
    for (const auto &[extra, frames, row, render] : cases) {
        ProcessResult r = Run_Command(range + extra + " 2>/dev/null");
        ASSERT_EQ(r.status, 0) << extra << r.output;
        std::vector<int> entries;
        int frame_lines = 0, render_lines = 0;
        std::smatch m;
        for (const std::string &line : Split_Lines(r.output)) {
            frame_lines += std::regex_match(line, frames);
            if (std::regex_match(line, m, row))
                entries.push_back(std::stoi(m[1]));
            if (std::regex_match(line, m, render)) {
                render_lines++;
                EXPECT_GT(std::stod(m[1]), 0.0) << line;
            }
        }
        EXPECT_EQ(frame_lines, 1) << extra << r.output;
        EXPECT_EQ(entries, (std::vector<int>{0, 1})) << extra << r.output;
        EXPECT_EQ(render_lines, 1) << extra << r.output;
    }
}

TEST(CaptureCommand, BadArgumentsFailWithOneLine)
{
    std::string dir = Make_TempDir("capture-bad");
    const std::string out = " --out " + dir;
    fs::create_directory(dir + "/taken.mp4");
    const std::pair<std::string, std::string> cases[] = {
        {"", "nothing to do"}, {"--bogus", "unknown option '--bogus'"},
        {"--at", "--at needs a value"}, {"--at x" + out, "--at needs a number, not 'x'"},
        {"--at -1" + out, "demo time of 0 or more"}, {"--at 1", "--out is required"},
        {"--at 1 --fps 0" + out, "--fps needs a number above 0"},
        {"--from 2 --to 1" + out, "--to must come after --from"},
        {"--from 2" + out, "--from and --to go together"},
        {"--bench --frames 0", "--frames needs a whole number"},
        {"--bench --fps 30", "--bench always runs at 60 fps"},
        {"--bench --at 1", "give only one of"}, {"--at 1 --json" + out, "--json goes with --bench"},
        {"--at 1 --out " + capture_bin, "cannot make folder"},
        {"--at 400" + out, "past the end of the demo"},
        {"--from 0 --to 1 --out /nonexistent/a.mp4", "folder missing or not writable"},
        // A folder where the video should go: refused before a frame is drawn, in our words.
        {"--from 0 --to 100 --out " + dir + "/taken.mp4", "cannot write " + dir + "/taken.mp4"},
        {"--contact-sheet /nonexistent/s.png", "no folder /nonexistent"},
        {"--at 1" + out + " --data /nonexistent", "--data: no folder"},
        {"--at 1" + out + " --data " + dir, "quiet_moss.zaf: the demo's archive is needed"},
        {"--at 1" + out + " stray", "unexpected argument 'stray'"},
        {"--at 1 --quality web" + out, "--quality goes with a video"},
        {"--from 0 --to 1 --quality best --out a.mp4", "--quality needs web, high or lossless"},
        {"--bench --from 1", "--from and --to go together"},
        {"--bench --from 1 --to 2 --frames 3", "--frames goes with --bench over the entries"},
        {"--bench --from 1 --to 2" + out, "--out has no meaning with --bench"},
        {"--bench --from 1.01 --to 1.05 --fps 10", "no frame lies between --from and --to"},
        {"--bench --from 400 --to 401", "--from lies past the end of the demo"},
    };
    for (const auto &[args, message] : cases) {
        ProcessResult r = Run_Command(capture_bin + " " + args + " 2>&1 >/dev/null");
        const std::string &out = r.output;
        EXPECT_TRUE(r.status == 1 && out.starts_with("qm-capture: ") &&
                    out.find(message) != std::string::npos &&
                    std::count(out.begin(), out.end(), '\n') == 1)
            << args << ": " << out;
    }
    fs::remove_all(dir);
}

TEST(CaptureCommand, VideoIsReadableH264WithTheSoundtrackWhenPresent)
{
    std::string dir = Make_TempDir("capture-mp4");
    std::string video = dir + "/a.mp4";
    ProcessResult r = Run_Command(capture_bin + " --from 1.0 --to 2.0 --fps 30 --out " + video +
                                  " 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("frames 30/30"), std::string::npos) << r.output;
    ProcessResult probe = Run_Command("ffprobe -v error -of default=nw=1 -show_entries stream="
                                      "codec_type,codec_name,width,height,pix_fmt,nb_frames " +
                                      video);
    ASSERT_EQ(probe.status, 0) << probe.output;
    for (const char *want : {"codec_name=h264", "width=640\nheight=480", "pix_fmt=yuv420p",
                             "nb_frames=30"})
        EXPECT_NE(probe.output.find(want), std::string::npos) << want << "\n" << probe.output;
    // The index before the media data, so that a browser can play it while it downloads.
    ProcessResult boxes = Run_Command("grep -boa -e moov -e mdat " + video);
    EXPECT_LT(boxes.output.find("moov"), boxes.output.find("mdat")) << boxes.output;
    bool soundtrack = fs::exists(std::string(QM_BUILD_DIR) + "/quiet_moss.mp3");
    EXPECT_EQ(probe.output.find("codec_type=audio") != std::string::npos, soundtrack)
        << probe.output;
    fs::remove_all(dir);
}

// --size holds for the contact sheet too: a picture smaller than a thumbnail is drawn at its
// own size and enlarged, so the sheet keeps one layout and shows the same pictures, coarser.
TEST(CaptureCommand, ContactSheetAtEverySize)
{
    std::string dir = Make_TempDir("capture-sheet");
    const char *sizes[] = {"640x480", "64x64", "100x100", "64x7680"};
    std::vector<Frame> sheets;
    for (const char *size : sizes) {
        std::string path = dir + "/" + size + ".png";
        ProcessResult r = Run_Command(capture_bin + " --contact-sheet " + path + " --size " +
                                      size + " 2>&1");
        ASSERT_EQ(r.status, 0) << size << ": " << r.output;
        EXPECT_EQ(r.output, "wrote " + path + "\n") << size;
        sheets.push_back(Read_Png(path));
    }
    const Frame &full = sheets[0];
    for (size_t i = 1; i < sheets.size(); i++) {
        const Frame &f = sheets[i];
        ASSERT_TRUE(f.width == full.width && f.height == full.height) << sizes[i];
        // Compared in cells of about 16 x 16 pixels: a thumbnail missing, turned over or
        // moved changes many cells by far more than the coarser pixels do.
        const int cw = full.width / 16, ch = full.height / 16;
        Frame a = f.box_down(0, 0, f.width, f.height, cw, ch);
        Frame b = full.box_down(0, 0, f.width, f.height, cw, ch);
        double sum = 0;
        for (size_t k = 0; k < a.rgba.size(); k++)
            sum += std::abs(int(a.rgba[k]) - int(b.rgba[k]));
        EXPECT_LT(sum / double(a.rgba.size()), 4.0) << sizes[i];
    }
    EXPECT_FALSE(sheets[1] == sheets[2]) << "--size was not used";
    fs::remove_all(dir);
}

// --at names every file it wrote on standard output, one line each.
TEST(CaptureCommand, AtListsTheFilesItWrote)
{
    std::string dir = Make_TempDir("capture-at");
    ProcessResult r = Run_Command(capture_bin + " --at 2 --at 1.5 --at 2 --out " + dir);
    ASSERT_EQ(r.status, 0) << r.output;
    std::vector<std::string> lines = Split_Lines(r.output);
    std::sort(lines.begin(), lines.end());
    const std::vector<std::string> want = {"wrote " + dir + "/frame_1.5.png",
                                           "wrote " + dir + "/frame_2.png",
                                           "wrote " + dir + "/frame_2.png"};
    EXPECT_EQ(lines, want) << r.output;
    for (const auto &line : want)
        EXPECT_TRUE(fs::exists(line.substr(6))) << line;
    fs::remove_all(dir);
}

// The progress line is redrawn in place on a terminal only; a log or a pipe gets whole lines.
TEST(CaptureCommand, ProgressRedrawsOnlyOnATerminal)
{
    std::string dir = Make_TempDir("capture-progress");
    const std::string range = capture_bin + " --from 1 --to 3 --fps 10 --out " + dir;
    // (command, whether the output is a terminal)
    const std::pair<std::string, bool> cases[] = {
        {range + " 2>&1 >/dev/null", false},
        {"script -qec '" + range + "' /dev/null", true},
    };
    for (const auto &[command, terminal] : cases) {
        ProcessResult r = Run_Command(command);
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(r.output.find('\r') != std::string::npos, terminal) << r.output;
        EXPECT_NE(r.output.find("frames 20/20"), std::string::npos) << r.output;
        if (!terminal) {
            const std::vector<std::string> lines = Split_Lines(r.output);
            ASSERT_FALSE(lines.empty());
            EXPECT_LE(lines.size(), 11u) << "a line for every frame floods a log";
            for (const auto &line : lines)
                EXPECT_TRUE(line.starts_with("frames ")) << line;
        }
    }
    fs::remove_all(dir);
}

// A lossless export keeps every pixel: decoded by ffmpeg, each frame is byte for byte the PNG
// qm-capture writes of it, and the PNG sequence holds the frames --at draws.
TEST(CaptureCommand, LosslessVideoHoldsTheFramesOfThePngs)
{
    std::string dir = Make_TempDir("capture-lossless");
    const int w = 128, h = 96;
    const std::string range = capture_bin + " --from 20 --to 20.2 --fps 20 --size 128x96";
    for (const std::string &out : {" --quality lossless --out " + dir + "/a.mp4",
                                   " --out " + dir + "/png", " --at 20.1 --out " + dir}) {
        std::string command = out.starts_with(" --at")
                                  ? capture_bin + " --fps 20 --size 128x96" + out
                                  : range + out;
        ProcessResult r = Run_Command(command + " 2>&1");
        ASSERT_EQ(r.status, 0) << command << "\n" << r.output;
    }
    EXPECT_TRUE(same_rgb(Read_Png(dir + "/png/frame_000402.png"),
                         Read_Png(dir + "/frame_20.1.png")));
    ProcessResult raw =
        Run_Command("ffmpeg -v error -i " + dir + "/a.mp4 -f rawvideo -pix_fmt rgb24 -");
    ASSERT_EQ(raw.status, 0);
    const size_t frame_bytes = size_t(w) * h * 3;
    ASSERT_EQ(raw.output.size(), 4 * frame_bytes);
    for (int i = 0; i < 4; i++) {
        char name[32];
        std::snprintf(name, sizeof name, "/png/frame_%06d.png", 400 + i);
        const Frame png = Read_Png(dir + name);
        int wrong = 0;
        for (int y = 0; y < h; y++) {   // the video's rows top first
            for (int x = 0; x < w; x++) {
                const Rgba p = png.at_gl(x, h - 1 - y);
                const uint8_t want[3] = {p.r, p.g, p.b};
                for (int c = 0; c < 3; c++)
                    wrong += uint8_t(raw.output[i * frame_bytes + (size_t(y) * w + x) * 3 + c]) !=
                             want[c];
            }
        }
        EXPECT_EQ(wrong, 0) << name;
        EXPECT_FALSE(BlackGl(png, 0, 0, w, h)) << name << ": a black frame proves little";
    }
    fs::remove_all(dir);
}
