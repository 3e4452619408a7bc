// The sound library the demo is written against: MP3 streams opened by file name and played
// on a channel. Ours decodes with libmpg123, incrementally as SDL's audio device asks for
// samples. A null stream handle is harmless in every call, also before FSOUND_Init.
#pragma once

struct FSOUND_STREAM;

// Output types. Every type plays through SDL's audio (its driver is chosen as SDL chooses it,
// SDL_AUDIODRIVER included); the value is only recorded.
enum {
    FSOUND_OUTPUT_NOSOUND = 0,
    FSOUND_OUTPUT_WINMM = 1,
    FSOUND_OUTPUT_DSOUND = 2,
};

// Channel argument of FSOUND_Stream_Play: any channel that is not playing.
enum { FSOUND_FREE = -1 };

// Error codes reported by FSOUND_GetError, with texts from FMOD_ErrorString.
enum FMOD_ERRORS {
    FMOD_ERR_NONE = 0,
    FMOD_ERR_BUSY,
    FMOD_ERR_UNINITIALIZED,
    FMOD_ERR_INIT,
    FMOD_ERR_ALLOCATED,
    FMOD_ERR_PLAY,
    FMOD_ERR_OUTPUT_FORMAT,
    FMOD_ERR_COOPERATIVELEVEL,
    FMOD_ERR_CREATEBUFFER,
    FMOD_ERR_FILE_NOTFOUND,
    FMOD_ERR_FILE_FORMAT,
    FMOD_ERR_FILE_BAD,
    FMOD_ERR_MEMORY,
    FMOD_ERR_VERSION,
    FMOD_ERR_INVALID_PARAM,
    FMOD_ERR_NO_EAX,
    FMOD_ERR_CHANNEL_ALLOC,
    FMOD_ERR_RECORD,
    FMOD_ERR_MEDIAPLAYER,
    FMOD_ERR_CDDEVICE,
};

// Calls that return signed char give 1 on success and 0 on failure, with the reason left for
// FSOUND_GetError. FSOUND_Stream_Play gives the channel it started, or -1.
signed char FSOUND_SetOutput(int outputtype);
signed char FSOUND_Init(int mixrate, int maxsoftwarechannels, unsigned int flags);
int FSOUND_GetError(void);
// Closes the device and every stream still open.
void FSOUND_Close(void);
// How much of each stream is decoded at a time (10 to 5000 ms), for streams opened later.
signed char FSOUND_Stream_SetBufferSize(int ms);
// Opens an MP3 file and decodes its first buffer only; a file that is missing or does not
// decode gives null. Mode, offset and length are accepted and ignored: a stream is always the
// whole file.
FSOUND_STREAM *FSOUND_Stream_Open(const char *name, unsigned int mode, int offset, int length);
// Plays on channel (or on a free one), cutting off what played there; the channel, or -1.
int FSOUND_Stream_Play(int channel, FSOUND_STREAM *stream);
// Silences the stream; played again, it starts from the beginning.
signed char FSOUND_Stream_Stop(FSOUND_STREAM *stream);
signed char FSOUND_Stream_Close(FSOUND_STREAM *stream);
// A fixed English text for every code; codes outside the list give "Unknown error".
const char *FMOD_ErrorString(int errcode);
