// The output: a framebuffer of any size holding the demo's 4:3 picture, the largest that fits,
// centred, with black bars beside or above and below it. The scenes keep drawing in their own
// 640 × 480 units: every viewport they set is mapped into the picture.
#pragma once

#include <GL/gl.h>

struct OutputRect {
    int x, y, width, height;
    bool operator==(const OutputRect &) const = default;
};

// The scenes' own units: every viewport they set lies in a window of this size, which is also the
// output's size where none is asked for.
constexpr int scene_width = 640;
constexpr int scene_height = 480;

// The sizes an output may have, in each dimension.
constexpr int output_min_size = 64;
constexpr int output_max_size = 7680;

// Whether width × height lies within those sizes.
bool Output_SizeFits(int width, int height);
// Reads "WxH" (digits, an x, digits, nothing else) within those sizes; false if it is not one.
bool Output_ParseSize(const char *text, int *width, int *height);

// Sets the output's size on the current context: clears the whole framebuffer black, confines
// drawing to the picture (scissor test on, box on the picture) and sets the viewport a window's
// context starts with, the picture's. A viewport compiled into a display list keeps the mapping
// of its day, so natively this comes before the first scene's init.
void Output_SetSize(int width, int height);
int Output_Width();
int Output_Height();
// The picture's rectangle in the output's pixels, y counted from the bottom.
OutputRect Output_Picture();
// A rectangle in the scenes' units mapped into the picture: edges map one by one, so
// rectangles that meet in the scenes' units meet in the output. At the scenes' size it is the
// rectangle itself.
OutputRect Output_Map(int x, int y, int width, int height);
// glViewport in the scenes' units; the scenes' glViewport calls land here (natively when they
// are made, in the browser's GL layer when they run, so that a resize reaches lists too).
void Output_Viewport(GLint x, GLint y, GLsizei width, GLsizei height);
// Clears the bars black without touching the picture or the clear colour, for a window whose
// back buffer is not kept from frame to frame. Nothing to do where the picture fills the output.
void Output_ClearBars();
