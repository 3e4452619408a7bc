// The score: instruments, patterns and an arrangement of timed sections, read from a text
// file (see data/music/quiet_moss.score for the language).
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

enum class Kind { Kick, Snare, Clap, Hat, Synth };
enum class Wave { Saw, Square, Triangle, Sine, Noise };

struct Instrument {
    std::string name;
    Kind kind = Kind::Synth;
    // Shared by every kind.
    float gain_db = 0, pan = 0, delay = 0, reverb = 0, duck = 0;
    // Drums: body pitch and where it starts, decay of the body or noise, filter frequency.
    float pitch = 50, punch = 150, drop = 0.03f, tone = 8000;
    // Synth voices.
    Wave wave = Wave::Saw;
    int voices = 1;
    float detune = 0, spread = 0, sub = 0;
    float attack = 0.005f, decay = 0.2f, sustain = 0.7f, release = 0.1f;
    float cutoff = 18000, reso = 0, env = 0, fattack = 0.001f, fdecay = 0.3f;
    float vibrato = 0, vib_rate = 5;
};

// One token of a pattern: a hit or a chord, starting at a step and lasting some steps.
struct Hit {
    int step = 0;
    int length = 1;
    float velocity = 1;
    std::vector<int> notes;   // MIDI numbers; empty for drums
};

struct Pattern {
    std::string name;
    int instrument = 0;
    int steps = 0;            // loop length in sixteenths
    int line = 0;             // where it was defined, for messages
    std::vector<Hit> hits;
};

struct Use {
    int pattern = 0;
    bool once = false;        // played once from the section start instead of looped
};

struct Section {
    std::string name;
    double time = 0;          // music time, seconds
    double bpm = 120;
    int transpose = 0;
    std::vector<Use> uses;
};

struct Score {
    std::string file;
    int rate = 44100;
    double sync = 0;          // demo time at which the music starts
    double length = 0;        // seconds of music
    double fade = 2;          // fade-out at the very end, seconds
    float loudness = -14, ceiling = -1.5f;
    int bitrate = 192;
    float delay_time = 0.375f, delay_feedback = 0.35f, delay_tone = 3000;
    float reverb_size = 0.8f, reverb_damp = 0.4f;
    std::vector<Instrument> instruments;
    std::vector<Pattern> patterns;
    std::vector<Section> sections;
};

// A malformed score: what() is "file:line: message".
struct ScoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Score Score_Read(const std::string &path);
Score Score_Parse(const std::string &text, const std::string &file);
