// The soundtrack as the demo gets it: build/quiet_moss.mp3 decoded with libmpg123 (as the
// player does), checked for format, length, headroom, gaps and its sync with the scene
// script; and qm-synth itself: the same score gives the same bytes. A score it should refuse
// shows here as the music it makes.
#include "support/process.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

#include <gtest/gtest.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr double music_start = 1.455;   // demo time of entry 1's first frame, when it plays
const std::string synth = QM_BUILD_DIR "/qm-synth";

struct Audio {
    long rate = 0;
    int channels = 0;
    std::vector<float> samples;   // interleaved
    double Seconds() const { return channels ? static_cast<double>(samples.size()) / channels / rate : 0; }
};

Audio Decode(const std::string &path)
{
    Audio audio;
    mpg123_handle *mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_FORCE_FLOAT, 0.0);
    int encoding = 0, rc = mpg123_open(mh, path.c_str());
    EXPECT_EQ(rc, MPG123_OK) << "libmpg123 cannot open " << path;
    mpg123_getformat(mh, &audio.rate, &audio.channels, &encoding);
    EXPECT_EQ(encoding, MPG123_ENC_FLOAT_32);
    float buffer[16384];
    for (size_t done = 0; rc == MPG123_OK;) {
        rc = mpg123_read(mh, buffer, sizeof buffer, &done);
        audio.samples.insert(audio.samples.end(), buffer, buffer + done / sizeof(float));
    }
    mpg123_delete(mh);
    return audio;
}

// Energy of the summed channels in hops of 220 frames (5 ms at 44.1 kHz).
constexpr size_t hop = 220;

std::vector<double> HopEnergy(const Audio &audio)
{
    std::vector<double> energy(audio.samples.size() / 2 / hop, 0.0);
    for (size_t i = 0; i < energy.size() * hop; i++)
        energy[i / hop] += std::pow(audio.samples[2 * i] + audio.samples[2 * i + 1], 2);
    return energy;
}

// How many of the given music times have an onset within 30 ms: the 10 ms from a hop on hold at
// least twice the energy of any 10 ms of the 50 ms before it (a rise of 3 dB or more), and are
// not near silence.
int OnsetsNear(const std::vector<double> &e, const std::vector<double> &times)
{
    int found = 0;
    for (double t : times) {
        const long centre = std::lround(t * 44100 / hop), reach = std::lround(0.030 * 44100 / hop);
        const long last = std::min(centre + reach, long(e.size()) - 2);
        for (long k = std::max(10L, centre - reach); k <= last; k++) {
            double before = 0;
            for (long j = k - 10; j < k; j += 2) before = std::max(before, e[j] + e[j + 1]);
            if (e[k] + e[k + 1] > std::max(1e-2, 2.0 * before)) {
                found++;
                break;
            }
        }
    }
    return found;
}

// The built soundtrack, decoded once.
const Audio &Built()
{
    static const Audio audio = Decode(QM_BUILD_DIR "/quiet_moss.mp3");
    return audio;
}

// Fault caught: a soundtrack in a format the player does not expect, shorter than the demo,
// clipping, or with a silence long enough to be heard as a gap.
TEST(Soundtrack, IsStereoAt44100OutlastingTheDemoWithHeadroomAndNoGaps)
{
    const Audio &audio = Built();
    EXPECT_EQ(audio.rate, 44100);
    EXPECT_EQ(audio.channels, 2);
    Timeline_Prepare(&scene_script, 0);
    const double demo_end = scene_entries[42].start + 1.0;   // the last frame is held one second
    SceneScript_Reset();
    EXPECT_GE(audio.Seconds(), std::max(309.0, demo_end - music_start));
    // Peak at most -1 dBFS; silent: a 50 ms window whose RMS is under -60 dBFS.
    const size_t window = 2 * 44100 / 20;
    double peak = 0, longest = 0, run = 0;
    for (size_t at = 0; at + window <= audio.samples.size(); at += window) {
        double sum = 0;
        for (size_t i = at; i < at + window; i++) {
            sum += audio.samples[i] * audio.samples[i];
            peak = std::max(peak, std::fabs(audio.samples[i]) * 1.0);
        }
        run = std::sqrt(sum / window) < 1e-3 ? run + 0.05 : 0.0;
        longest = std::max(longest, run);
    }
    ASSERT_GT(peak, 0.0);
    EXPECT_LE(20.0 * std::log10(peak), -1.0);
    EXPECT_LE(longest, 2.0);
}

