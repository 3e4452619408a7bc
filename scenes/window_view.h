// The view over the whole window in window coordinates, shared by the scenes' overlays.
#pragma once

// Viewport the whole 640 x 480 window; x 0 ... 640 and y 0 ... 480 from the lower left corner,
// one unit a pixel, z -1 ... 1; identity modelview, left current.
void View_Window(void);
