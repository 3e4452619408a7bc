// Reading the score: one statement per line, a word starting with '#' begins a comment, and a
// line that begins with white space continues the pattern or section above it.
#include "tools/synth/score.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace {

struct Line {
    const std::string &file;
    int number;

    [[noreturn]] void Fail(const std::string &message) const
    {
        throw ScoreError(file + ":" + std::to_string(number) + ": " + message);
    }
};

std::vector<std::string> Split(const std::string &text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

double Number(const Line &line, const std::string &text, const std::string &what)
{
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        line.Fail("bad number '" + text + "' for " + what);
    return value;
}

double NumberIn(const Line &line, const std::string &text, const std::string &what, double lo,
                double hi)
{
    double value = Number(line, text, what);
    if (value < lo || value > hi) {
        std::ostringstream msg;
        msg << what << " " << text << " is outside " << lo << " to " << hi;
        line.Fail(msg.str());
    }
    return value;
}

// "key=value" words after the fixed ones.
std::vector<std::pair<std::string, std::string>> Settings(const Line &line,
                                                         const std::vector<std::string> &words,
                                                         size_t first)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = first; i < words.size(); i++) {
        size_t eq = words[i].find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == words[i].size())
            line.Fail("expected key=value, got '" + words[i] + "'");
        out.emplace_back(words[i].substr(0, eq), words[i].substr(eq + 1));
    }
    return out;
}

struct Range {
    float Instrument::*field;
    double lo, hi;
};

const std::map<std::string, Range> instrument_fields = {
    {"gain", {&Instrument::gain_db, -60, 12}},    {"pan", {&Instrument::pan, -1, 1}},
    {"delay", {&Instrument::delay, 0, 1}},        {"reverb", {&Instrument::reverb, 0, 1}},
    {"duck", {&Instrument::duck, 0, 1}},          {"pitch", {&Instrument::pitch, 20, 2000}},
    {"punch", {&Instrument::punch, 20, 5000}},    {"drop", {&Instrument::drop, 0.001, 1}},
    {"tone", {&Instrument::tone, 50, 18000}},     {"detune", {&Instrument::detune, 0, 100}},
    {"spread", {&Instrument::spread, 0, 1}},      {"sub", {&Instrument::sub, 0, 1}},
    {"attack", {&Instrument::attack, 0.001, 10}}, {"decay", {&Instrument::decay, 0.001, 10}},
    {"sustain", {&Instrument::sustain, 0, 1}},    {"release", {&Instrument::release, 0.001, 10}},
    {"cutoff", {&Instrument::cutoff, 20, 18000}}, {"reso", {&Instrument::reso, 0, 0.95}},
    {"env", {&Instrument::env, -18000, 18000}},   {"fattack", {&Instrument::fattack, 0.001, 10}},
    {"fdecay", {&Instrument::fdecay, 0.001, 10}}, {"vibrato", {&Instrument::vibrato, 0, 2}},
    {"vibrate", {&Instrument::vib_rate, 0.1, 20}},
};

void ReadInstrument(Score &score, const Line &line, const std::vector<std::string> &words)
{
    static const std::map<std::string, Kind> kinds = {{"kick", Kind::Kick},
        {"snare", Kind::Snare}, {"clap", Kind::Clap}, {"hat", Kind::Hat}, {"synth", Kind::Synth}};
    static const std::map<std::string, Wave> waves = {{"saw", Wave::Saw},
        {"square", Wave::Square}, {"triangle", Wave::Triangle}, {"sine", Wave::Sine},
        {"noise", Wave::Noise}};
    if (words.size() < 3)
        line.Fail("instrument needs a name and a kind");
    Instrument inst;
    inst.name = words[1];
    for (const Instrument &other : score.instruments)
        if (other.name == inst.name)
            line.Fail("instrument '" + inst.name + "' is defined twice");
    auto kind = kinds.find(words[2]);
    if (kind == kinds.end())
        line.Fail("unknown instrument kind '" + words[2] + "' (kick, snare, clap, hat, synth)");
    inst.kind = kind->second;
    for (auto &[key, value] : Settings(line, words, 3)) {
        if (key == "wave") {
            auto wave = waves.find(value);
            if (wave == waves.end())
                line.Fail("unknown wave '" + value + "' (saw, square, triangle, sine, noise)");
            inst.wave = wave->second;
        } else if (key == "voices") {
            inst.voices = (int)NumberIn(line, value, "voices", 1, 8);
        } else {
            auto field = instrument_fields.find(key);
            if (field == instrument_fields.end())
                line.Fail("unknown instrument setting '" + key + "'");
            inst.*(field->second.field) =
                (float)NumberIn(line, value, key, field->second.lo, field->second.hi);
        }
    }
    score.instruments.push_back(inst);
}

