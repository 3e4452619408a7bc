// qm-capture's library: an EGL context with a 640 × 480 framebuffer object, the demo's start-up
// without a window or timer thread, and a virtual clock that ticks the timeline itself.
#include "tools/capture/capture.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "assets/zaf.h"
#include "runtime/loading.h"
#include "scenes/boot/boot.h"
#include "timeline/scene_script.h"
#include "timeline/timeline.h"

// ---------------------------------------------------------------------------------------------
// Frame

Rgba Frame::at_gl(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height)
        throw CaptureError("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                           ") lies outside the frame");
    const uint8_t *p = &rgba[(size_t(y) * width + x) * 4];
    return Rgba{p[0], p[1], p[2], p[3]};
}

static void check_rect(const Frame &f, int x, int y, int w, int h)
{
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x + w > f.width || y + h > f.height)
        throw CaptureError("rectangle lies outside the frame or is empty");
}

MeanColour Frame::mean_gl(int x, int y, int w, int h) const
{
    check_rect(*this, x, y, w, h);
    double sum[3] = {0, 0, 0};
    for (int row = y; row < y + h; row++) {
        for (int col = x; col < x + w; col++) {
            const uint8_t *p = &rgba[(size_t(row) * width + col) * 4];
            for (int c = 0; c < 3; c++)
                sum[c] += p[c];
        }
    }
    double n = double(w) * h;
    return MeanColour{sum[0] / n, sum[1] / n, sum[2] / n};
}

