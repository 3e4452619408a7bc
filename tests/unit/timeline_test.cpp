// The timeline: derived timings of the scene script, the debug table, channels, entry
// switches and the end of the demo.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

namespace {

std::string Fixed3(float value)
{
    char buffer[32];
    snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

class TimelineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SceneScript_Reset();
        Timeline_Reset();
    }
    void TearDown() override
    {
        Timeline_Reset();
        SceneScript_Reset();
    }

    // Runs a frame with the scene clock at t (and its square, as the tick forms it).
    int FrameAt(float t)
    {
        scene_clock = SceneClock{t, t * t};
        return Timeline_Frame();
    }
};

// Starts as the scene script lists them, to three decimals.
const char *const expected_starts[scene_entry_count] = {
    "0.000",   "1.455",   "4.698",   "7.941",   "10.258",  "15.591",  "23.591",  "28.925",
    "30.258",  "32.004",  "34.861",  "41.861",  "46.861",  "66.986",  "71.986",  "74.843",
    "76.588",  "79.588",  "86.788",  "96.388",  "104.388", "108.388", "109.432", "112.432",
    "115.432", "127.432", "133.432", "136.432", "137.475", "188.325", "190.725", "198.725",
    "206.725", "214.725", "222.725", "225.125", "245.125", "246.787", "247.478", "297.478",
    "298.169", "299.838", "309.362"};

TEST_F(TimelineTest, DerivesEveryStartOfTheScript)
{
    Timeline_Prepare(&scene_script, 0);
    for (int i = 0; i < scene_entry_count; i++) {
        EXPECT_EQ(Fixed3(scene_entries[i].start), expected_starts[i]) << "entry " << i;
    }
}

TEST_F(TimelineTest, DurationIsNeverNegative)
{
    // Moving against its own speed, x would take -2 s: the entry lasts 2 s.
    SceneEntry entries[2] = {};
    entries[0].x_from = 0, entries[0].x_to = -10, entries[0].x_speed_from = 5;
    entries[0].x_speed_to = 5;
    SceneScript script = {0.0f, 100.0f, 0, entries};
    Timeline_Prepare(&script, 0);
    EXPECT_EQ(entries[1].start, 2.0f);
}

TEST_F(TimelineTest, DerivesAccelerationsFromTheAuthoredValues)
{
    Timeline_Prepare(&scene_script, 0);
    struct Case {
        int entry;
        double x_accel, y_accel, z_accel;
    };
    // Worked out by hand from each entry's authored values: D = |2 (x_to - x_from) /
    // (x_speed_from + x_speed_to)|, x_accel = (x_speed_to - x_speed_from) / D,
    // y_accel = 2 (y_to - y_from - y_speed_from D) / D^2.
    const double d3 = 700.0 / 302.1, d7 = 4.0 / 3.0, d29 = 2.4, d1 = 720.0 / 222.0;
    const Case cases[] = {
        {3, 302.1 / d3, 0.0, 0.0},
        {1, -182.0 / d1, 0.0, 0.0},
        {7, 0.0, 2 * (680 - 20 * d7) / (d7 * d7), 2 * (-40 - 640 + 20 * d7) / (d7 * d7)},
        // The authored end speed of y (-0.4) is not read.
        {29, 30.0 / d29, 2 * (0 - 1 + 0.9 * d29) / (d29 * d29), 0.0},
        {13, 20.0 / 5.0, 2 * (1 - 0.04 * 5.0) / 25.0, 0.0},
    };
    for (const Case &c : cases) {
        const SceneEntry &e = scene_entries[c.entry];
        EXPECT_NEAR(e.x_accel, c.x_accel, 1e-3 * (1 + std::fabs(c.x_accel))) << c.entry;
        EXPECT_NEAR(e.y_accel, c.y_accel, 1e-3 * (1 + std::fabs(c.y_accel))) << c.entry;
        EXPECT_NEAR(e.z_accel, c.z_accel, 1e-3 * (1 + std::fabs(c.z_accel))) << c.entry;
    }
}