// "c3", "f#2", "bb4": a MIDI note number.
int Note(const Line &line, const std::string &text)
{
    static const int semitone[7] = {9, 11, 0, 2, 4, 5, 7};   // a b c d e f g
    size_t i = 0;
    if (text.empty() || text[0] < 'a' || text[0] > 'g')
        line.Fail("bad note '" + text + "'");
    int pc = semitone[text[i++] - 'a'];
    if (i < text.size() && text[i] == '#')
        pc++, i++;
    else if (i + 1 < text.size() && text[i] == 'b')
        pc--, i++;
    if (i + 1 != text.size() || text[i] < '0' || text[i] > '8')
        line.Fail("bad note '" + text + "'");
    return 12 * (text[i] - '0' + 1) + pc;
}

void AddPatternTokens(Score &score, const Line &line, const std::vector<std::string> &words,
                      size_t first)
{
    Pattern &pat = score.patterns.back();
    bool drum = score.instruments[pat.instrument].kind != Kind::Synth;
    for (size_t i = first; i < words.size(); i++) {
        std::string token = words[i];
        int steps = 1;
        size_t star = token.find('*');
        if (star != std::string::npos) {
            steps = (int)NumberIn(line, token.substr(star + 1), "step count", 1, 1024);
            token = token.substr(0, star);
        }
        if (token == ".") {
        } else if (token == "-") {
            if (pat.hits.empty() || pat.hits.back().step + pat.hits.back().length != pat.steps)
                line.Fail("'-' holds nothing");
            pat.hits.back().length += steps;
        } else if (drum) {
            if (token != "x" && token != "o")
                line.Fail("drum step '" + token + "' is not x, o, . or -");
            pat.hits.push_back({pat.steps, steps, token == "x" ? 1.0f : 0.55f, {}});
        } else {
            Hit hit{pat.steps, steps, 1.0f, {}};
            size_t start = 0;
            for (;;) {
                size_t plus = token.find('+', start);
                hit.notes.push_back(Note(line, token.substr(start, plus - start)));
                if (plus == std::string::npos)
                    break;
                start = plus + 1;
            }
            pat.hits.push_back(hit);
        }
        pat.steps += steps;
    }
}

void ReadPattern(Score &score, const Line &line, const std::vector<std::string> &words)
{
    if (words.size() < 3)
        line.Fail("pattern needs a name and an instrument");
    for (const Pattern &other : score.patterns)
        if (other.name == words[1])
            line.Fail("pattern '" + words[1] + "' is defined twice");
    Pattern pat;
    pat.name = words[1];
    pat.line = line.number;
    pat.instrument = -1;
    for (size_t i = 0; i < score.instruments.size(); i++)
        if (score.instruments[i].name == words[2])
            pat.instrument = (int)i;
    if (pat.instrument < 0)
        line.Fail("unknown instrument '" + words[2] + "'");
    score.patterns.push_back(pat);
    AddPatternTokens(score, line, words, 3);
}

void AddSectionTokens(Score &score, const Line &line, const std::vector<std::string> &words,
                      size_t first)
{
    Section &sec = score.sections.back();
    for (size_t i = first; i < words.size(); i++) {
        Use use;
        std::string name = words[i];
        if (name[0] == '!') {
            use.once = true;
            name = name.substr(1);
        }
        use.pattern = -1;
        for (size_t p = 0; p < score.patterns.size(); p++)
            if (score.patterns[p].name == name)
                use.pattern = (int)p;
        if (use.pattern < 0)
            line.Fail("unknown pattern '" + name + "'");
        sec.uses.push_back(use);
    }
}

// section <demo time> <name> bpm=<n> [transpose=<n>] : <pattern> !<once> ...
void ReadSection(Score &score, const Line &line, const std::vector<std::string> &words)
{
    if (words.size() < 3)
        line.Fail("section needs a demo time and a name");
    Section sec;
    sec.time = Number(line, words[1], "section time") - score.sync;
    sec.name = words[2];
    if (sec.time < 0)
        line.Fail("section '" + sec.name + "' starts before the music (sync)");
    if (!score.sections.empty() && sec.time <= score.sections.back().time)
        line.Fail("section '" + sec.name + "' does not start after the one before it");
    size_t colon = 3;
    while (colon < words.size() && words[colon] != ":")
        colon++;
    std::vector<std::string> head(words.begin(), words.begin() + colon);
    bool has_bpm = false;
    for (auto &[key, value] : Settings(line, head, 3)) {
        if (key == "bpm")
            sec.bpm = NumberIn(line, value, "bpm", 20, 300), has_bpm = true;
        else if (key == "transpose")
            sec.transpose = (int)NumberIn(line, value, "transpose", -24, 24);
        else
            line.Fail("unknown section setting '" + key + "'");
    }
    if (!has_bpm)
        line.Fail("section '" + sec.name + "' needs bpm=");
    score.sections.push_back(sec);
    AddSectionTokens(score, line, words, colon + 1);
}

