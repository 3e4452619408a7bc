// Command-line options. Each is recognised only as a whole, case-sensitive argument; other
// arguments are ignored.
#include "runtime/options.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "timeline/scene_script.h"

int debug_mode;
int silent_mode;
uint32_t video_flags;
float debug_start;
float debug_end;
int debug_offset;
FSOUND_STREAM *music_stream;

static void apply_debug(float start, float end, int offset)
{
    debug_mode = 1;
    debug_start = start;
    debug_end = end;
    debug_offset = offset;
    SceneScript_Debug(start, end, offset);
    puts("QM_x: debug mode.");
    printf("QM_x: start: %+.3f, end: %+.3f, offset: %i;\n", debug_start, debug_end, debug_offset);
}

void Options_Scan(int argc, char **argv)
{
    // "-debug" walks the position onto each of its three values, so the "-window" and
    // "-silent" tests that follow are made against its third value.
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "-debug") == 0) {
            if (argc - i <= 3) {
                puts("QM_x: -debug needs three values: <start> <end> <offset>.");
                exit(1);
            }
            float start = atof(argv[++i]);
            float end = atof(argv[++i]);
            int offset = atoi(argv[++i]);
            // Each -debug takes its offset off the entries left, so a repeated one is held to
            // what the earlier ones left: the script never runs past its last entry.
            if (offset < 0 || offset > scene_script.last_index) {
                printf("QM_x: -debug offset %i is outside 0 to %i.\n", offset, scene_script.last_index);
                exit(1);
            }
            apply_debug(start, end, offset);
        }
        if (strcmp(argv[i], "-window") == 0) {
            video_flags ^= SDL_FULLSCREEN;
            puts("QM_x: windowed mode.");
        }
        if (strcmp(argv[i], "-silent") == 0) {
            silent_mode = 1;
            puts("QM_x: silent mode.");
        }
    }
}
