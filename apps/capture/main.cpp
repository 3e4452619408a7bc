// qm-capture: the demo rendered headless and deterministically: frames at given demo times,
// a range of frames as PNGs or an MP4 with the soundtrack, a contact sheet, a per-entry bench.
#include <cxxabi.h>
#include <dlfcn.h>
#include <getopt.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/capture/capture.h"
#include "platform/output.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char *usage_text =
    "Usage: qm-capture MODE [--fps F] [--size WxH] [--data DIR]\n"
    "Renders the demo headless through EGL with a virtual clock: frame k is drawn after\n"
    "floor(100*k/F) ticks of 10 ms, exactly as playback at F frames per second draws it.\n"
    "\n"
    "Modes:\n"
    "  --at T [--at T ...] --out DIR   write DIR/frame_<T>.png, the first frame at or after\n"
    "                                  demo time T seconds (T as given on the command line)\n"
    "                                  [--every-frame: draw every earlier frame instead of\n"
    "                                  only those later frames depend on; slow, the same\n"
    "                                  pixels]\n"
    "  --from T0 --to T1 --out DIR     write every frame with T0 <= k/F < T1 as\n"
    "                                  DIR/frame_<k>.png (k: the frame's index, six digits)\n"
    "  --from T0 --to T1 --out FILE.mp4\n"
    "                                  the same frames as H.264 video through ffmpeg, with\n"
    "                                  quiet_moss.mp3 (if present) starting where playback\n"
    "                                  starts it\n"
    "  --contact-sheet FILE.png        one labelled thumbnail per entry, from its middle\n"
    "  --bench [--frames N] [--json]   N frames (default 120) of every entry at 60 fps from\n"
    "                                  its start, wrapping within short entries; per entry the\n"
    "                                  median and p99 frame time and fps; then 'min fps' and\n"
    "                                  'total' (the wall time of the whole run)\n"
    "\n"
    "Options:\n"
    "  --fps F      frames per second (default 60; --bench always uses 60)\n"
    "  --size WxH   the output's size in pixels, each from 64 to 7680 (default 640x480):\n"
    "               the 4:3 picture, the largest that fits, centred between black bars\n"
    "  --data DIR   folder holding quiet_moss.zaf and quiet_moss.mp3 (default: the folder\n"
    "               of this program)\n"
    "  --help       this text\n"
    "  --version    the version number\n";

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string &message)
{
    throw Failure{message};
}

double parse_number(const char *option, const char *text)
{
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (!*text || *end || errno == ERANGE || !std::isfinite(v))
        fail(std::string(option) + " needs a number, not '" + text + "'");
    return v;
}

double parse_time(const char *option, const char *text)
{
    double v = parse_number(option, text);
    if (v < 0)
        fail(std::string(option) + " needs a demo time of 0 or more, not '" + text + "'");
    return v;
}

struct Options {
    std::vector<std::pair<std::string, double>> at;   // text as given, seconds
    std::optional<double> from, to;
    std::optional<double> fps;
    std::string out;
    std::string contact_sheet;
    std::string data_dir;
    bool bench = false;
    bool json = false;
    bool every_frame = false;
    std::optional<long> frames;
    int width = scene_width, height = scene_height;
};

