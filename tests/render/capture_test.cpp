// qm-capture: the tick rule, frame selection, the quick path's byte identity, PNG orientation,
// the command line (bench table, bad arguments, video).
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>
#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "support/process.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"
#include "tools/capture/capture.h"

namespace fs = std::filesystem;

namespace {

const std::string capture_bin = std::string(QM_BUILD_DIR) + "/qm-capture";

bool same_rgb(const Frame &a, const Frame &b)
{
    if (a.width != b.width || a.height != b.height || a.rgba.size() != b.rgba.size())
        return false;
    for (size_t i = 0; i < a.rgba.size(); i += 4)
        if (std::memcmp(&a.rgba[i], &b.rgba[i], 3) != 0)
            return false;
    return true;
}

// Runs body in a child process, so that it starts from the demo's process-start state, and
// returns the frames it produced.
std::vector<Frame> frames_from_child(const std::function<std::vector<Frame>()> &body)
{
    std::string dir = Make_TempDir("capture-child");
    pid_t pid = fork();
    if (pid == 0) {
        int status = 0;
        try {
            std::vector<Frame> frames = body();
            for (size_t i = 0; i < frames.size(); i++) {
                std::ofstream out(dir + "/" + std::to_string(i), std::ios::binary);
                out.write(reinterpret_cast<const char *>(frames[i].rgba.data()),
                          std::streamsize(frames[i].rgba.size()));
            }
        } catch (const std::exception &e) {
            fprintf(stderr, "child: %s\n", e.what());
            status = 1;
        }
        _exit(status);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    std::vector<Frame> frames;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        for (size_t i = 0; fs::exists(dir + "/" + std::to_string(i)); i++) {
            Frame f{capture_width, capture_height, {}};
            f.rgba.resize(size_t(capture_width) * capture_height * 4);
            std::ifstream(dir + "/" + std::to_string(i), std::ios::binary)
                .read(reinterpret_cast<char *>(f.rgba.data()), std::streamsize(f.rgba.size()));
            frames.push_back(std::move(f));
        }
    }
    fs::remove_all(dir);
    return frames;
}

// ---------------------------------------------------------------------------------------------
// A stand-in scene with the habits that make fast-forwarding dangerous: an init per entry that
// sets GL state and compiles a list, and a render whose picture depends on a counter carried
// from frame to frame and across entries.

int synthetic_frames;

void Synthetic_Init()
{
    float shade = 0.1f * float(current_entry - scene_entries + 1);
    glClearColor(shade, 0.2f, 0.3f, 1.0f);
    glNewList(1, GL_COMPILE);
        glBegin(GL_QUADS);
            glVertex2f(0, 0);
            glVertex2f(40, 0);
            glVertex2f(40, 40);
            glVertex2f(0, 40);
        glEnd();
    glEndList();
}

void Synthetic_Render()
{
    synthetic_frames++;
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 640, 0, 480, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(float((synthetic_frames * 7) % 600), 200.0f + 0.5f * chan_x, 0.0f);
    glColor3f(1.0f, 0.0f, 0.0f);
    glCallList(1);
}

void install_synthetic_scene()
{
    for (int e = 0; e <= 3; e++) {
        scene_entries[e].init = Synthetic_Init;
        scene_entries[e].render = Synthetic_Render;
    }
}

bool shows_quad(const Frame &f)
{
    for (size_t i = 0; i < f.rgba.size(); i += 4)
        if (f.rgba[i] == 255 && f.rgba[i + 1] == 0)
            return true;
    return false;
}

Frame solid_frame(int w, int h, Rgba c)
{
    Frame f{w, h, {}};
    for (int i = 0; i < w * h; i++)
        f.rgba.insert(f.rgba.end(), {c.r, c.g, c.b, c.a});
    return f;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Virtual clock

TEST(CaptureClock, TicksAndFrameIndices)
{
    struct Case {
        double fps;
        int64_t frame;
        int64_t ticks;   // floor(100 k / F)
    };
    const Case ticks[] = {
        {60, 0, 0}, {60, 1, 1}, {60, 3, 5}, {60, 88, 146}, {60, 89, 148}, {60, 90, 150},
        {50, 73, 146}, {50, 74, 148}, {30, 1, 3}, {30, 3, 10}, {24, 5, 20}, {24, 7, 29},
    };
    for (const Case &c : ticks)
        EXPECT_EQ(Capture_TicksBefore(c.frame, c.fps), c.ticks) << c.frame << " at " << c.fps;

    struct Time {
        double fps;
        double t;
        int64_t frame;   // the first k with k/F >= t
    };
    const Time times[] = {
        {60, 0.0, 0},     {60, 10.25, 615},  {60, 1.0, 60},    {60, 0.001, 1},
        {30, 0.1, 3},     {60, 0.7, 42},     {60, 1.4667, 89}, {50, 1.46, 73},
        {50, 1.461, 74},  {60, 309.35, 18561}, {24, 0.3, 8},   {60, 4.1, 246},
    };
    for (const Time &c : times)
        EXPECT_EQ(Capture_FrameIndex(c.t, c.fps), c.frame) << c.t << " at " << c.fps;
    EXPECT_THROW(Capture_FrameIndex(-0.5, 60), CaptureError);
    EXPECT_THROW(Capture_FrameIndex(NAN, 60), CaptureError);
}

// Entry 1 starts at 80/55 = 1.4545 s: the first frame after 146 ticks shows it, with its scene
// clock at 0; the next frame's scene time is the ticks between the two frames.
struct SwitchCase {
    double fps;
    int64_t last_of_entry0;
    double scene_time_next;   // scene_time on the frame after entry 1's first
};

class CaptureEntrySwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(CaptureEntrySwitch, FollowsTheTickRule)
{
    const SwitchCase &c = GetParam();
    Capture_Open(CaptureSetup{QM_BUILD_DIR, c.fps});
    ASSERT_EQ(Capture_SkipTo(c.last_of_entry0), 0);
    ASSERT_EQ(Capture_Step(), 0);
    EXPECT_EQ(Capture_CurrentEntry(), 0);
    // Ticks add 0.01 in single precision: the sum drifts, but far less than one tick.
    EXPECT_NEAR(demo_time.load(), 0.01 * double(Capture_TicksBefore(c.last_of_entry0, c.fps)),
                1e-4)
        << "the clock runs from the first frame on";
    EXPECT_EQ(Capture_PeekEntry(), 1);
    ASSERT_EQ(Capture_Step(), 0);
    EXPECT_EQ(Capture_CurrentEntry(), 1);
    EXPECT_EQ(scene_clock.load().time, 0.0f);
    ASSERT_EQ(Capture_Step(), 0);
    EXPECT_EQ(Capture_CurrentEntry(), 1);
    EXPECT_NEAR(scene_clock.load().time, c.scene_time_next, 1e-6);
    EXPECT_EQ(Capture_NextFrame(), c.last_of_entry0 + 3);
}

INSTANTIATE_TEST_SUITE_P(Rates, CaptureEntrySwitch,
                         ::testing::Values(SwitchCase{60, 87, 0.02}, SwitchCase{50, 72, 0.02},
                                           SwitchCase{30, 43, 0.04}),
                         [](const auto &info) {
                             return std::to_string(int(info.param.fps)) + "fps";
                         });

TEST(CaptureClock, FramesGoForwardOnly)
{
    Capture_Open(CaptureSetup{QM_BUILD_DIR, 60});
    EXPECT_THROW(Capture_Open(CaptureSetup{QM_BUILD_DIR, 60}), CaptureError);
    Capture_FrameAt(1.0);
    EXPECT_EQ(Capture_NextFrame(), 61);
    EXPECT_THROW(Capture_FrameAt(0.5), CaptureError);
    EXPECT_NO_THROW(Capture_FrameAt(61.0 / 60.0));
}

// ---------------------------------------------------------------------------------------------
// Quick frames are byte-identical to drawing every frame

TEST(CaptureQuickPath, MatchesEveryFrameDrawnWithStateAcrossEntries)
{
    install_synthetic_scene();
    // Around the switches into entries 1 (frame 88) and 3 (frame 477), and in between.
    const std::vector<int64_t> targets = {86, 87, 88, 89, 290, 470, 476, 477, 478, 479};

    std::vector<Frame> every = frames_from_child([&] {
        Capture_Open(CaptureSetup{QM_BUILD_DIR, 60});
        std::vector<Frame> frames;
        for (int64_t k : targets) {
            while (Capture_NextFrame() < k)
                Capture_Step(false);
            Capture_Step(false);
            frames.push_back(Capture_Read());
        }
        return frames;
    });
    ASSERT_EQ(every.size(), targets.size()) << "the child drawing every frame failed";

    Capture_Open(CaptureSetup{QM_BUILD_DIR, 60});
    for (size_t i = 0; i < targets.size(); i++) {
        Frame quick = Capture_FrameAt(double(targets[i]) / 60.0);
        ASSERT_EQ(Capture_NextFrame(), targets[i] + 1);
        EXPECT_TRUE(quick == every[i]) << "frame " << targets[i];
        EXPECT_TRUE(shows_quad(quick)) << "frame " << targets[i] << " shows no scene";
        if (i > 0) {
            EXPECT_FALSE(quick == every[i - 1]) << "frame " << targets[i] << " did not move";
        }
    }
    EXPECT_EQ(synthetic_frames, 480) << "every frame's render ran once";
}

// The real scenes through the binary's --at against every frame drawn here: across the boot
// screen's switches and into the dot wall (76.588 s), whose bands carry from frame to frame.
TEST(CaptureQuickPath, BinaryAtMatchesEveryFrameDrawn)
{
    const std::vector<std::string> times = {"1.45", "1.4667", "1.5",  "4.7",
                                            "10.3", "76.5",   "76.6", "77.5"};
    std::string dir = Make_TempDir("capture-at");
    std::string cmd = capture_bin;
    for (const auto &t : times)
        cmd += " --at " + t;
    ProcessResult r = Run_Command(cmd + " --out " + dir + " 2>&1");
    ASSERT_EQ(r.status, 0) << r.output;

    Capture_Open(CaptureSetup{QM_BUILD_DIR, 60});
    int drawn = 0;
    for (const auto &t : times) {
        int64_t k = Capture_FrameIndex(std::stod(t), 60);
        while (Capture_NextFrame() < k)
            Capture_Step(false);
        ASSERT_EQ(Capture_Step(false), 0);
        Frame here = Capture_Read();
        Frame there = Capture_ReadPng(dir + "/frame_" + t + ".png");
        EXPECT_TRUE(same_rgb(here, there)) << "--at " << t;
        drawn += !here.black_gl(0, 0, capture_width, capture_height);
    }
    RecordProperty("frames_with_scene_content", drawn);
    EXPECT_GT(drawn, 0) << "no compared frame shows a scene: the comparison proves nothing";
    fs::remove_all(dir);
}

TEST(CaptureCommand, SameFrameTwiceIsByteIdentical)
{
    std::string a = Make_TempDir("capture-a"), b = Make_TempDir("capture-b");
    for (const auto &dir : {a, b}) {
        ProcessResult r = Run_Command(capture_bin + " --at 1.0 --at 12.0 --out " + dir + " 2>&1");
        ASSERT_EQ(r.status, 0) << r.output;
    }
    for (const char *name : {"/frame_1.0.png", "/frame_12.0.png"}) {
        std::ifstream fa(a + name, std::ios::binary), fb(b + name, std::ios::binary);
        std::stringstream sa, sb;
        sa << fa.rdbuf();
        sb << fb.rdbuf();
        EXPECT_FALSE(sa.str().empty()) << name;
        EXPECT_EQ(sa.str(), sb.str()) << name;
        Frame f = Capture_ReadPng(a + name);
        EXPECT_EQ(f.width, 640);
        EXPECT_EQ(f.height, 480);
    }
    fs::remove_all(a);
    fs::remove_all(b);
}

// ---------------------------------------------------------------------------------------------
// Frames and PNG files

TEST(CaptureFrame, PixelsAndRegionsCountFromTheBottom)
{
    Frame f = solid_frame(8, 4, Rgba{0, 0, 0, 255});
    // Row 0 (bottom) left half white; pixel (7, 3) (top right) blue.
    for (int x = 0; x < 4; x++)
        std::memset(&f.rgba[size_t(x) * 4], 255, 3);
    f.rgba[(3 * 8 + 7) * 4 + 2] = 200;

    EXPECT_EQ(f.at_gl(0, 0), (Rgba{255, 255, 255, 255}));
    EXPECT_EQ(f.at_gl(7, 3), (Rgba{0, 0, 200, 255}));
    struct Region {
        int x, y, w, h;
        double mean_r, mean_b;
        bool black;
    };
    const Region regions[] = {
        {0, 0, 4, 1, 255, 255, false}, {0, 0, 8, 1, 127.5, 127.5, false},
        {0, 1, 8, 2, 0, 0, true},      {6, 2, 2, 2, 0, 50, false},
        {4, 0, 4, 3, 0, 0, true},
    };
    for (const Region &r : regions) {
        MeanColour m = f.mean_gl(r.x, r.y, r.w, r.h);
        EXPECT_DOUBLE_EQ(m.r, r.mean_r) << r.x << "," << r.y;
        EXPECT_DOUBLE_EQ(m.b, r.mean_b) << r.x << "," << r.y;
        EXPECT_EQ(f.black_gl(r.x, r.y, r.w, r.h), r.black) << r.x << "," << r.y;
    }
    EXPECT_THROW(f.at_gl(8, 0), CaptureError);
    EXPECT_THROW(f.at_gl(0, -1), CaptureError);
    EXPECT_THROW(f.mean_gl(6, 0, 3, 1), CaptureError);
    EXPECT_THROW(f.black_gl(0, 0, 0, 1), CaptureError);
}

TEST(CaptureFrame, PngIsRgbWithGlsBottomRowLast)
{
    Frame f = solid_frame(640, 480, Rgba{10, 20, 30, 77});
    for (int x = 0; x < 640; x++)
        f.rgba[size_t(x) * 4] = 250;   // the bottom row red
    std::string dir = Make_TempDir("capture-png");
    std::string path = dir + "/f.png";
    Capture_WritePng(f, path);

    // Read with libpng's own row order, top row first.
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    EXPECT_EQ(image.format & PNG_FORMAT_FLAG_ALPHA, 0u) << "written without alpha";
    EXPECT_EQ(image.width, 640u);
    EXPECT_EQ(image.height, 480u);
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    EXPECT_EQ(rgb[0], 10) << "top row";
    EXPECT_EQ(rgb[size_t(479) * 640 * 3], 250) << "bottom row";

    Frame back = Capture_ReadPng(path);
    EXPECT_TRUE(same_rgb(back, f));
    EXPECT_EQ(back.at_gl(5, 0).r, 250);
    EXPECT_THROW(Capture_WritePng(f, dir + "/missing/f.png"), CaptureError);
    EXPECT_THROW(Capture_ReadPng(dir + "/none.png"), CaptureError);
    fs::remove_all(dir);
}

// ---------------------------------------------------------------------------------------------
// Command line

TEST(CaptureCommand, BenchPrintsOneRowPerEntryAndTheSummary)
{
    ProcessResult r = Run_Command(capture_bin + " --bench --frames 3 2>/dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    std::istringstream lines(r.output);
    std::string line;
    int rows = 0, last = -1;
    bool min_line = false, total_line = false;
    const std::regex row(R"(\s*(\d+)\s+\S+\s+(\d+\.\d+)\s+(\d+\.\d+)\s+(\d+\.\d+))");
    const std::regex min_fps(R"(min fps: \d+\.\d \(entry (\d+)\))");
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, row)) {
            EXPECT_EQ(std::stoi(m[1]), last + 1) << line;
            last = std::stoi(m[1]);
            EXPECT_LE(std::stod(m[2]), std::stod(m[3])) << "median above p99: " << line;
            rows++;
        } else if (std::regex_match(line, m, min_fps)) {
            min_line = true;
            EXPECT_LT(std::stoi(m[1]), 42);
        } else if (std::regex_match(line, std::regex(R"(total: \d+\.\d s)"))) {
            total_line = true;
        }
    }
    EXPECT_EQ(rows, 42);
    EXPECT_TRUE(min_line) << r.output;
    EXPECT_TRUE(total_line) << r.output;
}

