// qm-capture's library: the player core on a headless EGL context, and frames written to and
// read from PNG files. Render and end-to-end tests link it to look at what the demo draws.
#pragma once

#include <string>

#include "player/player.h"

// Makes the headless context with a framebuffer of the setup's size, then starts the player.
void Capture_Open(const PlayerSetup &setup);
// The frame the demo draws at demo time t (see Player_FrameIndex). Earlier frames are
// skipped (Player_SkipTo); t must not lie before the next frame, nor past the end of the
// demo. Opens the capture with the default setup (working directory, 60 fps) if nobody has.
Frame Capture_FrameAt(double t);

// Writes the frame as an RGB PNG, top row first.
void Capture_WritePng(const Frame &frame, const std::string &path);