TEST_F(TimelineTest, DebugTablePrintsOneLinePerPlayedEntry)
{
    struct Case {
        int offset;
        size_t line;
        const char *text;
    };
    const Case cases[] = {
        {0, 0, "0 ent: +1.455 a_a0: +3.438 a_n0: +0.000 a_n1: +0.000 d0: -nan d1: -nan"},
        {0, 10, "10 ent: +7.000 a_a0: +2.857 a_n0: +0.000 a_n1: +0.000 d0: +1.000 d1: -nan"},
        // Equal ramp limits divide by zero: printf shows the NaN as it is.
        {0, 13, "13 ent: +5.000 a_a0: +4.000 a_n0: +0.064 a_n1: +0.000 d0: -nan d1: +5.769"},
        {0, 28, "28 ent: +50.850 a_a0: +0.000 a_n0: +0.000 a_n1: +0.000 d0: +4.237 d1: +7.062"},
        {0, 41, "41 ent: +9.524 a_a0: +0.020 a_n0: +0.000 a_n1: +0.000 d0: -nan d1: -nan"},
        // Numbered from the first entry played.
        {8, 0, "0 ent: +1.745 a_a0: +286.458 a_n0: +0.000 a_n1: +0.000 d0: -nan d1: -nan"},
        {8, 33, "33 ent: +9.524 a_a0: +0.020 a_n0: +0.000 a_n1: +0.000 d0: -nan d1: -nan"},
    };
    for (const Case &c : cases) {
        SceneScript_Reset();
        scene_script.first_entry = &scene_entries[c.offset];
        scene_script.last_index = 41 - c.offset;
        ::testing::internal::CaptureStdout();
        Timeline_Prepare(&scene_script, 1);
        fflush(stdout);
        std::vector<std::string> lines = Split_Lines(::testing::internal::GetCapturedStdout());
        ASSERT_EQ(lines.size(), size_t(42 - c.offset));
        EXPECT_EQ(lines[c.line], c.text) << "offset " << c.offset;
    }
}

TEST_F(TimelineTest, DebugOffsetKeepsTheFirstPlayedStartAtZero)
{
    scene_script.first_entry = &scene_entries[8];
    scene_script.last_index = 33;
    Timeline_Prepare(&scene_script, 0);
    EXPECT_EQ(scene_entries[8].start, 0.0f);
    EXPECT_EQ(Fixed3(scene_entries[42].start), "279.104");  // 309.362 - 30.258
}

TEST_F(TimelineTest, ChannelsFollowTheirEntry)
{
    SceneEntry entries[2] = {};
    SceneEntry &e = entries[0];
    e.x_from = 0, e.x_to = 40, e.x_speed_from = 25, e.x_speed_to = 30;
    e.y_from = 1, e.y_to = 0, e.y_speed_from = -0.2f;
    e.ramp_a_from = 0, e.ramp_a_to = 0.5f, e.ramp_a_speed = 1;  // restarts within the entry
    e.ramp_b_from = 80, e.ramp_b_to = 80, e.ramp_b_speed = 0;   // equal limits: stands
    e.wave_a_amp = 10, e.wave_a_freq = 3, e.wave_a_phase = 0;
    e.wave_b_amp = 0.5f, e.wave_b_freq = 3, e.wave_b_phase = 1;
    SceneScript script = {0.0f, 100.0f, 0, entries};
    Timeline_Prepare(&script, 0);
    const float d = entries[1].start;
    ASSERT_NEAR(d, 80.0f / 55.0f, 1e-5);

    // Uniform acceleration worked out independently: x runs 0 -> 40 with speeds 25 -> 30 over
    // d, and y arrives at 0 from 1 with start speed -0.2 over the same d.
    auto x_at = [&](double t) { return 25 * t + 0.5 * (5 / d) * t * t; };
    auto y_at = [&](double t) { return 1 - 0.2 * t + (-1 + 0.2 * d) / (d * d) * t * t; };
    struct Case {
        float t;
        float ramp_clock;
        float ramp_a, ramp_clock_after;
    };
    const Case cases[] = {
        {0.0f, 0.0f, 0.0f, 0.0f},
        {d / 2, 0.5f, 0.5f, 0.5f},   // at the limit: stands
        {d, 0.51f, 0.0f, 0.0f},      // past the limit: restarts, the excess dropped
    };
    for (const Case &c : cases) {
        ramp_clock_a = c.ramp_clock;
        ASSERT_EQ(FrameAt(c.t), 0);
        EXPECT_NEAR(chan_x, x_at(c.t), 1e-3) << "t=" << c.t;
        EXPECT_NEAR(chan_y, y_at(c.t), 1e-4) << "t=" << c.t;
        EXPECT_EQ(ramp_a, c.ramp_a) << "t=" << c.t;
        EXPECT_EQ(ramp_clock_a.load(), c.ramp_clock_after) << "t=" << c.t;
        EXPECT_EQ(ramp_b, 80.0f);
        EXPECT_FLOAT_EQ(wave_a, 10 * std::sin(3 * c.t));
        EXPECT_FLOAT_EQ(wave_b, 0.5f * std::sin(3 * c.t + 1));
    }
}

// Callbacks that count their calls, by entry.
int init_calls[scene_entry_count];
int render_calls[scene_entry_count];
template <int N> void CountInit() { init_calls[N]++; }
template <int N> void CountRender() { render_calls[N]++; }

class TimelineSwitchTest : public TimelineTest {
protected:
    void SetUp() override
    {
        TimelineTest::SetUp();
        std::fill(std::begin(init_calls), std::end(init_calls), 0);
        std::fill(std::begin(render_calls), std::end(render_calls), 0);
        Rewire();
    }
    // Counting callbacks on entries 0 to 3 and none elsewhere: no real scene runs here.
    void Rewire()
    {
        for (SceneEntry &e : scene_entries)
            e.init = e.render = nullptr;
        Wire<0, 1, 2, 3>();
    }
    template <int... N> void Wire()
    {
        ((scene_entries[N].init = CountInit<N>, scene_entries[N].render = CountRender<N>), ...);
    }
    int Current() const { return int(current_entry - scene_entries); }
};