TEST(CaptureCommand, BadArgumentsFailWithOneLine)
{
    std::string dir = Make_TempDir("capture-bad");
    fs::path file = fs::path(dir) / "plain";
    std::ofstream(file) << "x";
    struct Case {
        std::string args;
        std::string message;
    };
    const Case cases[] = {
        {"", "nothing to do"},
        {"--bogus", "unknown option '--bogus'"},
        {"--at", "--at needs a value"},
        {"--at x --out " + dir, "--at needs a number, not 'x'"},
        {"--at -1 --out " + dir, "demo time of 0 or more"},
        {"--at 1", "--out is required"},
        {"--at 1 --fps 0 --out " + dir, "--fps needs a number above 0"},
        {"--from 2 --to 1 --out " + dir, "--to must come after --from"},
        {"--from 2 --out " + dir, "--from and --to go together"},
        {"--bench --frames 0", "--frames needs a whole number"},
        {"--bench --fps 30", "--bench always runs at 60 fps"},
        {"--bench --at 1", "give only one of"},
        {"--at 1 --json --out " + dir, "--json goes with --bench"},
        {"--at 1 --out " + file.string(), "cannot make folder"},
        {"--at 400 --out " + dir, "past the end of the demo"},
        {"--from 0 --to 1 --out /nonexistent/a.mp4", "folder missing or not writable"},
        {"--contact-sheet /nonexistent/s.png", "no folder /nonexistent"},
        {"--at 1 --out " + dir + " --data /nonexistent", "--data: no folder"},
        {"--at 1 --out " + dir + " stray", "unexpected argument 'stray'"},
    };
    for (const Case &c : cases) {
        ProcessResult r = Run_Command(capture_bin + " " + c.args + " 2>&1 >/dev/null");
        EXPECT_EQ(r.status, 1) << c.args;
        EXPECT_NE(r.output.find("qm-capture: " ), std::string::npos) << c.args << ": " << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.args << ": " << r.output;
        // The data warning aside, one line.
        std::string rest = std::regex_replace(r.output, std::regex(".*warning.*\n"), "");
        EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 1) << c.args << ": " << r.output;
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
    ProcessResult probe = Run_Command("ffprobe -v error -show_entries "
                                      "stream=codec_type,codec_name,width,height,pix_fmt,nb_frames "
                                      "-of default=nw=1 " + video);
    ASSERT_EQ(probe.status, 0) << probe.output;
    EXPECT_NE(probe.output.find("codec_name=h264"), std::string::npos) << probe.output;
    EXPECT_NE(probe.output.find("width=640\nheight=480"), std::string::npos) << probe.output;
    EXPECT_NE(probe.output.find("pix_fmt=yuv420p"), std::string::npos) << probe.output;
    EXPECT_NE(probe.output.find("nb_frames=30"), std::string::npos) << probe.output;
    bool soundtrack = fs::exists(std::string(QM_BUILD_DIR) + "/quiet_moss.mp3");
    EXPECT_EQ(probe.output.find("codec_type=audio") != std::string::npos, soundtrack)
        << probe.output;
    fs::remove_all(dir);
}
