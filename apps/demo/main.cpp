// quiet_moss: start-up, the frame loop and shut-down.
#include <SDL.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

#include "assets/zaf.h"
#include "platform/fsound.h"
#include "runtime/loading.h"
#include "runtime/options.h"
#include "scenes/boot/boot.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

static SDL_Surface *screen_surface;
static SDL_Event event;

[[noreturn]] static void shut_down(void)
{
    if (!silent_mode) {
        FSOUND_Stream_Stop(music_stream);
        FSOUND_Stream_Close(music_stream);
        FSOUND_Close();
    }
    Timeline_StopTimer();
    SDL_ShowCursor(SDL_ENABLE);
    exit(0);
}

int main(int argc, char **argv)
{
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) < 0) {
        puts("SDL initialization error ...");
        exit(1);
    }
    atexit(SDL_Quit);
    video_flags = SDL_FULLSCREEN | SDL_OPENGL;
    Options_Scan(argc, argv);

    if (!silent_mode) {
        FSOUND_SetOutput(FSOUND_OUTPUT_DSOUND);
        if (!FSOUND_Init(44100, 32, 0)) {
            printf("ZOKA_PLAYER: %s\n", FMOD_ErrorString(FSOUND_GetError()));
            FSOUND_Close();
            return 1;
        }
        FSOUND_Stream_SetBufferSize(200);
        music_stream = FSOUND_Stream_Open("quiet_moss.mp3", 0, 0, 0);
    }

    // Asked for before the mode is set, so that they govern the one context we get.
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    screen_surface = SDL_SetVideoMode(640, 480, 32, video_flags);
    if (!screen_surface)
        exit(1);
    SDL_ShowCursor(SDL_DISABLE);
    SDL_WM_SetCaption("quiet moss :: a five-minute demo in moss and peach", "quiet moss");

    ZAF_Open("./quiet_moss.zaf");
    Boot_Load();
    Loading_Start();
    if (debug_mode == 1) {
        Loading_RunDebugLoaders();
        ZAF_Close();
    }
    Timeline_Start(&scene_script, debug_mode);

    for (;;) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (Timeline_Frame() == 1) {
            // The last frame stays on screen for a second.
            SDL_Delay(1000);
            shut_down();
        }
        SDL_GL_SwapBuffers();
        while (SDL_PollEvent(&event)) {
            if ((event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) ||
                event.type == SDL_QUIT)
                shut_down();
        }
    }
}
