// Loudness after ITU-R BS.1770 (K-weighting, 400 ms blocks, absolute and relative gates) and
// a brick-wall limiter whose gain never lets a sample past the ceiling.
#include "tools/synth/master.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>

namespace {

struct Biquad {
    double b0, b1, b2, a1, a2;
    double z1 = 0, z2 = 0;
    double Run(double x)
    {
        double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// The two K-weighting stages (a high shelf for the head, a high pass) at any rate.
void KWeighting(int rate, Biquad &shelf, Biquad &highpass)
{
    const double pi = 3.14159265358979323846;
    double k = std::tan(pi * 1681.974450955533 / rate);
    double q = 0.7071752369554196;
    double vh = std::pow(10.0, 3.999843853973347 / 20.0);
    double vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    shelf = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
             (vh - vb * k / q + k * k) / a0, 2.0 * (k * k - 1.0) / a0,
             (1.0 - k / q + k * k) / a0};
    k = std::tan(pi * 38.13547087602444 / rate);
    q = 0.5003270373238773;
    a0 = 1.0 + k / q + k * k;
    highpass = {1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
}

double DbToGain(double db) { return std::pow(10.0, db / 20.0); }

// Applies gain, then the smallest smooth gain curve that keeps every sample under the ceiling:
// a look-ahead minimum, averaged over the same window (so it ramps down before a peak and
// never exceeds what any sample in reach allows), with a slow release.
void Limit(const Mix &mix, double gain_db, double ceiling_db, std::vector<float> &out)
{
    size_t frames = mix.left.size();
    size_t window = (size_t)(0.002 * mix.rate);
    double gain = DbToGain(gain_db), ceiling = DbToGain(ceiling_db);
    double release = std::exp(-1.0 / (0.12 * mix.rate));
    std::vector<float> need(frames);
    for (size_t i = 0; i < frames; i++) {
        double peak = std::max(std::fabs(mix.left[i]), std::fabs(mix.right[i])) * gain;
        need[i] = (float)(peak > ceiling ? ceiling / peak : 1.0);
    }
    // held[i] = min(need[i .. i + window - 1]), by a monotonic queue.
    std::vector<float> held(frames);
    std::deque<size_t> queue;
    for (size_t j = 0; j < frames + window; j++) {
        if (j < frames) {
            while (!queue.empty() && need[queue.back()] >= need[j])
                queue.pop_back();
            queue.push_back(j);
        }
        if (j + 1 >= window) {
            size_t i = j + 1 - window;
            if (i >= frames)
                break;
            while (queue.front() < i)
                queue.pop_front();
            held[i] = need[queue.front()];
        }
    }
    out.resize(frames * 2);
    double sum = 0, env = 1;
    for (size_t i = 0; i < frames; i++) {
        sum += held[i];
        if (i >= window)
            sum -= held[i - window];
        double smooth = sum / (double)std::min(i + 1, window);
        env = std::min(smooth, 1.0 - (1.0 - env) * release);
        // The float product may round a hair past the ceiling; the 0.999 keeps it below.
        double g = gain * env * 0.999;
        out[2 * i] = (float)(mix.left[i] * g);
        out[2 * i + 1] = (float)(mix.right[i] * g);
    }
}

double PeakDb(const std::vector<float> &samples)
{
    float peak = 0;
    for (float s : samples)
        peak = std::max(peak, std::fabs(s));
    return 20.0 * std::log10(std::max(peak, 1e-10f));
}

} // namespace

double Master_Loudness(const float *samples, size_t frames, int rate)
{
    Biquad shelf[2], highpass[2];
    for (int c = 0; c < 2; c++)
        KWeighting(rate, shelf[c], highpass[c]);
    size_t segment = (size_t)rate / 10;
    std::vector<double> energy;   // per 100 ms, both channels summed
    double acc = 0;
    for (size_t i = 0; i < frames; i++) {
        for (int c = 0; c < 2; c++) {
            double y = highpass[c].Run(shelf[c].Run(samples[2 * i + c]));
            acc += y * y;
        }
        if ((i + 1) % segment == 0) {
            energy.push_back(acc / (double)segment);
            acc = 0;
        }
    }
    std::vector<double> blocks;
    for (size_t j = 0; j + 4 <= energy.size(); j++)
        blocks.push_back((energy[j] + energy[j + 1] + energy[j + 2] + energy[j + 3]) / 4.0);
    auto lufs = [](double e) { return -0.691 + 10.0 * std::log10(e); };
    auto gated_mean = [&](double gate) {
        double sum = 0;
        size_t n = 0;
        for (double b : blocks)
            if (b > 0 && lufs(b) > gate)
                sum += b, n++;
        return n ? sum / (double)n : 0.0;
    };
    double absolute = gated_mean(-70.0);
    if (absolute <= 0)
        return -std::numeric_limits<double>::infinity();
    double integrated = gated_mean(lufs(absolute) - 10.0);
    return integrated > 0 ? lufs(integrated) : -std::numeric_limits<double>::infinity();
}

std::vector<float> Master_Process(Mix &mix, const Score &score, MasterReport &report)
{
    size_t frames = mix.left.size();
    // Keep DC and subsonic rumble out of the limiter's way.
    double hp = std::exp(-2.0 * 3.14159265358979 * 15.0 / mix.rate);
    for (auto *channel : {&mix.left, &mix.right}) {
        double x1 = 0, y1 = 0;
        for (float &s : *channel) {
            double y = hp * (y1 + s - x1);
            x1 = s;
            y1 = y;
            s = (float)y;
        }
    }
    size_t fade_in = (size_t)(0.005 * mix.rate);
    size_t fade_out = std::min(frames, (size_t)(score.fade * mix.rate));
    for (size_t i = 0; i < std::min(fade_in, frames); i++) {
        float g = (float)i / (float)fade_in;
        mix.left[i] *= g;
        mix.right[i] *= g;
    }
    for (size_t i = 0; i < fade_out; i++) {
        float g = (float)i / (float)fade_out;
        mix.left[frames - 1 - i] *= g * g;
        mix.right[frames - 1 - i] *= g * g;
    }

    std::vector<float> out(frames * 2);
    for (size_t i = 0; i < frames; i++)
        out[2 * i] = mix.left[i], out[2 * i + 1] = mix.right[i];
    double loudness = Master_Loudness(out.data(), frames, mix.rate);
    double gain = std::isfinite(loudness) ? score.loudness - loudness : 0.0;
    // The limiter takes some loudness back; a few rounds settle the gain.
    for (int round = 0; round < 4; round++) {
        Limit(mix, gain, score.ceiling, out);
        loudness = Master_Loudness(out.data(), frames, mix.rate);
        if (!std::isfinite(loudness) || std::fabs(score.loudness - loudness) < 0.05)
            break;
        gain += score.loudness - loudness;
    }
    report.loudness = loudness;
    report.gain_db = gain;
    report.peak_db = PeakDb(out);
    return out;
}
