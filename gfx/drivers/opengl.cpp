// The OpenGL driver: the GL library loaded at run time, a GLX visual and
// context chosen for the wanted buffer sizes, the X11 driver's window,
// thread, input and full screen with window hooks of its own, buffer swaps
// for rk_GfxFlip, and the two-dimensional helpers.
#include "gfx/drivers/opengl.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <GL/glext.h>
#include <GL/glxext.h>

#include "gfx/core/pixel.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/x11_private.h"
#include "gfx/drivers/x11_probe.h"
#include "rt/dynload.h"

GLParams __rk_gl_params;
GLXFuncs __rk_glX;
GLFuncs __rk_gl;

// The GL library (loaded once, kept for the process), the context, and the
// display connection opened by init: the X11 code takes it over at
// rk_hX11Init and closes it at rk_hX11Exit.
static void *gl_lib;
static GLXContext context;
static Display *dpy;

// The names resolved into the records, in the records' order.
static constexpr const char *glx_names[] = {"glXChooseVisual", "glXCreateContext", "glXDestroyContext",
                                            "glXMakeCurrent", "glXSwapBuffers", nullptr};
static constexpr const char *gl_names[] = {
    "glEnable", "glDisable", "glGetString", "glViewport", "glMatrixMode",
    "glLoadIdentity", "glOrtho", "glShadeModel", "glDepthMask", "glClearColor",
    "glClear", "glGenTextures", "glDeleteTextures", "glBindTexture", "glTexImage2D"};
static constexpr int kNumGL = static_cast<int>(std::size(gl_names));

template <typename Fn>
static void take(Fn &fn, void *p)
{
    fn = reinterpret_cast<Fn>(p);
}

// ---- parameters ----------------------------------------------------------

// Component sizes by colour size: index i(b) = (b + 7) / 8 - 1, kept within
// the tables (a colour size of 0 or below uses the first entry).
static constexpr int kRgbBits[4] = {0, 5, 8, 8};
static constexpr int kAlphaBits[4] = {0, 0, 0, 8};

static int size_index(int bits)
{
    return static_cast<int>(std::clamp<int64_t>((std::max<int64_t>(bits, 0) + 7) / 8 - 1, 0, 3));
}

static void complete(int32_t &v, int value)
{
    if (v == 0)
        v = value;
}

// The sum of preset sizes, held within the 32-bit range.
static int32_t sum(int64_t a, int64_t b, int64_t c, int64_t d)
{
    return static_cast<int32_t>(std::clamp<int64_t>(a + b + c + d, INT32_MIN, INT32_MAX));
}

void rk_hGL_NormalizeParameters(int flags)
{
    GLParams &p = __rk_gl_params;
    if (p.color_bits == 0)
        p.color_bits = sum(p.red_bits, p.green_bits, p.blue_bits, p.alpha_bits);
    if (p.color_bits == 0 && __rk_gfx)
        p.color_bits = __rk_gfx->depth;
    int i = size_index(p.color_bits);
    complete(p.red_bits, kRgbBits[i]);
    complete(p.green_bits, kRgbBits[i]);
    complete(p.blue_bits, kRgbBits[i]);
    complete(p.alpha_bits, kAlphaBits[i]);

    if (p.accum_bits == 0)
        p.accum_bits = sum(p.accum_red_bits, p.accum_green_bits, p.accum_blue_bits, p.accum_alpha_bits);
    int a = -1;
    if (p.accum_bits != 0)
        a = size_index(p.accum_bits);
    else if (flags & RK_MODE_ACCUMULATION_BUFFER) {
        p.accum_bits = 32;
        a = 3;
    }
    if (a >= 0) {
        complete(p.accum_red_bits, kRgbBits[a]);
        complete(p.accum_green_bits, kRgbBits[a]);
        complete(p.accum_blue_bits, kRgbBits[a]);
        complete(p.accum_alpha_bits, kAlphaBits[a]);
    }

    complete(p.depth_bits, 16);
    if (flags & RK_MODE_STENCIL_BUFFER)
        complete(p.stencil_bits, 8);
    if (flags & RK_MODE_MULTISAMPLE)
        complete(p.num_samples, 4);
}

