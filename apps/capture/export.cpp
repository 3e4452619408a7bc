// qm-capture's export: frames at given demo times, a range of frames as a PNG sequence or as a
// video through ffmpeg, with the soundtrack muxed in afterwards.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "apps/capture/capture.h"
#include "apps/capture/stages.h"
#include "platform/output.h"
#include "timeline/scene_script.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void make_folder(const std::string &dir)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir))
        throw PlayerError("cannot make folder " + dir + ": " +
                          (ec ? ec.message() : "not a folder"));
    if (access(dir.c_str(), W_OK) != 0)
        throw PlayerError("cannot write into " + dir);
}

std::string format(const char *fmt, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// The demo time at which the last entry ends, or the script's end time if that comes first.
double demo_end()
{
    return std::min(double(scene_entries[scene_script.last_index + 1].start),
                    double(scene_script.end_time));
}

// Redrawn in place on a terminal; a log or a pipe gets a whole line at every tenth instead.
class Progress {
public:
    explicit Progress(int64_t total)
        : total_(total), start_(Clock::now()), terminal_(isatty(STDERR_FILENO))
    {
    }
    void update(int64_t done)
    {
        if (!terminal_ && done * 10 / total_ == (done - 1) * 10 / total_ && done != total_)
            return;
        double s = std::chrono::duration<double>(Clock::now() - start_).count();
        double rate = s > 0 ? done / s : 0;
        double left = rate > 0 ? (total_ - done) / rate : 0;
        fprintf(stderr, "%sframes %lld/%lld, %.1f fps, %.0f s left%s", terminal_ ? "\r" : "",
                (long long)done, (long long)total_, rate, left, terminal_ ? "   " : "\n");
        if (terminal_ && done == total_)
            fputc('\n', stderr);
        fflush(stderr);
    }

    // A line of its own, also below a progress line left unfinished.
    void stop(const std::string &why)
    {
        fprintf(stderr, "%s%s\n", terminal_ ? "\n" : "", why.c_str());
    }

private:
    int64_t total_;
    Clock::time_point start_;
    bool terminal_;
};

// A child process fed through its standard input.
class Pipe {
public:
    explicit Pipe(const std::vector<std::string> &args)
    {
        int fds[2];
        if (pipe(fds) != 0)
            throw PlayerError("cannot make a pipe");
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
            throw PlayerError("cannot run " + args[0] + ": " + std::strerror(err));
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
                throw PlayerError("ffmpeg stopped reading frames (see its message above)");
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

// ffmpeg's video options per --quality (empty: web). H.264 in 4:2:0 wants even sides, so an odd
// one gets a black edge more; lossless stays in RGB, where no colour conversion rounds.
const std::vector<std::string> &video_codec(const std::string &quality)
{
    static const std::vector<std::string> web = {
        "-vf", "vflip,pad=ceil(iw/2)*2:ceil(ih/2)*2", "-c:v", "libx264", "-preset", "medium",
        "-crf", "18", "-pix_fmt", "yuv420p"};
    static const std::vector<std::string> high = {
        "-vf", "vflip,pad=ceil(iw/2)*2:ceil(ih/2)*2", "-c:v", "libx264", "-preset", "slow",
        "-crf", "12", "-pix_fmt", "yuv420p"};
    static const std::vector<std::string> lossless = {
        "-vf", "vflip", "-c:v", "libx264rgb", "-preset", "veryfast", "-qp", "0",
        "-pix_fmt", "rgb24"};
    return quality == "high" ? high : quality == "lossless" ? lossless : web;
}

// A PNG sequence compressed off the render thread: a few workers encode frames while the next
// are drawn; at most twice as many frames as workers are held, and the files appear in frame
// order, so an interrupted export leaves no gaps.
class PngWriters {
public:
    explicit PngWriters(std::string folder) : folder_(std::move(folder))
    {
        unsigned n = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
        for (unsigned i = 0; i < n; i++)
            workers_.emplace_back([this] { work(); });
    }
    ~PngWriters() { stop(); }
    // Waits while the queue is full; throws the first failure of a worker.
    void add(int64_t k, Frame frame)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return queue_.size() < workers_.size() || !error_.empty(); });
        if (!error_.empty())
            throw PlayerError(error_);
        if (next_to_write_ < 0)
            next_to_write_ = k;
        queue_.emplace_back(k, std::move(frame));
        changed_.notify_all();
    }
    // Waits until every frame is on disk.
    void finish()
    {
        stop();
        if (!error_.empty())
            throw PlayerError(error_);
    }

private:
    void stop()
    {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
        for (auto &w : workers_)
            if (w.joinable())
                w.join();
    }
    void work()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return !queue_.empty() || closing_; });
            if (queue_.empty())
                return;
            auto [k, frame] = std::move(queue_.front());
            queue_.pop_front();
            changed_.notify_all();
            lock.unlock();
            std::vector<uint8_t> png;
            std::string failure;
            try {
                png = Capture_EncodePng(frame, png_level_sequence);
            } catch (const PlayerError &e) {
                failure = e.what();
            }
            lock.lock();
            changed_.wait(lock, [&] { return next_to_write_ == k; });
            if (failure.empty() && error_.empty()) {
                char name[64];
                std::snprintf(name, sizeof name, "frame_%06lld.png", (long long)k);
                try {
                    Capture_WriteFile(png, (fs::path(folder_) / name).string());
                } catch (const PlayerError &e) {
                    failure = e.what();
                }
            }
            if (error_.empty())
                error_ = failure;
            next_to_write_++;
            changed_.notify_all();
        }
    }

    std::string folder_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<int64_t, Frame>> queue_;
    int64_t next_to_write_ = -1;
    bool closing_ = false;
    std::string error_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// --at

