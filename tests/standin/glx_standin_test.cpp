// The OpenGL driver with this program standing in for part of the GL
// library: it exports its own glXChooseVisual, glXCreateContext,
// glXDestroyContext, glEnable and glGetString, which the runtime's loader
// finds in the program before it opens "libGL.so.1". They record what the
// driver asks for, refuse visuals, hide extensions, and otherwise hand on
// to Mesa's library on a private Xvfb.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

#include <GL/glx.h>
#include <GL/glxext.h>
#include <GL/glext.h>

#include "gfx/core/screen.h"
#include "gfx/drivers/driver.h"
#include "gfx/drivers/opengl.h"
#include "gfx/drivers/x11.h"
#include "support/pin_libraries.h"
#include "support/process_counts.h"
#include "support/xvfb.h"

namespace {

// What the stand-ins do and what they saw.
struct StandIn {
    int max_samples = 64;     // visuals with more samples are refused; -1: every visual
    bool hide_bgra = false;   // the extension string lacks "GL_EXT_bgra"
    std::vector<std::vector<int>> visual_requests;
    std::vector<GLenum> enabled;
    int live_contexts = 0;
    bool destroyed_on_open_display = true;
    std::string extensions;
};
StandIn standin;

void *real(const char *name)
{
    static void *lib = dlopen("libGL.so.1", RTLD_NOW | RTLD_GLOBAL);
    return lib ? dlsym(lib, name) : nullptr;
}

template <typename Fn>
Fn real_fn(const char *name)
{
    return reinterpret_cast<Fn>(real(name));
}

int attribute(const std::vector<int> &list, int name)
{
    // Boolean attributes (GLX_RGBA, GLX_DOUBLEBUFFER) come first and take
    // no value; the rest are pairs.
    for (std::size_t i = 2; i + 1 < list.size(); i += 2)
        if (list[i] == name)
            return list[i + 1];
    return 0;
}

}  // namespace

extern "C" XVisualInfo *glXChooseVisual(Display *dpy, int screen, int *attribs)
{
    std::vector<int> list;
    for (int *a = attribs; *a != None; ++a)
        list.push_back(*a);
    standin.visual_requests.push_back(list);
    if (standin.max_samples < 0 || attribute(list, GLX_SAMPLES_ARB) > standin.max_samples)
        return nullptr;
    return real_fn<XVisualInfo *(*)(Display *, int, int *)>("glXChooseVisual")(dpy, screen, attribs);
}

extern "C" GLXContext glXCreateContext(Display *dpy, XVisualInfo *vis, GLXContext share, Bool direct)
{
    GLXContext c =
        real_fn<GLXContext (*)(Display *, XVisualInfo *, GLXContext, Bool)>("glXCreateContext")(dpy, vis, share, direct);
    standin.live_contexts += c != nullptr;
    return c;
}

extern "C" void glXDestroyContext(Display *dpy, GLXContext ctx)
{
    // The X11 code forgets its display when it closes it.
    if (rk_x11.window && rk_x11.display != dpy)
        standin.destroyed_on_open_display = false;
    --standin.live_contexts;
    real_fn<void (*)(Display *, GLXContext)>("glXDestroyContext")(dpy, ctx);
}

extern "C" void glEnable(GLenum cap)
{
    standin.enabled.push_back(cap);
    real_fn<void (*)(GLenum)>("glEnable")(cap);
}

extern "C" const GLubyte *glGetString(GLenum name)
{
    const GLubyte *s = real_fn<const GLubyte *(*)(GLenum)>("glGetString")(name);
    if (name != GL_EXTENSIONS || !standin.hide_bgra || !s)
        return s;
    standin.extensions = reinterpret_cast<const char *>(s);
    for (std::size_t at; (at = standin.extensions.find("GL_EXT_bgra")) != std::string::npos;)
        standin.extensions.replace(at, 11, "GL_EXT_bgrx");
    return reinterpret_cast<const GLubyte *>(standin.extensions.c_str());
}

namespace {

class GLXStandIn : public ::testing::Test {
protected:
    Xvfb server;
    Display *peer = nullptr;

    void SetUp() override
    {
        pin_gl_libraries();
        ASSERT_NE(real("glXChooseVisual"), nullptr);
        ASSERT_TRUE(server.start("320x240x24"));
        peer = XOpenDisplay(nullptr);
        ASSERT_NE(peer, nullptr);
        standin = StandIn{};
        std::memset(&__rk_gl_params, 0, sizeof __rk_gl_params);
    }
    void TearDown() override
    {
        rk_GfxScreen(0, 0, 0, 0, 0);
        if (peer)
            XCloseDisplay(peer);
        server.stop();
    }

