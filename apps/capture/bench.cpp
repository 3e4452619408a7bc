// qm-capture's bench: every entry's frame times at 60 fps, or those of an export's range, as a
// table or as JSON.
#include <cxxabi.h>
#include <dlfcn.h>
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/capture/stages.h"
#include "platform/output.h"
#include "timeline/scene_script.h"

using Clock = std::chrono::steady_clock;

namespace {

// The render callback's name from the program's own symbol table (the executable exports
// its symbols), so the table follows the scene script without a copy of its names.
std::string render_name(int entry)
{
    SceneCallback render = scene_entries[entry].render;
    if (!render)
        return "-";
    Dl_info info;
    if (!dladdr(reinterpret_cast<void *>(render), &info) || !info.dli_sname)
        return "?";
    int status = 0;
    char *plain = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
    std::string name = status == 0 && plain ? plain : info.dli_sname;
    std::free(plain);
    if (auto paren = name.find('('); paren != std::string::npos)
        name.erase(paren);
    return name;
}

struct EntryTimes {
    int entry;
    std::string render;
    double median_ms, p99_ms, fps;
};

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    // Nearest rank.
    size_t rank = size_t(std::ceil(p * double(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

std::string json_string(const std::string &s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (uint8_t(c) < 0x20)
            continue;
        out += c;
    }
    return out + "\"";
}

// Draws the next frame and waits for the driver to finish it; returns its milliseconds, or a
// negative number once the demo is over.
double timed_step()
{
    auto t0 = Clock::now();
    if (Player_Step(false))
        return -1.0;
    glFinish();
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

EntryTimes entry_times(int entry, const std::vector<double> &ms)
{
    double median = percentile(ms, 0.5);
    return {entry, render_name(entry), median, percentile(ms, 0.99), 1000.0 / median};
}

// n frames of every entry from its start.
std::vector<EntryTimes> bench_entries(int64_t n)
{
    const int entries = scene_script.last_index + 1;
    std::vector<EntryTimes> rows;
    std::vector<double> ms;
    ms.reserve(size_t(n));
    for (int e = 0; e < entries; e++) {
        // Earlier frames are skipped as a seek skips them: the entry finds the state playback
        // gives it.
        if (Player_SkipToEntry(e))
            throw PlayerError("entry " + std::to_string(e) + " is never reached");
        PlayerMark mark = Player_Mark();
        ms.clear();
        glFinish();
        for (int64_t i = 0; i < n; i++) {
            if (i > 0 && Player_PeekEntry() != e)
                Player_Rewind(mark);
            ms.push_back(timed_step());
        }
        rows.push_back(entry_times(e, ms));
    }
    return rows;
}

// Every frame of an export's range, drawn as the export draws it but neither read back nor
// encoded: what the export costs beyond drawing is its time less this one.
std::vector<EntryTimes> bench_range(const Options &o, int64_t *frames, double *render_s)
{
    auto [k0, k1] = Export_RangeFrames(o);
    if (Player_SkipTo(k0))
        throw PlayerError("--from lies past the end of the demo");
    std::vector<std::pair<int, std::vector<double>>> by_entry;
    *frames = 0;
    *render_s = 0;
    glFinish();
    for (int64_t k = k0; k < k1; k++) {
        double ms = timed_step();
        if (ms < 0)
            break;
        const int e = Player_CurrentEntry();
        if (by_entry.empty() || by_entry.back().first != e)
            by_entry.push_back({e, {}});
        by_entry.back().second.push_back(ms);
        ++*frames;
        *render_s += ms / 1000.0;
    }
    if (by_entry.empty())
        throw PlayerError("--from lies past the end of the demo");
    std::vector<EntryTimes> rows;
    for (const auto &[e, ms] : by_entry)
        rows.push_back(entry_times(e, ms));
    return rows;
}

}  // namespace

void Bench_Run(const Options &o, Clock::time_point started)
{
    int64_t frames = o.frames.value_or(120);
    double render_s = 0;
    const std::vector<EntryTimes> rows =
        o.from ? bench_range(o, &frames, &render_s) : bench_entries(frames);
    const EntryTimes &slowest =
        *std::min_element(rows.begin(), rows.end(),
                          [](const auto &a, const auto &b) { return a.fps < b.fps; });
    double total = std::chrono::duration<double>(Clock::now() - started).count();

    if (o.json) {
        printf("{\n  \"renderer\": %s,\n  \"frames\": %lld,\n  \"fps\": %g,\n  \"width\": %d,\n"
               "  \"height\": %d,\n  \"entries\": [\n",
               json_string(Player_Renderer()).c_str(), (long long)frames, Player_Fps(),
               Output_Width(), Output_Height());
        for (size_t i = 0; i < rows.size(); i++) {
            const auto &r = rows[i];
            printf("    {\"entry\": %d, \"render\": %s, \"median_ms\": %.3f, \"p99_ms\": %.3f, "
                   "\"fps\": %.1f}%s\n",
                   r.entry, json_string(r.render).c_str(), r.median_ms, r.p99_ms, r.fps,
                   i + 1 < rows.size() ? "," : "");
        }
        printf("  ],\n  \"min_fps\": {\"fps\": %.1f, \"entry\": %d},\n", slowest.fps,
               slowest.entry);
        if (o.from)
            printf("  \"render_s\": %.2f,\n", render_s);
        printf("  \"total_s\": %.1f\n}\n", total);
        return;
    }
    printf("# %s\n", Player_Renderer().c_str());
    if (o.from)
        printf("# %lld frames from %g s to %g s at %g fps, %d x %d\n", (long long)frames, *o.from,
               *o.to, Player_Fps(), Output_Width(), Output_Height());
    else
        printf("# %lld frames per entry at 60 fps, %d x %d\n", (long long)frames, Output_Width(),
               Output_Height());
    printf("%5s  %-24s %10s %10s %10s\n", "entry", "render", "median ms", "p99 ms", "fps");
    for (const auto &r : rows)
        printf("%5d  %-24s %10.3f %10.3f %10.1f\n", r.entry, r.render.c_str(), r.median_ms,
               r.p99_ms, r.fps);
    printf("min fps: %.1f (entry %d)\n", slowest.fps, slowest.entry);
    if (o.from)
        printf("render: %.2f s\n", render_s);
    printf("total: %.1f s\n", total);
}
