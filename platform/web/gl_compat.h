// The OpenGL 1.x the scenes draw with, on top of emscripten's legacy GL emulation (WebGL 1).
// In the browser build every file that draws includes it through platform/scene_gl.h, so the
// scenes keep their plain GL calls; the names below are redirected to qmgl_* functions in
// gl_compat.cpp.
//
// What the emulation lacks, and what this layer does about it — exactly the calls the scenes make:
//
// | Call                            | Emulation                          | Here                              |
// |---------------------------------|------------------------------------|-----------------------------------|
// | glNewList / glEndList /         | missing                            | a list records its calls once:    |
// |   glCallList                    |                                    |   vertices as interleaved arrays, |
// |                                 |                                    |   state calls as replayable ops   |
// | glBegin / glEnd, glVertex*,     | a glColor before several vertices  | our own immediate mode: every     |
// |   glColor4f(v), glTexCoord2f    |   is mishandled                    |   vertex carries colour and       |
// |                                 |                                    |   texcoord; drawn as arrays       |
// |                                 | colours reach the shader unclamped | clamped to [0, 1] as given        |
// | GL_QUADS, GL_QUAD_STRIP,        | QUAD_STRIP refused                 | turned into GL_TRIANGLES at       |
// |   GL_TRIANGLE_FAN               |                                    |   glEnd, winding kept             |
// | glTexImage2D in a list          | re-uploads each call; WebGL has no | uploaded once, when the list is   |
// |                                 |   texture object 0                 |   compiled; replay binds it       |
// | glTexImage2D, internal format 3 | refused                            | GL_RGB (4: GL_RGBA)               |
// | glTexParameteri(..., GL_CLAMP)  | refused                            | GL_CLAMP_TO_EDGE; the parameters  |
// |                                 |                                    |   of texture 0 apply to every     |
// |                                 |                                    |   list texture, as they do natively|
// | gluPerspective, gluLookAt       | replace the matrix                 | computed as libGLU does, and      |
// |                                 |                                    |   multiplied onto the matrix      |
// | glPolygonMode                   | does nothing                       | GL_FILL is all the scenes ask for |
// | glShadeModel                    | warns                              | GL_SMOOTH is all they ask for     |
// | glMatrixMode, glLoadIdentity,   | one call into JavaScript per call, | our own stacks, single precision  |
// |   glLoadMatrixf, glTranslatef,  |   and per draw the matrices again  |   as GL's; vertices reach the     |
// |   glRotatef, glScalef, glOrtho, |                                    |   emulation in eye coordinates,   |
// |   glPush/PopMatrix              |                                    |   the projection once per batch   |
// | every draw                      | costly per call                    | batched until GL state changes    |
// | a list's draw of 6144+ vertices | uploads client arrays every call   | uploaded once into a buffer       |
// | a draw in an empty scissor box   | transformed and sent, then cut     | not sent: the player's quick      |
// |                                 |                                    |   frames keep only their state    |
// | glFlush, glFinish, glScissor,   | present                            | the batch drawn first             |
// |   glReadPixels                  |                                    |                                   |
// | glViewport, glClear, glEnable,  | present                            | the batch drawn first; recorded   |
// |   glBlendFunc, glFrontFace, ... |                                    |   inside a list                   |
//
// Anything else (another primitive, another polygon mode, a list compiled and executed, a
// projective modelview matrix) stops the program with a message naming it, rather than drawing
// something wrong.
#pragma once

#include <GL/gl.h>
#include <GL/glu.h>

#ifdef __cplusplus
extern "C" {
#endif

void qmgl_Begin(GLenum mode);
void qmgl_End(void);
void qmgl_Vertex2f(GLfloat x, GLfloat y);
void qmgl_Vertex3f(GLfloat x, GLfloat y, GLfloat z);
void qmgl_Vertex3fv(const GLfloat *v);
void qmgl_Color4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a);
void qmgl_Color4fv(const GLfloat *v);
void qmgl_TexCoord2f(GLfloat s, GLfloat t);