bool Frame::black_gl(int x, int y, int w, int h) const
{
    check_rect(*this, x, y, w, h);
    for (int row = y; row < y + h; row++) {
        for (int col = x; col < x + w; col++) {
            const uint8_t *p = &rgba[(size_t(row) * width + col) * 4];
            if (p[0] || p[1] || p[2])
                return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Context

static EGLDisplay egl_display = EGL_NO_DISPLAY;
static EGLContext egl_context = EGL_NO_CONTEXT;
static bool capture_open;
static double capture_fps = 60.0;
static int64_t next_frame;    // the frame Capture_Step draws next
static int64_t ticks_done;    // Timeline_Tick calls made so far
static bool demo_over;
static int64_t entry_first_frame[scene_entry_count];   // -1 until the entry is entered

static void advance_clock();

static bool has_word(const char *list, const char *word)
{
    if (!list)
        return false;
    size_t n = std::strlen(word);
    for (const char *p = list; (p = std::strstr(p, word)); p += n) {
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0'))
            return true;
    }
    return false;
}

// A GPU's device display where one is present, else Mesa's surfaceless platform.
static EGLDisplay open_display()
{
    const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!get_platform_display || !has_word(client, "EGL_EXT_platform_base"))
        return eglGetDisplay(EGL_DEFAULT_DISPLAY);

    if (has_word(client, "EGL_EXT_platform_device")) {
        auto query_devices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(
            eglGetProcAddress("eglQueryDevicesEXT"));
        auto query_string = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(
            eglGetProcAddress("eglQueryDeviceStringEXT"));
        EGLDeviceEXT devices[16];
        EGLint count = 0;
        if (query_devices && query_string && query_devices(16, devices, &count)) {
            for (EGLint i = 0; i < count; i++) {
                // Mesa lists its software rasteriser as a device too; only hardware counts.
                if (has_word(query_string(devices[i], EGL_EXTENSIONS),
                             "EGL_MESA_device_software"))
                    continue;
                EGLDisplay d = get_platform_display(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr))
                    return d;
            }
        }
    }
    if (has_word(client, "EGL_MESA_platform_surfaceless"))
        return get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

template <typename F> static F gl_function(const char *name)
{
    auto f = reinterpret_cast<F>(eglGetProcAddress(name));
    if (!f)
        throw CaptureError(std::string("OpenGL function ") + name + " is missing");
    return f;
}

static void open_context()
{
    egl_display = open_display();
    if (egl_display == EGL_NO_DISPLAY || !eglInitialize(egl_display, nullptr, nullptr))
        throw CaptureError("no EGL display could be opened");
    if (!eglBindAPI(EGL_OPENGL_API))
        throw CaptureError("EGL offers no desktop OpenGL");

    // No surface is made: the context renders into its own framebuffer object.
    const EGLint config_attribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0,
                                     EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(egl_display, config_attribs, &config, 1, &count) || count < 1)
        throw CaptureError("no EGL configuration renders desktop OpenGL");
    // Compatibility profile: the scenes draw in immediate mode and with display lists.
    const EGLint context_attribs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                      EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    egl_context = eglCreateContext(egl_display, config, EGL_NO_CONTEXT, context_attribs);
    if (egl_context == EGL_NO_CONTEXT)
        egl_context = eglCreateContext(egl_display, config, EGL_NO_CONTEXT, nullptr);
    if (egl_context == EGL_NO_CONTEXT)
        throw CaptureError("no OpenGL compatibility context could be made");
    if (!eglMakeCurrent(egl_display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl_context))
        throw CaptureError("the OpenGL context cannot be made current without a surface");

    auto gen_framebuffers = gl_function<PFNGLGENFRAMEBUFFERSPROC>("glGenFramebuffers");
    auto bind_framebuffer = gl_function<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer");
    auto gen_renderbuffers = gl_function<PFNGLGENRENDERBUFFERSPROC>("glGenRenderbuffers");
    auto bind_renderbuffer = gl_function<PFNGLBINDRENDERBUFFERPROC>("glBindRenderbuffer");
    auto renderbuffer_storage =
        gl_function<PFNGLRENDERBUFFERSTORAGEPROC>("glRenderbufferStorage");
    auto framebuffer_renderbuffer =
        gl_function<PFNGLFRAMEBUFFERRENDERBUFFERPROC>("glFramebufferRenderbuffer");
    auto check_status =
        gl_function<PFNGLCHECKFRAMEBUFFERSTATUSPROC>("glCheckFramebufferStatus");

    GLuint fbo, buffers[2];
    gen_framebuffers(1, &fbo);
    bind_framebuffer(GL_FRAMEBUFFER, fbo);
    gen_renderbuffers(2, buffers);
    bind_renderbuffer(GL_RENDERBUFFER, buffers[0]);
    renderbuffer_storage(GL_RENDERBUFFER, GL_RGBA8, capture_width, capture_height);
    framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, buffers[0]);
    bind_renderbuffer(GL_RENDERBUFFER, buffers[1]);
    renderbuffer_storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, capture_width, capture_height);
    framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, buffers[1]);
    bind_renderbuffer(GL_RENDERBUFFER, 0);
    if (check_status(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        throw CaptureError("the 640 x 480 RGBA8 + depth24 framebuffer is incomplete");

    // A context made current without a surface starts with an empty viewport and scissor
    // box; a window's context starts with the window's size, and the scenes expect that.
    glViewport(0, 0, capture_width, capture_height);
    glScissor(0, 0, capture_width, capture_height);
}

void Capture_Open(const CaptureSetup &setup)
{
    if (capture_open)
        throw CaptureError("the capture is already open: the loaders run once per process");
    if (!(setup.fps > 0.0) || !std::isfinite(setup.fps))
        throw CaptureError("frames per second must be a positive number");
    open_context();
    capture_fps = setup.fps;

    // The start-up of main, in its order, with the loading sequence walked without pauses.
    std::string archive = setup.data_dir.empty()
                              ? std::string("./quiet_moss.zaf")
                              : (std::filesystem::path(setup.data_dir) / "quiet_moss.zaf").string();
    ZAF_Open(archive.c_str());
    Boot_Load();
    Loading_Walk([](uint32_t) {});
    Timeline_Prepare(&scene_script, 0);

    next_frame = 0;
    ticks_done = 0;
    demo_over = false;
    std::fill(std::begin(entry_first_frame), std::end(entry_first_frame), -1);
    capture_open = true;
}

bool Capture_IsOpen()
{
    return capture_open;
}

double Capture_Fps()
{
    return capture_fps;
}

std::string Capture_Renderer()
{
    if (!capture_open)
        return "";
    auto text = [](GLenum name) {
        const GLubyte *s = glGetString(name);
        return s ? std::string(reinterpret_cast<const char *>(s)) : std::string("?");
    };
    return text(GL_RENDERER) + ", OpenGL " + text(GL_VERSION);
}

// ---------------------------------------------------------------------------------------------
// Virtual clock

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

int64_t Capture_TicksBefore(int64_t k, double fps)
{
    double x = 100.0 * double(k) / fps;
    double whole;
    if (near_whole(x, &whole))
        return int64_t(whole);
    return int64_t(std::floor(x));
}

int64_t Capture_FrameIndex(double t, double fps)
{
    if (!(t >= 0.0) || !std::isfinite(t))
        throw CaptureError("a demo time must be a number of seconds, 0 or more");
    double x = t * fps;
    double whole;
    if (near_whole(x, &whole))
        return int64_t(whole);
    return int64_t(std::ceil(x));
}

static void require_open()
{
    if (!capture_open)
        throw CaptureError("the capture is not open");
}

int64_t Capture_NextFrame()
{
    return next_frame;
}

// The scenes never use the scissor test, so an empty box drops every fragment of a quick
// frame (the clear included) without changing anything they draw with or keep.
static void draw_current(bool quick)
{
    if (quick) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 0, 0);
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (scene_callback)
        scene_callback();
    if (quick) {
        glDisable(GL_SCISSOR_TEST);
        glScissor(0, 0, capture_width, capture_height);
    }
}