// Fault caught: music out of step with the scene script (a changed entry start, a wrong sync
// offset or encoder delay).
TEST(Soundtrack, MarksEveryEntryStart)
{
    // Music times of the starts of entries 2 to 41, derived by the timeline from the script.
    Timeline_Prepare(&scene_script, 0);
    std::vector<double> starts, early;
    for (int i = 2; i <= 41; i++) starts.push_back(scene_entries[i].start - music_start);
    SceneScript_Reset();
    const std::vector<double> energy = HopEnergy(Built());
    EXPECT_GE(OnsetsNear(energy, starts), 36);
    // The measure must not find onsets anywhere it looks: the same times a third of a second
    // early, between the music's changes, mostly miss.
    for (double t : starts) early.push_back(t - 0.333);
    EXPECT_LT(OnsetsNear(energy, early), 20);
}

// Fault caught: a synthesiser whose output depends on more than the score (time, seeds).
TEST(Synth, SameScoreGivesTheSameBytes)
{
    const std::string dir = Make_TempDir("synth");
    std::string bytes[2];
    for (std::string &mp3 : bytes) {
        const std::string score = QM_SOURCE_DIR "/data/music/quiet_moss.score";
        const ProcessResult run = Run_Command(synth + " " + score + " " + dir + "/out.mp3 --seconds 40");
        ASSERT_EQ(run.status, 0) << run.output;
        std::ifstream in(dir + "/out.mp3", std::ios::binary);
        mp3.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_GT(bytes[0].size(), 100000u);
    EXPECT_TRUE(bytes[0] == bytes[1]);
    std::filesystem::remove_all(dir);
}

// Faults caught: --bitrate ignored (the score's 192 kbit/s written), taken only in one place on
// the line, or a value the encoder cannot honour let through.
TEST(Synth, BitrateOverridesTheScores)
{
    const std::string dir = Make_TempDir("synth-rate");
    const std::string score = QM_SOURCE_DIR "/data/music/quiet_moss.score";
    const std::string out = dir + "/out.mp3";
    struct Case { const char *args; int kbps; };
    const Case cases[] = {
        {"--seconds 8 --bitrate 128", 128}, {"--bitrate 96 --seconds 8", 96},
        {"--seconds 8", 192}, {"--bitrate 128.5 --seconds 8", 0}, {"--bitrate 1000", 0},
        {"--bitrate", 0}, {"--rate 128", 0}, {"--seconds 8 --seconds", 0},
    };
    for (const Case &c : cases) {
        std::filesystem::remove(out);
        const ProcessResult run = Run_Command(synth + " " + score + " " + out + " " + c.args + " 2>&1");
        if (!c.kbps) {
            EXPECT_EQ(run.status, 1) << c.args;
            EXPECT_NE(run.output.find("usage: qm-synth"), std::string::npos) << c.args;
            EXPECT_FALSE(std::filesystem::exists(out)) << c.args;
            continue;
        }
        ASSERT_EQ(run.status, 0) << c.args << ": " << run.output;
        // A constant bit rate: 8 s of frames take kbps * 1000 / 8 bytes a second.
        const double want = c.kbps * 1000.0 / 8 * 8;
        const double got = double(std::filesystem::file_size(out));
        EXPECT_NEAR(got, want, want * 0.03) << c.args;
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
