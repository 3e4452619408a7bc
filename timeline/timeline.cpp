// Timeline engine: derives each entry's timing once, advances the clocks on SDL's 10 ms timer
// and, once a frame, switches entries and evaluates the seven animation channels.
#include "timeline/timeline.h"

#include <SDL.h>

#include <cmath>
#include <cstdio>

// ---- module state ---------------------------------------------------------------------------

static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<SceneClock>::is_always_lock_free);

std::atomic<float> time_step{0.01f};
std::atomic<float> demo_time{0.0f};
std::atomic<SceneClock> scene_clock{SceneClock{0.0f, 0.0f}};
std::atomic<float> ramp_clock_a{0.0f};
std::atomic<float> ramp_clock_b{0.0f};

float chan_x, chan_y, chan_z;
float ramp_a, ramp_b;
float wave_a, wave_b;

SceneEntry *current_entry;
int entries_left;
SceneCallback scene_callback = Timeline_EnterScene;

static SceneScript *timeline_script;
static int timeline_debug;
static SDL_TimerID timeline_timer;

// What a frame at demo time now does: the end of the demo is tested first, then the switch.
enum class FrameStep { stay, enter_next, end_of_time, end_of_entries };

// Helpers, defined at the end of the file.
static void clock_add(std::atomic<float> &clock, float s);
static float ramp(float from, float to, float speed, std::atomic<float> &clock);
static FrameStep frame_step_at(float now);

// ---- start and reset ------------------------------------------------------------------------

void Timeline_Prepare(SceneScript *script, int debug)
{
    timeline_script = script;
    timeline_debug = debug;
    current_entry = script->first_entry;
    demo_time = script->start_time;
    entries_left = script->last_index;

    for (int i = 0; i <= script->last_index; i++) {
        SceneEntry *e = script->first_entry + i;
        SceneEntry *n = e + 1;

        // The time a uniformly accelerated motion from x_from to x_to with these end speeds
        // takes; y and z run for that same duration.
        float t = 2.0f * (e->x_to - e->x_from) / (e->x_speed_from + e->x_speed_to);
        float d = std::fabs(t);
        n->start = e->start + d;
        e->x_accel = (e->x_speed_to - e->x_speed_from) / d;
        e->y_accel = 2.0f * (e->y_to - e->y_from - e->y_speed_from * d) / (d * d);
        e->z_accel = 2.0f * (e->z_to - e->z_from - e->z_speed_from * d) / (d * d);

        if (debug == 1) {
            float duration = n->start - e->start;
            float d0 = duration * e->ramp_a_speed / (e->ramp_a_to - e->ramp_a_from);
            float d1 = duration * e->ramp_b_speed / (e->ramp_b_to - e->ramp_b_from);
            printf("%i ent: %+.3f a_a0: %+.3f a_n0: %+.3f a_n1: %+.3f d0: %+.3f d1: %+.3f\n", i,
                   duration, e->x_accel, e->y_accel, e->z_accel, d0, d1);
        }
    }
}

void Timeline_Start(SceneScript *script, int debug)
{
    Timeline_Prepare(script, debug);
    timeline_timer = SDL_AddTimer(10, Timeline_Tick, nullptr);
}

void Timeline_StopTimer(void)
{
    if (timeline_timer) {
        SDL_RemoveTimer(timeline_timer);
        timeline_timer = {};
    }
}

void Timeline_Reset(void)
{
    Timeline_StopTimer();
    time_step = 0.01f;
    demo_time = 0.0f;
    scene_clock = SceneClock{0.0f, 0.0f};
    ramp_clock_a = 0.0f;
    ramp_clock_b = 0.0f;
    chan_x = chan_y = chan_z = 0.0f;
    ramp_a = ramp_b = 0.0f;
    wave_a = wave_b = 0.0f;
    current_entry = nullptr;
    entries_left = 0;
    scene_callback = Timeline_EnterScene;
    timeline_script = nullptr;
    timeline_debug = 0;
}

// ---- clocks ---------------------------------------------------------------------------------

