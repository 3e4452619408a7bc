// A headless OpenGL context through EGL: a GPU's device platform where one is present, else
// Mesa's surfaceless platform, rendering into a framebuffer object of its own.
#include "platform/headless_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>
#include <stdexcept>
#include <string>

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
        throw std::runtime_error(std::string("OpenGL function ") + name + " is missing");
    return f;
}

void HeadlessGL_Open(int width, int height)
{
    egl_display = open_display();
    if (egl_display == EGL_NO_DISPLAY || !eglInitialize(egl_display, nullptr, nullptr))
        throw std::runtime_error("no EGL display could be opened");
    if (!eglBindAPI(EGL_OPENGL_API))
        throw std::runtime_error("EGL offers no desktop OpenGL");

    // No surface is made: the context renders into its own framebuffer object.
    const EGLint config_attribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0,
                                     EGL_NONE};
    EGLConfig config;
    EGLint count = 0;
    if (!eglChooseConfig(egl_display, config_attribs, &config, 1, &count) || count < 1)
        throw std::runtime_error("no EGL configuration renders desktop OpenGL");
    // Compatibility profile: the scenes draw in immediate mode and with display lists.
    const EGLint context_attribs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                      EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
    egl_context = eglCreateContext(egl_display, config, EGL_NO_CONTEXT, context_attribs);
    if (egl_context == EGL_NO_CONTEXT)
        egl_context = eglCreateContext(egl_display, config, EGL_NO_CONTEXT, nullptr);
    if (egl_context == EGL_NO_CONTEXT)
        throw std::runtime_error("no OpenGL compatibility context could be made");
    if (!eglMakeCurrent(egl_display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl_context))
        throw std::runtime_error("the OpenGL context cannot be made current without a surface");

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
    renderbuffer_storage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, buffers[0]);
    bind_renderbuffer(GL_RENDERBUFFER, buffers[1]);
    renderbuffer_storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, buffers[1]);
    bind_renderbuffer(GL_RENDERBUFFER, 0);
    if (check_status(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
        throw std::runtime_error("the " + std::to_string(width) + " x " + std::to_string(height) +
                                 " RGBA8 + depth24 framebuffer is incomplete");

    // A context made current without a surface starts with an empty viewport and scissor
    // box; a window's context starts with the window's size, and the scenes expect that.
    glViewport(0, 0, width, height);
    glScissor(0, 0, width, height);
}
