// The timeline: derived starts, the debug table, channels, entry switches, the end of the demo
// and the clocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/process.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

namespace {

class TimelineTest : public ::testing::Test {
protected:
    void SetUp() override { SceneScript_Reset(), Timeline_Reset(); }
    void TearDown() override { Timeline_Reset(), SceneScript_Reset(); }
};

// Fault caught: starts accumulated wrongly (a drift shows by the last entry) or not counted
// from the first entry played under -debug; a wrong layout of the debug table, its NaNs of
// equal ramp limits hidden, its lines numbered from the script's start.
TEST_F(TimelineTest, DerivesStartsAndPrintsTheDebugTableFromTheFirstEntryPlayed)
{
    const struct {
        int offset, entry;
        double start;
        int line;   // of the table, with its text; -1: none looked at
        const char *text;
    } cases[] = {
        {0, 1, 1.455, 0, "0 ent: +1.455 a_a0: +3.438 a_n0: +0.000 a_n1: +0.000 d0: -nan d1: -nan"},
        {0, 16, 76.588, 13,
         "13 ent: +5.000 a_a0: +4.000 a_n0: +0.064 a_n1: +0.000 d0: -nan d1: +5.769"},
        {0, 28, 137.475, -1, ""},
        {0, 42, 309.362, -1, ""},
        {8, 8, 0.0, -1, ""},
        {8, 42, 279.104, 33,
         "33 ent: +9.524 a_a0: +0.020 a_n0: +0.000 a_n1: +0.000 d0: -nan d1: -nan"},
    };
    for (const auto &c : cases) {
        SceneScript_Reset();
        scene_script.first_entry = &scene_entries[c.offset];
        scene_script.last_index = 41 - c.offset;
        ::testing::internal::CaptureStdout();
        Timeline_Prepare(&scene_script, 1);
        fflush(stdout);
        std::vector<std::string> lines = Split_Lines(::testing::internal::GetCapturedStdout());
        EXPECT_NEAR(scene_entries[c.entry].start, c.start, 5e-4) << "entry " << c.entry;
        ASSERT_EQ(lines.size(), size_t(42 - c.offset));
        EXPECT_TRUE(c.line < 0 || lines[c.line] == c.text) << lines[std::max(c.line, 0)];
    }
}

// Fault caught: a channel that misses its entry's end values (a wrong acceleration, t in place
// of its square), a ramp that does not restart past its limit, a wave out of phase, an entry
// whose motion runs against its own speed getting a negative length.
TEST_F(TimelineTest, ChannelsFollowTheirEntry)
{
    SceneEntry entries[3] = {};
    entries[1].x_to = -10, entries[1].x_speed_from = entries[1].x_speed_to = 5;   // 2 s
    SceneEntry &e = entries[0];
    e.x_from = 0, e.x_to = 40, e.x_speed_from = 25, e.x_speed_to = 30;
    e.y_from = 1, e.y_to = 0, e.y_speed_from = -0.2f;
    e.ramp_a_from = 0, e.ramp_a_to = 0.5f, e.ramp_a_speed = 1;
    e.ramp_b_from = 80, e.ramp_b_to = 80, e.ramp_b_speed = 0;   // equal limits: stands
    e.wave_a_amp = 10, e.wave_a_freq = 3, e.wave_a_phase = 0;
    e.wave_b_amp = 0.5f, e.wave_b_freq = 3, e.wave_b_phase = float(M_PI / 2);
    SceneScript script = {0.0f, 100.0f, 1, entries};
    Timeline_Prepare(&script, 0);
    const float d = entries[1].start, peak = float(M_PI / 6);   // 3 t = pi / 2
    EXPECT_FLOAT_EQ(entries[2].start - d, 2.0f);
    const struct {
        float t, ramp_clock;
        float x, y;   // NAN: not looked at
        float ramp_a, ramp_clock_after, wave_a, wave_b;
    } cases[] = {
        {0.0f, 0.0f, 0, 1, 0.0f, 0.0f, 0, 0.5f},
        {peak, 0.5f, NAN, NAN, 0.5f, 0.5f, 10, 0},   // the ramp at its limit stands
        {d, 0.51f, 40, 0, 0.0f, 0.0f, NAN, NAN},     // past it: restarts, the excess dropped
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.t);
        ramp_clock_a = c.ramp_clock;
        scene_clock = SceneClock{c.t, c.t * c.t};
        ASSERT_EQ(Timeline_Frame(), 0);
        EXPECT_TRUE(std::isnan(c.x) || std::fabs(chan_x - c.x) < 1e-3) << chan_x;
        EXPECT_TRUE(std::isnan(c.y) || std::fabs(chan_y - c.y) < 1e-4) << chan_y;
        EXPECT_EQ(ramp_a, c.ramp_a);
        EXPECT_EQ(ramp_clock_a.load(), c.ramp_clock_after);
        EXPECT_EQ(ramp_b, 80.0f);
        EXPECT_TRUE(std::isnan(c.wave_a) || std::fabs(wave_a - c.wave_a) < 1e-5) << wave_a;
        EXPECT_TRUE(std::isnan(c.wave_b) || std::fabs(wave_b - c.wave_b) < 1e-5) << wave_b;
    }
}

// What the scenes were called for, in order: "i1" an init of entry 1, "r1" a render.
std::string calls;
template <int N> void LogInit() { calls += "i" + std::to_string(N); }
template <int N> void LogRender() { calls += "r" + std::to_string(N); }

