// qm-capture's library: the player core on a headless EGL context, and frames written to PNG
// files. Render and end-to-end tests link it to look at what the demo draws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "player/player.h"

// Makes the headless context with a framebuffer of the setup's size, then starts the player.
void Capture_Open(const PlayerSetup &setup);
// The frame the demo draws at demo time t (see Player_FrameIndex). Earlier frames are
// skipped (Player_SkipTo); t must not lie before the next frame, nor past the end of the
// demo. Opens the capture with the default setup (working directory, 60 fps) if nobody has.
Frame Capture_FrameAt(double t);

// zlib levels: libpng's own default for single frames; for sequences a level that keeps
// nearly all of that size at about half the time (measured at 1920 x 1080, docs/capture.md).
constexpr int png_level_frame = 6;
constexpr int png_level_sequence = 4;

// The frame as the bytes of an RGB PNG, top row first.
std::vector<uint8_t> Capture_EncodePng(const Frame &frame, int level = png_level_frame);
// Writes the frame as an RGB PNG, top row first.
void Capture_WritePng(const Frame &frame, const std::string &path, int level = png_level_frame);
// Writes bytes to a file, replacing it.
void Capture_WriteFile(const std::vector<uint8_t> &bytes, const std::string &path);