void qmgl_NewList(GLuint list, GLenum mode);
void qmgl_EndList(void);
void qmgl_CallList(GLuint list);

void qmgl_MatrixMode(GLenum mode);
void qmgl_LoadIdentity(void);
void qmgl_LoadMatrixf(const GLfloat *m);
void qmgl_Translatef(GLfloat x, GLfloat y, GLfloat z);
void qmgl_Rotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);
void qmgl_Scalef(GLfloat x, GLfloat y, GLfloat z);
void qmgl_PushMatrix(void);
void qmgl_PopMatrix(void);
void qmgl_Ortho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f);
void qmgl_Perspective(GLdouble fovy, GLdouble aspect, GLdouble near, GLdouble far);
void qmgl_LookAt(GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz,
                 GLdouble ux, GLdouble uy, GLdouble uz);
void qmgl_Viewport(GLint x, GLint y, GLsizei w, GLsizei h);
void qmgl_Clear(GLbitfield mask);
void qmgl_ClearColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a);
void qmgl_Enable(GLenum cap);
void qmgl_Disable(GLenum cap);
void qmgl_BlendFunc(GLenum s, GLenum d);
void qmgl_FrontFace(GLenum mode);
void qmgl_CullFace(GLenum mode);
void qmgl_ShadeModel(GLenum mode);
void qmgl_PolygonMode(GLenum face, GLenum mode);
void qmgl_TexEnvi(GLenum target, GLenum pname, GLint param);
void qmgl_TexParameteri(GLenum target, GLenum pname, GLint param);
void qmgl_TexImage2D(GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h,
                     GLint border, GLenum format, GLenum type, const void *pixels);
void qmgl_Flush(void);
void qmgl_Finish(void);
void qmgl_Scissor(GLint x, GLint y, GLsizei w, GLsizei h);
void qmgl_ReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type,
                     void *pixels);

#ifdef __cplusplus
}
#endif

#ifndef QM_GL_COMPAT_IMPLEMENTATION
#define glBegin qmgl_Begin
#define glEnd qmgl_End
#define glVertex2f qmgl_Vertex2f
#define glVertex3f qmgl_Vertex3f
#define glVertex3fv qmgl_Vertex3fv
#define glColor4f qmgl_Color4f
#define glColor4fv qmgl_Color4fv
#define glTexCoord2f qmgl_TexCoord2f
#define glNewList qmgl_NewList
#define glEndList qmgl_EndList
#define glCallList qmgl_CallList
#define glMatrixMode qmgl_MatrixMode
#define glLoadIdentity qmgl_LoadIdentity
#define glLoadMatrixf qmgl_LoadMatrixf
#define glTranslatef qmgl_Translatef
#define glRotatef qmgl_Rotatef
#define glScalef qmgl_Scalef
#define glPushMatrix qmgl_PushMatrix
#define glPopMatrix qmgl_PopMatrix
#define glOrtho qmgl_Ortho
#define gluPerspective qmgl_Perspective
#define gluLookAt qmgl_LookAt
#define glViewport qmgl_Viewport
#define glClear qmgl_Clear
#define glClearColor qmgl_ClearColor
#define glEnable qmgl_Enable
#define glDisable qmgl_Disable
#define glBlendFunc qmgl_BlendFunc
#define glFrontFace qmgl_FrontFace
#define glCullFace qmgl_CullFace
#define glShadeModel qmgl_ShadeModel
#define glPolygonMode qmgl_PolygonMode
#define glTexEnvi qmgl_TexEnvi
#define glTexParameteri qmgl_TexParameteri
#define glTexImage2D qmgl_TexImage2D
#define glFlush qmgl_Flush
#define glFinish qmgl_Finish
#define glScissor qmgl_Scissor
#define glReadPixels qmgl_ReadPixels
#endif
