// qm-capture's command line: the options, their checks, the usage text.
#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "apps/capture/stages.h"
#include "platform/output.h"

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
    "  --from T0 --to T1 --out FILE.mp4 [--quality Q]\n"
    "                                  the same frames as H.264 video through ffmpeg, with\n"
    "                                  quiet_moss.mp3 (if present) starting where playback\n"
    "                                  starts it. Q: web (the default: CRF 18, playable\n"
    "                                  while it downloads), high (CRF 12, for uploads at\n"
    "                                  4K) or lossless (RGB, every pixel kept)\n"
    "  --contact-sheet FILE.png        one labelled thumbnail per entry, from its middle\n"
    "  --bench [--frames N] [--json]   N frames (default 120) of every entry at 60 fps from\n"
    "                                  its start, wrapping within short entries; per entry the\n"
    "                                  median and p99 frame time and fps; then 'min fps' and\n"
    "                                  'total' (the wall time of the whole run)\n"
    "  --bench --from T0 --to T1 [--fps F] [--json]\n"
    "                                  draw the frames an export of that range writes, but\n"
    "                                  neither read back nor encode them: the same table for\n"
    "                                  the entries they belong to, then 'render' (their\n"
    "                                  drawing time in all) and 'total'\n"
    "\n"
    "Options:\n"
    "  --fps F      frames per second (default 60; --bench over the entries uses 60)\n"
    "  --size WxH   the output's size in pixels, each from 64 to 7680 (default 640x480):\n"
    "               the 4:3 picture, the largest that fits, centred between black bars\n"
    "  --data DIR   folder holding quiet_moss.zaf and quiet_moss.mp3 (default: the folder\n"
    "               of this program)\n"
    "  --help       this text\n"
    "  --version    the version number\n";

double parse_number(const char *option, const char *text)
{
    char *end = nullptr;
    errno = 0;
    double v = std::strtod(text, &end);
    if (!*text || *end || errno == ERANGE || !std::isfinite(v))
        throw PlayerError(std::string(option) + " needs a number, not '" + text + "'");
    return v;
}

double parse_time(const char *option, const char *text)
{
    double v = parse_number(option, text);
    if (v < 0)
        throw PlayerError(std::string(option) + " needs a demo time of 0 or more, not '" + text +
                          "'");
    return v;
}

bool ends_with(const std::string &s, const std::string &tail)
{
    if (s.size() < tail.size())
        return false;
    return std::equal(tail.rbegin(), tail.rend(), s.rbegin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
}

}  // namespace

Options CommandLine_Parse(int argc, char **argv)
{
    enum {
        AT = 1000, FROM, TO, FPS, SIZE, OUT, QUALITY, SHEET, DATA, BENCH, FRAMES, JSON, EVERY,
        HELP, VERSION
    };
    static const option long_options[] = {
        {"at", required_argument, nullptr, AT},
        {"from", required_argument, nullptr, FROM},
        {"to", required_argument, nullptr, TO},
        {"fps", required_argument, nullptr, FPS},
        {"size", required_argument, nullptr, SIZE},
        {"out", required_argument, nullptr, OUT},
        {"quality", required_argument, nullptr, QUALITY},
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
                throw PlayerError(
                    std::string("--fps needs a number above 0 and at most 1000, not '") + optarg +
                    "'");
            break;
        case SIZE:
            if (!Output_ParseSize(optarg, &o.width, &o.height))
                throw PlayerError(std::string("--size needs WIDTHxHEIGHT, each from ") +
                                  std::to_string(output_min_size) + " to " +
                                  std::to_string(output_max_size) + ", not '" + optarg + "'");
            break;
        case OUT:
            o.out = optarg;
            break;
        case QUALITY:
            o.quality = optarg;
            if (o.quality != "web" && o.quality != "high" && o.quality != "lossless")
                throw PlayerError(std::string("--quality needs web, high or lossless, not '") +
                                  optarg + "'");
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
                throw PlayerError(
                    std::string("--frames needs a whole number from 1 to 100000, not '") + optarg +
                    "'");
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
            throw PlayerError(std::string(argv[optind - 1]) + " needs a value");
        default:
            throw PlayerError(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc)
        throw PlayerError(std::string("unexpected argument '") + argv[optind] + "'");

    const bool range = o.from || o.to;
    int modes = !o.at.empty() + (range && !o.bench) + o.bench + !o.contact_sheet.empty();
    if (modes == 0)
        throw PlayerError(
            "nothing to do: give --at, --from/--to, --contact-sheet or --bench (see --help)");
    if (modes > 1)
        throw PlayerError("give only one of --at, --from/--to, --contact-sheet and --bench");
    if (range && !(o.from && o.to))
        throw PlayerError("--from and --to go together");
    if (o.from && *o.to <= *o.from)
        throw PlayerError("--to must come after --from");
    if ((!o.at.empty() || (o.from && !o.bench)) && o.out.empty())
        throw PlayerError("--out is required with --at and --from/--to");
    if ((o.bench || !o.contact_sheet.empty()) && !o.out.empty())
        throw PlayerError("--out has no meaning with --bench or --contact-sheet");
    o.video = o.from && ends_with(o.out, ".mp4");
    if (!o.quality.empty() && !o.video)
        throw PlayerError("--quality goes with a video: --from/--to --out FILE.mp4");
    if (o.frames && !o.bench)
        throw PlayerError("--frames goes with --bench");
    if (o.json && !o.bench)
        throw PlayerError("--json goes with --bench");
    if (o.frames && range)
        throw PlayerError("--frames goes with --bench over the entries, not with --from/--to");
    if (o.bench && o.fps && !range)
        throw PlayerError("--bench always runs at 60 fps; leave out --fps");
    return o;
}
