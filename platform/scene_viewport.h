// Force-included into the demo core's sources: the scenes draw in 640 × 480 units, and their
// viewports are mapped into the output's picture (platform/output.h) without their knowing it.
#pragma once

#include <GL/gl.h>

#include "platform/output.h"

#define glViewport Output_Viewport