TEST_F(TimelineSwitchTest, PassesOneEntryPerFrameWhenTimeIsAhead)
{
    scene_script.start_time = 5.0f;
    Timeline_Prepare(&scene_script, 0);

    ASSERT_EQ(Timeline_Frame(), 0);
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(init_calls[0], 0);  // entry 0 is never entered
    EXPECT_EQ(init_calls[1], 1);
    EXPECT_EQ(render_calls[1], 1);

    ASSERT_EQ(Timeline_Frame(), 0);
    ASSERT_EQ(Timeline_Frame(), 0);
    EXPECT_EQ(Current(), 2);  // its span holds demo time 5
    EXPECT_EQ(init_calls[1], 1);
    EXPECT_EQ(render_calls[1], 1);
    EXPECT_EQ(init_calls[2], 1);
    EXPECT_EQ(render_calls[2], 2);
    EXPECT_EQ(init_calls[3], 0);
}

TEST_F(TimelineSwitchTest, SwitchResetsTheEntryClocks)
{
    Timeline_Prepare(&scene_script, 0);
    ASSERT_EQ(Timeline_Frame(), 0);
    demo_time = 1.455f;
    scene_clock = SceneClock{1.455f, 1.455f * 1.455f};
    ramp_clock_a = 3.0f;
    ramp_clock_b = 4.0f;
    ASSERT_EQ(Timeline_Frame(), 0);
    EXPECT_EQ(Current(), 1);
    EXPECT_EQ(scene_clock.load().time, 0.0f);
    EXPECT_EQ(scene_clock.load().time_sq, 0.0f);
    EXPECT_EQ(ramp_clock_a.load(), 0.0f);
    EXPECT_EQ(ramp_clock_b.load(), 0.0f);
    EXPECT_EQ(chan_x, scene_entries[1].x_from);
}

TEST_F(TimelineSwitchTest, EndsTheDemoWithoutCallingAScene)
{
    struct Case {
        const char *name;
        float end_time;
        int last_index;
        float now;
        const char *output;
    };
    const Case cases[] = {
        // End time is tested first, even when a switch is also due.
        {"end time", 1.0f, 41, 1.5f, "QM_x: end of demo time.\n"},
        {"end time reached exactly", 1.5f, 41, 1.5f, "QM_x: end of demo time.\n"},
        {"no switch left", 310.0f, 0, 1.5f, "+1.500\nQM_x: end of effects.\n"},
    };
    for (const Case &c : cases) {
        for (int debug : {0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (debug ? ", debug" : ""));
            SceneScript_Reset();
            Rewire();
            Timeline_Reset();
            scene_script.end_time = c.end_time;
            scene_script.last_index = c.last_index;
            ::testing::internal::CaptureStdout();
            Timeline_Prepare(&scene_script, debug);
            ASSERT_EQ(Timeline_Frame(), 0);
            fflush(stdout);
            ::testing::internal::GetCapturedStdout();

            int renders = render_calls[0] + render_calls[1];
            demo_time = c.now;
            ::testing::internal::CaptureStdout();
            EXPECT_EQ(Timeline_Frame(), 1);
            fflush(stdout);
            // Trace lines only in debug mode.
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), debug ? c.output : "");
            EXPECT_EQ(render_calls[0] + render_calls[1], renders);
        }
    }
}

TEST_F(TimelineSwitchTest, WholeScriptEndsByRunningOutOfEntries)
{
    Timeline_Prepare(&scene_script, 0);
    int frames = 0;
    while (Timeline_Frame() == 0 && frames < 10000) {
        frames++;
        demo_time = current_entry[1].start;  // jump to the next switch
    }
    EXPECT_EQ(Current(), 41);
    EXPECT_EQ(frames, 42);
    EXPECT_LT(demo_time.load(), scene_script.end_time);
}

TEST_F(TimelineTest, TickAdvancesEveryClockByTheStep)
{
    time_step = 0.01f;
    float expected = 0.0f;
    for (int i = 0; i < 150; i++) {
        EXPECT_EQ(Timeline_Tick(10, nullptr), 10u);
        expected += 0.01f;
    }
    EXPECT_EQ(demo_time.load(), expected);
    EXPECT_EQ(scene_clock.load().time, expected);
    EXPECT_EQ(scene_clock.load().time_sq, expected * expected);
    EXPECT_EQ(ramp_clock_a.load(), expected);
    EXPECT_EQ(ramp_clock_b.load(), expected);

    time_step = 0.0f;  // loading: the clocks stand still
    Timeline_Tick(10, nullptr);
    EXPECT_EQ(demo_time.load(), expected);
}

// A tick racing the frame step's resets never leaves a square that belongs to another time,
// and every tick reaches the demo clock exactly once.
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
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(demo_time.load(), 0.5f * ticks);
}

}  // namespace
