// The loading sequence: the pace of its flags, what it closes and starts, and when it
// refuses to run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/zaf.h"
#include "runtime/loading.h"
#include "runtime/options.h"
#include "scenes/creeds/creeds.h"
#include "scenes/dotwall/dotwall.h"
#include "scenes/eyes/eyes.h"
#include "scenes/finale/finale.h"
#include "scenes/helmet/helmet.h"
#include "scenes/lathe/lathe.h"
#include "scenes/mascot/mascot.h"
#include "scenes/stem/stem.h"
#include "timeline/timeline.h"

namespace {

// What the boot screen could see at each pause of the walk.
struct Pause {
    uint32_t ms;
    int flags_raised;
    float time_step;
};
std::vector<Pause> pauses;

int FlagsRaised()
{
    int n = 0;
    for (const auto &flag : loader_flags)
        n += flag.load();
    return n;
}

void ResetState()
{
    for (auto &flag : loader_flags)
        flag = 0;
    pauses.clear();
}

TEST(LoadingTest, FlagsRiseAtTheTabledPaceAndTheClockStartsLast)
{
    ResetState();
    ZAF_Open(QM_BUILD_DIR "/quiet_moss.zaf");
    time_step = 0.0f;
    Loading_Walk([](uint32_t ms) { pauses.push_back({ms, FlagsRaised(), time_step.load()}); });

    // Pauses of 2000, 1000, 500, 700, 1000, 1000, 600, 1000, 1000 ms (8.8 s in all), each
    // with the flags raised so far; the clock stands still through every one of them.
    const std::vector<std::pair<uint32_t, int>> expected = {
        {2000, 0}, {1000, 1}, {500, 2}, {700, 3}, {1000, 4},
        {1000, 5}, {600, 6},  {1000, 7}, {1000, 8},
    };
    ASSERT_EQ(pauses.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(pauses[i].ms, expected[i].first) << "pause " << i;
        EXPECT_EQ(pauses[i].flags_raised, expected[i].second) << "pause " << i;
        EXPECT_EQ(pauses[i].time_step, 0.0f) << "pause " << i;
    }
    EXPECT_EQ(time_step.load(), 0.01f);
    for (int k = 0; k < loader_flag_count; k++)
        EXPECT_EQ(loader_flags[k].load(), 1) << "flag " << k;
}

TEST(LoadingTest, OrderOfLoadersFlagsArchiveAndClock)
{
    auto index_of = [](StepKind kind, int value) {
        for (int i = 0; i < loading_step_count; i++)
            if (loading_steps[i].kind == kind && loading_steps[i].value == value)
                return i;
        return -1;
    };
    auto loaders_between = [](int from, int to) {
        int n = 0;
        for (int i = from + 1; i < to; i++)
            n += loading_steps[i].kind == StepKind::Load;
        return n;
    };
    int last_loader = -1;
    std::vector<void (*)(void)> loaders;
    for (int i = 0; i < loading_step_count; i++) {
        if (loading_steps[i].kind == StepKind::Load) {
            last_loader = i;
            loaders.push_back(loading_steps[i].loader);
        }
    }
    // The loaders draw their random layouts from one shared sequence: their order decides
    // what every scene looks like, and it is not the order debug mode runs them in.
    const std::vector<void (*)(void)> order = {Mascot_Load, Creeds_Load, DotWall_Load, Eyes_Load,
                                               Stem_Load,   Lathe_Load,  Helmet_Load,  Finale_Load};
    EXPECT_TRUE(loaders == order);
    // The flags pace the display rather than report loaders.
    EXPECT_EQ(loaders_between(index_of(StepKind::Flag, 0), index_of(StepKind::Flag, 1)), 0);
    EXPECT_LT(index_of(StepKind::Flag, 7), last_loader);
    for (int k = 1; k < loader_flag_count; k++)
        EXPECT_LT(index_of(StepKind::Flag, k - 1), index_of(StepKind::Flag, k)) << k;
    // The archive closes after the last loader, and starting the clock is the last act.
    EXPECT_GT(index_of(StepKind::CloseArchive, 0), last_loader);
    EXPECT_EQ(loading_steps[loading_step_count - 1].kind, StepKind::StartClock);
}

TEST(LoadingTest, WorkerDoesNothingWhileTheClockRuns)
{
    ResetState();
    time_step = 0.01f;
    EXPECT_EQ(Loading_Thread(nullptr), 0);
    EXPECT_EQ(FlagsRaised(), 0);
    EXPECT_EQ(time_step.load(), 0.01f);
}

TEST(LoadingTest, DebugModeStartsTheClockWithoutAWorker)
{
    ResetState();
    debug_mode = 1;
    time_step = 0.0f;
    Loading_Start();
    EXPECT_EQ(time_step.load(), 0.01f);
    EXPECT_EQ(FlagsRaised(), 0);
    debug_mode = 0;
}

}  // namespace
