// The soundtrack as the demo gets it: build/quiet_moss.mp3 decoded with libmpg123 (as the
// player does), checked for format, length, headroom, gaps and its sync with the scene
// script; and qm-synth itself: deterministic, sample-exact timing, clear errors on bad scores.
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
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double music_start = 1.455;   // demo time of entry 1's first frame, when it plays

struct Audio {
    long rate = 0;
    int channels = 0;
    std::vector<float> samples;   // interleaved
    double Seconds() const { return (double)samples.size() / channels / (double)rate; }
};

Audio Decode(const std::string &path)
{
    Audio audio;
    int err = MPG123_OK;
    mpg123_handle *mh = mpg123_new(nullptr, &err);
    EXPECT_NE(mh, nullptr);
    if (!mh)
        return audio;
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_FORCE_FLOAT, 0.0);
    if (mpg123_open(mh, path.c_str()) == MPG123_OK) {
        int encoding = 0;
        mpg123_getformat(mh, &audio.rate, &audio.channels, &encoding);
        EXPECT_EQ(encoding, MPG123_ENC_FLOAT_32);
        std::vector<unsigned char> buffer(1 << 16);
        size_t done = 0;
        for (;;) {
            int rc = mpg123_read(mh, buffer.data(), buffer.size(), &done);
            const float *f = reinterpret_cast<const float *>(buffer.data());
            audio.samples.insert(audio.samples.end(), f, f + done / sizeof(float));
            if (rc != MPG123_OK)
                break;
        }
        mpg123_close(mh);
    } else {
        ADD_FAILURE() << "libmpg123 cannot open " << path;
    }
    mpg123_delete(mh);
    return audio;
}

// Energy of the summed channels in hops of 220 samples (5 ms at 44.1 kHz).
constexpr size_t hop = 220;
constexpr double hop_seconds = hop / 44100.0;

std::vector<double> HopEnergy(const Audio &audio)
{
    size_t frames = audio.samples.size() / 2;
    std::vector<double> energy(frames / hop, 0.0);
    for (size_t k = 0; k < energy.size(); k++)
        for (size_t i = k * hop; i < (k + 1) * hop; i++) {
            double m = audio.samples[2 * i] + audio.samples[2 * i + 1];
            energy[k] += m * m;
        }
    return energy;
}

// An onset: the 10 ms from a hop on hold at least twice the energy of any 10 ms of the
// 50 ms before it (a rise of 3 dB or more), and are not near silence.
bool OnsetAt(const std::vector<double> &energy, size_t k)
{
    if (k < 10 || k + 2 > energy.size())
        return false;
    double now = energy[k] + energy[k + 1];
    double before = 0;
    for (size_t j = k - 10; j < k; j += 2)
        before = std::max(before, energy[j] + energy[j + 1]);
    return now > 1e-2 && now > 2.0 * before;
}

// How many of the given music times have an onset within 30 ms.
int OnsetsNear(const std::vector<double> &energy, const std::vector<double> &times)
{
    int found = 0;
    for (double t : times) {
        long centre = std::lround(t / hop_seconds), reach = std::lround(0.030 / hop_seconds);
        for (long k = std::max(0L, centre - reach); k <= centre + reach; k++)
            if (OnsetAt(energy, (size_t)k)) {
                found++;
                break;
            }
    }
    return found;
}

// Music times of the starts of entries 2 to 41, derived by the timeline from the script.
std::vector<double> EntryStarts()
{
    Timeline_Prepare(&scene_script, 0);
    std::vector<double> times;
    for (int i = 2; i <= 41; i++)
        times.push_back(scene_entries[i].start - music_start);
    SceneScript_Reset();
    return times;
}

class Soundtrack : public testing::Test {
protected:
    static void SetUpTestSuite() { audio = new Audio(Decode(QM_BUILD_DIR "/quiet_moss.mp3")); }
    static void TearDownTestSuite() { delete audio; }
    static Audio *audio;
};

Audio *Soundtrack::audio = nullptr;

TEST_F(Soundtrack, IsStereoAt44100AndOutlastsTheDemo)
{
    EXPECT_EQ(audio->rate, 44100);
    EXPECT_EQ(audio->channels, 2);
    Timeline_Prepare(&scene_script, 0);
    double demo_end = scene_entries[42].start + 1.0;   // the last frame is held one second
    SceneScript_Reset();
    EXPECT_GE(audio->Seconds(), std::max(309.0, demo_end - music_start));
}

TEST_F(Soundtrack, PeaksStayUnderMinusOneDbfs)
{
    float peak = 0;
    for (float s : audio->samples)
        peak = std::max(peak, std::fabs(s));
    ASSERT_GT(peak, 0.0f);
    EXPECT_LE(20.0 * std::log10(peak), -1.0);
}

TEST_F(Soundtrack, NeverFallsSilentForMoreThanTwoSeconds)
{
    // Silent: a 50 ms window whose RMS is under -60 dBFS.
    size_t window = (size_t)audio->rate / 20, frames = audio->samples.size() / 2;
    double longest = 0, run = 0;
    for (size_t at = 0; at + window <= frames; at += window) {
        double sum = 0;
        for (size_t i = 2 * at; i < 2 * (at + window); i++)
            sum += (double)audio->samples[i] * audio->samples[i];
        bool silent = std::sqrt(sum / (double)(2 * window)) < 1e-3;
        run = silent ? run + 0.05 : 0.0;
        longest = std::max(longest, run);
    }
    EXPECT_LE(longest, 2.0);
}

