// The sound library: MP3 streams decoded by libmpg123 and mixed into SDL's audio device.
// Streams are decoded a buffer at a time inside SDL's audio callback, never ahead of need.
#include "platform/fsound.h"

#include <SDL.h>
#include <mpg123.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Tables

static const char *const error_texts[] = {
    "No errors",                                          // FMOD_ERR_NONE
    "Cannot call this command while the sound is busy",   // FMOD_ERR_BUSY
    "The sound library has not been initialised",         // FMOD_ERR_UNINITIALIZED
    "The audio device could not be opened",               // FMOD_ERR_INIT
    "The audio device is already in use",                 // FMOD_ERR_ALLOCATED
    "The stream could not be played",                     // FMOD_ERR_PLAY
    "The audio device does not support this format",      // FMOD_ERR_OUTPUT_FORMAT
    "The audio device refused to cooperate",              // FMOD_ERR_COOPERATIVELEVEL
    "The mixing buffer could not be created",             // FMOD_ERR_CREATEBUFFER
    "File not found",                                     // FMOD_ERR_FILE_NOTFOUND
    "Unknown file format",                                // FMOD_ERR_FILE_FORMAT
    "Error reading file, or the file is damaged",         // FMOD_ERR_FILE_BAD
    "Not enough memory",                                  // FMOD_ERR_MEMORY
    "Wrong library version",                              // FMOD_ERR_VERSION
    "An invalid parameter was passed",                    // FMOD_ERR_INVALID_PARAM
    "Environmental audio is not supported",               // FMOD_ERR_NO_EAX
    "Channel allocation failed",                          // FMOD_ERR_CHANNEL_ALLOC
    "Recording is not supported",                         // FMOD_ERR_RECORD
    "The media player could not be used",                 // FMOD_ERR_MEDIAPLAYER
    "The CD device could not be used",                    // FMOD_ERR_CDDEVICE
};
static_assert(sizeof error_texts / sizeof error_texts[0] == FMOD_ERR_CDDEVICE + 1);

static const int max_channels = 1024;
static const int default_buffer_ms = 200;

// ---------------------------------------------------------------------------------------------
// State

struct FSOUND_STREAM {
    mpg123_handle *decoder;
    std::vector<int16_t> pcm;   // decoded stereo frames not yet mixed
    size_t pcm_pos;             // next sample to mix
    size_t pcm_len;             // samples in pcm
    bool finished;              // the decoder has nothing more to give: silence from here
    int channel;                // channel it plays on, or -1
};

// Main thread only.
static int last_error = FMOD_ERR_NONE;
static int output_type = FSOUND_OUTPUT_DSOUND;
static int buffer_ms = default_buffer_ms;
static bool audio_open;
static bool decoder_ready;
static int mix_rate;
static std::vector<FSOUND_STREAM *> open_streams;

// Shared with SDL's audio thread: written only between SDL_LockAudio and SDL_UnlockAudio, or
// while the device is closed; the callback runs under the same lock.
static std::vector<FSOUND_STREAM *> channels;
static std::vector<int32_t> mix_buffer;

// ---------------------------------------------------------------------------------------------
// Helpers

static bool is_open_stream(const FSOUND_STREAM *stream)
{
    return stream &&
           std::find(open_streams.begin(), open_streams.end(), stream) != open_streams.end();
}

// Decodes the next buffer of the stream; an end of file or a decoding error ends it.
static void refill(FSOUND_STREAM *stream)
{
    size_t got = 0;
    stream->pcm_pos = 0;
    stream->pcm_len = 0;
    while (got == 0) {
        size_t done = 0;
        int result = mpg123_read(stream->decoder, stream->pcm.data(),
                                 stream->pcm.size() * sizeof(int16_t), &done);
        got = done / (2 * sizeof(int16_t)) * 2;
        if (result == MPG123_NEW_FORMAT || (result == MPG123_OK && got == 0))
            continue;
        if (result != MPG123_OK)
            stream->finished = true;
        break;
    }
    stream->pcm_len = got;
}