// Moves the timeline on to the next frame; true once the demo is over.
static bool advance_frame()
{
    require_open();
    advance_clock();
    bool over = Timeline_Advance() != 0;
    if (over) {
        demo_over = true;
    } else if (scene_callback == Timeline_EnterScene) {
        int entry = Capture_CurrentEntry();
        if (entry_first_frame[entry] < 0)
            entry_first_frame[entry] = next_frame;
    }
    return over;
}

int Capture_Step(bool quick)
{
    bool over = advance_frame();
    if (!over)
        draw_current(quick);
    next_frame++;
    return over;
}

// Whether the frame after the one just advanced to belongs to another entry (or to nobody).
static bool last_of_entry()
{
    float t = demo_time.load();
    for (int64_t n = Capture_TicksBefore(next_frame + 1, capture_fps) - ticks_done; n > 0; n--)
        t = t + time_step.load();   // as Timeline_Tick adds
    return t >= scene_script.end_time || Timeline_SwitchDue(t);
}

int Capture_Skip()
{
    bool over = advance_frame();
    if (!over && (scene_callback == Timeline_EnterScene || last_of_entry()))
        draw_current(true);
    next_frame++;
    return over;
}

int Capture_SkipTo(int64_t k)
{
    require_open();
    if (k < next_frame)
        throw CaptureError("frame " + std::to_string(k) + " lies before the next frame (" +
                           std::to_string(next_frame) + "): frames are drawn forward only");
    while (next_frame < k - 1) {
        if (Capture_Skip())
            return 1;
    }
    // What a render carries to the next frame comes from this one.
    return next_frame < k ? Capture_Step(true) : 0;
}

int Capture_DrawTo(int64_t k)
{
    require_open();
    if (k < next_frame)
        throw CaptureError("frame " + std::to_string(k) + " lies before the next frame (" +
                           std::to_string(next_frame) + "): frames are drawn forward only");
    while (next_frame < k) {
        if (Capture_Step(true))
            return 1;
    }
    return 0;
}

