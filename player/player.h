// The player core: the demo played on a virtual clock, on a GL context someone else made
// current. qm-capture, the render tests and the browser build all play the demo through it.
//
// Once per process: Player_Start runs the loaders in the loading sequence's order and prepares
// the timeline. From then on frames go strictly forward, every one of them through the
// timeline, because scenes and loaders carry state that only playback order reproduces; the
// way back is Player_Restart, the timeline from its start again on the scenes already loaded.
// Frame k (at F frames per second) is drawn after floor(100·k/F) ticks of 10 ms.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/output.h"

// Every failure of the player and of the front ends over it: a message fit for one line.
struct PlayerError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Rgba {
    uint8_t r, g, b, a;
    bool operator==(const Rgba &) const = default;
};

// One read-back frame: RGBA bytes with rows bottom-up, as OpenGL reads them. Coordinates
// named _gl count y from the bottom row, as OpenGL's window coordinates do.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    Rgba at_gl(int x, int y) const;
    // The w × h rectangle at (x, y) shrunk to tw × th by averaging the pixels each target
    // pixel covers, truncated (alpha 255).
    Frame box_down(int x, int y, int w, int h, int tw, int th) const;
    bool operator==(const Frame &) const = default;
};

struct PlayerSetup {
    std::string data_dir;   // where quiet_moss.zaf is read; empty: the working directory
    double fps = 60.0;
    int width = scene_width;   // the output's size: the picture is the largest 4:3 within
    int height = scene_height;
};

// Sets the output's size, runs the loaders and prepares the timeline, on a current context
// with a framebuffer of that size. A second call is an error: the loaders draw from rand() and
// may only run once per process.
void Player_Start(const PlayerSetup &setup);
// As Player_Start, for a front end that has opened the archive and walked the whole loading
// sequence itself (the browser walks it a step a frame, under the boot screen, and may have
// drawn boot frames meanwhile): sets the output's size and restarts the timeline (see
// Player_Restart). The same once-per-process rule holds.
void Player_StartLoaded(const PlayerSetup &setup);
// The timeline from its start again, on the scenes already loaded (the loaders never run
// twice): the clocks, the entries and the GL state the scenes change go back to what a fresh
// process has, the output is cleared, and the next Player_Step draws frame 0, entering every
// entry (its init included) again on the way. Frames then match a fresh run's byte for byte.
void Player_Restart();
bool Player_IsOpen();
double Player_Fps();
// The GL renderer and version string, for reports.
std::string Player_Renderer();

// Ticks of 10 ms elapsed before frame k at fps.
int64_t Player_TicksBefore(int64_t k, double fps);
// The first frame k with k/fps ≥ t. A t that is a whole multiple of 1/fps gives exactly that
// frame, whatever the binary rounding of t·fps.
int64_t Player_FrameIndex(double t, double fps);

// The index of the next frame Player_Step will draw.
int64_t Player_NextFrame();
// Draws the next frame as the demo's loop does. A quick frame runs the same GL calls with
// rasterisation cut to an empty scissor box: the scene state it advances is the same, its
// pixels are not to be read. Returns 1 once the demo is over (nothing drawn), else 0.
int Player_Step(bool quick = false);
// Moves on by one frame, drawing it (quickly) only where later frames depend on it: an
// entry's first frame, whose init compiles lists and sets state, and an entry's last, whose
// render leaves the GL state and carried values the next entry starts from. Every other frame
// only advances the timeline. Returns 1 if the demo ended.
int Player_Skip();
// Skips up to frame k (exclusive): the next Player_Step draws frame k. The frame just before
// k is drawn quickly, because what a render carries (the dot wall's band phase, the glow
// shells' phase start) comes from the previous frame alone. Returns 1 if the demo ended on
// the way.
int Player_SkipTo(int64_t k);
// As Player_SkipTo, but every frame before k is drawn quickly: the slow reference the skip
// is checked against.
int Player_DrawTo(int64_t k);
// The frame on which entry e was entered, or -1 while it has not been.
int64_t Player_EntryFirstFrame(int entry);
// Reads the current frame buffer.
Frame Player_Read();
// The index of the scene entry now current (0…41).
int Player_CurrentEntry();
// The entry the next frame will draw, or -1 if the demo ends there: advances the clock to
// that frame's ticks, as its Player_Step would, and asks the timeline.
int Player_PeekEntry();
// Skips (Player_Skip) until the next frame belongs to entry e: a Player_Step then draws the
// entry's first frame, or its next one if it has begun. Returns 1 if the demo ends first. An
// entry the player has passed, or one the script does not play, is an error.
int Player_SkipToEntry(int e);

// For replaying an entry from its start (the benchmark's wrap): the clocks as an entry's first
// frame finds them. Mark before drawing that frame; Rewind makes the next frame repeat it
// without the entry's init. Scene state is not rewound: what a scene carries from frame to
// frame keeps advancing, as in an entry that loops.
struct PlayerMark {
    int64_t frame;
    int64_t ticks;
    float demo_time;
};
PlayerMark Player_Mark();
void Player_Rewind(const PlayerMark &mark);
