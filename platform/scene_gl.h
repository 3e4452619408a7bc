// The OpenGL that the demo's drawing code calls: every file that draws includes this header in
// place of the GL headers (the scenes, the picture lists, the player and the browser's main).
// Two things make calls go elsewhere than their names say:
// - glViewport: the scenes set their viewports in their own 640 × 480 units, and natively each
//   call lands in Output_Viewport, which maps it into the output's picture. So the scenes draw
//   the same at any output size without knowing it; a viewport compiled into a list keeps the
//   mapping of its day, which is why the front ends set the output's size before the first init.
// - In the browser build every GL 1.x call lands in our layer over WebGL (platform/web/gl_compat.h),
//   which supplies what WebGL lacks (display lists, immediate mode, quads, the matrix stacks) and
//   maps viewports through the output itself, when a list replays, so that a resize reaches
//   lists too.
#pragma once

#ifdef __EMSCRIPTEN__
#include "platform/web/gl_compat.h"
#else
#include <GL/gl.h>
#include <GL/glu.h>

#include "platform/output.h"

#define glViewport Output_Viewport
#endif