// Logging callbacks on entries 0 to 3 and none elsewhere: no real scene runs here.
void Rewire()
{
    SceneScript_Reset();
    for (SceneEntry &e : scene_entries)
        e.init = e.render = nullptr;
    [&]<int... N>(std::integer_sequence<int, N...>) {
        ((scene_entries[N].init = LogInit<N>, scene_entries[N].render = LogRender<N>), ...);
    }(std::make_integer_sequence<int, 4>());
    calls.clear();
}

// Fault caught: several entries passed in one frame when demo time is ahead, an init run twice
// or for an entry never entered, entry clocks carried over a switch.
TEST_F(TimelineTest, PassesOneEntryPerFrameAndResetsTheEntryClocks)
{
    Rewire();
    scene_script.start_time = 5.0f;
    Timeline_Prepare(&scene_script, 0);
    scene_clock = SceneClock{3.0f, 9.0f};
    ramp_clock_a = 3.0f;
    ramp_clock_b = 4.0f;
    ASSERT_EQ(Timeline_Frame(), 0);
    for (float clock : {scene_clock.load().time, scene_clock.load().time_sq, ramp_clock_a.load(),
                        ramp_clock_b.load()})
        EXPECT_EQ(clock, 0.0f);
    ASSERT_EQ(Timeline_Frame(), 0);
    ASSERT_EQ(Timeline_Frame(), 0);
    EXPECT_EQ(calls, "i1r1i2r2r2");   // entry 2's span holds demo time 5
}

// Fault caught: a look ahead that counts one tick too many or too few, adds in double where the
// tick adds in single precision (entries then switch a frame off the prediction), passes several
// entries at once, or misses either end of the demo; an entry's first frame not told apart.
TEST_F(TimelineTest, LooksAheadAsTheFramesThenGo)
{
    const struct {
        const char *name;
        float start_time, end_time;
        int ticks_per_frame;
    } cases[] = {
        {"a tick a frame, to the end of the entries", 0.0f, 310.0f, 1},
        {"seven ticks a frame", 0.0f, 310.0f, 7},
        {"to the end of demo time", 0.0f, 100.0f, 3},
        {"starting past several entries", 5.0f, 310.0f, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Rewire();
        Timeline_Reset();
        scene_script.start_time = c.start_time;
        scene_script.end_time = c.end_time;
        Timeline_Prepare(&scene_script, 0);
        int frames = 0, entered = 0;
        for (;; frames++) {
            const SceneEntry *was = current_entry, *ahead = Timeline_EntryAhead(c.ticks_per_frame);
            for (int i = 0; i < c.ticks_per_frame; i++)
                Timeline_Tick(10, nullptr);
            if (Timeline_Advance()) {
                ASSERT_EQ(ahead, nullptr) << "frame " << frames;
                break;
            }
            ASSERT_EQ(ahead, current_entry) << "frame " << frames;
            ASSERT_EQ(Timeline_Entering() != 0, frames == 0 || current_entry != was) << frames;
            entered += Timeline_Entering();
            if (scene_callback)
                scene_callback();
        }
        const int first = c.start_time > 0 ? 1 : 0;   // entry 0 is passed, never entered
        EXPECT_EQ(entered, int(current_entry - scene_entries) + 1 - first);
        EXPECT_EQ(Timeline_EntryAhead(0), nullptr) << "the end stands";
    }
}

// Fault caught: a scene drawn after the end, the end time tested after a due switch, trace lines
// outside debug mode.
TEST_F(TimelineTest, EndsTheDemoWithoutCallingAScene)
{
    const struct {
        const char *name;
        float end_time;
        int last_index;
        const char *output;
    } cases[] = {
        // End time is tested first, even when a switch is also due.
        {"end time", 1.0f, 41, "QM_x: end of demo time.\n"},
        {"end time reached exactly", 1.5f, 41, "QM_x: end of demo time.\n"},
        {"no switch left", 310.0f, 0, "+1.500\nQM_x: end of effects.\n"},
    };
    for (const auto &c : cases)
        for (int debug : {0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (debug ? ", debug" : ""));
            Rewire();
            Timeline_Reset();
            scene_script.end_time = c.end_time;
            scene_script.last_index = c.last_index;
            ::testing::internal::CaptureStdout();
            Timeline_Prepare(&scene_script, debug);
            ASSERT_EQ(Timeline_Frame(), 0);
            fflush(stdout);
            ::testing::internal::GetCapturedStdout();
            demo_time = 1.5f;
            ::testing::internal::CaptureStdout();
            EXPECT_EQ(Timeline_Frame(), 1);
            fflush(stdout);
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), debug ? c.output : "");
            EXPECT_EQ(calls, "i0r0");
        }
}

// Fault caught: a clock left out of the tick or moving while loading stops the step, a tick
// racing the frame step's resets that leaves a square belonging to another time, or that is
// lost to a clock.
TEST_F(TimelineTest, TicksAndResetsRaceWithoutUndoingEachOther)
{
    constexpr int ticks = 200000;
    time_step = 0.5f;  // exact in binary, so sums are exact too
    std::thread ticker([] {
        for (int i = 0; i < ticks; i++)
            Timeline_Tick(10, nullptr);
    });
    int mismatches = 0;
    for (int i = 0; i < ticks; i++) {
        scene_clock = SceneClock{0.0f, 0.0f};
        SceneClock c = scene_clock.load();
        if (c.time_sq != c.time * c.time)
            mismatches++;
    }
    ticker.join();
    scene_clock = SceneClock{0.0f, 0.0f};
    Timeline_Tick(10, nullptr);
    time_step = 0.0f;   // loading: nothing moves
    Timeline_Tick(10, nullptr);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(scene_clock.load().time_sq, 0.25f);
    for (float clock : {demo_time.load(), ramp_clock_a.load(), ramp_clock_b.load()})
        EXPECT_EQ(clock, 0.5f * (ticks + 1));
}

}  // namespace
