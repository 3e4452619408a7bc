// qm-synth: renders a score to the soundtrack MP3 and says what it measured.
//   qm-synth <score> <out.mp3> [--seconds N] [--bitrate KBPS]
// --seconds renders only the first N seconds (for listening to a part, or a quick check);
// --bitrate overrides the score's (the browser's copy is smaller than the native one).
#include "tools/synth/encode.h"
#include "tools/synth/master.h"
#include "tools/synth/render.h"
#include "tools/synth/score.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>

namespace {

// Processor time, not wall time: the figure that stays put on a machine shared with a build.
double Cpu()
{
    return (double)std::clock() / CLOCKS_PER_SEC;
}

int Usage()
{
    std::fprintf(stderr, "usage: qm-synth <score> <out.mp3> [--seconds N] [--bitrate KBPS]\n");
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || argc % 2 == 0)
        return Usage();
    double seconds = 0;
    int bitrate = 0;
    for (int i = 3; i < argc; i += 2) {
        char *end = nullptr;
        double value = std::strtod(argv[i + 1], &end);
        if (*end != '\0' || !(value > 0))
            return Usage();
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = value;
        else if (std::strcmp(argv[i], "--bitrate") == 0 && value == int(value) && value >= 96 &&
                 value <= 320)
            bitrate = int(value);
        else
            return Usage();
    }
    try {
        auto wall = std::chrono::steady_clock::now();
        double start = Cpu();
        Score score = Score_Read(argv[1]);
        if (bitrate)
            score.bitrate = bitrate;
        if (seconds <= 0 || seconds > score.length)
            seconds = score.length;
        Mix mix = Render_Mix(score, seconds);
        double render = Cpu() - start;
        MasterReport report;
        std::vector<float> samples = Master_Process(mix, score, report);
        double master = Cpu() - start - render;
        Encode_Mp3(samples, score.rate, score.bitrate, argv[2]);
        double encode = Cpu() - start - render - master;
        double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        std::printf("qm-synth: %s: %.3f s, %zu events, loudness %.2f LUFS, peak %.2f dBFS, "
                    "gain %+.2f dB; cpu: render %.2f s, master %.2f s, encode %.2f s; "
                    "wall %.2f s\n",
                    argv[2], seconds, Render_Events(score, seconds).size(), report.loudness,
                    report.peak_db, report.gain_db, render, master, encode, elapsed);
    } catch (const ScoreError &e) {
        std::fprintf(stderr, "qm-synth: %s\n", e.what());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qm-synth: %s: %s\n", argv[2], e.what());
        return 1;
    }
    return 0;
}