Options parse_options(int argc, char **argv)
{
    enum { AT = 1000, FROM, TO, FPS, SIZE, OUT, SHEET, DATA, BENCH, FRAMES, JSON, EVERY, HELP, VERSION };
    static const option long_options[] = {
        {"at", required_argument, nullptr, AT},
        {"from", required_argument, nullptr, FROM},
        {"to", required_argument, nullptr, TO},
        {"fps", required_argument, nullptr, FPS},
        {"size", required_argument, nullptr, SIZE},
        {"out", required_argument, nullptr, OUT},
        {"contact-sheet", required_argument, nullptr, SHEET},
        {"data", required_argument, nullptr, DATA},
        {"bench", no_argument, nullptr, BENCH},
        {"frames", required_argument, nullptr, FRAMES},
        {"json", no_argument, nullptr, JSON},
        {"every-frame", no_argument, nullptr, EVERY},
        {"help", no_argument, nullptr, HELP},
        {"version", no_argument, nullptr, VERSION},
        {nullptr, 0, nullptr, 0},
    };
    Options o;
    opterr = 0;
    for (;;) {
        int index = 0;
        int c = getopt_long(argc, argv, ":h", long_options, &index);
        if (c == -1)
            break;
        switch (c) {
        case AT:
            o.at.emplace_back(optarg, parse_time("--at", optarg));
            break;
        case FROM:
            o.from = parse_time("--from", optarg);
            break;
        case TO:
            o.to = parse_time("--to", optarg);
            break;
        case FPS:
            o.fps = parse_number("--fps", optarg);
            if (!(*o.fps > 0 && *o.fps <= 1000))
                fail(std::string("--fps needs a number above 0 and at most 1000, not '") +
                     optarg + "'");
            break;
        case SIZE:
            if (!Output_ParseSize(optarg, &o.width, &o.height))
                fail(std::string("--size needs WIDTHxHEIGHT, each from ") +
                     std::to_string(output_min_size) + " to " + std::to_string(output_max_size) +
                     ", not '" + optarg + "'");
            break;
        case OUT:
            o.out = optarg;
            break;
        case SHEET:
            o.contact_sheet = optarg;
            break;
        case DATA:
            o.data_dir = optarg;
            break;
        case BENCH:
            o.bench = true;
            break;
        case FRAMES: {
            char *end = nullptr;
            errno = 0;
            long n = std::strtol(optarg, &end, 10);
            if (!*optarg || *end || errno || n < 1 || n > 100000)
                fail(std::string("--frames needs a whole number from 1 to 100000, not '") +
                     optarg + "'");
            o.frames = n;
            break;
        }
        case JSON:
            o.json = true;
            break;
        case EVERY:
            o.every_frame = true;
            break;
        case 'h':
        case HELP:
            fputs(usage_text, stdout);
            exit(0);
        case VERSION:
            puts("qm-capture " QM_VERSION);
            exit(0);
        case ':':
            fail(std::string(argv[optind - 1]) + " needs a value");
        default:
            fail(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc)
        fail(std::string("unexpected argument '") + argv[optind] + "'");

    int modes = !o.at.empty() + (o.from || o.to) + o.bench + !o.contact_sheet.empty();
    if (modes == 0)
        fail("nothing to do: give --at, --from/--to, --contact-sheet or --bench (see --help)");
    if (modes > 1)
        fail("give only one of --at, --from/--to, --contact-sheet and --bench");
    if ((o.from || o.to) && !(o.from && o.to))
        fail("--from and --to go together");
    if (o.from && *o.to <= *o.from)
        fail("--to must come after --from");
    if ((!o.at.empty() || o.from) && o.out.empty())
        fail("--out is required with --at and --from/--to");
    if ((o.bench || !o.contact_sheet.empty()) && !o.out.empty())
        fail("--out has no meaning with --bench or --contact-sheet");
    if (o.frames && !o.bench)
        fail("--frames goes with --bench");
    if (o.json && !o.bench)
        fail("--json goes with --bench");
    if (o.bench && o.fps)
        fail("--bench always runs at 60 fps; leave out --fps");
    return o;
}

std::string program_folder()
{
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

void make_folder(const std::string &dir)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir))
        fail("cannot make folder " + dir + ": " + (ec ? ec.message() : "not a folder"));
    if (access(dir.c_str(), W_OK) != 0)
        fail("cannot write into " + dir);
}

