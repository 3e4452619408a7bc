// The sound library: MP3 files made here with LAME, played through SDL's disk audio driver,
// and the raw PCM it wrote checked for length, pitch and channel order.
#include "platform/fsound.h"

#include <gtest/gtest.h>
#include <lame/lame.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace {

// A sine tone per channel (both switch to later_hz from change_at seconds on, where given),
// encoded with LAME at the file's own rate; the LAME tag is written so that the decoder can
// drop the encoder's delay and padding.
void Write_SineMp3(const std::string &path, int rate, int channel_count, double seconds,
                   double left_hz, double right_hz, double change_at = 0, double later_hz = 0)
{
    int frames = static_cast<int>(std::lround(rate * seconds));
    int change = change_at > 0 ? static_cast<int>(std::lround(rate * change_at)) : frames;
    std::vector<short> left(frames), right(frames);
    for (int i = 0; i < frames; i++) {
        double l = i < change ? left_hz : later_hz, r = i < change ? right_hz : later_hz;
        left[i] = static_cast<short>(std::lround(16000 * std::sin(2 * M_PI * l * i / rate)));
        right[i] = static_cast<short>(std::lround(16000 * std::sin(2 * M_PI * r * i / rate)));
    }
    lame_global_flags *lame = lame_init();
    ASSERT_NE(lame, nullptr);
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channel_count);
    lame_set_mode(lame, channel_count == 1 ? MONO : STEREO);
    lame_set_brate(lame, 128);
    lame_set_bWriteVbrTag(lame, 1);
    ASSERT_GE(lame_init_params(lame), 0);

    std::vector<unsigned char> mp3(frames * 2 + 65536);
    int size = lame_encode_buffer(lame, left.data(), right.data(), frames, mp3.data(),
                                  static_cast<int>(mp3.size()));
    ASSERT_GE(size, 0);
    int tail = lame_encode_flush(lame, mp3.data() + size, static_cast<int>(mp3.size()) - size);
    ASSERT_GE(tail, 0);
    size += tail;
    unsigned char tag[4096];
    size_t tag_size = lame_get_lametag_frame(lame, tag, sizeof tag);
    ASSERT_LE(tag_size, sizeof tag);
    std::copy(tag, tag + tag_size, mp3.begin());
    lame_close(lame);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char *>(mp3.data()), size);
}

long File_Size(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
}

// Waits for the disk driver to have written at least size bytes. Not a timing: the driver
// writes as fast as SDL_DISKAUDIODELAY lets it, and the deadline only guards against a hang.
bool Wait_ForOutput(const std::string &path, long size)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (File_Size(path) < size) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<int16_t> Read_Pcm(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

// The audible part of interleaved stereo PCM: from the first to the last frame that is clearly
// above silence, with each channel's tone measured by its rising zero crossings.
struct Sound {
    long first = -1, last = -1;   // frames
    double left_hz = 0, right_hz = 0;
};

Sound Measure(const std::vector<int16_t> &pcm, int rate)
{
    Sound sound;
    long frames = static_cast<long>(pcm.size() / 2);
    for (long i = 0; i < frames; i++) {
        if (std::abs(pcm[2 * i]) > 2000 || std::abs(pcm[2 * i + 1]) > 2000) {
            if (sound.first < 0)
                sound.first = i;
            sound.last = i;
        }
    }
    if (sound.first < 0)
        return sound;
    // The middle of the sound, clear of the encoder's edges.
    long span = sound.last - sound.first;
    long from = sound.first + span / 10, to = sound.last - span / 10;
    for (int channel = 0; channel < 2; channel++) {
        long crossings = 0, first_crossing = -1, last_crossing = -1;
        for (long i = from + 1; i < to; i++) {
            if (pcm[2 * (i - 1) + channel] < 0 && pcm[2 * i + channel] >= 0) {
                if (first_crossing < 0)
                    first_crossing = i;
                else
                    crossings++;
                last_crossing = i;
            }
        }
        double hz = last_crossing > first_crossing
                        ? crossings * static_cast<double>(rate) / (last_crossing - first_crossing)
                        : 0;
        (channel == 0 ? sound.left_hz : sound.right_hz) = hz;
    }
    return sound;
}

// SDL's disk driver writes the device's stream to a file; a short delay per period makes it
// run many times faster than real time.
void Use_DiskAudio(const std::string &out, const char *delay_ms = "2")
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", delay_ms, 1);
}

