// Mastering: loudness measured as integrated LUFS (K-weighted, gated), a gain to reach the
// score's target, and a look-ahead limiter under the ceiling.
#pragma once

#include "tools/synth/render.h"

#include <cstddef>
#include <vector>

struct MasterReport {
    double loudness = 0;      // LUFS, integrated
    double peak_db = 0;       // sample peak, dBFS
    double gain_db = 0;       // gain applied before the limiter
};

// Integrated loudness of interleaved stereo samples; -inf for silence.
double Master_Loudness(const float *samples, size_t frames, int rate);
// The finished master: interleaved stereo at the target loudness, peaks under the ceiling.
std::vector<float> Master_Process(Mix &mix, const Score &score, MasterReport &report);
