// Timeline engine: turns the 10 ms clock into per-frame animation channels, switches scene
// entries at their start times and calls the current scene's callbacks.
#pragma once

#include <atomic>
#include <cstdint>

typedef void (*SceneCallback)(void);

// One scene entry: 31 fields, in this order. Derived fields hold 0 in the script and are
// written by Timeline_Prepare.
struct SceneEntry {
    uint32_t reserved = 0;
    float start = 0;          // derived
    float x_from = 0, x_to = 0, x_speed_from = 0, x_speed_to = 0;
    float x_accel = 0;        // derived
    float y_from = 0, y_to = 0, y_speed_from = 0, y_speed_to = 0;
    float y_accel = 0;        // derived
    float z_from = 0, z_to = 0, z_speed_from = 0, z_speed_to = 0;
    float z_accel = 0;        // derived
    float ramp_a_from = 0, ramp_a_to = 0, ramp_a_speed = 0;
    float ramp_b_from = 0, ramp_b_to = 0, ramp_b_speed = 0;
    float wave_a_amp = 0, wave_a_freq = 0, wave_a_phase = 0;
    float wave_b_amp = 0, wave_b_freq = 0, wave_b_phase = 0;
    SceneCallback init = nullptr;
    SceneCallback render = nullptr;
};

struct SceneScript {
    float start_time;
    float end_time;
    int last_index;
    SceneEntry *first_entry;
};

// scene_time and its square travel together, so that a tick can never pair a fresh square
// with a time the frame step has just reset.
struct SceneClock {
    float time;
    float time_sq;
};

// Clocks, advanced by Timeline_Tick on SDL's timer thread and reset by Timeline_Frame.
extern std::atomic<float> time_step;
extern std::atomic<float> demo_time;
extern std::atomic<SceneClock> scene_clock;
extern std::atomic<float> ramp_clock_a;
extern std::atomic<float> ramp_clock_b;

// FrameChannels, written once per frame by Timeline_Frame on the main thread.
extern float chan_x, chan_y, chan_z;
extern float ramp_a, ramp_b;
extern float wave_a, wave_b;

extern SceneEntry *current_entry;
extern int entries_left;
extern SceneCallback scene_callback;

// Derives every played entry's start, duration and accelerations (printing the timing table
// in debug mode) and adds the 10 ms timer.
void Timeline_Start(SceneScript *script, int debug);
// Timeline_Start without the timer: for a caller that ticks the clock itself.
void Timeline_Prepare(SceneScript *script, int debug);
// Removes the timer that Timeline_Start added.
void Timeline_StopTimer(void);
// One 10 ms step of every clock; an SDL timer callback.
uint32_t Timeline_Tick(uint32_t interval, void *param);
// Once per frame: returns 1 when the demo is over (nothing drawn), else 0.
int Timeline_Frame(void);
// Timeline_Frame without the scene callback: ends the demo, or switches entries and computes
// the channels. A tool that skips drawing a frame still calls it, so the timeline moves on.
int Timeline_Advance(void);
// The entry that the frame after `ticks` more ticks draws, by the rule Timeline_Advance applies
// (the end of the demo first, then one switch at most), or null if the demo ends on that frame.
// Moves no clock: a player that draws some frames and passes others over asks it ahead.
const SceneEntry *Timeline_EntryAhead(int64_t ticks);
// Whether the frame just advanced to is its entry's first: the scene callback enters the entry
// (its init, then its render).
int Timeline_Entering(void);
// The entry clocks as an entry's first frame finds them.
void Timeline_ResetEntryClocks(void);
// The first-frame step of an entry: its init, then its render.
void Timeline_EnterScene(void);
// Puts the engine back in its process-start state (no timer, clocks and channels zero,
// time_step 0.01), so that a tool or test can start a timeline more than once.
void Timeline_Reset(void);
