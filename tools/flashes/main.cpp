// qm-flashes: plays the demo headless, every frame at the given rate, and reports where its
// picture flashes: per area size, the worst second and every stretch over three flashes a
// second. Frames are the ones qm-capture draws for the same rate.
#include <getopt.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/headless_gl.h"
#include "player/player.h"
#include "timeline/timeline.h"
#include "tools/flashes/flash_meter.h"

namespace fs = std::filesystem;

static const char usage[] =
    "Usage: qm-flashes [--from T0] [--to T1] [--fps F] [--data DIR]\n"
    "Draws every frame with T0 <= k/F < T1 (default: the whole demo at 60 fps) at 640 x 480\n"
    "and follows the mean relative luminance of every block of a 32 x 32 grid that covers a\n"
    "quarter (16 x 16 cells) or a ninth (11 x 11) of the picture, at every cell position. A\n"
    "transition is a movement of 0.1 or more, the darker end below 0.8; more than 6 in one\n"
    "second (3 flashes) fail. DIR holds quiet_moss.zaf (default: this program's folder).\n";

static const int grid = 32;
static const struct {
    int span;
    const char *name;
} sizes[] = {{16, "a quarter"}, {11, "a ninth"}};

static double number(const char *text)
{
    char *end = nullptr;
    double v = std::strtod(text, &end);
    if (!*text || *end || !std::isfinite(v) || v < 0) {
        fprintf(stderr, "qm-flashes: '%s' is not a number of 0 or more\n", text);
        exit(1);
    }
    return v;
}

int main(int argc, char **argv)
{
    enum { FROM = 1000, TO, FPS, DATA, HELP };
    static const option options[] = {{"from", required_argument, nullptr, FROM},
                                     {"to", required_argument, nullptr, TO},
                                     {"fps", required_argument, nullptr, FPS},
                                     {"data", required_argument, nullptr, DATA},
                                     {"help", no_argument, nullptr, HELP},
                                     {nullptr, 0, nullptr, 0}};
    double from = 0, to = 1e9, fps = 60;
    std::string data = fs::read_symlink("/proc/self/exe").parent_path().string();
    for (int o; (o = getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        switch (o) {
        case FROM: from = number(optarg); break;
        case TO: to = number(optarg); break;
        case FPS: fps = number(optarg); break;
        case DATA: data = optarg; break;
        case HELP: fputs(usage, stdout); return 0;
        default: fputs(usage, stderr); return 1;
        }
    }
    if (optind < argc || fps <= 0 || !fs::exists(fs::path(data) / "quiet_moss.zaf")) {
        fputs(usage, stderr);
        return 1;
    }

    std::vector<int> spans;
    for (const auto &s : sizes)
        spans.push_back(s.span);
    FlashMeter meter(grid, spans);
    int64_t first = 0, k = 0;
    try {
        HeadlessGL_Open(scene_width, scene_height);
        Player_Start(PlayerSetup{data, fps, scene_width, scene_height});
        first = Player_FrameIndex(from, fps);
        Player_SkipTo(first);
        for (k = first; k < Player_FrameIndex(to, fps) && Player_Step() == 0; k++) {
            Frame f = Player_Read();
            meter.Add(k, f.rgba.data(), f.width, f.height);
        }
    } catch (const std::exception &e) {
        fprintf(stderr, "qm-flashes: %s\n", e.what());
        return 1;
    }

    printf("frames %lld to %lld at %g fps (%.2f s to %.2f s)\n", (long long)first,
           (long long)k - 1, fps, first / fps, k / fps);
    const int64_t second = std::llround(fps);
    for (size_t a = 0; a < meter.areas.size(); a++) {
        const FlashArea &area = meter.areas[a];
        const int positions = grid - area.span + 1;
        FlashWindow worst;
        size_t where = 0;
        std::vector<FlashStretch> over;
        for (size_t b = 0; b < area.blocks.size(); b++) {
            const std::vector<int64_t> &t = area.blocks[b].transitions;
            FlashWindow w = Flash_Worst(t, second);
            if (w.count > worst.count)
                worst = w, where = b;
            for (FlashStretch s : Flash_Over(t, second, 6))
                over.push_back(s);
        }
        // Cells from the top left, as a viewer sees them.
        const int row = positions - 1 - int(where / positions), column = int(where % positions);
        printf("%s of the picture (%d x %d cells of %d): worst second from %.2f s: %d transitions "
               "(%g flashes), block at cell %d, %d from the top left\n",
               sizes[a].name, area.span, area.span, grid, worst.first / fps, worst.count,
               worst.count / 2.0, column, row);
        over = Flash_Merge(over);
        if (over.empty())
            printf("  no second with more than 3 flashes\n");
        for (FlashStretch s : over)
            printf("  more than 3 flashes a second from %.2f s to %.2f s\n", s.first / fps,
                   s.last / fps);
    }
    return 0;
}
