// The instruments (drums, subtractive synth voices), the delay and the reverb.
#include "tools/synth/render.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>

namespace {

constexpr float two_pi = 6.283185307179586f;

// A fixed generator, so that the same score always gives the same noise.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 0x6d2b79f5u) {}
    float Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return (float)(int32_t)state * (1.0f / 2147483648.0f);
    }
};

// Topology-preserving state-variable filter: low, band and high outputs at once.
struct Svf {
    float ic1 = 0, ic2 = 0, g = 0, k = 2, a1 = 0, a2 = 0, a3 = 0;
    float low = 0, band = 0, high = 0;

    void Set(float freq, float reso, int rate)
    {
        freq = std::clamp(freq, 20.0f, 0.45f * (float)rate);
        g = std::tan(3.14159265f * freq / (float)rate);
        k = 2.0f - 2.0f * reso;
        a1 = 1.0f / (1.0f + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    void CopyCoefficients(const Svf &o)
    {
        g = o.g, k = o.k, a1 = o.a1, a2 = o.a2, a3 = o.a3;
    }
    void Run(float x)
    {
        float v3 = x - ic2;
        float v1 = a1 * ic1 + a2 * v3;
        float v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

float DbToGain(float db) { return std::pow(10.0f, db / 20.0f); }

float NoteHz(float note) { return 440.0f * std::pow(2.0f, (note - 69.0f) / 12.0f); }

// Band-limiting correction for a step in a naive waveform at phase t (0..1), increment dt.
float PolyBlep(float t, float dt)
{
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0f;
    }
    if (t > 1.0f - dt) {
        t = (t - 1.0f) / dt;
        return t * t + t + t + 1.0f;
    }
    return 0.0f;
}

struct Bus {
    Mix &mix;
    std::vector<float> &delay_send, &reverb_send;
    const std::vector<float> &duck;
};

// Adds one voice's samples to the dry mix and the sends, panned and ducked.
void Place(Bus &bus, const Instrument &inst, size_t start, const std::vector<float> &l,
           const std::vector<float> &r)
{
    float pan = (inst.pan + 1.0f) * 0.25f * 3.14159265f;
    float gl = std::cos(pan) * 1.41421356f, gr = std::sin(pan) * 1.41421356f;
    size_t n = std::min(l.size(), bus.mix.left.size() > start ? bus.mix.left.size() - start : 0);
    for (size_t i = 0; i < n; i++) {
        float duck = inst.duck > 0 ? 1.0f - inst.duck * bus.duck[start + i] : 1.0f;
        float a = l[i] * gl * duck, b = r[i] * gr * duck;
        bus.mix.left[start + i] += a;
        bus.mix.right[start + i] += b;
        float mono = 0.5f * (a + b);
        bus.delay_send[start + i] += mono * inst.delay;
        bus.reverb_send[start + i] += mono * inst.reverb;
    }
}

void RenderKick(const Instrument &inst, float amp, int rate, Noise &noise, std::vector<float> &l)
{
    size_t n = (size_t)(std::min(inst.decay * 7.0f, 3.0f) * (float)rate);
    l.resize(n);
    float phase = 0, dt = 1.0f / (float)rate;
    float drop = 1, drop_step = std::exp(-dt / inst.drop);
    float body_env = 1, body_step = std::exp(-dt / inst.decay);
    float click_env = 0.3f, click_step = std::exp(-dt / 0.0015f);
    for (size_t i = 0; i < n; i++) {
        float freq = inst.pitch + (inst.punch - inst.pitch) * drop;
        phase += two_pi * freq * dt;
        phase -= two_pi * (float)(phase >= two_pi);
        float x = std::sin(phase) * body_env + noise.Next() * click_env;
        l[i] = std::tanh(1.4f * x) * amp;
        drop *= drop_step;
        body_env *= body_step;
        click_env *= click_step;
    }
}

void RenderSnare(const Instrument &inst, float amp, int rate, Noise &noise, std::vector<float> &l)
{
    size_t n = (size_t)(std::min(inst.decay * 8.0f, 3.0f) * (float)rate);
    l.resize(n);
    Svf hp;
    hp.Set(inst.tone, 0.2f, rate);
    float phase = 0, dt = 1.0f / (float)rate;
    for (size_t i = 0; i < n; i++) {
        float t = (float)i * dt;
        float freq = inst.pitch + (inst.punch - inst.pitch) * std::exp(-t / inst.drop);
        phase += two_pi * freq * dt;
        hp.Run(noise.Next());
        float body = std::sin(phase) * std::exp(-t / 0.05f) * 0.7f;
        l[i] = (body + hp.high * std::exp(-t / inst.decay)) * amp;
    }
}

void RenderClap(const Instrument &inst, float amp, int rate, Noise &noise, std::vector<float> &l)
{
    size_t n = (size_t)((0.03f + std::min(inst.decay * 8.0f, 3.0f)) * (float)rate);
    l.resize(n);
    Svf bp;
    bp.Set(inst.tone, 0.55f, rate);
    float dt = 1.0f / (float)rate;
    for (size_t i = 0; i < n; i++) {
        float t = (float)i * dt;
        // Three quick slaps, then the room tail: what makes it a clap rather than a burst.
        float env = 0;
        for (float at : {0.0f, 0.011f, 0.022f})
            if (t >= at)
                env += std::exp(-(t - at) / 0.004f);
        if (t >= 0.03f)
            env += 0.8f * std::exp(-(t - 0.03f) / inst.decay);
        bp.Run(noise.Next());
        l[i] = bp.band * env * amp * 2.0f;
    }
}

void RenderHat(const Instrument &inst, float amp, int rate, Noise &noise, std::vector<float> &l,
               std::vector<float> &r)
{
    size_t n = (size_t)(std::min(inst.decay * 8.0f, 6.0f) * (float)rate);
    l.resize(n);
    r.resize(n);
    Svf hl, hr;
    hl.Set(inst.tone, 0.3f, rate);
    hr.Set(inst.tone * 1.07f, 0.3f, rate);
    float decay = 1, decay_step = std::exp(-1.0f / ((float)rate * inst.decay));
    for (size_t i = 0; i < n; i++) {
        float env = decay * std::min(1.0f, (float)i / 30.0f);
        decay *= decay_step;
        hl.Run(noise.Next());
        hr.Run(noise.Next());
        l[i] = hl.high * env * amp;
        r[i] = hr.high * env * amp;
    }
}

// One subtractive voice: detuned oscillators, amp and filter envelopes, a stereo spread.
void RenderSynth(const Instrument &inst, int note, size_t gate, float amp, int rate, Noise &noise,
                 std::vector<float> &l, std::vector<float> &r)
{
    float dt = 1.0f / (float)rate;
    size_t n = gate + (size_t)(inst.release * (float)rate);
    l.assign(n, 0.0f);
    r.assign(n, 0.0f);
    int voices = inst.voices;
    float base = NoteHz((float)note);
    std::vector<float> phase(voices), ratio(voices), vl(voices), vr(voices);
    for (int v = 0; v < voices; v++) {
        float spot = voices > 1 ? 2.0f * (float)v / (float)(voices - 1) - 1.0f : 0.0f;
        ratio[v] = std::pow(2.0f, spot * inst.detune / 1200.0f);
        float pan = (spot * inst.spread + 1.0f) * 0.25f * 3.14159265f;
        vl[v] = std::cos(pan) * 1.41421356f / std::sqrt((float)voices);
        vr[v] = std::sin(pan) * 1.41421356f / std::sqrt((float)voices);
        phase[v] = 0.5f * (noise.Next() + 1.0f);
    }
    float sub_phase = 0;
    float gate_s = (float)gate * dt, level_at_gate = 0;
    // Exponential segments run as products, not as an exp() per sample.
    float decay_step = std::exp(-dt / inst.decay), decay_part = 1.0f;
    float fdecay_step = std::exp(-8.0f * dt / inst.fdecay), fdecay_part = 1.0f;
    float bend = 1.0f;
    Svf fl, fr;
    for (size_t i = 0; i < n; i++) {
        float t = (float)i * dt;
        float env;
        if (i < gate) {
            if (t < inst.attack) {
                env = t / inst.attack;
            } else {
                env = inst.sustain + (1.0f - inst.sustain) * decay_part;
                decay_part *= decay_step;
            }
            level_at_gate = env;
        } else {
            float x = 1.0f - (t - gate_s) / inst.release;
            env = level_at_gate * x * x * x;
        }
        if ((i & 7) == 0) {
            float fe = 1.0f;
            if (t < inst.fattack) {
                fe = t / inst.fattack;
            } else {
                fe = fdecay_part;
                fdecay_part *= fdecay_step;
            }
            fl.Set(inst.cutoff + inst.env * fe, inst.reso, rate);
            fr.CopyCoefficients(fl);
            if (inst.vibrato > 0)
                bend = std::exp2(inst.vibrato / 12.0f * std::sin(two_pi * inst.vib_rate * t) *
                                 std::min(t / 0.4f, 1.0f));
        }
        float sl = 0, sr = 0;
        for (int v = 0; v < voices; v++) {
            float inc = base * ratio[v] * bend * dt;
            float p = phase[v], s;
            switch (inst.wave) {
            case Wave::Saw:
                s = 2.0f * p - 1.0f - PolyBlep(p, inc);
                break;
            case Wave::Square: {
                float q = p + 0.5f;
                q -= (float)(q >= 1.0f);
                s = (p < 0.5f ? 1.0f : -1.0f) + PolyBlep(p, inc) - PolyBlep(q, inc);
                break;
            }
            case Wave::Triangle:
                s = 4.0f * std::fabs(p - 0.5f) - 1.0f;
                break;
            case Wave::Sine:
                s = std::sin(two_pi * p);
                break;
            default:
                s = noise.Next();
                break;
            }
            p += inc;
            phase[v] = p - (float)(p >= 1.0f);
            sl += s * vl[v];
            sr += s * vr[v];
        }
        if (inst.sub > 0) {
            float s = inst.sub * std::sin(two_pi * sub_phase);
            sub_phase += base * 0.5f * bend * dt;
            sub_phase -= (float)(sub_phase >= 1.0f);
            sl += s;
            sr += s;
        }
        fl.Run(sl);
        fr.Run(sr);
        l[i] = fl.low * env * amp;
        r[i] = fr.low * env * amp;
    }
}

// Ping-pong delay with a darkening feedback path; returns into the mix.
void RunDelay(const Score &score, const std::vector<float> &send, Mix &mix)
{
    size_t len = std::max<size_t>(1, (size_t)(score.delay_time * (float)mix.rate));
    std::vector<float> dl(len, 0.0f), dr(len, 0.0f);
    float fb = score.delay_feedback;
    float damp = std::exp(-two_pi * score.delay_tone / (float)mix.rate), lp = 0;
    size_t pos = 0;
    for (size_t i = 0; i < send.size(); i++) {
        float ol = dl[pos], orr = dr[pos];
        lp = orr + damp * (lp - orr);
        dl[pos] = send[i] + lp * fb;
        dr[pos] = ol * fb;
        mix.left[i] += ol;
        mix.right[i] += orr;
        if (++pos == len)
            pos = 0;
    }
}

struct Comb {
    std::vector<float> buf;
    size_t pos = 0;
    float store = 0;
    float Run(float x, float feedback, float damp)
    {
        float out = buf[pos];
        store = out * (1.0f - damp) + store * damp;
        buf[pos] = x + store * feedback;
        if (++pos == buf.size())
            pos = 0;
        return out;
    }
};

struct Allpass {
    std::vector<float> buf;
    size_t pos = 0;
    float Run(float x)
    {
        float b = buf[pos];
        buf[pos] = x + b * 0.5f;
        if (++pos == buf.size())
            pos = 0;
        return b - x;
    }
};

// A Schroeder-Moorer room: eight damped combs and four allpasses per side, the right side
// slightly longer so the tail is wide.
void RunReverb(const Score &score, const std::vector<float> &send, Mix &mix)
{
    static const int comb_len[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static const int pass_len[4] = {556, 441, 341, 225};
    double scale = mix.rate / 44100.0;
    Comb cl[8], cr[8];
    Allpass al[4], ar[4];
    for (int i = 0; i < 8; i++) {
        cl[i].buf.assign((size_t)(comb_len[i] * scale), 0.0f);
        cr[i].buf.assign((size_t)((comb_len[i] + 23) * scale), 0.0f);
    }
    for (int i = 0; i < 4; i++) {
        al[i].buf.assign((size_t)(pass_len[i] * scale), 0.0f);
        ar[i].buf.assign((size_t)((pass_len[i] + 23) * scale), 0.0f);
    }
    float feedback = 0.7f + 0.28f * score.reverb_size, damp = 0.4f * score.reverb_damp;
    for (size_t i = 0; i < send.size(); i++) {
        float x = send[i] * 0.03f, l = 0, r = 0;
        for (int c = 0; c < 8; c++) {
            l += cl[c].Run(x, feedback, damp);
            r += cr[c].Run(x, feedback, damp);
        }
        for (int a = 0; a < 4; a++) {
            l = al[a].Run(l);
            r = ar[a].Run(r);
        }
        mix.left[i] += l;
        mix.right[i] += r;
    }
}

} // namespace

std::vector<Event> Render_Events(const Score &score, double seconds)
{
    std::vector<Event> events;
    double rate = score.rate;
    for (size_t s = 0; s < score.sections.size(); s++) {
        const Section &sec = score.sections[s];
        double end = s + 1 < score.sections.size() ? score.sections[s + 1].time : score.length;
        end = std::min(end, seconds);
        double step = 60.0 / sec.bpm / 4.0;
        for (const Use &use : sec.uses) {
            const Pattern &pat = score.patterns[use.pattern];
            bool drum = score.instruments[pat.instrument].kind != Kind::Synth;
            for (int loop = 0;; loop++) {
                double origin = sec.time + (double)loop * pat.steps * step;
                if (origin >= end || (use.once && loop > 0))
                    break;
                for (const Hit &hit : pat.hits) {
                    double t = origin + hit.step * step;
                    if (t >= end)
                        break;
                    // Held notes stop at the section's end; the release rings on past it.
                    double len = std::min(hit.length * step, end - t);
                    size_t start = (size_t)std::llround(t * rate);
                    size_t gate = std::max<size_t>(1, (size_t)std::llround(len * rate));
                    if (drum)
                        events.push_back({pat.instrument, start, gate, hit.velocity, -1});
                    for (int note : hit.notes)
                        events.push_back(
                            {pat.instrument, start, gate, hit.velocity, note + sec.transpose});
                }
            }
        }
    }
    return events;
}

namespace {

// Renders every `stride`-th event from `first` on into its own bus.
void RenderVoices(const Score &score, const std::vector<Event> &events, size_t first,
                  size_t stride, Bus &bus)
{
    std::vector<float> l, r;
    for (size_t index = first; index < events.size(); index += stride) {
        const Event &e = events[index];
        const Instrument &inst = score.instruments[e.instrument];
        Noise noise(0x9e3779b9u ^ (uint32_t)(index * 2654435761u));
        float amp = DbToGain(inst.gain_db) * e.velocity;
        l.clear();
        r.clear();
        switch (inst.kind) {
        case Kind::Kick:
            RenderKick(inst, amp, score.rate, noise, l);
            break;
        case Kind::Snare:
            RenderSnare(inst, amp, score.rate, noise, l);
            break;
        case Kind::Clap:
            RenderClap(inst, amp, score.rate, noise, l);
            break;
        case Kind::Hat:
            RenderHat(inst, amp, score.rate, noise, l, r);
            break;
        case Kind::Synth:
            RenderSynth(inst, e.note, e.gate, amp, score.rate, noise, l, r);
            break;
        }
        if (r.empty())
            r = l;
        Place(bus, inst, e.start, l, r);
    }
}

void Accumulate(std::vector<float> &into, const std::vector<float> &from)
{
    for (size_t i = 0; i < into.size(); i++)
        into[i] += from[i];
}

} // namespace

Mix Render_Mix(const Score &score, double seconds)
{
    size_t frames = (size_t)std::llround(seconds * score.rate);
    std::vector<float> duck(frames, 0.0f);
    std::vector<Event> events = Render_Events(score, seconds);

    // Kicks push the ducked instruments down for a moment: the mix breathes with the beat.
    for (const Event &e : events) {
        if (score.instruments[e.instrument].kind != Kind::Kick || e.start >= frames)
            continue;
        size_t n = std::min<size_t>((size_t)(0.4 * score.rate), frames - e.start);
        for (size_t i = 0; i < n; i++) {
            float t = (float)i / (float)score.rate;
            float d = std::min(t / 0.004f, 1.0f) * std::exp(-t / 0.09f) * e.velocity;
            duck[e.start + i] = std::max(duck[e.start + i], d);
        }
    }

    // Two halves of the voices on two threads, each into its own buses; every sum is taken
    // in a fixed order, so the result does not depend on how the threads were scheduled.
    Mix mix[2];
    std::vector<float> delay_send[2], reverb_send[2];
    std::vector<Bus> buses;
    for (int k = 0; k < 2; k++) {
        mix[k].rate = score.rate;
        mix[k].left.assign(frames, 0.0f);
        mix[k].right.assign(frames, 0.0f);
        delay_send[k].assign(frames, 0.0f);
        reverb_send[k].assign(frames, 0.0f);
    }
    Bus bus0{mix[0], delay_send[0], reverb_send[0], duck};
    Bus bus1{mix[1], delay_send[1], reverb_send[1], duck};
    std::thread other([&] { RenderVoices(score, events, 1, 2, bus1); });
    RenderVoices(score, events, 0, 2, bus0);
    other.join();

    std::thread reverb([&] {
        Accumulate(reverb_send[0], reverb_send[1]);
        RunReverb(score, reverb_send[0], mix[1]);
    });
    Accumulate(delay_send[0], delay_send[1]);
    RunDelay(score, delay_send[0], mix[0]);
    reverb.join();
    Accumulate(mix[0].left, mix[1].left);
    Accumulate(mix[0].right, mix[1].right);
    return std::move(mix[0]);
}
