// The loading sequence: the pace of its flags, the order of its loaders, what it closes and
// starts. Debug mode, which starts the clock without it, is the end-to-end debug runs' part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "assets/zaf.h"
#include "runtime/loading.h"
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

int FlagsRaised()
{
    int n = 0;
    for (const auto &flag : loader_flags)
        n += flag.load();
    return n;
}

// Fault caught: the clock started before the last loader or left stopped, flags raised all at
// once, out of order or not at all, the archive closed before a loader reads it, loaders in
// another order (they draw their layouts from one shared rand sequence, so the order decides
// what every scene looks like, and it is not the order debug mode runs them in).
TEST(LoadingTest, WalkRaisesTheFlagsOneByOneAndStartsTheClockLast)
{
    ZAF_Open(QM_BUILD_DIR "/quiet_moss.zaf");
    time_step = 0.0f;
    static std::vector<int> seen;   // flags raised at each pause, with the clock still stopped
    Loading_Walk(0, [](uint32_t) { seen.push_back(time_step.load() == 0.0f ? FlagsRaised() : -1); });
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(time_step.load(), 0.01f);

    std::vector<void (*)(void)> loaders;
    int last_loader = 0, close = 0;
    for (int i = 0; i < loading_step_count; i++) {
        if (loading_steps[i].kind == StepKind::Load)
            loaders.push_back(loading_steps[i].loader), last_loader = i;
        close = loading_steps[i].kind == StepKind::CloseArchive ? i : close;
    }
    EXPECT_TRUE(loaders == (std::vector<void (*)(void)>{Mascot_Load, Creeds_Load, DotWall_Load,
                                                        Eyes_Load, Stem_Load, Lathe_Load,
                                                        Helmet_Load, Finale_Load}));
    EXPECT_GT(close, last_loader);
}

}  // namespace