    static std::vector<int> samples_asked()
    {
        std::vector<int> v;
        for (const auto &list : standin.visual_requests)
            v.push_back(attribute(list, GLX_SAMPLES_ARB));
        return v;
    }
};

TEST_F(GLXStandIn, MultisamplingFallsBackTwoSamplesAtATime)
{
    struct Case {
        int max_samples;
        std::vector<int> asked;
        bool enabled;
    };
    const Case cases[] = {{4, {4}, true}, {2, {4, 2}, true}, {0, {4, 2, 0}, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.max_samples);
        standin = StandIn{};
        standin.max_samples = c.max_samples;
        std::memset(&__rk_gl_params, 0, sizeof __rk_gl_params);
        ASSERT_EQ(rk_GfxScreenRes(64, 48, 32, 0, RK_MODE_OPENGL | RK_MODE_MULTISAMPLE, 0), 0);
        EXPECT_EQ(__rk_gfx->driver, &rk_gfxDriverOpenGL);
        EXPECT_EQ(samples_asked(), c.asked);
        // Without samples there are no sample buffers either.
        EXPECT_EQ(attribute(standin.visual_requests.back(), GLX_SAMPLE_BUFFERS_ARB), c.enabled ? 1 : 0);
        bool enabled = std::count(standin.enabled.begin(), standin.enabled.end(), GLenum{GL_MULTISAMPLE_ARB}) > 0;
        EXPECT_EQ(enabled, c.enabled);
        EXPECT_EQ(standin.live_contexts, 1);
        rk_GfxScreen(0, 0, 0, 0, 0);
        EXPECT_EQ(standin.live_contexts, 0);
        EXPECT_TRUE(standin.destroyed_on_open_display);
    }
}

TEST_F(GLXStandIn, UnusableGLFailsWithNothingLeft)
{
    constexpr int all_buffers = RK_MODE_STENCIL_BUFFER | RK_MODE_ACCUMULATION_BUFFER | RK_MODE_MULTISAMPLE;
    struct Case {
        const char *what;
        int max_samples;
        bool hide_bgra;
        int flags;
        int attempts;  // visual requests over every pass of the selection
    };
    // Two passes (window, full screen) of two attempts each; three sample
    // counts per attempt without a visual, one with.
    const std::vector<int> all_buffers_request = {
        GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_ALPHA_SIZE, 8,
        GLX_DEPTH_SIZE, 16, GLX_STENCIL_SIZE, 8, GLX_ACCUM_RED_SIZE, 8, GLX_ACCUM_GREEN_SIZE, 8,
        GLX_ACCUM_BLUE_SIZE, 8, GLX_ACCUM_ALPHA_SIZE, 8, GLX_SAMPLE_BUFFERS_ARB, 1, GLX_SAMPLES_ARB, 4};
    const Case cases[] = {{"no visual", -1, false, all_buffers, 4 * 3}, {"no GL_EXT_bgra", 64, true, 0, 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int windows = root_child_count(peer);
        int fds = count_entries("/proc/self/fd");
        int threads = running_threads();
        standin = StandIn{};
        standin.max_samples = c.max_samples;
        standin.hide_bgra = c.hide_bgra;
        std::memset(&__rk_gl_params, 0, sizeof __rk_gl_params);
        EXPECT_EQ(rk_GfxScreenRes(64, 48, 32, 0, RK_MODE_OPENGL | c.flags, 0), 1);
        EXPECT_EQ(__rk_gfx, nullptr);
        EXPECT_EQ(static_cast<int>(standin.visual_requests.size()), c.attempts);
        EXPECT_EQ(standin.live_contexts, 0);
        EXPECT_TRUE(standin.destroyed_on_open_display);
        XSync(peer, False);
        EXPECT_EQ(root_child_count(peer), windows) << "a window left behind";
        EXPECT_EQ(count_entries("/proc/self/fd"), fds) << "a display connection left open";
        EXPECT_EQ(running_threads(), threads) << "a thread left running";
        ASSERT_FALSE(standin.visual_requests.empty());
        if (c.flags == all_buffers) {
            EXPECT_EQ(standin.visual_requests.front(), all_buffers_request);
        }
    }
}

}  // namespace
