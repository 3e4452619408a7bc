// Command-line options (-window, -silent, -debug <start> <end> <offset>) and the
// soundtrack stream that main opens and the boot screen starts.
#pragma once

#include <cstdint>

#include "platform/fsound.h"

extern int debug_mode;
extern int silent_mode;
extern uint32_t video_flags;
extern float debug_start;
extern float debug_end;
extern int debug_offset;
extern FSOUND_STREAM *music_stream;

// Reads the options, prints a line for each, and applies -debug to the scene script.
// A -debug without three values or with an offset outside the script ends the process
// with status 1.
void Options_Scan(int argc, char **argv);
