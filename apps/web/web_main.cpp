// quiet_moss in a browser: the native start-up, then the player core on a clock the page can
// pause, move and restart.
//
// The loop is turned inside out with emscripten_set_main_loop rather than kept whole under
// ASYNCIFY: a browser frame must return to the page anyway, the demo's loop body is a handful of
// lines, and it spares every function that can reach SDL_Delay the ASYNCIFY rewrite (a larger,
// slower module). Nothing runs on a thread. The start click leads through three phases:
// - loading: as natively, the loading sequence one step a frame with its pauses, under the boot
//   screen, the demo clock standing still (`?t=T`, or a seek, walks what is left at once);
// - playing: the player core, as qm-capture plays, at 60 frames per second of demo time. Each
//   browser frame draws the latest frame the demo clock has reached and skips those between as
//   qm-capture's seek does, so every frame shown is the one qm-capture draws at that time, the
//   clock never races to catch up after the tab was hidden, and a seek forward goes on from
//   where the player stands. A seek backward restarts the timeline on the loaded scenes;
// - ended: the last frame, held with the music for a second, until a seek or "play again".
//
// The page (apps/web/page/) owns the controls, the keys and the soundtrack's position; it asks
// through the qm_* functions below and watches what the page_* calls report. `?at=T` instead
// draws the single frame at demo time T for comparing the two renderers; `&frames=N` then
// times N more.
#include <SDL.h>
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "assets/zaf.h"
#include "platform/fsound.h"
#include "platform/output.h"
#include "platform/scene_gl.h"   // the GL layer under every call, the scenes' and these
#include "player/player.h"
#include "runtime/loading.h"
#include "runtime/options.h"
#include "scenes/boot/boot.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

// ---------------------------------------------------------------------------------------------
// What the page is told

EM_JS(double, page_demo_time, (void), {
    var at = new URLSearchParams(location.search).get('at');
    return at === null ? -1 : Number(at);
});
EM_JS(int, page_bench_frames, (void), {
    var n = Number(new URLSearchParams(location.search).get('frames'));
    return n > 0 ? Math.floor(n) : 0;
});
// Sizes the canvas for the window (see the page's fitCanvas); false with qm.error set if the
// size asked for cannot be drawn.
EM_JS(int, page_fit_canvas, (void), { return qm.fitCanvas() ? 1 : 0; });
EM_JS(void, page_show_frame, (const uint8_t *rgba, int width, int height), {
    qm.frame = {width: width, height: height, rgba: HEAPU8.slice(rgba, rgba + width * height * 4)};
});
EM_JS(void, page_show_bench, (int frames, double ms), { qm.bench = {frames: frames, ms: ms}; });
EM_JS(void, page_fail, (const char *why), { qm.fail(UTF8ToString(why)); });
EM_JS(void, page_ready, (void), { qm.ready(); });
EM_JS(void, page_count_frame, (double demo_time, double frame_time), {
    qm.frames++;
    qm.time = demo_time;
    qm.frameTime = frame_time;
});
EM_JS(void, page_demo_ended, (int hold_ms), { qm.end(hold_ms); });

// ---------------------------------------------------------------------------------------------
// State

// Frames of demo time the page plays per second, as qm-capture draws them by default.
constexpr double page_fps = 60.0;

enum class Phase { idle, loading, playing, ended };
static Phase phase = Phase::idle;

// The demo clock in seconds: clock_at when clock_since (ms of emscripten_get_now) was now, and
// running since at clock_rate demo seconds per second; clock_since < 0 while it stands. During
// loading it paces the loading steps.
static double clock_at;
static double clock_since = -1;
static double clock_rate = 1.0;

static int next_step;
static double step_due;      // clock time at which the next loading step may run
static int end_generation;   // the end whose music stop is pending

static double clock_now(void)
{
    return clock_since < 0 ? clock_at
                           : clock_at + (emscripten_get_now() - clock_since) / 1000.0 * clock_rate;
}

static void clock_set(double t)
{
    clock_at = t;
    if (clock_since >= 0)
        clock_since = emscripten_get_now();
}

// ---------------------------------------------------------------------------------------------
// Phases

// The boot screen while the clock stands: the timeline's own frame, outside the player.
static void draw_boot_frame(void)
{
    if (Timeline_Advance())
        return;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (scene_callback)
        scene_callback();
    glFlush();   // the GL layer's batch, before the browser shows the frame
    page_count_frame(demo_time.load(), 0.0);
}