// The GLX attributes for the completed parameters with `samples` samples
// (no multisampling at 0). Ends with None.
static std::array<int, 32> visual_attributes(int samples)
{
    const GLParams &p = __rk_gl_params;
    std::array<int, 32> a{};
    int n = 0;
    auto add = [&](int attr, int value) {
        a[static_cast<std::size_t>(n++)] = attr;
        a[static_cast<std::size_t>(n++)] = value;
    };
    a[static_cast<std::size_t>(n++)] = GLX_RGBA;
    a[static_cast<std::size_t>(n++)] = GLX_DOUBLEBUFFER;
    add(GLX_RED_SIZE, p.red_bits);
    add(GLX_GREEN_SIZE, p.green_bits);
    add(GLX_BLUE_SIZE, p.blue_bits);
    add(GLX_ALPHA_SIZE, p.alpha_bits);
    add(GLX_DEPTH_SIZE, p.depth_bits);
    if (p.stencil_bits > 0)
        add(GLX_STENCIL_SIZE, p.stencil_bits);
    if (p.accum_bits > 0) {
        add(GLX_ACCUM_RED_SIZE, p.accum_red_bits);
        add(GLX_ACCUM_GREEN_SIZE, p.accum_green_bits);
        add(GLX_ACCUM_BLUE_SIZE, p.accum_blue_bits);
        add(GLX_ACCUM_ALPHA_SIZE, p.accum_alpha_bits);
    }
    if (samples > 0) {
        add(GLX_SAMPLE_BUFFERS_ARB, 1);
        add(GLX_SAMPLES_ARB, samples);
    }
    a[static_cast<std::size_t>(n)] = None;
    return a;
}

// ---- GL functions and extensions -----------------------------------------

int rk_hGL_Init(void *lib, const char *extra)
{
    std::memset(&__rk_gl, 0, sizeof __rk_gl);
    void *p[kNumGL];
    if (rk_hDynLoadAlso(lib, gl_names, p, kNumGL) != 0)
        return -1;
    GLFuncs &g = __rk_gl;
    take(g.Enable, p[0]);
    take(g.Disable, p[1]);
    take(g.GetString, p[2]);
    take(g.Viewport, p[3]);
    take(g.MatrixMode, p[4]);
    take(g.LoadIdentity, p[5]);
    take(g.Ortho, p[6]);
    take(g.ShadeModel, p[7]);
    take(g.DepthMask, p[8]);
    take(g.ClearColor, p[9]);
    take(g.Clear, p[10]);
    take(g.GenTextures, p[11]);
    take(g.DeleteTextures, p[12]);
    take(g.BindTexture, p[13]);
    take(g.TexImage2D, p[14]);

    // A string too long for the buffer loses its cut-off last name rather
    // than keeping a prefix that could pass for a shorter name.
    const char *ext = reinterpret_cast<const char *>(g.GetString(GL_EXTENSIONS));
    std::size_t room = sizeof g.extensions - 1, len = 0;
    auto append = [&](const char *s) {
        std::size_t n = std::strlen(s);
        if (n > room - len) {
            n = room - len;
            while (n > 0 && s[n] != ' ')
                --n;
        }
        std::memcpy(g.extensions + len, s, n);
        len += n;
    };
    if (ext)
        append(ext);
    if (extra && *extra) {
        if (len > 0 && len < room && g.extensions[len - 1] != ' ')
            g.extensions[len++] = ' ';
        append(extra);
    }
    g.extensions[len] = '\0';
    return rk_hGL_ExtensionSupported("GL_EXT_bgra") ? 0 : -1;
}

// Whole names only: the match must start at the beginning or after a blank
// and end at the end or before a blank.
int rk_hGL_ExtensionSupported(const char *name)
{
    if (!name || !*name)
        return 0;
    std::size_t n = std::strlen(name);
    const char *all = __rk_gl.extensions;
    for (const char *s = std::strstr(all, name); s; s = std::strstr(s + 1, name))
        if ((s == all || s[-1] == ' ') && (s[n] == ' ' || s[n] == '\0'))
            return 1;
    return 0;
}

void *rk_hGL_GetProcAddress(const char *name)
{
    void *fn = nullptr;
    if (!gl_lib || !name || rk_hDynLoadAlso(gl_lib, &name, &fn, 1) != 0)
        return nullptr;
    return fn;
}

void *rk_GfxGetGLProcAddress(const char *name)
{
    if (!__rk_gfx || !(__rk_gfx->flags & SCREEN_OPENGL))
        return nullptr;
    return rk_hGL_GetProcAddress(name);
}

// ---- two-dimensional helpers ---------------------------------------------

void rk_hGL_SetState(int state)
{
    int changed = (__rk_gl.state ^ state) & 1;
    __rk_gl.state = state;
    if (changed && __rk_gl.Enable)
        (state & 1 ? __rk_gl.Enable : __rk_gl.Disable)(GL_TEXTURE_2D);
}

