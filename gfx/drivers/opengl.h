// The OpenGL display driver: a GL context on the X11 driver's window, with
// the GL library loaded at run time from "libGL.so.1". The program draws
// with GL itself and shows each frame through rk_GfxFlip.
#pragma once
#include <cstdint>

#include <GL/glx.h>

#include "gfx/core/display.h"
// The buffer flags, the wanted sizes (__rk_gl_params) and
// rk_GfxGetGLProcAddress are public.
#include "rkgfx.h"

using GLParams = RkGLParams;

// The GLX entry points the driver needs.
struct GLXFuncs {
    XVisualInfo *(*ChooseVisual)(Display *dpy, int screen, int *attribs);
    GLXContext (*CreateContext)(Display *dpy, XVisualInfo *vis, GLXContext share, Bool direct);
    void (*DestroyContext)(Display *dpy, GLXContext ctx);
    Bool (*MakeCurrent)(Display *dpy, GLXDrawable drawable, GLXContext ctx);
    void (*SwapBuffers)(Display *dpy, GLXDrawable drawable);
};
extern GLXFuncs __rk_glX;

inline constexpr int RK_GL_EXTENSIONS_SIZE = 16384;

// The GL entry points of the two-dimensional helpers, the texturing state
// and the extension string of the current context.
struct GLFuncs {
    void (*Enable)(GLenum cap);
    void (*Disable)(GLenum cap);
    const GLubyte *(*GetString)(GLenum name);
    void (*Viewport)(GLint x, GLint y, GLsizei w, GLsizei h);
    void (*MatrixMode)(GLenum mode);
    void (*LoadIdentity)();
    void (*Ortho)(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble near_val,
                  GLdouble far_val);
    void (*ShadeModel)(GLenum mode);
    void (*DepthMask)(GLboolean flag);
    void (*ClearColor)(GLclampf r, GLclampf g, GLclampf b, GLclampf a);
    void (*Clear)(GLbitfield mask);
    void (*GenTextures)(GLsizei n, GLuint *textures);
    void (*DeleteTextures)(GLsizei n, const GLuint *textures);
    void (*BindTexture)(GLenum target, GLuint texture);
    void (*TexImage2D)(GLenum target, GLint level, GLint internal_format, GLsizei w, GLsizei h, GLint border,
                       GLenum format, GLenum type, const void *pixels);
    int state;  // bit 0: two-dimensional texturing on
    char extensions[RK_GL_EXTENSIONS_SIZE];
};
extern GLFuncs __rk_gl;

extern const DisplayDriver rk_gfxDriverOpenGL;

// A GL function by name from the loaded GL library, or null.
void *rk_hGL_GetProcAddress(const char *name);
// Completes __rk_gl_params for the open screen's depth and the mode flags.
void rk_hGL_NormalizeParameters(int flags);
// Resolves __rk_gl from `lib` and reads the extension string of the current
// context, followed by `extra` when given. 0 when the driver can use this
// GL (it has "GL_EXT_bgra"), else nonzero.
[[nodiscard]] int rk_hGL_Init(void *lib, const char *extra);
// 1 when `name` is one of the extensions read by rk_hGL_Init, else 0.
int rk_hGL_ExtensionSupported(const char *name);
// Stores the state; turns two-dimensional texturing on or off when bit 0
// changes.
void rk_hGL_SetState(int state);
// A two-dimensional projection of the screen: y grows downwards and pixel
// centres fall on integer coordinates; the buffer is cleared to black.
void rk_hGL_SetupProjection();
// A texture of the image's size rounded up to powers of two, filled with
// `color` (0xAARRGGBB). 0 when none could be made.
GLuint rk_hGL_ImageCreate(const void *image, uint32_t color);
void rk_hGL_ImageDestroy(GLuint texture);
