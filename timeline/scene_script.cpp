// The scene script: which scene draws when, for how long, and how its channels move.
// Starts, durations and accelerations are derived at start by the timeline; the table holds
// only the authored values and each entry's init and render callbacks.
#include "timeline/scene_script.h"

#include <algorithm>
#include <iterator>

#include "scenes/boot/boot.h"
#include "scenes/creeds/creeds.h"
#include "scenes/dotwall/dotwall.h"
#include "scenes/eyes/eyes.h"
#include "scenes/finale/finale.h"
#include "scenes/helmet/helmet.h"
#include "scenes/lathe/lathe.h"
#include "scenes/mascot/mascot.h"
#include "scenes/stem/stem.h"

namespace {

// clang-format off
constexpr SceneEntry authored_entries[scene_entry_count] = {
    // Boot screen and opening scenes
    /*  0 */ {.x_from = 0, .x_to = 40, .x_speed_from = 25, .x_speed_to = 30,
              .init = Boot_Init, .render = Boot_Render},
    /*  1 */ {.x_from = 0, .x_to = -360, .x_speed_from = -20, .x_speed_to = -202,
              .init = Boot_InitTiles, .render = Boot_RenderTilesA},
    /*  2 */ {.x_from = 0, .x_to = -360, .x_speed_from = -20, .x_speed_to = -202,
              .render = Boot_RenderTilesB},
    /*  3 */ {.x_from = 0, .x_to = 350, .x_speed_from = 0, .x_speed_to = 302.1f,
              .init = Boot_InitWipe, .render = Boot_RenderWipe},
    // Mascot trails and sparks
    /*  4 */ {.x_from = 0, .x_to = 1440, .x_speed_from = 270, .x_speed_to = 270,
              .y_from = 1, .y_to = 0, .y_speed_from = -0.01f,
              .init = Mascot_Init, .render = Mascot_RenderA},
    /*  5 */ {.x_from = 1440, .x_to = 3600, .x_speed_from = 270, .x_speed_to = 270,
              .render = Mascot_RenderB},
    /*  6 */ {.x_from = 3600, .x_to = 5040, .x_speed_from = 270, .x_speed_to = 270,
              .y_from = 0, .y_to = 1, .y_speed_from = 0.01f,
              .render = Mascot_RenderA},
    /*  7 */ {.x_from = 5040, .x_to = 5400, .x_speed_from = 270, .x_speed_to = 270,
              .y_from = 0, .y_to = 680, .y_speed_from = 20,
              .z_from = 640, .z_to = -40, .z_speed_from = -20,
              .render = Mascot_RenderC},
    // Eyes and stitch net
    /*  8 */ {.x_from = -960, .x_to = 0, .x_speed_from = 300, .x_speed_to = 800,
              .init = Eyes_Init, .render = Eyes_RenderA},
    /*  9 */ {.x_from = 1, .x_to = 0, .x_speed_from = -0.1f, .x_speed_to = -0.6f,
              .render = Eyes_RenderB},
    /* 10 */ {.x_from = 0, .x_to = 70, .x_speed_from = 0, .x_speed_to = 20,
              .ramp_a_from = 0, .ramp_a_to = 70, .ramp_a_speed = 10,
              .render = Eyes_RenderC},
    /* 11 */ {.x_from = 0, .x_to = 50, .x_speed_from = 0, .x_speed_to = 20,
              .y_from = 1, .y_to = 0, .y_speed_from = -0.04f,
              .ramp_a_from = 0, .ramp_a_to = 49.5f, .ramp_a_speed = 4,
              .ramp_b_from = 0, .ramp_b_to = 52, .ramp_b_speed = 60,
              .render = Eyes_RenderD},
    /* 12 */ {.x_from = 0, .x_to = 80.5f, .x_speed_from = 4, .x_speed_to = 4,
              .ramp_b_from = 0, .ramp_b_to = 52, .ramp_b_speed = 60,
              .render = Eyes_RenderE},
    /* 13 */ {.x_from = 0, .x_to = 50, .x_speed_from = 0, .x_speed_to = 20,
              .y_from = 0, .y_to = 1, .y_speed_from = 0.04f,
              .ramp_a_from = 80, .ramp_a_to = 80, .ramp_a_speed = 0,
              .ramp_b_from = 0, .ramp_b_to = 52, .ramp_b_speed = 60,
              .render = Eyes_RenderD},
    /* 14 */ {.x_from = 0, .x_to = 1, .x_speed_from = 0.1f, .x_speed_to = 0.6f,
              .render = Eyes_RenderB},
    /* 15 */ {.x_from = 0, .x_to = 960, .x_speed_from = 300, .x_speed_to = 800,
              .render = Eyes_RenderA},
    // Phosphor dot wall
    /* 16 */ {.x_from = -70, .x_to = -40, .x_speed_from = 0, .x_speed_to = 20,
              .y_from = 1, .y_to = 0, .y_speed_from = -0.2f,
              .ramp_a_from = 0, .ramp_a_to = 8.5f, .ramp_a_speed = 20,
              .init = DotWall_Init, .render = DotWall_RenderA},
    /* 17 */ {.x_from = -40, .x_to = 50, .x_speed_from = 20, .x_speed_to = 5,
              .ramp_a_from = 0, .ramp_a_to = 8.5f, .ramp_a_speed = 20,
              .render = DotWall_RenderB},
    /* 18 */ {.x_from = -70, .x_to = 50, .x_speed_from = 20, .x_speed_to = 5,
              .ramp_a_from = 0, .ramp_a_to = 8.5f, .ramp_a_speed = 20,
              .render = DotWall_RenderC},
    /* 19 */ {.x_from = -70, .x_to = 30, .x_speed_from = 20, .x_speed_to = 5,
              .ramp_a_from = 0, .ramp_a_to = 8.5f, .ramp_a_speed = 20,
              .render = DotWall_RenderD},
    /* 20 */ {.x_from = 30, .x_to = 70, .x_speed_from = 0, .x_speed_to = 20,
              .y_from = 0, .y_to = 1, .y_speed_from = 0.04f,
              .ramp_a_from = 0, .ramp_a_to = 8.5f, .ramp_a_speed = 20,
              .render = DotWall_RenderE},
    // Bulb and disc rings
    /* 21 */ {.x_from = 480, .x_to = 0, .x_speed_from = -660, .x_speed_to = -260,
              .init = Stem_Init, .render = Stem_RenderSlide},
    /* 22 */ {.x_from = 0, .x_to = 180, .x_speed_from = 60, .x_speed_to = 60,
              .y_from = 240, .y_to = 0, .y_speed_from = -90,
              .z_from = 0, .z_to = 480, .z_speed_from = 180,
              .render = Stem_RenderOpen},
    /* 23 */ {.x_from = 180, .x_to = 360, .x_speed_from = 60, .x_speed_to = 60,
              .y_from = 1, .y_to = 1, .y_speed_from = 0,
              .z_from = 1, .z_to = 1, .z_speed_from = 0,
              .render = Stem_RenderGrow},
    /* 24 */ {.x_from = 360, .x_to = 1080, .x_speed_from = 60, .x_speed_to = 60,
              .y_from = 1, .y_to = 2.8f, .y_speed_from = 0.2f,
              .z_from = 1, .z_to = 2.2f, .z_speed_from = 0.2f,
              .render = Stem_RenderGrow},
    /* 25 */ {.x_from = 1080, .x_to = 1440, .x_speed_from = 60, .x_speed_to = 60,
              .y_from = 2.8f, .y_to = 1, .y_speed_from = -0.2f,
              .z_from = 2.2f, .z_to = 1, .z_speed_from = -0.2f,
              .render = Stem_RenderGrow},
    /* 26 */ {.x_from = 1440, .x_to = 1620, .x_speed_from = 60, .x_speed_to = 60,
              .y_from = 0, .y_to = 240, .y_speed_from = 90,
              .z_from = 480, .z_to = 0, .z_speed_from = -180,
              .render = Stem_RenderOpen},
    /* 27 */ {.x_from = 0, .x_to = -480, .x_speed_from = -260, .x_speed_to = -660,
              .render = Stem_RenderSlide},
    // Spike shell and light-beam scroller
    /* 28 */ {.x_from = 800, .x_to = -46999, .x_speed_from = -940, .x_speed_to = -940,
              .ramp_a_from = 0, .ramp_a_to = 360, .ramp_a_speed = 30,
              .ramp_b_from = 0, .ramp_b_to = 360, .ramp_b_speed = 50,
              .wave_a_amp = 10, .wave_a_freq = 3, .wave_a_phase = 0,
              .wave_b_amp = 0.5f, .wave_b_freq = 3,
              .init = Helmet_Init, .render = Helmet_Render},
    // Glow shells and corner labels
    /* 29 */ {.x_from = 180, .x_to = 360, .x_speed_from = 60, .x_speed_to = 90,
              .y_from = 1, .y_to = 0, .y_speed_from = -0.9f, .y_speed_to = -0.4f,
              .ramp_a_from = 0, .ramp_a_to = 4.5f, .ramp_a_speed = 10,
              .init = Creeds_Init, .render = Creeds_RenderEnter},
    /* 30 */ {.x_from = 0, .x_to = 720, .x_speed_from = 90, .x_speed_to = 90,
              .ramp_a_from = 0, .ramp_a_to = 4.5f, .ramp_a_speed = 10,
              .wave_a_amp = 500, .wave_a_freq = 0.4f, .wave_a_phase = 0,
              .render = Creeds_RenderA},
    /* 31 */ {.x_from = 0, .x_to = 720, .x_speed_from = 90, .x_speed_to = 90,
              .ramp_a_from = 0, .ramp_a_to = 4.5f, .ramp_a_speed = 10,
              .wave_a_amp = 500, .wave_a_freq = 0.4f, .wave_a_phase = 0,
              .render = Creeds_RenderB},
    /* 32 */ {.x_from = 0, .x_to = 720, .x_speed_from = 90, .x_speed_to = 90,
              .ramp_a_from = 0, .ramp_a_to = 4.5f, .ramp_a_speed = 10,
              .wave_a_amp = 500, .wave_a_freq = 0.4f, .wave_a_phase = 0,
              .render = Creeds_RenderC},
    /* 33 */ {.x_from = 0, .x_to = 720, .x_speed_from = 90, .x_speed_to = 90,
              .ramp_a_from = 0, .ramp_a_to = 4.5f, .ramp_a_speed = 10,
              .wave_a_amp = 500, .wave_a_freq = 0.4f, .wave_a_phase = 0,
              .render = Creeds_RenderD},
    /* 34 */ {.x_from = 0, .x_to = 180, .x_speed_from = 60, .x_speed_to = 90,
              .y_from = 0, .y_to = 1, .y_speed_from = 0.9f, .y_speed_to = 0.4f,
              .ramp_a_from = 0, .ramp_a_to = 4.5f, .ramp_a_speed = 10,
              .render = Creeds_RenderLeave},
    // Pulsing column with sprite layers
    /* 35 */ {.x_from = 40, .x_to = -40, .x_speed_from = -4, .x_speed_to = -4,
              .ramp_a_from = 0, .ramp_a_to = 24, .ramp_a_speed = 20,
              .init = Lathe_Init, .render = Lathe_Render},
    // Finale
    /* 36 */ {.x_from = 0, .x_to = 482, .x_speed_from = 480, .x_speed_to = 100,
              .init = Finale_Init, .render = Finale_RenderShutters},
    /* 37 */ {.x_from = 0, .x_to = 19, .x_speed_from = 25, .x_speed_to = 30,
              .render = Finale_RenderStack},
    /* 38 */ {.x_from = 0, .x_to = 2500, .x_speed_from = 50, .x_speed_to = 50,
              .ramp_a_from = 0, .ramp_a_to = 20.21f, .ramp_a_speed = 26.131f,
              .wave_a_amp = 60, .wave_a_freq = 2, .wave_a_phase = 0,
              .render = Finale_RenderWaterText},
    /* 39 */ {.x_from = 19, .x_to = 0, .x_speed_from = -25, .x_speed_to = -30,
              .render = Finale_RenderStack},
    /* 40 */ {.x_from = 480, .x_to = -4, .x_speed_from = -480, .x_speed_to = -100,
              .wave_a_amp = 0.25f, .wave_a_freq = 30, .wave_a_phase = 0,
              .render = Finale_RenderReveal},
    /* 41 */ {.x_from = 0, .x_to = 1, .x_speed_from = 0.01f, .x_speed_to = 0.2f,
              .wave_a_amp = 0.25f, .wave_a_freq = 30, .wave_a_phase = 0,
              .render = Finale_RenderLast},
    // Terminator: receives the end time of entry 41.
    /* 42 */ {},
};
// clang-format on

constexpr SceneScript authored_script = {0.0f, 310.0f, 41, nullptr};

}  // namespace

SceneEntry scene_entries[scene_entry_count];
SceneScript scene_script;

void SceneScript_Debug(float start, float end, int offset)
{
    scene_script.last_index -= offset;
    scene_script.start_time = start;
    scene_script.end_time = end;
    scene_script.first_entry = &scene_entries[offset];
}

void SceneScript_Reset(void)
{
    std::copy(std::begin(authored_entries), std::end(authored_entries), scene_entries);
    scene_script = authored_script;
    scene_script.first_entry = scene_entries;
}

// The table holds its authored values from process start, before main runs.
static const bool scene_script_ready = (SceneScript_Reset(), true);