struct PlayCase {
    const char *name;
    int mix_rate;
    int file_rate;
    int file_channels;
    double seconds;
    double left_hz;
    double right_hz;   // the same as left_hz for a mono file
};

const PlayCase play_cases[] = {
    {"stereo at the mixing rate", 44100, 44100, 2, 3.0, 440.0, 660.0},
    {"mono at half the mixing rate", 44100, 22050, 1, 2.0, 500.0, 500.0},
    {"stereo at 48 kHz", 44100, 48000, 2, 2.0, 1000.0, 750.0},
    {"stereo into a 22.05 kHz mix", 22050, 44100, 2, 2.0, 300.0, 450.0},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PlayCase &c, std::ostream *os)
{
    *os << c.name;
}

class Play : public testing::TestWithParam<PlayCase> {};

TEST_P(Play, WholeFileAtTheMixingRate)
{
    const PlayCase &c = GetParam();
    std::string dir = Make_TempDir("fsound");
    std::string mp3 = dir + "/tone.mp3", out = dir + "/out.raw";
    Write_SineMp3(mp3, c.file_rate, c.file_channels, c.seconds, c.left_hz, c.right_hz);
    Use_DiskAudio(out);
    long bytes_per_second = c.mix_rate * 4L;

    ASSERT_EQ(FSOUND_Init(c.mix_rate, 32, 0), 1) << FMOD_ErrorString(FSOUND_GetError());
    ASSERT_EQ(FSOUND_Stream_SetBufferSize(200), 1);
    FSOUND_STREAM *stream = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0);
    ASSERT_NE(stream, nullptr) << FMOD_ErrorString(FSOUND_GetError());
    long before = File_Size(out);
    EXPECT_EQ(FSOUND_Stream_Play(2, stream), 2);
    // The whole file and half a second of what follows it.
    bool written = Wait_ForOutput(out, before + static_cast<long>(bytes_per_second * (c.seconds + 0.5)));
    EXPECT_EQ(FSOUND_Stream_Stop(stream), 1);
    EXPECT_EQ(FSOUND_Stream_Close(stream), 1);
    FSOUND_Close();
    ASSERT_TRUE(written) << "the disk driver stopped writing";

    std::vector<int16_t> pcm = Read_Pcm(out);
    Sound sound = Measure(pcm, c.mix_rate);
    ASSERT_GE(sound.first, 0) << "only silence was written";
    double length = (sound.last - sound.first + 1) / static_cast<double>(c.mix_rate);
    EXPECT_NEAR(length, c.seconds, 0.03);
    EXPECT_NEAR(sound.left_hz, c.left_hz, c.left_hz * 0.01);
    EXPECT_NEAR(sound.right_hz, c.right_hz, c.right_hz * 0.01);
    // After its end the stream is silent, not looping or repeating its last buffer.
    long frames = static_cast<long>(pcm.size() / 2);
    EXPECT_GE(frames - 1 - sound.last, c.mix_rate * 3 / 10);
    for (long i = sound.last + c.mix_rate / 100; i < frames; i++) {
        ASSERT_LT(std::abs(pcm[2 * i]), 64) << "sound after the end, frame " << i;
        ASSERT_LT(std::abs(pcm[2 * i + 1]), 64) << "sound after the end, frame " << i;
    }
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Fsound, Play, testing::ValuesIn(play_cases),
                         [](const testing::TestParamInfo<PlayCase> &info) {
                             std::string name = info.param.name;
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

TEST(Fsound, StopSilencesTheStreamAndPlayStartsItAgain)
{
    std::string dir = Make_TempDir("fsound");
    std::string mp3 = dir + "/tone.mp3", out = dir + "/out.raw";
    // 440 Hz for two seconds, then 880 Hz: the pitch tells where in the file playback is.
    Write_SineMp3(mp3, 44100, 2, 8.0, 440.0, 440.0, 2.0, 880.0);
    // Slower writing, so that a stop and a restart land well inside those two seconds.
    Use_DiskAudio(out, "5");
    const long bytes_per_second = 44100 * 4L;

    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1) << FMOD_ErrorString(FSOUND_GetError());
    FSOUND_STREAM *stream = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0);
    ASSERT_NE(stream, nullptr);
    long before = File_Size(out);
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
    bool written = Wait_ForOutput(out, before + 3 * bytes_per_second);
    EXPECT_EQ(FSOUND_Stream_Stop(stream), 1);
    long stopped = File_Size(out);
    written = written && Wait_ForOutput(out, stopped + bytes_per_second);
    long restarted = File_Size(out);
    EXPECT_EQ(FSOUND_Stream_Play(5, stream), 5);
    written = written && Wait_ForOutput(out, restarted + bytes_per_second / 2);
    FSOUND_Close();   // also closes the stream it still holds
    ASSERT_TRUE(written) << "the disk driver stopped writing";

    std::vector<int16_t> pcm = Read_Pcm(out);
    long stopped_frame = stopped / 4, restarted_frame = restarted / 4;
    std::vector<int16_t> first(pcm.begin(), pcm.begin() + 2 * restarted_frame);
    std::vector<int16_t> second(pcm.begin() + 2 * restarted_frame, pcm.end());
    Sound played = Measure(first, 44100), replayed = Measure(second, 44100);
    ASSERT_GE(played.first, 0);
    // Silent from the stop on: what was written after it is at most the period in flight and
    // the writer's file buffer.
    EXPECT_LE(played.last, stopped_frame + 4410);
    EXPECT_GE(played.last - played.first, 44100 * 29 / 10);
    EXPECT_LT(played.last - played.first, 44100 * 5);
    // Played again, the stream starts from the beginning of the file, not where it stopped.
    ASSERT_GE(replayed.first, 0) << "nothing played after the restart";
    EXPECT_NEAR(replayed.left_hz, 440.0, 4.4);
    EXPECT_NEAR(replayed.right_hz, 440.0, 4.4);
    std::filesystem::remove_all(dir);
}