static void mix_stream(FSOUND_STREAM *stream, int32_t *mix, size_t samples)
{
    while (samples > 0) {
        if (stream->pcm_pos == stream->pcm_len) {
            if (stream->finished)
                return;
            refill(stream);
            if (stream->pcm_len == 0)
                return;
        }
        size_t n = std::min(samples, stream->pcm_len - stream->pcm_pos);
        const int16_t *from = stream->pcm.data() + stream->pcm_pos;
        for (size_t i = 0; i < n; i++)
            mix[i] += from[i];
        stream->pcm_pos += n;
        mix += n;
        samples -= n;
    }
}

// SDL's audio thread, under the audio lock: SDL has filled the buffer with silence.
static void audio_callback(void *, Uint8 *out, int len)
{
    int16_t *samples = reinterpret_cast<int16_t *>(out);
    size_t left = static_cast<size_t>(len) / sizeof(int16_t);
    while (left > 0) {
        size_t n = std::min(left, mix_buffer.size());
        std::fill_n(mix_buffer.begin(), n, 0);
        for (FSOUND_STREAM *stream : channels)
            if (stream)
                mix_stream(stream, mix_buffer.data(), n);
        for (size_t i = 0; i < n; i++)
            samples[i] = static_cast<int16_t>(std::clamp(mix_buffer[i], -32768, 32767));
        samples += n;
        left -= n;
    }
}

// Takes the stream off its channel; the callback no longer sees it once this returns.
static void detach(FSOUND_STREAM *stream)
{
    SDL_LockAudio();
    if (stream->channel >= 0)
        channels[stream->channel] = nullptr;
    stream->channel = -1;
    SDL_UnlockAudio();
}

static void destroy(FSOUND_STREAM *stream)
{
    mpg123_delete(stream->decoder);
    delete stream;
}

// ---------------------------------------------------------------------------------------------
// Library

signed char FSOUND_SetOutput(int outputtype)
{
    if (outputtype < FSOUND_OUTPUT_NOSOUND || outputtype > FSOUND_OUTPUT_DSOUND) {
        last_error = FMOD_ERR_INVALID_PARAM;
        return 0;
    }
    output_type = outputtype;
    return 1;
}

signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int)
{
    if (audio_open)
        FSOUND_Close();
    if (mixrate < 4000 || mixrate > 192000 || maxsoftwarechannels < 1 ||
        maxsoftwarechannels > max_channels) {
        last_error = FMOD_ERR_INVALID_PARAM;
        return 0;
    }
    if (!decoder_ready) {
        if (mpg123_init() != MPG123_OK) {
            last_error = FMOD_ERR_INIT;
            return 0;
        }
        decoder_ready = true;
    }
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) < 0) {
        last_error = FMOD_ERR_INIT;
        return 0;
    }

    // About 20 ms a period: short enough to start promptly, long enough not to starve.
    Uint16 period = 256;
    while (period < mixrate / 50 && period < 8192)
        period *= 2;
    channels.assign(maxsoftwarechannels, nullptr);
    mix_buffer.assign(period * 2, 0);

    SDL_AudioSpec wanted{};
    wanted.freq = mixrate;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 2;
    wanted.samples = period;
    wanted.callback = audio_callback;
    // No obtained format: SDL converts to whatever the hardware takes, so the mix stays at our rate.
    if (SDL_OpenAudio(&wanted, nullptr) < 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        last_error = FMOD_ERR_INIT;
        return 0;
    }
    audio_open = true;
    mix_rate = mixrate;
    SDL_PauseAudio(0);
    last_error = FMOD_ERR_NONE;
    return 1;
}

int FSOUND_GetError(void)
{
    return last_error;
}

void FSOUND_Close(void)
{
    if (!audio_open)
        return;
    // Joins the audio thread: from here on nothing else touches the streams.
    SDL_CloseAudio();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    audio_open = false;
    for (FSOUND_STREAM *stream : open_streams)
        destroy(stream);
    open_streams.clear();
    channels.clear();
    mix_buffer.clear();
}

signed char FSOUND_Stream_SetBufferSize(int ms)
{
    if (ms < 10 || ms > 5000) {
        last_error = FMOD_ERR_INVALID_PARAM;
        return 0;
    }
    buffer_ms = ms;
    return 1;
}

