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

// The sequence in order, walked by the worker with its delays and by headless rendering
// without them.
extern const LoadingStep loading_steps[];
extern const int loading_step_count;

// Runs the sequence on a worker thread, or in debug mode just starts the clock.
void Loading_Start(void);
// The worker: walks the sequence with real delays, but only while the clock stands still.
// A fatal error on the way prints its line and raises loading_failed; the worker leaves ending
// the process to the main thread.
int Loading_Thread(void *);
extern std::atomic<bool> loading_failed;
// Walks every step of the sequence in order, calling delay(ms) for each pause: the worker
// passes SDL_Delay, a headless renderer a function that does not wait.
void Loading_Walk(void (*delay)(uint32_t ms));
// One step's action; a pause is the caller's to make (the browser build waits between
// frames rather than blocking).
void Loading_Do(const LoadingStep &step);
// The scene loaders in the order main runs them itself in debug mode.
void Loading_RunDebugLoaders(void);
