// MP3 encoding with LAME, gapless: the LAME tag records the encoder delay and padding, so a
// decoder that honours it gives back exactly the samples that went in.
#pragma once

#include <string>
#include <vector>

// Writes interleaved stereo samples to path (through a temporary file beside it, so a failed
// run never leaves a half-written soundtrack). Throws std::runtime_error on failure.
void Encode_Mp3(const std::vector<float> &samples, int rate, int bitrate, const std::string &path);