FSOUND_STREAM *FSOUND_Stream_Open(const char *name, unsigned int, int, int)
{
    if (!audio_open) {
        last_error = FMOD_ERR_UNINITIALIZED;
        return nullptr;
    }
    if (!name) {
        last_error = FMOD_ERR_INVALID_PARAM;
        return nullptr;
    }
    mpg123_handle *decoder = mpg123_new(nullptr, nullptr);
    if (!decoder) {
        last_error = FMOD_ERR_MEMORY;
        return nullptr;
    }
    // Every file comes out at the mixing rate in stereo 16-bit: libmpg123 duplicates mono
    // and resamples other rates itself.
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(decoder);
    mpg123_format(decoder, mix_rate, MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (mpg123_open(decoder, name) != MPG123_OK) {
        mpg123_delete(decoder);
        last_error = FMOD_ERR_FILE_NOTFOUND;
        return nullptr;
    }
    long rate = 0;
    int channel_count = 0, encoding = 0;
    if (mpg123_getformat(decoder, &rate, &channel_count, &encoding) != MPG123_OK ||
        rate != mix_rate || channel_count != 2 || encoding != MPG123_ENC_SIGNED_16) {
        mpg123_delete(decoder);
        last_error = FMOD_ERR_FILE_FORMAT;
        return nullptr;
    }

    FSOUND_STREAM *stream = new FSOUND_STREAM{};
    stream->decoder = decoder;
    stream->channel = -1;
    size_t frames = std::max<size_t>(1152, static_cast<size_t>(mix_rate) * buffer_ms / 1000);
    stream->pcm.resize(frames * 2);
    // The first buffer is decoded now: it proves the file decodes and lets playback start at once.
    refill(stream);
    if (stream->pcm_len == 0) {
        destroy(stream);
        last_error = FMOD_ERR_FILE_BAD;
        return nullptr;
    }
    open_streams.push_back(stream);
    last_error = FMOD_ERR_NONE;
    return stream;
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM *stream)
{
    if (!audio_open) {
        last_error = FMOD_ERR_UNINITIALIZED;
        return -1;
    }
    if (!is_open_stream(stream) ||
        (channel != FSOUND_FREE && (channel < 0 || channel >= static_cast<int>(channels.size())))) {
        last_error = FMOD_ERR_INVALID_PARAM;
        return -1;
    }
    SDL_LockAudio();
    if (channel == FSOUND_FREE) {
        auto free_slot = std::find(channels.begin(), channels.end(), nullptr);
        channel = free_slot == channels.end() ? -1 : static_cast<int>(free_slot - channels.begin());
    }
    if (channel >= 0) {
        // A channel plays one stream: whatever played there is cut off.
        if (channels[channel] && channels[channel] != stream)
            channels[channel]->channel = -1;
        if (stream->channel >= 0)
            channels[stream->channel] = nullptr;
        channels[channel] = stream;
        stream->channel = channel;
    }
    SDL_UnlockAudio();
    if (channel < 0) {
        last_error = FMOD_ERR_CHANNEL_ALLOC;
        return -1;
    }
    last_error = FMOD_ERR_NONE;
    return channel;
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM *stream)
{
    if (!is_open_stream(stream)) {
        last_error = audio_open ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_UNINITIALIZED;
        return 0;
    }
    detach(stream);
    // Stopped streams start again from the beginning.
    if (mpg123_seek(stream->decoder, 0, SEEK_SET) < 0) {
        stream->finished = true;
        stream->pcm_pos = stream->pcm_len = 0;
        last_error = FMOD_ERR_FILE_BAD;
        return 0;
    }
    stream->finished = false;
    stream->pcm_pos = stream->pcm_len = 0;
    last_error = FMOD_ERR_NONE;
    return 1;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM *stream)
{
    if (!is_open_stream(stream)) {
        last_error = audio_open ? FMOD_ERR_INVALID_PARAM : FMOD_ERR_UNINITIALIZED;
        return 0;
    }
    detach(stream);
    open_streams.erase(std::find(open_streams.begin(), open_streams.end(), stream));
    destroy(stream);
    last_error = FMOD_ERR_NONE;
    return 1;
}

const char *FMOD_ErrorString(int errcode)
{
    if (errcode < FMOD_ERR_NONE || errcode > FMOD_ERR_CDDEVICE)
        return "Unknown error";
    return error_texts[errcode];
}