static void start_player(void)
{
    Player_StartLoaded(PlayerSetup{"", page_fps, Output_Width(), Output_Height()});
    phase = Phase::playing;
    clock_set(0.0);
}

// The loading sequence's next step once its pause is over; its last step starts the demo.
static void run_loading_step(void)
{
    if (clock_now() < step_due)
        return;
    step_due = clock_now() + Loading_Take(next_step++) / 1000.0;
    if (next_step == loading_step_count)
        start_player();
}

// What is left of the loading sequence, without its pauses.
static void finish_loading(void)
{
    Loading_Walk(next_step, [](uint32_t) {});
    next_step = loading_step_count;
    start_player();
}

static void stop_music(void *generation)
{
    if (phase == Phase::ended && intptr_t(generation) == end_generation)
        FSOUND_Stream_Stop(music_stream);
}

// As natively: Escape stops everything at once; the demo's own end holds its last frame, and
// the music, for a second.
static void end_demo(int hold_ms)
{
    phase = Phase::ended;
    clock_at = clock_now();
    clock_since = -1;
    end_generation++;
    if (hold_ms > 0)
        emscripten_async_call(stop_music, reinterpret_cast<void *>(intptr_t(end_generation)),
                              hold_ms);
    else
        stop_music(reinterpret_cast<void *>(intptr_t(end_generation)));
    page_demo_ended(hold_ms);
}

static void count_frame(void)
{
    glFlush();
    page_count_frame(demo_time.load(), double(Player_NextFrame() - 1) / page_fps);
}

// Once per browser frame: a loading step under the boot screen, or the latest demo frame due.
static void browser_frame(void)
{
    // Keys are the page's; SDL's queue is only emptied, so that nothing piles up in it.
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
    }
    if (phase == Phase::loading) {
        run_loading_step();
        if (phase == Phase::loading)
            draw_boot_frame();
        return;
    }
    if (phase != Phase::playing)
        return;
    // The latest frame the clock has reached; the one on screen until the next is due.
    const int64_t due = int64_t(std::floor(clock_now() * page_fps));
    if (due < Player_NextFrame())
        return;
    if (Player_SkipTo(due) || Player_Step(false)) {
        end_demo(1000);
        return;
    }
    count_frame();
}

// ---------------------------------------------------------------------------------------------
// What the page asks

// Moves the demo to the frame qm-capture draws at demo time t, drawn before this returns (and
// read back into qm.frame when grab is set). The music stays where it is during the skip: the
// page places it. Returns 1 if t lies past the end, which ends the demo.
extern "C" EMSCRIPTEN_KEEPALIVE int qm_seek(double t, int grab)
{
    if (phase == Phase::idle || !(t >= 0.0) || !std::isfinite(t))
        return 1;
    if (!Player_IsOpen())
        finish_loading();
    const int64_t k = Player_FrameIndex(t, page_fps);
    FSOUND_STREAM *music = music_stream;
    music_stream = nullptr;   // the entries passed on the way would start it from 0
    if (k < Player_NextFrame())
        Player_Restart();
    const bool over = Player_SkipTo(k) || Player_Step(false);
    music_stream = music;
    if (over) {
        end_demo(0);
        return 1;
    }
    phase = Phase::playing;
    clock_set(t);
    count_frame();
    if (grab) {
        Frame f = Player_Read();
        page_show_frame(f.rgba.data(), f.width, f.height);
    }
    return 0;
}

// The start click (sound is allowed from here on): from the boot screen's loading, or, for
// t > 0, at demo time t with everything loaded at once. The clock stands until qm_run.
extern "C" EMSCRIPTEN_KEEPALIVE int qm_start(double t)
{
    if (phase != Phase::idle)
        return 1;
    music_stream = FSOUND_Stream_Open("quiet_moss.mp3", 0, 0, 0);
    phase = Phase::loading;
    step_due = 0.0;
    clock_set(0.0);
    emscripten_set_main_loop(browser_frame, 0, 0);
    return t > 0.0 ? qm_seek(t, 0) : 0;
}

