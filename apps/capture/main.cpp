// qm-capture: the demo rendered headless and deterministically: frames at given demo times,
// a range of frames as PNGs or a video with the soundtrack, a contact sheet, a per-entry bench.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>

#include "apps/capture/capture.h"
#include "apps/capture/stages.h"

namespace fs = std::filesystem;

namespace {

std::string program_folder()
{
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

}  // namespace

int main(int argc, char **argv)
{
    auto started = std::chrono::steady_clock::now();
    // A dead ffmpeg shows as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        Options o = CommandLine_Parse(argc, argv);
        if (o.data_dir.empty())
            o.data_dir = program_folder();
        if (!fs::is_directory(o.data_dir))
            throw PlayerError("--data: no folder " + o.data_dir);
        fs::path archive = fs::path(o.data_dir) / "quiet_moss.zaf";
        if (!fs::exists(archive))
            throw PlayerError("no " + archive.string() +
                              ": the demo's archive is needed (see --data)");
        if (!o.contact_sheet.empty()) {
            fs::path parent = fs::path(o.contact_sheet).parent_path();
            if (!parent.empty() && !fs::is_directory(parent))
                throw PlayerError("cannot write " + o.contact_sheet + ": no folder " +
                                  parent.string());
        }
        Capture_Open(PlayerSetup{o.data_dir, o.fps.value_or(60.0), o.width, o.height});
        if (!o.at.empty())
            Export_FramesAt(o);
        else if (o.bench)
            Bench_Run(o, started);
        else if (o.from)
            Export_Range(o);
        else
            ContactSheet_Write(o);
    } catch (const std::exception &e) {
        fprintf(stderr, "qm-capture: %s\n", e.what());
        return 1;
    }
    return 0;
}