void rk_hGL_SetupProjection()
{
    const ScreenState *s = __rk_gfx;
    const GLFuncs &g = __rk_gl;
    if (!s || !g.Viewport)
        return;
    // The offset puts pixel centres on integer coordinates; the projection
    // stays in screen pixels while the viewport covers the scaled window.
    constexpr double o = 0.325;
    int f = rk_hX11Scale();
    g.Viewport(0, 0, s->w * f, s->h * f);
    g.MatrixMode(GL_PROJECTION);
    g.LoadIdentity();
    g.Ortho(-o, s->w - o, s->h - o, -o, -1.0, 1.0);
    g.MatrixMode(GL_MODELVIEW);
    g.LoadIdentity();
    g.ShadeModel(GL_FLAT);
    g.Disable(GL_DEPTH_TEST);
    g.DepthMask(GL_FALSE);
    g.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    g.Clear(GL_COLOR_BUFFER_BIT);
}

// The power of two at or above v (1 for v below 1); 0 beyond 2^30.
static uint32_t pow2_at_least(int v)
{
    if (v > (1 << 30))
        return 0;
    uint32_t p = 1;
    while (static_cast<int64_t>(p) < v)
        p <<= 1;
    return p;
}

GLuint rk_hGL_ImageCreate(const void *image, uint32_t color)
{
    const GLFuncs &g = __rk_gl;
    ImageGeometry geo;
    if (!image || !g.TexImage2D || !rk_hReadImageHeader(image, 4, &geo))
        return 0;
    uint32_t w = pow2_at_least(geo.width), h = pow2_at_least(geo.height);
    uint64_t count = static_cast<uint64_t>(w) * h;
    if (w == 0 || h == 0 || count > (1u << 28))
        return 0;
    auto *pixels = static_cast<uint32_t *>(std::calloc(count, 4));
    if (!pixels)
        return 0;
    rk_hPixelSet4(pixels, color, count);
    GLuint tex = 0;
    g.GenTextures(1, &tex);
    g.BindTexture(GL_TEXTURE_2D, tex);
    g.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(w), static_cast<GLsizei>(h), 0, GL_BGRA,
                 GL_UNSIGNED_BYTE, pixels);
    std::free(pixels);
    return tex;
}

void rk_hGL_ImageDestroy(GLuint texture)
{
    if (__rk_gl.DeleteTextures)
        __rk_gl.DeleteTextures(1, &texture);
}

// ---- window hooks (window thread) ----------------------------------------

static int floor_half(int v)
{
    return v >= 0 ? v / 2 : -((1 - v) / 2);
}

// The window of the X11 driver; in full screen only a display mode of
// exactly the window's height will do, as GL draws from the window's top.
static int opengl_window_init()
{
    Display *d = rk_x11.display;
    bool fullscreen = rk_x11.flags & RK_MODE_FULLSCREEN;
    int x = 0, y = 0;
    if (!fullscreen) {
        int f = rk_hX11Scale();
        x = floor_half(DisplayWidth(d, rk_x11.screen) - rk_x11.w * f);
        y = floor_half(DisplayHeight(d, rk_x11.screen) - rk_x11.h * f);
    }
    rk_hX11InitWindow(x, y);
    rk_x11.display_offset = 0;
    if (!fullscreen) {
        XSync(d, False);
        return 0;
    }
    int real_h = 0;
    if (rk_hX11DisplayIsLocal() && rk_hX11EnterFullscreen(&real_h) == 0 && real_h == rk_x11.h) {
        XReparentWindow(d, rk_x11.window, rk_x11.fswindow, 0, 0);
        auto w = static_cast<unsigned>(rk_x11.w), h = static_cast<unsigned>(rk_x11.h);
        XMoveResizeWindow(d, rk_x11.fswindow, 0, 0, w, h);
        XMoveResizeWindow(d, rk_x11.window, 0, 0, w, h);
        XSync(d, False);
        return 0;
    }
    rk_hX11LeaveFullscreen();
    return -1;
}

static void opengl_window_exit()
{
    if (!rk_x11.display || rk_hX11DisplayLost())
        return;
    Display *d = rk_x11.display;
    bool fullscreen = rk_x11.flags & RK_MODE_FULLSCREEN;
    if (fullscreen)
        rk_hX11LeaveFullscreen();
    rk_hX11UnmapAndWait(rk_x11.window);
    if (fullscreen)
        XUnmapWindow(d, rk_x11.fswindow);
    else if (!(rk_x11.flags & RK_MODE_NO_FRAME))
        rk_hX11UnmapAndWait(rk_x11.wmwindow);
    XSync(d, False);
}

