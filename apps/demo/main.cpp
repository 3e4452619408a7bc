// quiet_moss: start-up, the frame loop and shut-down.
#include <SDL.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "assets/zaf.h"
#include "platform/fsound.h"
#include "platform/output.h"
#include "runtime/loading.h"
#include "runtime/options.h"
#include "scenes/boot/boot.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

static SDL_Surface *screen_surface;
static SDL_Event event;

// The output's size: the scenes' own unless QUIET_MOSS_SIZE asks for "WxH" or the "desktop"'s.
static void output_size(int *width, int *height)
{
    *width = scene_width;
    *height = scene_height;
    const char *asked = getenv("QUIET_MOSS_SIZE");
    if (!asked || !*asked)
        return;
    if (strcmp(asked, "desktop") == 0) {
        // Known before the first mode is set: the desktop's own.
        const SDL_VideoInfo *info = SDL_GetVideoInfo();
        if (info && Output_SizeFits(info->current_w, info->current_h)) {
            *width = info->current_w;
            *height = info->current_h;
        }
        return;
    }
    if (!Output_ParseSize(asked, width, height)) {
        printf("QUIET_MOSS_SIZE: \"%s\" is neither WIDTHxHEIGHT (each %d to %d) nor desktop\n",
               asked, output_min_size, output_max_size);
        exit(1);
    }
}

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
    int width, height;
    output_size(&width, &height);
    screen_surface = SDL_SetVideoMode(width, height, 32, video_flags);
    if (!screen_surface)
        exit(1);
    // Before any scene compiles a viewport into a list.
    Output_SetSize(width, height);
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
        // A swapped-in back buffer keeps nothing: the bars are cleared with the picture.
        Output_ClearBars();
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
