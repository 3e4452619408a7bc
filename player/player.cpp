// The demo's start-up and its frames on a virtual clock, on whatever GL context the caller has
// made current: qm-capture's EGL framebuffer, or the browser build's canvas.
#include "player/player.h"

#include "platform/scene_gl.h"   // the browser's GL layer sees quick frames' scissor

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>

#include "assets/zaf.h"
#include "platform/output.h"
#include "runtime/loading.h"
#include "scenes/boot/boot.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

// ---- module state ---------------------------------------------------------------------------

static bool player_open;
static double player_fps = 60.0;
static int64_t next_frame;    // the frame Player_Step draws next
static int64_t ticks_done;    // Timeline_Tick calls made so far
static int64_t entry_first_frame[scene_entry_count];   // -1 until the entry is entered

// Helpers, defined at the end of the file.
static void require_open();
static void check_setup(const PlayerSetup &setup);
static void reset_counters();
static void reset_gl_state();
static void advance_clock();
static bool advance_frame();
static bool last_of_entry();
static void draw_current(bool quick);
static bool near_whole(double x, double *whole);

// ---- frames ---------------------------------------------------------------------------------

Rgba Frame::at_gl(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        throw PlayerError("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                           ") lies outside the frame");
    const uint8_t *p = &rgba[(size_t(y) * width + x) * 4];
    return Rgba{p[0], p[1], p[2], p[3]};
}

Frame Frame::box_down(int x, int y, int w, int h, int tw, int th) const
{
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > width || y + h > height)
        throw PlayerError("rectangle lies outside the frame or is empty");
    if (tw <= 0 || th <= 0 || tw > w || th > h)
        throw PlayerError("a box filter only shrinks, to a size of at least 1 x 1");
    Frame out;
    out.width = tw;
    out.height = th;
    out.rgba.resize(size_t(tw) * th * 4);
    for (int ty = 0; ty < th; ty++) {
        // Each target pixel averages the source pixels whose index maps onto it.
        int y0 = y + int(int64_t(ty) * h / th), y1 = y + int(int64_t(ty + 1) * h / th);
        for (int tx = 0; tx < tw; tx++) {
            int x0 = x + int(int64_t(tx) * w / tw), x1 = x + int(int64_t(tx + 1) * w / tw);
            double sum[3] = {0, 0, 0};
            for (int row = y0; row < y1; row++) {
                for (int col = x0; col < x1; col++) {
                    const uint8_t *p = &rgba[(size_t(row) * width + col) * 4];
                    for (int c = 0; c < 3; c++)
                        sum[c] += p[c];
                }
            }
            const double n = double(x1 - x0) * (y1 - y0);
            uint8_t *p = &out.rgba[(size_t(ty) * tw + tx) * 4];
            for (int c = 0; c < 3; c++)
                p[c] = uint8_t(sum[c] / n);
            p[3] = 255;
        }
    }
    return out;
}

// ---- start-up and restart -------------------------------------------------------------------

void Player_Start(const PlayerSetup &setup)
{
    check_setup(setup);
    player_fps = setup.fps;
    // Before the first init compiles a viewport into a list.
    Output_SetSize(setup.width, setup.height);

    // The start-up of main, in its order, with the loading sequence walked without pauses.
    std::string archive = setup.data_dir.empty()
                              ? std::string("./quiet_moss.zaf")
                              : (std::filesystem::path(setup.data_dir) / "quiet_moss.zaf").string();
    ZAF_Open(archive.c_str());
    Boot_Load();
    Loading_Walk(0, [](uint32_t) {});
    Timeline_Prepare(&scene_script, 0);
    reset_counters();
    player_open = true;
}

void Player_StartLoaded(const PlayerSetup &setup)
{
    check_setup(setup);
    player_fps = setup.fps;
    Output_SetSize(setup.width, setup.height);
    player_open = true;
    Player_Restart();
}

