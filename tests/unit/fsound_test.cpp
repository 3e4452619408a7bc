// The sound library: MP3 files made here with LAME, played through SDL's disk audio driver,
// and the raw PCM it wrote checked for length, pitch and channel order.
#include "platform/fsound.h"

#include <gtest/gtest.h>
#include <lame/lame.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace {

// A sine tone per channel (both switch to later_hz from change_at seconds on, where given),
// encoded with LAME at the file's own rate; the LAME tag is written so that the decoder can
// drop the encoder's delay and padding.
void Write_SineMp3(const std::string &path, int rate, int channel_count, double seconds, double left_hz,
                   double right_hz, double change_at = 0, double later_hz = 0)
{
    const long frames = std::lround(rate * seconds), change = change_at > 0 ? std::lround(rate * change_at) : frames;
    std::vector<short> pcm[2] = {std::vector<short>(frames), std::vector<short>(frames)};
    for (long i = 0; i < frames; i++)
        for (int c = 0; c < 2; c++)
            pcm[c][i] = static_cast<short>(
                std::lround(16000 * std::sin(2 * M_PI * (i < change ? (c ? right_hz : left_hz) : later_hz) * i / rate)));
    lame_global_flags *lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_out_samplerate(lame, rate);
    lame_set_num_channels(lame, channel_count);
    lame_set_mode(lame, channel_count == 1 ? MONO : STEREO);
    lame_set_brate(lame, 128);
    lame_set_bWriteVbrTag(lame, 1);
    ASSERT_GE(lame_init_params(lame), 0);
    std::vector<unsigned char> mp3(frames * 2 + 65536);
    int size = lame_encode_buffer(lame, pcm[0].data(), pcm[1].data(), static_cast<int>(frames), mp3.data(),
                                  static_cast<int>(mp3.size()));
    ASSERT_GE(size, 0);
    size += lame_encode_flush(lame, mp3.data() + size, static_cast<int>(mp3.size()) - size);
    // The tag frame takes the place LAME left for it at the start.
    ASSERT_LE(lame_get_lametag_frame(lame, mp3.data(), 4096), 4096u);
    lame_close(lame);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char *>(mp3.data()), size);
}

// Waits until the disk driver's file has grown by `bytes` from now and gives its size then, or
// 0 if that takes over a minute. Not a timing: the driver writes as fast as
// SDL_DISKAUDIODELAY lets it, and the deadline only guards against a hang.
long Grown(const std::string &path, long bytes)
{
    const auto size = [&path] {
        std::error_code error;
        const auto n = std::filesystem::file_size(path, error);
        return error ? 0L : static_cast<long>(n);
    };
    const long target = size() + bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (size() < target && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return size() >= target ? size() : 0;
}

// The sound in the disk driver's file, frames `from` to `to` (-1: the end): from the first to the
// last frame clearly above silence, each channel's tone measured by its rising zero crossings in
// the middle of the sound (clear of the encoder's edges), and what follows the sound.
struct Sound {
    long first = -1, last = -1, frames = 0;   // frames
    double hz[2] = {0, 0};                    // left, right
    long loud_after = 0;                      // samples not near silence from 10 ms after the last
};

Sound Measure(const std::string &path, int rate, long from = 0, long to = -1)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    Sound sound;
    sound.frames = std::max(0L, (to < 0 ? static_cast<long>(bytes.size() / 4) : to) - from);
    std::vector<int16_t> pcm(2 * sound.frames);
    std::memcpy(pcm.data(), bytes.data() + 4 * from, pcm.size() * 2);
    for (long i = 0; i < sound.frames; i++)
        if (std::abs(pcm[2 * i]) > 2000 || std::abs(pcm[2 * i + 1]) > 2000) {
            sound.first = sound.first < 0 ? i : sound.first;
            sound.last = i;
        }
    if (sound.first < 0) return sound;
    const long span = sound.last - sound.first, middle_from = sound.first + span / 10, middle_to = sound.last - span / 10;
    for (int channel = 0; channel < 2; channel++) {
        long crossings = -1, first = -1, last = -1;
        for (long i = middle_from + 1; i < middle_to; i++)
            if (pcm[2 * (i - 1) + channel] < 0 && pcm[2 * i + channel] >= 0) {
                first = first < 0 ? i : first;
                last = i;
                crossings++;
            }
        sound.hz[channel] = last > first ? crossings * static_cast<double>(rate) / (last - first) : 0;
    }
    for (size_t i = 2 * (sound.last + rate / 100); i < pcm.size(); i++) sound.loud_after += std::abs(pcm[i]) >= 64;
    return sound;
}