TEST_F(Soundtrack, MarksEveryEntryStart)
{
    std::vector<double> energy = HopEnergy(*audio), starts = EntryStarts();
    ASSERT_EQ(starts.size(), 40u);
    EXPECT_GE(OnsetsNear(energy, starts), 36);
    // The measure must not find onsets anywhere it looks: the same times a third of a second
    // early, between the music's changes, mostly miss.
    std::vector<double> early;
    for (double t : starts)
        early.push_back(t - 0.333);
    EXPECT_LT(OnsetsNear(energy, early), 20);
}

std::string WriteFile(const std::string &dir, const std::string &name, const std::string &text)
{
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string synth = QM_BUILD_DIR "/qm-synth";

TEST(Synth, SameScoreGivesTheSameBytes)
{
    std::string dir = Make_TempDir("synth");
    std::string score = QM_SOURCE_DIR "/data/music/quiet_moss.score";
    for (const char *name : {"a.mp3", "b.mp3"}) {
        ProcessResult run = Run_Command(synth + " " + score + " " + dir + "/" + name +
                                        " --seconds 40 2>&1");
        ASSERT_EQ(run.status, 0) << run.output;
    }
    std::string a = ReadBytes(dir + "/a.mp3"), b = ReadBytes(dir + "/b.mp3");
    EXPECT_GT(a.size(), 100000u);
    EXPECT_TRUE(a == b);
    std::filesystem::remove_all(dir);
}

// A lone kick placed by demo time must sound exactly that long after the music's start: the
// score's sync offset and the encoder's delay both come out right.
TEST(Synth, PlacesAHitAtItsDemoTime)
{
    std::string dir = Make_TempDir("synth");
    std::string score = WriteFile(dir, "one.score",
        "sync 1.5\nlength 4\n"
        "instrument k kick\ninstrument p synth wave=sine gain=-40\n"
        "pattern hit k x\npattern hum p a3*64\n"
        "section 1.5 before bpm=120 : hum\n"
        "section 3.75 at bpm=120 : !hit\n");
    ProcessResult run = Run_Command(synth + " " + score + " " + dir + "/one.mp3 2>&1");
    ASSERT_EQ(run.status, 0) << run.output;
    Audio audio = Decode(dir + "/one.mp3");
    ASSERT_EQ(audio.channels, 2);
    EXPECT_NEAR(audio.Seconds(), 4.0, 0.001);
    size_t first = 0;
    while (2 * first < audio.samples.size() && std::fabs(audio.samples[2 * first]) < 0.1f)
        first++;
    EXPECT_NEAR((double)first / (double)audio.rate, 2.25, 0.002);
    std::filesystem::remove_all(dir);
}

TEST(Synth, RejectsMalformedScoresWithFileAndLine)
{
    const std::string head = "length 10\ninstrument k kick\n";
    struct Case {
        std::string text;
        int line;
        std::string says;
    } cases[] = {
        {"length ten\n", 1, "bad number 'ten'"},
        {"instrument k drum\n", 1, "unknown instrument kind 'drum'"},
        {"instrument k kick loud=3\n", 1, "unknown instrument setting 'loud'"},
        {"instrument k kick gain=40\n", 1, "gain 40 is outside"},
        {"instrument k synth wave=sawtooth\n", 1, "unknown wave 'sawtooth'"},
        {head + "instrument k hat\n", 3, "defined twice"},
        {head + "pattern p s x\n", 3, "unknown instrument 's'"},
        {head + "pattern p k - x\n", 3, "'-' holds nothing"},
        {head + "pattern p k x q\n", 3, "drum step 'q'"},
        {head + "instrument s synth\npattern p s c3 h4\n", 4, "bad note 'h4'"},
        {head + "pattern p k x\n  x y\n", 4, "drum step 'y'"},
        {head + "  x\n", 3, "continues nothing"},
        {head + "pattern p k\nsection 0 a bpm=90 : p\n", 3, "pattern 'p' has no steps"},
        {head + "pattern p k x\nsection 0 a : p\n", 4, "needs bpm="},
        {head + "pattern p k x\nsection 0 a bpm=90 : q\n", 4, "unknown pattern 'q'"},
        {head + "pattern p k x\nsection 2 a bpm=90 : p\nsection 1 b bpm=90 : p\n", 5,
         "does not start after"},
        {"sync 2\n" + head + "pattern p k x\nsection 1 a bpm=90 : p\n", 5,
         "starts before the music"},
        {head + "pattern p k x\nsection 12 a bpm=90 : p\n", 4, "after the end of the music"},
        {head + "section 0 a bpm=9000 :\n", 3, "bpm 9000 is outside"},
        {head + "tempo 120\n", 3, "unknown statement 'tempo'"},
    };
    std::string dir = Make_TempDir("synth");
    for (const Case &c : cases) {
        std::string score = WriteFile(dir, "bad.score", c.text);
        ProcessResult run = Run_Command(synth + " " + score + " " + dir + "/out.mp3 2>&1");
        EXPECT_EQ(run.status, 1) << c.text;
        std::string where = "qm-synth: " + score + ":" + std::to_string(c.line) + ": ";
        EXPECT_EQ(run.output.rfind(where, 0), 0u) << run.output;
        EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
        EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
        EXPECT_FALSE(std::filesystem::exists(dir + "/out.mp3"));
    }
    ProcessResult missing = Run_Command(synth + " " + dir + "/none.score " + dir + "/o.mp3 2>&1");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("none.score: cannot be read"), std::string::npos);
    std::filesystem::remove_all(dir);
}

} // namespace
