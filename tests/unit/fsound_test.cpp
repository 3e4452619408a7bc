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

// Two seconds of a sine tone per channel at 44.1 kHz, encoded with LAME; the LAME tag is
// written so that the decoder can drop the encoder's delay and padding.
void Write_SineMp3(const std::string &path, double left_hz, double right_hz)
{
    const int rate = 44100, frames = 2 * rate;
    std::vector<short> pcm[2] = {std::vector<short>(frames), std::vector<short>(frames)};
    for (int i = 0; i < frames; i++)
        for (int c = 0; c < 2; c++)
            pcm[c][i] = short(std::lround(16000 * std::sin(2 * M_PI * (c ? right_hz : left_hz) * i
                                                            / rate)));
    lame_global_flags *lame = lame_init();
    lame_set_in_samplerate(lame, rate);
    lame_set_brate(lame, 128);
    lame_set_bWriteVbrTag(lame, 1);
    ASSERT_GE(lame_init_params(lame), 0);
    std::vector<unsigned char> mp3(frames * 2 + 65536);
    int size =
        lame_encode_buffer(lame, pcm[0].data(), pcm[1].data(), frames, mp3.data(), int(mp3.size()));
    ASSERT_GE(size, 0);
    size += lame_encode_flush(lame, mp3.data() + size, int(mp3.size()) - size);
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

// The sound in the disk driver's file (44.1 kHz stereo): from the first to the last frame clearly
// above silence, each channel's tone measured by its rising zero crossings in the middle of the
// sound (clear of the encoder's edges), and what follows the sound.
struct Sound {
    long first = -1, last = -1, frames = 0;   // frames
    double hz[2] = {0, 0};                    // left, right
    long loud_after = 0;                      // samples not near silence from 10 ms after the last
};

Sound Measure(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    const int rate = 44100;
    Sound sound;
    sound.frames = long(bytes.size() / 4);
    std::vector<int16_t> pcm(2 * sound.frames);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
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
    void SetUp() override
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "2", 1);
    }
    void TearDown() override { FSOUND_Close(), std::filesystem::remove_all(dir); }
    const std::string dir = Make_TempDir("fsound"), mp3 = dir + "/tone.mp3", out = dir + "/out.raw";
};

// Fault caught: a file played at the wrong pitch or speed, channels swapped, a stream cut
// short, looping or repeating its last buffer after its end.
TEST_F(Fsound, PlaysTheWholeFileAtTheMixingRateThenFallsSilent)
{
    Write_SineMp3(mp3, 440.0, 660.0);
    ASSERT_EQ(FSOUND_Init(44100, 32, 0), 1) << FMOD_ErrorString(FSOUND_GetError());
    ASSERT_EQ(FSOUND_Stream_SetBufferSize(200), 1);
    FSOUND_STREAM *stream = FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0);
    ASSERT_NE(stream, nullptr) << FMOD_ErrorString(FSOUND_GetError());
    EXPECT_EQ(FSOUND_Stream_Play(2, stream), 2);
    // The whole file and half a second of what follows it.
    const bool written = Grown(out, 44100 * 4 * 5 / 2) > 0;
    EXPECT_EQ(FSOUND_Stream_Stop(stream), 1);
    EXPECT_EQ(FSOUND_Stream_Close(stream), 1);
    FSOUND_Close();
    ASSERT_TRUE(written) << "the disk driver stopped writing";

    const Sound sound = Measure(out);
    ASSERT_GE(sound.first, 0) << "only silence was written";
    EXPECT_NEAR((sound.last - sound.first + 1) / 44100.0, 2.0, 0.03);
    EXPECT_NEAR(sound.hz[0], 440.0, 4.4);
    EXPECT_NEAR(sound.hz[1], 660.0, 6.6);
    // After its end the stream is silent, not looping or repeating its last buffer.
    EXPECT_GE(sound.frames - 1 - sound.last, 44100 * 3 / 10);
    EXPECT_EQ(sound.loud_after, 0) << "samples after the end";
}

// Fault caught: a file that is no stream opened anyway or without its reason, a null stream
// (a silent demo's, or one whose file is missing) not harmless in every call, before, during
// and after a session.
TEST_F(Fsound, BadFilesAndHandlesAreRefusedWithAReason)
{
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
    // Files that are no stream: none yet, text, an MPEG-1 layer III frame header (128 kbit/s,
    // 44.1 kHz) with nothing of its frame.
    const std::pair<std::string, int> files[] = {
        {"", FMOD_ERR_FILE_NOTFOUND},
        {"quiet moss plays for five minutes\n", FMOD_ERR_FILE_FORMAT},
        {std::string("\xff\xfb\x90\x64\0\0\0\0", 8), FMOD_ERR_FILE_FORMAT},
    };
    for (const auto &[content, error] : files) {
        if (!content.empty())
            std::ofstream(mp3, std::ios::binary) << content;
        EXPECT_EQ(FSOUND_Stream_Open(mp3.c_str(), 0, 0, 0), nullptr);
        EXPECT_EQ(FSOUND_GetError(), error) << testing::PrintToString(content);
    }
    expect_harmless("initialised", nullptr, FMOD_ERR_INVALID_PARAM);
    FSOUND_Close();
    expect_harmless("closed", nullptr, FMOD_ERR_UNINITIALIZED);
}

}  // namespace
