// qm-capture's stages: the command line, the export (frames at given times, a range as PNGs or
// video), the contact sheet and the bench. Each fails by throwing PlayerError with a message
// fit for one line.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "player/player.h"

struct Options {
    std::vector<std::pair<std::string, double>> at;   // text as given, seconds
    std::optional<double> from, to;
    std::optional<double> fps;
    std::string out;
    bool video = false;    // --from/--to into FILE.mp4
    std::string quality;   // the video's: web (empty), high or lossless
    std::string contact_sheet;
    std::string data_dir;
    bool bench = false;
    bool json = false;
    bool every_frame = false;
    std::optional<long> frames;
    int width = scene_width, height = scene_height;
};

// Reads and checks the command line; --help prints the usage and exits.
Options CommandLine_Parse(int argc, char **argv);

// --at: one PNG per time asked for, named as the time was given.
void Export_FramesAt(const Options &o);
// --from/--to: every frame of the range as a PNG sequence, or as a video with the soundtrack.
void Export_Range(const Options &o);
// The range's frames [first, end) at the player's frame rate; throws if none lies in the demo.
std::pair<int64_t, int64_t> Export_RangeFrames(const Options &o);

// --contact-sheet: one labelled thumbnail per entry, from its middle.
void ContactSheet_Write(const Options &o);

// --bench: every entry's frame times, or with --from/--to those of the range's frames, as a
// table or JSON; started is when the program began.
void Bench_Run(const Options &o, std::chrono::steady_clock::time_point started);
