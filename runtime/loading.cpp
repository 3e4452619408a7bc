// The loading sequence: scene loaders on a worker thread while the boot screen is shown.
#include "runtime/loading.h"

#include <SDL.h>
#include <SDL_thread.h>

#include <cstdlib>
#include <iterator>

#include "assets/zaf.h"
#include "runtime/options.h"
#include "scenes/boot/boot.h"
#include "scenes/creeds/creeds.h"
#include "scenes/dotwall/dotwall.h"
#include "scenes/eyes/eyes.h"
#include "scenes/finale/finale.h"
#include "scenes/helmet/helmet.h"
#include "scenes/lathe/lathe.h"
#include "scenes/mascot/mascot.h"
#include "scenes/stem/stem.h"
#include "timeline/timeline.h"

// ---- constants and tables -------------------------------------------------------------------

// The sequence, one action per row. The flags pace the display rather than report single
// loaders: flag 1 follows flag 0 with no loader between, flag 7 comes before the last loader.
const LoadingStep loading_steps[] = {
    {StepKind::Delay, 2000, nullptr},
    {StepKind::Load, 0, Mascot_Load},
    {StepKind::Flag, 0, nullptr},
    {StepKind::Delay, 1000, nullptr},
    {StepKind::Flag, 1, nullptr},
    {StepKind::Delay, 500, nullptr},
    {StepKind::Load, 0, Creeds_Load},
    {StepKind::Flag, 2, nullptr},
    {StepKind::Delay, 700, nullptr},
    {StepKind::Load, 0, DotWall_Load},
    {StepKind::Flag, 3, nullptr},
    {StepKind::Delay, 1000, nullptr},
    {StepKind::Load, 0, Eyes_Load},
    {StepKind::Flag, 4, nullptr},
    {StepKind::Delay, 1000, nullptr},
    {StepKind::Load, 0, Stem_Load},
    {StepKind::Flag, 5, nullptr},
    {StepKind::Delay, 600, nullptr},
    {StepKind::Load, 0, Lathe_Load},
    {StepKind::Flag, 6, nullptr},
    {StepKind::Load, 0, Helmet_Load},
    {StepKind::Delay, 1000, nullptr},
    {StepKind::Flag, 7, nullptr},
    {StepKind::Load, 0, Finale_Load},
    {StepKind::CloseArchive, 0, nullptr},
    {StepKind::Delay, 1000, nullptr},
    {StepKind::StartClock, 0, nullptr},
};

const int loading_step_count = int(std::size(loading_steps));

// ---- module state ---------------------------------------------------------------------------

std::atomic<int> loader_flags[loader_flag_count];

static SDL_Thread *loader_thread;

// Helpers, defined at the end of the file.
static void sdl_delay(uint32_t ms);

// ---- the sequence ---------------------------------------------------------------------------

void Loading_Start(void)
{
    if (debug_mode != 0) {
        time_step = 0.01f;
        return;
    }
    loader_thread = SDL_CreateThread(Loading_Thread, nullptr);
    if (!loader_thread)
        exit(1);
}

int Loading_Thread(void *)
{
    if (time_step.load() != 0.0f)
        return 0;
    Loading_Walk(0, sdl_delay);
    return 0;
}

uint32_t Loading_Take(int i)
{
    const LoadingStep &step = loading_steps[i];
    switch (step.kind) {
    case StepKind::Delay:
        return uint32_t(step.value);
    case StepKind::Load:
        step.loader();
        break;
    case StepKind::Flag:
        loader_flags[step.value] = 1;
        break;
    case StepKind::CloseArchive:
        ZAF_Close();
        break;
    case StepKind::StartClock:
        // Sequentially consistent: every loader's results are visible to whoever sees
        // the clock run.
        time_step = 0.01f;
        break;
    }
    return 0;
}

void Loading_Walk(int from, void (*wait)(uint32_t ms))
{
    for (int i = from; i < loading_step_count; i++) {
        if (const uint32_t ms = Loading_Take(i))
            wait(ms);
    }
}

// ---- debug mode -----------------------------------------------------------------------------

void Loading_RunDebugLoaders(void)
{
    Mascot_Load();
    Eyes_Load();
    DotWall_Load();
    Stem_Load();
    Helmet_Load();
    Creeds_Load();
    Finale_Load();
    Lathe_Load();
}

// ---- helpers --------------------------------------------------------------------------------

static void sdl_delay(uint32_t ms)
{
    SDL_Delay(ms);
}