void Export_FramesAt(const Options &o)
{
    make_folder(o.out);
    // Drawn in time order, written under the names given.
    std::vector<std::pair<int64_t, std::string>> wanted;
    for (const auto &[text, t] : o.at) {
        // Said before any frame is drawn: stepping to the end takes a while.
        if (t >= demo_end())
            throw PlayerError("demo time " + text + " s lies past the end of the demo (" +
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
                throw PlayerError("demo time " + text + " s lies past the end of the demo");
            frame = Player_Read();
            drawn = k;
        }
        std::string path = (fs::path(o.out) / ("frame_" + text + ".png")).string();
        Capture_WritePng(frame, path);
        printf("wrote %s\n", path.c_str());
    }
}

// ---------------------------------------------------------------------------------------------
// --from/--to

std::pair<int64_t, int64_t> Export_RangeFrames(const Options &o)
{
    int64_t k0 = Player_FrameIndex(*o.from, Player_Fps());
    int64_t k1 = Player_FrameIndex(*o.to, Player_Fps());
    if (k1 <= k0)
        throw PlayerError("no frame lies between --from and --to at this frame rate");
    if (*o.from >= demo_end())
        throw PlayerError("--from lies past the end of the demo (" +
                          format("%.3f", demo_end()) + " s)");
    return {k0, k1};
}

void Export_Range(const Options &o)
{
    const double fps = Player_Fps();
    const auto [k0, k1] = Export_RangeFrames(o);   // k1: the first frame not written
    const bool video = o.video;
    std::string fps_text = format("%.9g", fps);
    std::string size_text = std::to_string(Output_Width()) + "x" + std::to_string(Output_Height());

    std::unique_ptr<Pipe> encoder;
    std::unique_ptr<PngWriters> pngs;
    fs::path silent_video;
    if (video) {
        fs::path out(o.out);
        fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
        if (!fs::is_directory(folder) || access(folder.c_str(), W_OK) != 0)
            throw PlayerError("cannot write " + o.out + ": folder missing or not writable");
        // Tried now, not after the whole range has been drawn.
        bool existed = fs::exists(out);
        int fd = open(o.out.c_str(), O_WRONLY | O_CREAT, 0666);
        if (fd < 0)
            throw PlayerError("cannot write " + o.out + ": " + std::strerror(errno));
        close(fd);
        if (!existed)
            fs::remove(out);
        // The music's start is known only once the timeline has reached entry 1, so the
        // picture is encoded first and the soundtrack muxed in afterwards.
        silent_video = folder / ("." + out.filename().string() + ".video.mp4");
        std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                                         "-f", "rawvideo", "-pix_fmt", "rgba", "-video_size",
                                         size_text, "-framerate", fps_text, "-i", "pipe:0"};
        const std::vector<std::string> &codec = video_codec(o.quality);
        args.insert(args.end(), codec.begin(), codec.end());
        args.push_back(silent_video.string());
        encoder = std::make_unique<Pipe>(args);
    } else {
        make_folder(o.out);
        pngs = std::make_unique<PngWriters>(o.out);
    }

    if (Player_SkipTo(k0))
        throw PlayerError("--from lies past the end of the demo");
    Progress progress(k1 - k0);
    int64_t written = 0;
    for (int64_t k = k0; k < k1; k++) {
        if (Player_Step(false)) {
            progress.stop("the demo ends at frame " + std::to_string(k) + "; stopping there");
            break;
        }
        Frame f = Player_Read();
        if (video)
            encoder->write_all(f.rgba.data(), f.rgba.size());
        else
            pngs->add(k, std::move(f));
        written++;
        progress.update(written);
    }
    if (pngs)
        pngs->finish();
    if (written == 0)
        throw PlayerError("--from lies past the end of the demo");
    if (!video) {
        printf("wrote %lld frames into %s\n", (long long)written, o.out.c_str());
        return;
    }
    if (encoder->finish() != 0)
        throw PlayerError("ffmpeg could not encode " + o.out);

    fs::path music = fs::path(o.data_dir) / "quiet_moss.mp3";
    std::vector<std::string> mux = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                                    "-i", silent_video.string()};
    if (fs::exists(music)) {
        // The music starts on entry 1's first frame, which may lie after the video.
        int64_t music_frame = Player_EntryFirstFrame(1);
        if (music_frame < 0 && Player_SkipToEntry(1) == 0)
            music_frame = Player_NextFrame();
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
    // The index at the front: a web server's visitor can start watching before the end arrives.
    mux.insert(mux.end(), {"-movflags", "+faststart"});
    mux.push_back(o.out);
    int status = run_command(mux);
    fs::remove(silent_video);
    if (status != 0)
        throw PlayerError("ffmpeg could not mux " + o.out);
    printf("wrote %s\n", o.out.c_str());
}