void Player_Restart()
{
    require_open();
    reset_gl_state();
    // The viewport and scissor box a new context starts with, and a black output.
    Output_SetSize(Output_Width(), Output_Height());
    // The loading sequence's end state stays: every loader flag up and the clock's step set.
    Timeline_Reset();
    Timeline_Prepare(&scene_script, 0);
    reset_counters();
}

bool Player_IsOpen()
{
    return player_open;
}

double Player_Fps()
{
    return player_fps;
}

std::string Player_Renderer()
{
    if (!Player_IsOpen())
        return "";
    auto text = [](GLenum name) {
        const GLubyte *s = glGetString(name);
        return s ? std::string(reinterpret_cast<const char *>(s)) : std::string("?");
    };
    return text(GL_RENDERER) + ", OpenGL " + text(GL_VERSION);
}

// ---- virtual clock --------------------------------------------------------------------------

int64_t Player_TicksBefore(int64_t k, double fps)
{
    double x = 100.0 * double(k) / fps;
    double whole;
    if (near_whole(x, &whole))
        return int64_t(whole);
    return int64_t(std::floor(x));
}

int64_t Player_FrameIndex(double t, double fps)
{
    if (!(t >= 0.0) || !std::isfinite(t))
        throw PlayerError("a demo time must be a number of seconds, 0 or more");
    double x = t * fps;
    double whole;
    if (near_whole(x, &whole))
        return int64_t(whole);
    return int64_t(std::ceil(x));
}

// ---- stepping and skipping ------------------------------------------------------------------

int64_t Player_NextFrame()
{
    return next_frame;
}

int Player_Step(bool quick)
{
    bool over = advance_frame();
    if (!over)
        draw_current(quick);
    next_frame++;
    return over;
}

int Player_Skip()
{
    bool over = advance_frame();
    if (!over && (Timeline_Entering() || last_of_entry()))
        draw_current(true);
    next_frame++;
    return over;
}

int Player_SkipTo(int64_t k)
{
    require_open();
    if (k < next_frame)
        throw PlayerError("frame " + std::to_string(k) + " lies before the next frame (" +
                           std::to_string(next_frame) + "): frames are drawn forward only");
    while (next_frame < k - 1) {
        if (Player_Skip())
            return 1;
    }
    // What a render carries to the next frame comes from this one.
    return next_frame < k ? Player_Step(true) : 0;
}

int Player_DrawTo(int64_t k)
{
    require_open();
    if (k < next_frame)
        throw PlayerError("frame " + std::to_string(k) + " lies before the next frame (" +
                           std::to_string(next_frame) + "): frames are drawn forward only");
    while (next_frame < k) {
        if (Player_Step(true))
            return 1;
    }
    return 0;
}

int Player_PeekEntry()
{
    require_open();
    advance_clock();
    const SceneEntry *entry = Timeline_EntryAhead(0);
    return entry ? int(entry - scene_entries) : -1;
}

int Player_SkipToEntry(int entry)
{
    require_open();
    const int first = int(scene_script.first_entry - scene_entries);
    if (entry < first || entry > first + scene_script.last_index)
        throw PlayerError("scene entry " + std::to_string(entry) + " is not played");
    for (;;) {
        const int next = Player_PeekEntry();
        if (next == entry)
            return 0;
        if (next < 0)
            return 1;
        if (next > entry)
            throw PlayerError("scene entry " + std::to_string(entry) +
                              " has passed: frames are drawn forward only");
        Player_Skip();
    }
}

int64_t Player_EntryFirstFrame(int entry)
{
    require_open();
    if (entry < 0 || entry >= scene_entry_count)
        throw PlayerError("no scene entry " + std::to_string(entry));
    return entry_first_frame[entry];
}

Frame Player_Read()
{
    require_open();
    Frame f;
    f.width = Output_Width();
    f.height = Output_Height();
    f.rgba.resize(size_t(f.width) * f.height * 4);
    // Rows of RGBA pixels are aligned under any pack alignment.
    glReadPixels(0, 0, f.width, f.height, GL_RGBA, GL_UNSIGNED_BYTE, f.rgba.data());
    return f;
}