uint32_t Timeline_Tick(uint32_t interval, void *)
{
    float s = time_step.load();
    clock_add(demo_time, s);

    SceneClock old = scene_clock.load();
    SceneClock next;
    do {
        next.time = old.time + s;
        next.time_sq = next.time * next.time;
    } while (!scene_clock.compare_exchange_weak(old, next));

    clock_add(ramp_clock_a, s);
    clock_add(ramp_clock_b, s);
    return interval;
}

void Timeline_ResetEntryClocks(void)
{
    scene_clock = SceneClock{0.0f, 0.0f};
    ramp_clock_a = 0.0f;
    ramp_clock_b = 0.0f;
}

// ---- frames ---------------------------------------------------------------------------------

const SceneEntry *Timeline_EntryAhead(int64_t ticks)
{
    float now = demo_time.load();
    const float s = time_step.load();
    for (; ticks > 0; ticks--)
        now = now + s;   // as Timeline_Tick adds, in single precision
    switch (frame_step_at(now)) {
    case FrameStep::stay:
        return current_entry;
    case FrameStep::enter_next:
        return current_entry + 1;
    default:
        return nullptr;
    }
}

int Timeline_Entering(void)
{
    return scene_callback == Timeline_EnterScene;
}

int Timeline_Advance(void)
{
    const float now = demo_time.load();
    const FrameStep step = frame_step_at(now);
    if (step == FrameStep::end_of_time) {
        if (timeline_debug)
            puts("QM_x: end of demo time.");
        return 1;
    }

    if (step != FrameStep::stay) {
        if (timeline_debug)
            printf("%+.3f\n", now);
        if (step == FrameStep::end_of_entries) {
            if (timeline_debug)
                puts("QM_x: end of effects.");
            return 1;
        }
        entries_left -= 1;
        current_entry += 1;
        scene_callback = Timeline_EnterScene;
        Timeline_ResetEntryClocks();
    }

    const SceneEntry *e = current_entry;
    SceneClock clock = scene_clock.load();
    float t = clock.time;
    float t_sq = clock.time_sq;
    chan_x = e->x_from + e->x_speed_from * t + 0.5f * e->x_accel * t_sq;
    chan_y = e->y_from + e->y_speed_from * t + 0.5f * e->y_accel * t_sq;
    chan_z = e->z_from + e->z_speed_from * t + 0.5f * e->z_accel * t_sq;
    ramp_a = ramp(e->ramp_a_from, e->ramp_a_to, e->ramp_a_speed, ramp_clock_a);
    ramp_b = ramp(e->ramp_b_from, e->ramp_b_to, e->ramp_b_speed, ramp_clock_b);
    wave_a = e->wave_a_amp * std::sin(e->wave_a_freq * t + e->wave_a_phase);
    wave_b = e->wave_b_amp * std::sin(e->wave_b_freq * t + e->wave_b_phase);
    return 0;
}

int Timeline_Frame(void)
{
    if (Timeline_Advance())
        return 1;
    if (scene_callback)
        scene_callback();
    return 0;
}

void Timeline_EnterScene(void)
{
    scene_callback = current_entry->render;
    if (current_entry->init)
        current_entry->init();
    if (current_entry->render)
        current_entry->render();
}

// ---- helpers --------------------------------------------------------------------------------

// Adds s to a clock unless the frame step reset it in between, in which case the addition
// is made to the reset value instead: a tick never undoes a reset.
static void clock_add(std::atomic<float> &clock, float s)
{
    float old = clock.load();
    while (!clock.compare_exchange_weak(old, old + s)) {
    }
}

// One sawtooth channel: rises from `from` at `speed`, restarts once it passes `to`.
static float ramp(float from, float to, float speed, std::atomic<float> &clock)
{
    float value = from + speed * clock.load();
    if (value > to) {
        value = from;
        clock = 0.0f;
    }
    return value;
}

// The step a frame makes at demo time now.
static FrameStep frame_step_at(float now)
{
    if (now >= timeline_script->end_time)
        return FrameStep::end_of_time;
    if (now < current_entry[1].start)
        return FrameStep::stay;
    return entries_left == 0 ? FrameStep::end_of_entries : FrameStep::enter_next;
}