// Each test plays into a folder of its own through SDL's disk driver, which writes the device's
// stream to a file; a short delay per period makes it run many times faster than real time.
class Fsound : public testing::Test {
protected:
    void SetUp() override { Use_DiskAudio(out); }
    void TearDown() override { FSOUND_Close(), std::filesystem::remove_all(dir); }
    static void Use_DiskAudio(const std::string &file, const char *delay_ms = "2")
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", delay_ms, 1);
    }
    const std::string dir = Make_TempDir("fsound"), mp3 = dir + "/tone.mp3", out = dir + "/out.raw";
};

// Fault caught: a file played at the wrong pitch or speed, channels swapped or a mono file on
// one side only, a stream cut short, looping or repeating its last buffer after its end.
TEST_F(Fsound, PlaysTheWholeFileAtTheMixingRateThenFallsSilent)
{
    // A mono file plays the same tone on both sides (right_hz = left_hz).
    const struct { const char *name; int mix_rate, file_rate, file_channels; double seconds, left_hz, right_hz; } cases[] = {
        {"stereo at the mixing rate", 44100, 44100, 2, 3.0, 440.0, 660.0},
        {"mono at half the mixing rate", 44100, 22050, 1, 2.0, 500.0, 500.0},
        {"stereo into a 22.05 kHz mix", 22050, 44100, 2, 2.0, 300.0, 450.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pcm_file = dir + "/" + std::to_string(&c - cases) + ".raw";
        Write_SineMp3(mp3, c.file_rate, c.file_channels, c.seconds, c.left_hz, c.right_hz);
        Use_DiskAudio(pcm_file);
        ASSERT_EQ(FSOUND_Init(c.mix_rate, 32, 0), 1) << FMOD_ErrorString(FSOUND_GetError());
        ASSERT_EQ(FSOUND_Stream_SetBufferSize(200), 1);
        FSOUND_STREAM *stream = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0);
        ASSERT_NE(stream, nullptr) << FMOD_ErrorString(FSOUND_GetError());
        EXPECT_EQ(FSOUND_Stream_Play(2, stream), 2);
        // The whole file and half a second of what follows it.
        const bool written = Grown(pcm_file, static_cast<long>(c.mix_rate * 4 * (c.seconds + 0.5))) > 0;
        EXPECT_EQ(FSOUND_Stream_Stop(stream), 1);
        EXPECT_EQ(FSOUND_Stream_Close(stream), 1);
        FSOUND_Close();
        ASSERT_TRUE(written) << "the disk driver stopped writing";

        const Sound sound = Measure(pcm_file, c.mix_rate);
        ASSERT_GE(sound.first, 0) << "only silence was written";
        EXPECT_NEAR((sound.last - sound.first + 1) / static_cast<double>(c.mix_rate), c.seconds, 0.03);
        EXPECT_NEAR(sound.hz[0], c.left_hz, c.left_hz * 0.01);
        EXPECT_NEAR(sound.hz[1], c.right_hz, c.right_hz * 0.01);
        // After its end the stream is silent, not looping or repeating its last buffer.
        EXPECT_GE(sound.frames - 1 - sound.last, c.mix_rate * 3 / 10);
        EXPECT_EQ(sound.loud_after, 0) << "samples after the end";
    }
}

