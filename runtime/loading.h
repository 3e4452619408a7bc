// The loading sequence: every scene loader, paced by fixed delays, with eight progress flags
// for the boot screen; its last act starts the demo clock.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int loader_flag_count = 8;
extern std::atomic<int> loader_flags[loader_flag_count];

enum class StepKind { Delay, Load, Flag, CloseArchive, StartClock };

// One action of the sequence: a pause, a scene loader, a flag raised, the archive closed,
// or the clock started.
struct LoadingStep {
    StepKind kind;
    int value;  // delay in ms, or flag number
    void (*loader)(void);
};

// The sequence in order. Its order is the demo's: the loaders of the mascot, the eyes and the
// stem draw their layouts from one shared rand() sequence, so the order decides what they look
// like.
extern const LoadingStep loading_steps[];
extern const int loading_step_count;

// Runs the sequence on a worker thread, or in debug mode just starts the clock.
void Loading_Start(void);
// The worker: walks the sequence with real delays, but only while the clock stands still.
int Loading_Thread(void *);
// Takes step i of the sequence: does its action, or, for a pause, only returns its length in ms
// (0 for an action). The browser build takes a step a frame and waits between frames.
uint32_t Loading_Take(int i);
// Takes every step from step `from` on, in order, handing each pause to wait(ms): the worker
// passes SDL_Delay; headless rendering, and the browser catching up, a function that does not
// wait.
void Loading_Walk(int from, void (*wait)(uint32_t ms));
// The scene loaders in the order main runs them itself in debug mode. It is not the sequence's
// order, yet it gives every scene the same rand() values: the three loaders that draw from
// rand() (mascot, eyes, stem) come in the same order in both, and the others draw none.
void Loading_RunDebugLoaders(void);