bool ends_with(const std::string &s, const std::string &tail)
{
    if (s.size() < tail.size())
        return false;
    return std::equal(tail.rbegin(), tail.rend(), s.rbegin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

std::string format(const char *fmt, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// ---------------------------------------------------------------------------------------------
// --at

// The demo time at which the last entry ends, or the script's end time if that comes first.
double demo_end()
{
    return std::min(double(scene_entries[scene_script.last_index + 1].start),
                    double(scene_script.end_time));
}

void write_frames_at(const Options &o)
{
    make_folder(o.out);
    // Drawn in time order, written under the names given.
    std::vector<std::pair<int64_t, std::string>> wanted;
    for (const auto &[text, t] : o.at) {
        // Said before any frame is drawn: stepping to the end takes a while.
        if (t >= demo_end())
            fail("demo time " + text + " s lies past the end of the demo (" +
                 format("%.3f", demo_end()) + " s)");
        wanted.emplace_back(Player_FrameIndex(t, Player_Fps()), text);
    }
    std::stable_sort(wanted.begin(), wanted.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    Frame frame;
    int64_t drawn = -1;
    for (const auto &[k, text] : wanted) {
        if (k != drawn) {
            int over = o.every_frame ? Player_DrawTo(k) : Player_SkipTo(k);
            if (over || Player_Step(false))
                fail("demo time " + text + " s lies past the end of the demo");
            frame = Player_Read();
            drawn = k;
        }
        Capture_WritePng(frame, (fs::path(o.out) / ("frame_" + text + ".png")).string());
    }
}

// ---------------------------------------------------------------------------------------------
// --from/--to

class Progress {
public:
    explicit Progress(int64_t total) : total_(total), start_(Clock::now()) {}
    void update(int64_t done)
    {
        double s = std::chrono::duration<double>(Clock::now() - start_).count();
        double rate = s > 0 ? done / s : 0;
        double left = rate > 0 ? (total_ - done) / rate : 0;
        fprintf(stderr, "\rframes %lld/%lld, %.1f fps, %.0f s left   ", (long long)done,
                (long long)total_, rate, left);
        if (done == total_)
            fputc('\n', stderr);
        fflush(stderr);
    }

private:
    int64_t total_;
    Clock::time_point start_;
};

// A child process fed through its standard input.
class Pipe {
public:
    explicit Pipe(const std::vector<std::string> &args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            fail("cannot make a pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        int err = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[0]);
        if (err != 0) {
            close(fds[1]);
            fail("cannot run " + args[0] + ": " + std::strerror(err));
        }
        fd_ = fds[1];
    }
    ~Pipe()
    {
        if (fd_ >= 0)
            finish();
    }
    void write_all(const uint8_t *data, size_t n)
    {
        while (n > 0) {
            ssize_t w = ::write(fd_, data, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                finish();
                fail("ffmpeg stopped reading frames (see its message above)");
            }
            data += w;
            n -= size_t(w);
        }
    }
    // Closes the input and returns the child's exit status (-1 when it did not exit).
    int finish()
    {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = 0;
    int fd_ = -1;
};

int run_command(const std::vector<std::string> &args)
{
    Pipe p(args);
    return p.finish();
}

void write_range(const Options &o)
{
    double fps = Player_Fps();
    int64_t k0 = Player_FrameIndex(*o.from, fps);
    int64_t k1 = Player_FrameIndex(*o.to, fps);   // first frame not written
    if (k1 <= k0)
        fail("no frame lies between --from and --to at this frame rate");
    if (*o.from >= demo_end())
        fail("--from lies past the end of the demo (" + format("%.3f", demo_end()) + " s)");
    bool video = ends_with(o.out, ".mp4");
    std::string fps_text = format("%.9g", fps);
    std::string size_text = std::to_string(Output_Width()) + "x" + std::to_string(Output_Height());

    std::unique_ptr<Pipe> encoder;
    fs::path silent_video;
    if (video) {
        fs::path out(o.out);
        fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
        if (!fs::is_directory(folder) || access(folder.c_str(), W_OK) != 0)
            fail("cannot write " + o.out + ": folder missing or not writable");
        // The music's start is known only once the timeline has reached entry 1, so the
        // picture is encoded first and the soundtrack muxed in afterwards.
        silent_video = folder / ("." + out.filename().string() + ".video.mp4");
        encoder = std::make_unique<Pipe>(std::vector<std::string>{
            "ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo",
            "-pix_fmt", "rgba", "-video_size", size_text, "-framerate", fps_text, "-i",
            // H.264 in 4:2:0 wants even sides: an odd one gets a black edge more.
            "pipe:0", "-vf", "vflip,pad=ceil(iw/2)*2:ceil(ih/2)*2", "-c:v", "libx264",
            "-pix_fmt", "yuv420p",
            silent_video.string()});
    } else {
        make_folder(o.out);
    }

    if (Player_SkipTo(k0))
        fail("--from lies past the end of the demo");
    Progress progress(k1 - k0);
    int64_t written = 0;
    for (int64_t k = k0; k < k1; k++) {
        if (Player_Step(false)) {
            fprintf(stderr, "\nthe demo ends at frame %lld; stopping there\n", (long long)k);
            break;
        }
        Frame f = Player_Read();
        if (video) {
            encoder->write_all(f.rgba.data(), f.rgba.size());
        } else {
            char name[64];
            std::snprintf(name, sizeof name, "frame_%06lld.png", (long long)k);
            Capture_WritePng(f, (fs::path(o.out) / name).string());
        }
        written++;
        progress.update(written);
    }
    if (written == 0)
        fail("--from lies past the end of the demo");
    if (!video)
        return;
    if (encoder->finish() != 0)
        fail("ffmpeg could not encode " + o.out);

    fs::path music = fs::path(o.data_dir) / "quiet_moss.mp3";
    std::vector<std::string> mux = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                                    "-i", silent_video.string()};
    if (fs::exists(music)) {
        // The music starts on entry 1's first frame, which may lie after the video.
        while (Player_EntryFirstFrame(1) < 0 && !Player_Skip()) {
        }
        int64_t music_frame = Player_EntryFirstFrame(1);
        // Seconds from the video's first frame to the music's start; negative: already playing.
        double offset = music_frame >= 0 ? double(music_frame - k0) / fps : 0.0;
        if (offset >= 0) {
            mux.insert(mux.end(), {"-i", music.string(), "-af",
                                   format("adelay=%.0f:all=1", offset * 1000.0)});
        } else {
            mux.insert(mux.end(), {"-ss", format("%.6f", -offset), "-i", music.string()});
        }
        mux.insert(mux.end(), {"-map", "0:v", "-map", "1:a", "-c:v", "copy", "-c:a", "aac",
                               "-shortest"});
    } else {
        fprintf(stderr, "no %s: the video has no sound\n", music.c_str());
        mux.insert(mux.end(), {"-c", "copy"});
    }
    mux.push_back(o.out);
    int status = run_command(mux);
    fs::remove(silent_video);
    if (status != 0)
        fail("ffmpeg could not mux " + o.out);
}

// ---------------------------------------------------------------------------------------------
// --contact-sheet

// 3 × 5 digit glyphs, one row of three bits per line, top row first.
constexpr uint8_t digit_glyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

void write_contact_sheet(const Options &o)
{
    constexpr int columns = 7, scale = 4, gap = 4;
    constexpr int thumb_w = scene_width / scale, thumb_h = scene_height / scale;
    const int entries = scene_script.last_index + 1;
    const int rows = (entries + columns - 1) / columns;
    const int sheet_w = columns * thumb_w + (columns + 1) * gap;
    const int sheet_h = rows * thumb_h + (rows + 1) * gap;
    // Composed top row first, turned over into a Frame at the end.
    std::vector<uint8_t> sheet(size_t(sheet_w) * sheet_h * 4, 40);
    auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
        uint8_t *p = &sheet[(size_t(y) * sheet_w + x) * 4];
        p[0] = r, p[1] = g, p[2] = b, p[3] = 255;
    };
    const OutputRect pic = Output_Picture();
    for (int e = 0; e < entries; e++) {
        double middle = 0.5 * (double(scene_entries[e].start) + double(scene_entries[e + 1].start));
        // The picture alone, whatever the output's size; its rows run bottom-up.
        Frame t = Capture_FrameAt(middle).box_down(pic.x, pic.y, pic.width, pic.height, thumb_w,
                                                   thumb_h);
        int ox = gap + (e % columns) * (thumb_w + gap);
        int oy = gap + (e / columns) * (thumb_h + gap);
        for (int ty = 0; ty < thumb_h; ty++) {
            for (int tx = 0; tx < thumb_w; tx++) {
                Rgba c = t.at_gl(tx, thumb_h - 1 - ty);
                put(ox + tx, oy + ty, c.r, c.g, c.b);
            }
        }
        // The entry number, white on a black box in the top left corner.
        std::string label = std::to_string(e);
        constexpr int px = 2;
        int box_w = int(label.size()) * 4 * px + px, box_h = 5 * px + 2 * px;
        for (int y = 0; y < box_h; y++)
            for (int x = 0; x < box_w; x++)
                put(ox + x, oy + y, 0, 0, 0);
        for (size_t i = 0; i < label.size(); i++) {
            const uint8_t *glyph = digit_glyphs[label[i] - '0'];
            for (int gy = 0; gy < 5; gy++)
                for (int gx = 0; gx < 3; gx++)
                    if (glyph[gy] & (4 >> gx))
                        for (int sy = 0; sy < px; sy++)
                            for (int sx = 0; sx < px; sx++)
                                put(ox + px + int(i) * 4 * px + gx * px + sx,
                                    oy + px + gy * px + sy, 255, 255, 255);
        }
    }
    Frame out;
    out.width = sheet_w;
    out.height = sheet_h;
    out.rgba.resize(sheet.size());
    for (int y = 0; y < sheet_h; y++)
        std::memcpy(&out.rgba[size_t(sheet_h - 1 - y) * sheet_w * 4],
                    &sheet[size_t(y) * sheet_w * 4], size_t(sheet_w) * 4);
    Capture_WritePng(out, o.contact_sheet);
}

// ---------------------------------------------------------------------------------------------
// --bench

// The render callback's name from the program's own symbol table (the executable exports
// its symbols), so the table follows the scene script without a copy of its names.
std::string render_name(int entry)
{
    SceneCallback render = scene_entries[entry].render;
    if (!render)
        return "-";
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(render), &info) || !info.dli_sname)
        return "?";
    int status = 0;
    char *plain = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    std::string name = status == 0 && plain ? plain : info.dli_sname;
    std::free(plain);
    if (auto paren = name.find('('); paren != std::string::npos)
        name.erase(paren);
    return name;
}

struct EntryTimes {
    int entry;
    std::string render;
    double median_ms, p99_ms, fps;
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    // Nearest rank.
    size_t rank = size_t(std::ceil(p * double(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

std::string json_string(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (uint8_t(c) < 0x20)
            continue;
        out += c;
    }
    return out + "\"";
}

void run_bench(const Options &o, Clock::time_point started)
{
    const long n = o.frames.value_or(120);
    const int entries = scene_script.last_index + 1;
    std::vector<EntryTimes> rows;
    std::vector<double> ms;
    ms.reserve(size_t(n));
    for (int e = 0; e < entries; e++) {
        // Earlier frames are skipped as a seek skips them: the entry finds the state playback
        // gives it.
        for (;;) {
            int next = Player_PeekEntry();
            if (next == e)
                break;
            if (next < 0 || next > e)
                fail("entry " + std::to_string(e) + " is never reached");
            Player_Skip();
        }
        PlayerMark mark = Player_Mark();
        ms.clear();
        glFinish();
        for (long i = 0; i < n; i++) {
            if (i > 0 && Player_PeekEntry() != e)
                Player_Rewind(mark);
            auto t0 = Clock::now();
            Player_Step(false);
            glFinish();
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
        double median = percentile(ms, 0.5);
        rows.push_back({e, render_name(e), median, percentile(ms, 0.99), 1000.0 / median});
    }
    const EntryTimes &slowest =
        *std::min_element(rows.begin(), rows.end(),
                          [](const auto &a, const auto &b) { return a.fps < b.fps; });
    double total = std::chrono::duration<double>(Clock::now() - started).count();

    if (o.json) {
        printf("{\n  \"renderer\": %s,\n  \"frames\": %ld,\n  \"fps\": 60,\n  \"width\": %d,\n"
               "  \"height\": %d,\n  \"entries\": [\n",
               json_string(Player_Renderer()).c_str(), n, Output_Width(), Output_Height());
        for (size_t i = 0; i < rows.size(); i++) {
            const auto &r = rows[i];
            printf("    {\"entry\": %d, \"render\": %s, \"median_ms\": %.3f, \"p99_ms\": %.3f, "
                   "\"fps\": %.1f}%s\n",
                   r.entry, json_string(r.render).c_str(), r.median_ms, r.p99_ms, r.fps,
                   i + 1 < rows.size() ? "," : "");
        }
        printf("  ],\n  \"min_fps\": {\"fps\": %.1f, \"entry\": %d},\n  \"total_s\": %.1f\n}\n",
               slowest.fps, slowest.entry, total);
        return;
    }
    printf("# %s\n# %ld frames per entry at 60 fps, %d x %d\n", Player_Renderer().c_str(), n,
           Output_Width(), Output_Height());
    printf("%5s  %-24s %10s %10s %10s\n", "entry", "render", "median ms", "p99 ms", "fps");
    for (const auto &r : rows)
        printf("%5d  %-24s %10.3f %10.3f %10.1f\n", r.entry, r.render.c_str(), r.median_ms,
               r.p99_ms, r.fps);
    printf("min fps: %.1f (entry %d)\n", slowest.fps, slowest.entry);
    printf("total: %.1f s\n", total);
}

}  // namespace

int main(int argc, char **argv)
{
    auto started = Clock::now();
    // A dead ffmpeg shows as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        Options o = parse_options(argc, argv);
        if (o.data_dir.empty())
            o.data_dir = program_folder();
        if (!fs::is_directory(o.data_dir))
            fail("--data: no folder " + o.data_dir);
        fs::path archive = fs::path(o.data_dir) / "quiet_moss.zaf";
        if (!fs::exists(archive))
            fail("no " + archive.string() + ": the demo's archive is needed (see --data)");
        if (!o.contact_sheet.empty()) {
            fs::path parent = fs::path(o.contact_sheet).parent_path();
            if (!parent.empty() && !fs::is_directory(parent))
                fail("cannot write " + o.contact_sheet + ": no folder " + parent.string());
        }
        Capture_Open(PlayerSetup{o.data_dir, o.bench ? 60.0 : o.fps.value_or(60.0), o.width,
                                 o.height});
        if (!o.at.empty())
            write_frames_at(o);
        else if (o.from)
            write_range(o);
        else if (!o.contact_sheet.empty())
            write_contact_sheet(o);
        else
            run_bench(o, started);
    } catch (const Failure &f) {
        fprintf(stderr, "qm-capture: %s\n", f.message.c_str());
        return 1;
    } catch (const PlayerError &e) {
        fprintf(stderr, "qm-capture: %s\n", e.what());
        return 1;
    } catch (const std::exception &e) {
        fprintf(stderr, "qm-capture: %s\n", e.what());
        return 1;
    }
    return 0;
}