// Files that are no MP3 stream: a null handle and a reason, never a crash.
struct BadFileCase {
    const char *name;
    const char *content;   // null: no file at all
    size_t size;
    int error;
};

const char random_bytes[] =
    "\x13\x9a\x51\xf4\x02\x7e\xc8\x33\x90\x1b\xee\x44\x6d\x05\xb7\x21\x88\xfa\x3c\x60\x9e\x11"
    "\x47\xd2\x0b\x76\xa5\x39\xc1\x5e\x2f\x84";
// A frame header of MPEG-1 layer III, 128 kbit/s, 44.1 kHz, then nothing of the frame.
const char cut_frame[] = "\xff\xfb\x90\x64\x00\x00\x00\x00";

const BadFileCase bad_file_cases[] = {
    {"missing", nullptr, 0, FMOD_ERR_FILE_NOTFOUND},
    {"empty", "", 0, FMOD_ERR_FILE_FORMAT},
    {"text", "quiet moss plays for five minutes\n", 34, FMOD_ERR_FILE_FORMAT},
    {"random bytes", random_bytes, sizeof random_bytes - 1, FMOD_ERR_FILE_FORMAT},
    {"frame header only", cut_frame, sizeof cut_frame - 1, FMOD_ERR_FILE_FORMAT},
};

TEST(Fsound, FilesThatAreNoStreamGiveANullHandle)
{
    std::string dir = Make_TempDir("fsound");
    Use_DiskAudio(dir + "/out.raw");
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1) << FMOD_ErrorString(FSOUND_GetError());
    for (const BadFileCase &c : bad_file_cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir + "/" + c.name + ".mp3";
        if (c.content)
            std::ofstream(path, std::ios::binary).write(c.content, static_cast<long>(c.size));
        EXPECT_EQ(FSOUND_Stream_Open(path.c_str(), 0, 0, 0), nullptr);
        EXPECT_EQ(FSOUND_GetError(), c.error) << FMOD_ErrorString(FSOUND_GetError());
    }
    // A folder cannot be read as a file.
    EXPECT_EQ(FSOUND_Stream_Open(dir.c_str(), 0, 0, 0), nullptr);
    FSOUND_Close();
    std::filesystem::remove_all(dir);
}

