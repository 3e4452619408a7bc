// qm-capture's library: an EGL context with a 640 × 480 framebuffer object for the start-up and
// virtual clock of playback.cpp, and frames written to and read from PNG files.
#include "tools/capture/capture.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <png.h>

#include <cstring>
#include <string>

// ---------------------------------------------------------------------------------------------
// Context

static EGLDisplay egl_display = EGL_NO_DISPLAY;
static EGLContext egl_context = EGL_NO_CONTEXT;

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
    if (egl_context == EGL_NO_CONTEXT)
        open_context();
    Capture_Start(setup);
}

std::string Capture_Renderer()
{
    if (!Capture_IsOpen())
        return "";
    auto text = [](GLenum name) {
        const GLubyte *s = glGetString(name);
        return s ? std::string(reinterpret_cast<const char *>(s)) : std::string("?");
    };
    return text(GL_RENDERER) + ", OpenGL " + text(GL_VERSION);
}

// ---------------------------------------------------------------------------------------------
// One frame at a demo time

Frame Capture_FrameAt(double t)
{
    if (!Capture_IsOpen())
        Capture_Open(CaptureSetup{});
    int64_t k = Capture_FrameIndex(t, Capture_Fps());
    // Once the demo is over, every further frame reports it.
    if (Capture_SkipTo(k) || Capture_Step(false))
        throw CaptureError("demo time " + std::to_string(t) + " s lies past the end of the demo");
    return Capture_Read();
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