// GL draws into the window itself: the window thread has nothing to present.
static void opengl_window_update() {}

// ---- the table -----------------------------------------------------------

static void on_io_error_exit(Display *, void *)
{
    rk_x11p.display_lost = true;
}

// A visual and a context for the completed parameters; with multisampling
// the sample count is lowered by 2 until a visual is found or none is left.
// The sample count in use, or -1 when there is no context.
static int choose_context()
{
    int samples = __rk_gl_params.num_samples > 0 ? __rk_gl_params.num_samples : 0;
    for (;;) {
        std::array<int, 32> attrs = visual_attributes(samples);
        if (XVisualInfo *vi = __rk_glX.ChooseVisual(dpy, rk_x11.screen, attrs.data())) {
            context = __rk_glX.CreateContext(dpy, vi, nullptr, True);
            if (context) {
                rk_x11.visual = vi->visual;
                rk_x11.depth = vi->depth;
                XFree(vi);
                return samples;
            }
            XFree(vi);
        }
        if (samples <= 0)
            return -1;
        samples = std::max(samples - 2, 0);
    }
}

static int driver_init(const char *title, int w, int h, int depth, int refresh_rate, int flags)
{
    std::memset(&rk_x11, 0, sizeof rk_x11);
    context = nullptr;
    if (!(flags & RK_MODE_OPENGL))
        return -1;
    rk_hGL_NormalizeParameters(flags);

    rk_x11.init = opengl_window_init;
    rk_x11.exit = opengl_window_exit;
    rk_x11.update = opengl_window_update;
    rk_hXlibInit();
    if (rk_hX11CheckDisplay() != 0)
        return -1;
    dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return -1;
    rk_x11p.display_lost = false;
    XSetIOErrorExitHandler(dpy, on_io_error_exit, nullptr);
    rk_x11.screen = DefaultScreen(dpy);

    if (!gl_lib) {
        void *p[std::size(glx_names) - 1];
        gl_lib = rk_hDynLoad("libGL.so.1", glx_names, p);
        if (!gl_lib)
            return -1;
        take(__rk_glX.ChooseVisual, p[0]);
        take(__rk_glX.CreateContext, p[1]);
        take(__rk_glX.DestroyContext, p[2]);
        take(__rk_glX.MakeCurrent, p[3]);
        take(__rk_glX.SwapBuffers, p[4]);
    }

    int samples = choose_context();
    if (samples < 0)
        return -1;
    int visual_depth = rk_x11.depth;
    rk_x11.display = dpy;
    if (int r = rk_hX11Init(title, w, h, visual_depth, refresh_rate, flags); r != 0)
        return r;
    if (!__rk_glX.MakeCurrent(rk_x11.display, rk_x11.window, context))
        return -1;
    if (rk_hGL_Init(gl_lib, nullptr) != 0)
        return -1;
    if (samples > 0)
        __rk_gl.Enable(GL_MULTISAMPLE_ARB);
    return 0;
}

// The context goes before the display it was made on; the display goes
// with the X11 code, or here when init failed before handing it over.
static void driver_exit()
{
    if (context) {
        if (!rk_x11p.display_lost) {
            __rk_glX.MakeCurrent(dpy, None, nullptr);
            __rk_glX.DestroyContext(dpy, context);
        }
        context = nullptr;
    }
    bool handed_over = rk_x11.display == dpy;
    rk_hX11Exit();
    if (dpy && !handed_over)
        XCloseDisplay(dpy);
    dpy = nullptr;
    std::memset(&__rk_gl, 0, sizeof __rk_gl);
    // gl_lib stays loaded: closing Mesa's GL loses the memory its vendor
    // and driver libraries still hold (a leak on every open and close), and
    // a library that registered exit handlers must not be gone at exit.
}

static void driver_flip()
{
    if (!context)
        return;
    rk_hX11Lock();
    if (!rk_x11p.display_lost)
        __rk_glX.SwapBuffers(rk_x11.display, rk_x11.window);
    rk_hX11Unlock();
}

const DisplayDriver rk_gfxDriverOpenGL = {
    "OpenGL",
    driver_init,
    driver_exit,
    rk_hX11Lock,
    rk_hX11Unlock,
    rk_hX11SetPalette,
    rk_hX11WaitVSync,
    rk_hX11GetMouse,
    rk_hX11SetMouse,
    rk_hX11SetWindowTitle,
    rk_hX11SetWindowPos,
    rk_hX11FetchModes,
    driver_flip,
    nullptr,
    nullptr,  // the X11 driver before it answers for the same display
    rk_hX11PaletteShown,
};