void ReadGlobal(Score &score, const Line &line, const std::vector<std::string> &words)
{
    const std::string &key = words[0];
    if (key == "master" || key == "delay" || key == "reverb") {
        for (auto &[name, value] : Settings(line, words, 1)) {
            std::string what = key + " " + name;
            if (key == "master" && name == "loudness")
                score.loudness = (float)NumberIn(line, value, what, -40, -6);
            else if (key == "master" && name == "ceiling")
                score.ceiling = (float)NumberIn(line, value, what, -12, 0);
            else if (key == "master" && name == "bitrate")
                score.bitrate = (int)NumberIn(line, value, what, 96, 320);
            else if (key == "delay" && name == "time")
                score.delay_time = (float)NumberIn(line, value, what, 0.01, 2);
            else if (key == "delay" && name == "feedback")
                score.delay_feedback = (float)NumberIn(line, value, what, 0, 0.9);
            else if (key == "delay" && name == "tone")
                score.delay_tone = (float)NumberIn(line, value, what, 200, 18000);
            else if (key == "reverb" && name == "size")
                score.reverb_size = (float)NumberIn(line, value, what, 0, 1);
            else if (key == "reverb" && name == "damp")
                score.reverb_damp = (float)NumberIn(line, value, what, 0, 1);
            else
                line.Fail("unknown setting '" + what + "'");
        }
        return;
    }
    if (words.size() != 2)
        line.Fail("'" + key + "' takes one value");
    if (key == "rate")
        score.rate = (int)NumberIn(line, words[1], "rate", 8000, 96000);
    else if (key == "sync")
        score.sync = NumberIn(line, words[1], "sync", 0, 60);
    else if (key == "length")
        score.length = NumberIn(line, words[1], "length", 1, 1200);
    else if (key == "fade")
        score.fade = NumberIn(line, words[1], "fade", 0, 30);
    else
        line.Fail("unknown statement '" + key + "'");
}

} // namespace

Score Score_Parse(const std::string &text, const std::string &file)
{
    Score score;
    score.file = file;
    std::istringstream in(text);
    std::string raw;
    enum { None, InPattern, InSection } open = None;
    for (int number = 1; std::getline(in, raw); number++) {
        Line line{file, number};
        // A comment starts at a '#' that begins a word, so "c#4" stays a note.
        size_t hash = 0;
        while ((hash = raw.find('#', hash)) != std::string::npos && hash > 0 &&
               raw[hash - 1] != ' ' && raw[hash - 1] != '\t')
            hash++;
        std::string content = raw.substr(0, hash);
        std::vector<std::string> words = Split(content);
        if (words.empty())
            continue;
        if (content[0] == ' ' || content[0] == '\t') {
            if (open == InPattern)
                AddPatternTokens(score, line, words, 0);
            else if (open == InSection)
                AddSectionTokens(score, line, words, 0);
            else
                line.Fail("indented line continues nothing");
            continue;
        }
        open = None;
        if (words[0] == "instrument") {
            ReadInstrument(score, line, words);
        } else if (words[0] == "pattern") {
            ReadPattern(score, line, words);
            open = InPattern;
        } else if (words[0] == "section") {
            if (score.length <= 0)
                line.Fail("'length' must come before the first section");
            ReadSection(score, line, words);
            if (score.sections.back().time >= score.length)
                line.Fail("section '" + words[2] + "' starts after the end of the music");
            open = InSection;
        } else {
            if (!score.sections.empty() && (words[0] == "sync" || words[0] == "length"))
                line.Fail("'" + words[0] + "' must come before the first section");
            ReadGlobal(score, line, words);
        }
    }
    for (const Pattern &pat : score.patterns)
        if (pat.steps == 0)
            Line{file, pat.line}.Fail("pattern '" + pat.name + "' has no steps");
    if (score.length <= 0)
        throw ScoreError(file + ": no 'length' given");
    if (score.sections.empty())
        throw ScoreError(file + ": no sections");
    return score;
}

Score Score_Read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ScoreError(path + ": cannot be read");
    std::ostringstream text;
    text << in.rdbuf();
    return Score_Parse(text.str(), path);
}