// Fault caught: a stop that lets the stream play on, a restart that resumes where it stopped.
TEST_F(Fsound, StopSilencesTheStreamAndPlayStartsItAgain)
{
    // 440 Hz for two seconds, then 880 Hz: the pitch tells where in the file playback is.
    Write_SineMp3(mp3, 44100, 2, 8.0, 440.0, 440.0, 2.0, 880.0);
    // Slower writing, so that a stop and a restart land well inside those two seconds.
    Use_DiskAudio(out, "5");
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1) << FMOD_ErrorString(FSOUND_GetError());
    FSOUND_STREAM *stream = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0);
    ASSERT_NE(stream, nullptr);
    const long second = 44100 * 4L;
    EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), 0);
    bool written = Grown(out, 3 * second) > 0;
    EXPECT_EQ(FSOUND_Stream_Stop(stream), 1);
    const long stopped = Grown(out, 0) / 4, restarted = Grown(out, second) / 4;   // frames
    EXPECT_EQ(FSOUND_Stream_Play(5, stream), 5);
    written = written && restarted > 0 && Grown(out, second / 2) > 0;
    FSOUND_Close();   // also closes the stream it still holds
    ASSERT_TRUE(written) << "the disk driver stopped writing";

    const Sound played = Measure(out, 44100, 0, restarted), replayed = Measure(out, 44100, restarted);
    ASSERT_GE(played.first, 0);
    // Silent from the stop on: what was written after it is at most the period in flight and
    // the writer's file buffer.
    EXPECT_LE(played.last, stopped + 4410);
    EXPECT_GE(played.last - played.first, 44100 * 29 / 10);
    EXPECT_LT(played.last - played.first, 44100 * 5);
    // Played again, the stream starts from the beginning of the file, not where it stopped.
    ASSERT_GE(replayed.first, 0) << "nothing played after the restart";
    EXPECT_NEAR(replayed.hz[0], 440.0, 4.4);
    EXPECT_NEAR(replayed.hz[1], 440.0, 4.4);
}

// Fault caught: a file that is no stream opened anyway or without its reason, a null, closed
// or out-of-session handle or a channel outside those asked for touching freed memory or
// playing.
TEST_F(Fsound, BadFilesAndHandlesAreRefusedWithAReason)
{
    // Every stream call takes a null handle without effect, before, during and after a session.
    const auto expect_harmless = [](const char *when, FSOUND_STREAM *stream, int error) {
        SCOPED_TRACE(when);
        EXPECT_EQ(FSOUND_Stream_Play(2, stream), -1);
        EXPECT_EQ(FSOUND_GetError(), error);
        EXPECT_EQ(FSOUND_Stream_Play(FSOUND_FREE, stream), -1);
        EXPECT_EQ(FSOUND_Stream_Stop(stream), 0);
        EXPECT_EQ(FSOUND_GetError(), error);
        EXPECT_EQ(FSOUND_Stream_Close(stream), 0);
        EXPECT_EQ(FSOUND_GetError(), error);
    };
    FSOUND_Close();
    EXPECT_EQ(FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0), nullptr);
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_UNINITIALIZED);
    expect_harmless("never initialised", nullptr, FMOD_ERR_UNINITIALIZED);
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1);
    // Files that are no stream: none yet, text, a folder, an MPEG-1 layer III frame header
    // (128 kbit/s, 44.1 kHz) with nothing of its frame.
    const std::pair<std::string, int> files[] = {
        {"", FMOD_ERR_FILE_NOTFOUND},
        {"quiet moss plays for five minutes\n", FMOD_ERR_FILE_FORMAT},
        {"/", FMOD_ERR_FILE_FORMAT},
        {std::string("\xff\xfb\x90\x64\0\0\0\0", 8), FMOD_ERR_FILE_FORMAT},
    };
    for (const auto &[content, error] : files) {
        if (!content.empty() && content != "/")
            std::ofstream(mp3, std::ios::binary) << content;
        EXPECT_EQ(FSOUND_Stream_Open(content == "/" ? dir.c_str() : mp3.c_str(), 0, 0, 0), nullptr);
        EXPECT_EQ(FSOUND_GetError(), error) << testing::PrintToString(content);
    }
    expect_harmless("initialised", nullptr, FMOD_ERR_INVALID_PARAM);
    // A closed stream is refused rather than touching freed memory, and so are channels
    // outside the 32 asked for.
    Write_SineMp3(mp3, 44100, 2, 1.0, 440.0, 440.0);
    FSOUND_STREAM *closed = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0), *open = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0);
    ASSERT_TRUE(closed && open);
    EXPECT_EQ(FSOUND_Stream_Close(closed), 1);
    expect_harmless("stream closed", closed, FMOD_ERR_INVALID_PARAM);
    for (int channel : {32, -2}) EXPECT_EQ(FSOUND_Stream_Play(channel, open), -1) << channel;
    EXPECT_EQ(FSOUND_GetError(), FMOD_ERR_INVALID_PARAM);
    EXPECT_EQ(FSOUND_Stream_Play(31, open), 31);
    FSOUND_Close();
    FSOUND_Close();
    expect_harmless("closed twice", nullptr, FMOD_ERR_UNINITIALIZED);
    expect_harmless("stream of a closed session", open, FMOD_ERR_UNINITIALIZED);
}

}  // namespace