int Player_CurrentEntry()
{
    require_open();
    return int(current_entry - scene_entries);
}

PlayerMark Player_Mark()
{
    require_open();
    advance_clock();
    return PlayerMark{next_frame, ticks_done, demo_time.load()};
}

void Player_Rewind(const PlayerMark &mark)
{
    require_open();
    next_frame = mark.frame;
    ticks_done = mark.ticks;
    demo_time = mark.demo_time;
    Timeline_ResetEntryClocks();
}

// ---- helpers --------------------------------------------------------------------------------

static void require_open()
{
    if (!player_open)
        throw PlayerError("the player is not open");
}

static void check_setup(const PlayerSetup &setup)
{
    if (player_open)
        throw PlayerError("the player is already open: the loaders run once per process");
    if (!(setup.fps > 0.0) || !std::isfinite(setup.fps))
        throw PlayerError("frames per second must be a positive number");
    if (!Output_SizeFits(setup.width, setup.height))
        throw PlayerError("an output size needs both dimensions from " +
                          std::to_string(output_min_size) + " to " +
                          std::to_string(output_max_size));
}

static void reset_counters()
{
    next_frame = 0;
    ticks_done = 0;
    std::fill(std::begin(entry_first_frame), std::end(entry_first_frame), -1);
}

// What a new context holds, for every piece of GL state that the scenes and the picture lists
// change: the first entries inherit it, as they do in a fresh process. Colour and texture
// coordinate are current values that a vertex without its own would take.
static void reset_gl_state()
{
    for (GLenum cap : {GL_BLEND, GL_CULL_FACE, GL_DEPTH_TEST, GL_LIGHTING, GL_TEXTURE_2D})
        glDisable(cap);
    glBlendFunc(GL_ONE, GL_ZERO);
    glClearColor(0, 0, 0, 0);
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glShadeModel(GL_SMOOTH);
    glColor4f(1, 1, 1, 1);
    glTexCoord2f(0, 0);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    for (GLenum mode : {GL_PROJECTION, GL_MODELVIEW}) {
        glMatrixMode(mode);
        glLoadIdentity();
    }
}

static void advance_clock()
{
    for (int64_t target = Player_TicksBefore(next_frame, player_fps); ticks_done < target;
         ticks_done++)
        Timeline_Tick(10, nullptr);
}

// Moves the timeline on to the next frame; true once the demo is over.
static bool advance_frame()
{
    require_open();
    advance_clock();
    bool over = Timeline_Advance() != 0;
    if (!over && Timeline_Entering()) {
        int entry = Player_CurrentEntry();
        if (entry_first_frame[entry] < 0)
            entry_first_frame[entry] = next_frame;
    }
    return over;
}

// Whether the frame after the one just advanced to belongs to another entry (or to nobody).
static bool last_of_entry()
{
    const int64_t ticks = Player_TicksBefore(next_frame + 1, player_fps) - ticks_done;
    return Timeline_EntryAhead(ticks) != current_entry;
}

// The scenes never touch the scissor test, which the output keeps on around the picture, so an
// empty box drops every fragment of a quick frame (the clear included) without changing
// anything they draw with or keep.
static void draw_current(bool quick)
{
    if (quick)
        glScissor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (scene_callback)
        scene_callback();
    if (quick) {
        const OutputRect p = Output_Picture();
        glScissor(p.x, p.y, p.width, p.height);
    }
}

// Whole numbers computed in floating point may land a hair off; within this they count as whole.
static bool near_whole(double x, double *whole)
{
    double r = std::nearbyint(x);
    if (std::fabs(x - r) <= 1e-9 * std::max(1.0, std::fabs(x))) {
        *whole = r;
        return true;
    }
    return false;
}