int64_t Capture_EntryFirstFrame(int entry)
{
    require_open();
    if (entry < 0 || entry >= scene_entry_count)
        throw CaptureError("no scene entry " + std::to_string(entry));
    return entry_first_frame[entry];
}

Frame Capture_Read()
{
    require_open();
    Frame f;
    f.width = capture_width;
    f.height = capture_height;
    f.rgba.resize(size_t(capture_width) * capture_height * 4);
    // Rows of 640 RGBA pixels are aligned under any pack alignment.
    glReadPixels(0, 0, capture_width, capture_height, GL_RGBA, GL_UNSIGNED_BYTE, f.rgba.data());
    return f;
}

Frame Capture_FrameAt(double t)
{
    if (!capture_open)
        Capture_Open(CaptureSetup{});
    int64_t k = Capture_FrameIndex(t, capture_fps);
    if (demo_over || Capture_SkipTo(k) || Capture_Step(false))
        throw CaptureError("demo time " + std::to_string(t) + " s lies past the end of the demo");
    return Capture_Read();
}

int Capture_CurrentEntry()
{
    require_open();
    return int(current_entry - scene_entries);
}

static void advance_clock()
{
    for (int64_t target = Capture_TicksBefore(next_frame, capture_fps); ticks_done < target;
         ticks_done++)
        Timeline_Tick(10, nullptr);
}

int Capture_PeekEntry()
{
    require_open();
    advance_clock();
    if (demo_over || demo_time.load() >= scene_script.end_time)
        return -1;
    int entry = Capture_CurrentEntry();
    if (Timeline_SwitchDue(demo_time.load()))
        return entries_left == 0 ? -1 : entry + 1;
    return entry;
}

CaptureMark Capture_Mark()
{
    require_open();
    advance_clock();
    return CaptureMark{next_frame, ticks_done, demo_time.load()};
}

void Capture_Rewind(const CaptureMark &mark)
{
    require_open();
    next_frame = mark.frame;
    ticks_done = mark.ticks;
    demo_time = mark.demo_time;
    Timeline_ResetEntryClocks();
}

// ---------------------------------------------------------------------------------------------
// PNG files

void Capture_WritePng(const Frame &frame, const std::string &path)
{
    if (frame.width <= 0 || frame.height <= 0 ||
        frame.rgba.size() != size_t(frame.width) * frame.height * 4)
        throw CaptureError("cannot write an empty or malformed frame to " + path);
    // RGB, top row first: GL's bottom row goes last.
    std::vector<uint8_t> rgb(size_t(frame.width) * frame.height * 3);
    for (int y = 0; y < frame.height; y++) {
        const uint8_t *src = &frame.rgba[size_t(frame.height - 1 - y) * frame.width * 4];
        uint8_t *dst = &rgb[size_t(y) * frame.width * 3];
        for (int x = 0; x < frame.width; x++) {
            dst[x * 3 + 0] = src[x * 4 + 0];
            dst[x * 3 + 1] = src[x * 4 + 1];
            dst[x * 3 + 2] = src[x * 4 + 2];
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = frame.width;
    image.height = frame.height;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        std::string why = image.message;
        png_image_free(&image);
        throw CaptureError("cannot write " + path + ": " + why);
    }
}

Frame Capture_ReadPng(const std::string &path)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        throw CaptureError("cannot read " + path + ": " + image.message);
    image.format = PNG_FORMAT_RGBA;
    Frame f;
    f.width = int(image.width);
    f.height = int(image.height);
    f.rgba.resize(PNG_IMAGE_SIZE(image));
    // A negative stride stores the file's top row last, as GL keeps it.
    if (!png_image_finish_read(&image, nullptr, f.rgba.data(), -int(PNG_IMAGE_ROW_STRIDE(image)),
                               nullptr)) {
        std::string why = image.message;
        png_image_free(&image);
        throw CaptureError("cannot read " + path + ": " + why);
    }
    return f;
}
