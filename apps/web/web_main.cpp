// quiet_moss in a browser: the native start-up, then a frame loop the browser drives.
//
// The loop is turned inside out with emscripten_set_main_loop rather than kept whole under
// ASYNCIFY: a browser frame must return to the page anyway, the demo's loop body is a handful of
// lines, and it spares every function that can reach SDL_Delay the ASYNCIFY rewrite (a larger,
// slower module). What the native build gets from threads comes from the frame instead:
// - the 10 ms clock: whole ticks of SDL_GetTicks since the start, each one Timeline_Tick, so
//   the demo clock never drifts from the wall clock, as SDL's timer does not natively;
// - the loading sequence: one step per frame, its pauses measured on the same clock, so the
//   boot screen's indicators rise as they do natively.
//
// The page (index.html) shows a start button over the first frame, because a browser plays
// sound only after a click. `?at=T` instead draws the single frame at demo time T with the
// virtual clock qm-capture uses, for comparing the two renderers; `&frames=N` then times N more.
#include <SDL.h>
#include <emscripten.h>

#include <cstdint>
#include <cstdio>

#include "assets/zaf.h"
#include "platform/fsound.h"
#include "platform/output.h"
#include "runtime/loading.h"
#include "runtime/options.h"
#include "scenes/boot/boot.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"
#include "player/player.h"

// The page's window.qm object: what the page and its tests watch.
EM_JS(double, page_demo_time, (void), {
    var at = new URLSearchParams(location.search).get('at');
    return at === null ? -1 : Number(at);
});
EM_JS(int, page_bench_frames, (void), {
    var n = Number(new URLSearchParams(location.search).get('frames'));
    return n > 0 ? Math.floor(n) : 0;
});
EM_JS(void, page_show_frame, (const uint8_t *rgba, int width, int height), {
    qm.frame = {width: width, height: height, rgba: HEAPU8.slice(rgba, rgba + width * height * 4)};
});
EM_JS(void, page_show_bench, (int frames, double ms), { qm.bench = {frames: frames, ms: ms}; });
EM_JS(void, page_fail, (const char *why), { qm.error = UTF8ToString(why); });
EM_JS(void, page_count_frame, (double demo_time), {
    qm.frames++;
    qm.time = demo_time;
});
EM_JS(void, page_demo_ended, (void), { qm.end(); });

static uint32_t clock_start;
static int64_t ticks_done;
static int next_step;
static uint32_t step_due;

static void run_clock(void)
{
    for (int64_t due = (SDL_GetTicks() - clock_start) / 10; ticks_done < due; ticks_done++)
        Timeline_Tick(10, nullptr);
}

static void run_loading_step(void)
{
    if (next_step >= loading_step_count || int32_t(SDL_GetTicks() - step_due) < 0)
        return;
    const LoadingStep &step = loading_steps[next_step++];
    if (step.kind == StepKind::Delay)
        step_due = SDL_GetTicks() + uint32_t(step.value);
    else
        Loading_Do(step);
}

static void stop_music(void *)
{
    FSOUND_Stream_Stop(music_stream);
    FSOUND_Stream_Close(music_stream);
    music_stream = nullptr;
}

// As natively: Escape stops everything at once; the demo's own end holds its last frame, and
// the music, for a second.
static void end_demo(int hold_ms)
{
    emscripten_cancel_main_loop();
    if (hold_ms > 0)
        emscripten_async_call(stop_music, nullptr, hold_ms);
    else
        stop_music(nullptr);
    page_demo_ended();
}

// Draws one frame unless the demo is over. The clear comes after the timeline's verdict: a
// browser shows whatever the frame drew, so the last picture stays only if nothing is drawn.
static bool draw_frame(void)
{
    if (Timeline_Advance())
        return false;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (scene_callback)
        scene_callback();
    glFlush();   // the GL layer's batch, before the browser shows the frame
    page_count_frame(demo_time.load());
    return true;
}

static void frame(void)
{
    run_clock();
    run_loading_step();
    if (!draw_frame()) {
        end_demo(1000);
        return;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) {
            end_demo(0);
            return;
        }
    }
}

// The start button's click: sound is allowed from here on.
extern "C" EMSCRIPTEN_KEEPALIVE void qm_start(void)
{
    music_stream = FSOUND_Stream_Open("quiet_moss.mp3", 0, 0, 0);
    clock_start = SDL_GetTicks();
    step_due = clock_start;
    emscripten_set_main_loop(frame, 0, 0);
}

// `?at=T`: the frame qm-capture writes for --at T, then optionally N more timed.
static void show_frame_at(double t)
{
    Player_Start(PlayerSetup{});
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
    if (!SDL_SetVideoMode(640, 480, 32, SDL_OPENGL)) {
        page_fail("no WebGL context");
        return 1;
    }

    Output_SetSize(640, 480);
    double at = page_demo_time();
    if (at != -1) {
        show_frame_at(at);
        return 0;
    }

    ZAF_Open("./quiet_moss.zaf");
    Boot_Load();
    Timeline_Prepare(&scene_script, 0);
    // The first frame, under the start button.
    draw_frame();
    return 0;
}
