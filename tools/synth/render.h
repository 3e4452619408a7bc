// Turning a score into stereo samples: every pattern step becomes a voice, mixed with its
// sends into a delay and a reverb.
#pragma once

#include "tools/synth/score.h"

#include <cstddef>
#include <vector>

struct Mix {
    int rate = 44100;
    std::vector<float> left, right;
};

// One sounding note or hit, in samples from the start of the music.
struct Event {
    int instrument;
    size_t start;
    size_t gate;              // samples the note is held; drums ignore it
    float velocity;
    int note;                 // MIDI number, or -1 for drums
};

// Every voice the arrangement plays, in order of section, pattern and step; only those
// starting before `seconds` are kept.
std::vector<Event> Render_Events(const Score &score, double seconds);
// The whole mix, `seconds` long, before mastering.
Mix Render_Mix(const Score &score, double seconds);
