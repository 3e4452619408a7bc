#include "scenes/window_view.h"

#include "platform/scene_gl.h"   // viewports in the scenes' units; the browser's GL layer

void View_Window(void)
{
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 640, 0, 480, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}