// Every stream call takes a null handle without effect, before, during and after a session.
void Expect_NullHandleHarmless(int error)
{
    EXPECT_EQ(FSOUND_Stream_Play(2, nullptr), -1);
    EXPECT_EQ(FSOUND_GetError(), error);
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, nullptr), -1);
    EXPECT_EQ(FSOUND_Stream_Stop(nullptr), 0);
    EXPECT_EQ(FSOUND_GetError(), error);
    EXPECT_EQ(FSOUND_Stream_Close(nullptr), 0);
    EXPECT_EQ(FSOUND_GetError(), error);
}

TEST(Fsound, NullHandleIsHarmlessInEveryCall)
{
    {
        SCOPED_TRACE("never initialised");
        FSOUND_Close();
        EXPECT_EQ(FSOUND_Stream_Open("quiet_moss.mp3", 0, 0, 0), nullptr);
        EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_UNINITIALIZED);
        Expect_NullHandleHarmless(FMOD_ERR_UNINITIALIZED);
    }
    std::string dir = Make_TempDir("fsound");
    Use_DiskAudio(dir + "/out.raw");
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1);
    {
        SCOPED_TRACE("initialised");
        EXPECT_EQ(FSOUND_Stream_Open((dir + "/quiet_moss.mp3").c_str(), 0, 0, 0), nullptr);
        Expect_NullHandleHarmless(FMOD_ERR_INVALID_PARAM);
    }
    FSOUND_Close();
    {
        SCOPED_TRACE("closed");
        FSOUND_Close();
        Expect_NullHandleHarmless(FMOD_ERR_UNINITIALIZED);
    }
    std::filesystem::remove_all(dir);
}

TEST(Fsound, HandlesOfAClosedSessionAreRejected)
{
    std::string dir = Make_TempDir("fsound");
    std::string mp3 = dir + "/tone.mp3";
    Write_SineMp3(mp3, 44100, 2, 1.0, 440.0, 440.0);
    Use_DiskAudio(dir + "/out.raw");
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1);
    FSOUND_STREAM *closed = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0);
    ASSERT_NE(closed, nullptr);
    EXPECT_EQ(FSOUND_Stream_Close(closed), 1);
    // Closing twice, or playing what is closed, is refused rather than touching freed memory.
    EXPECT_EQ(FSOUND_Stream_Close(closed), 0);
    EXPECT_EQ(FSOUND_Stream_Play(2, closed), -1);
    FSOUND_STREAM *open = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0);
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(FSOUND_Stream_Play(32, open), -1) << "channel 32 of 32";
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FSOUND_Stream_Play(-2, open), -1);
    EXPECT_EQ(FSOUND_Stream_Play(31, open), 31);
    FSOUND_Close();
    EXPECT_EQ(FSOUND_Stream_Stop(open), 0);
    EXPECT_EQ(FSOUND_Stream_Close(open), 0);
    std::filesystem::remove_all(dir);
}

struct InitCase {
    const char *name;
    const char *driver;
    int mix_rate;
    int channels;
    int error;   // FMOD_ERR_NONE: it succeeds
};

const InitCase init_cases[] = {
    {"disk driver", "disk", 44100, 32, FMOD_ERR_NONE},
    {"driver that does not exist", "no-such-driver", 44100, 32, FMOD_ERR_INIT},
    {"no mixing rate", "disk", 0, 32, FMOD_ERR_INVALID_PARAM},
    {"no channels", "disk", 44100, 0, FMOD_ERR_INVALID_PARAM},
    {"disk driver again after failures", "disk", 22050, 1, FMOD_ERR_NONE},
};

TEST(Fsound, InitSucceedsOrSaysWhy)
{
    std::string dir = Make_TempDir("fsound");
    for (const InitCase &c : init_cases) {
        SCOPED_TRACE(c.name);
        Use_DiskAudio(dir + "/out.raw");
        setenv("SDL_AUDIODRIVER", c.driver, 1);
        signed char ok = FSOUND_Init(c.mix_rate, c.channels, 0);
        EXPECT_EQ(ok, c.error == FMOD_ERR_NONE ? 1 : 0);
        EXPECT_EQ(FSOUND_GetError(), c.error) << FMOD_ErrorString(FSOUND_GetError());
        FSOUND_Close();
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
