// Placeholder until the SDL/libmpg123 stream player lands: every call fails harmlessly.
#include "platform/fsound.h"

static int last_error = FMOD_ERR_NONE;

signed char FSOUND_SetOutput(int) { return 1; }
signed char FSOUND_Init(int, int, unsigned int) { return 1; }
int FSOUND_GetError(void) { return last_error; }
void FSOUND_Close(void) {}
signed char FSOUND_Stream_SetBufferSize(int) { return 1; }
FSOUND_STREAM *FSOUND_Stream_Open(const char *, unsigned int, int, int) { return nullptr; }
int FSOUND_Stream_Play(int, FSOUND_STREAM *) { return -1; }
signed char FSOUND_Stream_Stop(FSOUND_STREAM *) { return 0; }
signed char FSOUND_Stream_Close(FSOUND_STREAM *) { return 0; }
const char *FMOD_ErrorString(int) { return "No errors"; }
