// A headless OpenGL compatibility context (EGL, no window, no X server).
#pragma once

// Makes the context current with a width × height RGBA8 + depth24 framebuffer object bound,
// viewport and scissor box covering it. Throws std::runtime_error saying what is missing.
// Once per process.
void HeadlessGL_Open(int width, int height);
