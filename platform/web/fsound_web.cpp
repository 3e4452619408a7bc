// The sound library's streams in a browser: the page's own <audio> element decodes and plays the
// MP3. The browser's decoder is already there and plays in its own thread, where libmpg123
// would have to be built for WebAssembly from source and fed to WebAudio by hand. Only what the
// browser build calls is here; the page unlocks sound with its start button.
#include <emscripten.h>

#include <cstdint>

#include "platform/fsound.h"

// A stream handle is the index of its <audio> element in the page's table, plus one.
// The page may have the element already, fed as the file arrives (qm.elements maps the file's
// name to it); else it is fetched by name, and seeking it then needs a server that answers byte
// ranges.
EM_JS(int, audio_open, (const char *name), {
    var file = UTF8ToString(name);
    var audio = (qm.elements && qm.elements[file]) || new Audio(file);
    audio.preload = 'auto';
    qm.audio = qm.audio || [];
    qm.audio.push(audio);
    return qm.audio.length;
});
EM_JS(void, audio_play, (int id), {
    var audio = qm.audio[id - 1];
    audio.currentTime = 0;
    audio.play().catch(function(e) { console.warn('the soundtrack cannot play: ' + e); });
});
EM_JS(void, audio_stop, (int id), {
    var audio = qm.audio[id - 1];
    audio.pause();
    audio.currentTime = 0;
});

static int audio_id(FSOUND_STREAM *stream)
{
    return int(reinterpret_cast<intptr_t>(stream));
}

FSOUND_STREAM *FSOUND_Stream_Open(const char *name, unsigned int, int, int)
{
    return reinterpret_cast<FSOUND_STREAM *>(intptr_t(audio_open(name)));
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM *stream)
{
    if (!stream)
        return -1;
    audio_play(audio_id(stream));
    return channel == FSOUND_FREE ? 0 : channel;
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM *stream)
{
    if (!stream)
        return 0;
    audio_stop(audio_id(stream));
    return 1;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM *stream)
{
    return FSOUND_Stream_Stop(stream);
}