// Runs (1) or stops (0) the demo clock: pause, and the wait for the music after a seek. A clock
// stopped while playing stands at the frame on screen, so that nothing more is drawn and the
// next frame is the one after it.
extern "C" EMSCRIPTEN_KEEPALIVE void qm_run(int run)
{
    if (phase == Phase::ended || run == (clock_since >= 0))
        return;
    clock_at = clock_now();
    if (!run && phase == Phase::playing && Player_NextFrame() > 0)
        clock_at = std::min(clock_at, double(Player_NextFrame() - 1) / page_fps);
    clock_since = run ? emscripten_get_now() : -1;
}

// The clock's speed from now on, in demo seconds per second (the page's speed menu).
extern "C" EMSCRIPTEN_KEEPALIVE void qm_rate(double rate)
{
    if (!(rate > 0.0) || !std::isfinite(rate))
        return;
    clock_at = clock_now();
    if (clock_since >= 0)
        clock_since = emscripten_get_now();
    clock_rate = rate;
}

// The demo clock: 0 until the demo's own time starts, then where it stands now.
extern "C" EMSCRIPTEN_KEEPALIVE double qm_clock(void)
{
    return phase == Phase::playing || phase == Phase::ended ? clock_now() : 0.0;
}

// Moves the running clock by dt seconds (the page keeps it on the music's time); a clock moved
// back holds the frame on screen until it is due again.
extern "C" EMSCRIPTEN_KEEPALIVE void qm_nudge(double dt)
{
    if (phase == Phase::playing)
        clock_at += dt;
}

extern "C" EMSCRIPTEN_KEEPALIVE void qm_escape(void)
{
    if (phase == Phase::loading || phase == Phase::playing)
        end_demo(0);
}

// The canvas has a new size (the page has set it): the next frame is drawn to it. Before the
// start the boot frame under the button is drawn again; a paused frame the page seeks again.
extern "C" EMSCRIPTEN_KEEPALIVE void qm_resize(int width, int height)
{
    if (!Output_SizeFits(width, height))
        return;
    Output_SetSize(width, height);
    if (phase == Phase::idle)
        draw_boot_frame();
}

// Entry e's start in demo time; entry 42's is the end of the last.
extern "C" EMSCRIPTEN_KEEPALIVE double qm_entry_start(int e)
{
    return e >= 0 && e < scene_entry_count ? double(scene_entries[e].start) : -1.0;
}

// ---------------------------------------------------------------------------------------------
// `?at=T`

// The frame qm-capture writes for --at T at the canvas's size, then optionally N more timed.
static void show_frame_at(double t)
{
    Player_Start(PlayerSetup{"", page_fps, Output_Width(), Output_Height()});
    if (!(t >= 0.0) || !(t < scene_script.end_time)) {
        page_fail("at= wants a demo time in seconds within the demo");
        return;
    }
    if (Player_SkipTo(Player_FrameIndex(t, Player_Fps())) || Player_Step(false)) {
        page_fail("that demo time lies past the end of the demo");
        return;
    }
    Frame f = Player_Read();
    page_show_frame(f.rgba.data(), f.width, f.height);

    int frames = page_bench_frames();
    if (frames == 0)
        return;
    double begin = emscripten_get_now();
    int drawn = 0;
    while (drawn < frames && !Player_Step(false))
        drawn++;
    uint8_t pixel[4];
    glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);   // waits for the drawing
    double ms = emscripten_get_now() - begin;
    printf("%d frames from %.2f s in %.1f ms: %.1f fps\n", drawn, t, ms, drawn * 1000.0 / ms);
    page_show_bench(drawn, ms);
}

int main(void)
{
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) < 0) {
        page_fail("SDL initialization error ...");
        return 1;
    }
    // No alpha channel: the page would blend the canvas by the alpha the scenes leave behind,
    // where a window shows the colours alone.
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    if (!SDL_SetVideoMode(scene_width, scene_height, 32, SDL_OPENGL)) {
        page_fail("The browser could not make a WebGL context to draw the demo in: close other tabs "
                  "that draw, or turn on hardware acceleration, and reload the page.");
        return 1;
    }
    if (!page_fit_canvas())
        return 1;
    int width = 0, height = 0;
    emscripten_get_canvas_element_size("#canvas", &width, &height);
    Output_SetSize(width, height);

    double at = page_demo_time();
    if (at != -1) {
        show_frame_at(at);
        return 0;
    }

    ZAF_Open("./quiet_moss.zaf");
    Boot_Load();
    Timeline_Prepare(&scene_script, 0);
    // The first frame, under the start button.
    draw_boot_frame();
    page_ready();
    return 0;
}
