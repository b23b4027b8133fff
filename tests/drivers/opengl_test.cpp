// The OpenGL driver against a real Xvfb with Mesa's software GLX: frames
// cleared through GL functions found by name and read back from the server,
// the completion of the wanted buffer sizes, full screen without letterbox,
// screens opened again after closing, and servers it cannot use.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <GL/gl.h>

#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/driver.h"
#include "gfx/drivers/opengl.h"
#include "gfx/drivers/x11.h"
#include "support/pin_libraries.h"
#include "support/process_counts.h"
#include "support/xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;

class OpenGLTest : public ::testing::Test {
protected:
    Xvfb server;
    Display *peer = nullptr;

    void SetUp() override
    {
        std::memset(&__rk_gl_params, 0, sizeof __rk_gl_params);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        unsetenv("RIVEZ_SCALE");
        unsetenv("GDK_SCALE");
        pin_gl_libraries();
    }
    void TearDown() override
    {
        rk_GfxScreen(0, 0, 0, 0, 0);
        __rk_gfx_driver_name = nullptr;
        if (peer)
            XCloseDisplay(peer);
        peer = nullptr;
        server.stop();
    }

    void boot(const char *geometry, const char *without = nullptr)
    {
        ASSERT_TRUE(server.start(geometry, false, without));
        peer = XOpenDisplay(nullptr);
        ASSERT_NE(peer, nullptr);
    }

    // Opens a 32-bit screen with a context.
    static int open_gl(int w, int h, int flags = 0)
    {
        return rk_GfxScreenRes(w, h, 32, 0, RK_MODE_OPENGL | flags, 0);
    }

    template <typename Fn>
    static Fn gl(const char *name)
    {
        return reinterpret_cast<Fn>(rk_GfxGetGLProcAddress(name));
    }

    // Clears the back buffer to 0xRRGGBB through functions found by name
    // and shows it.
    static void clear_and_flip(uint32_t rgb)
    {
        auto clear_color = gl<void (*)(GLclampf, GLclampf, GLclampf, GLclampf)>("glClearColor");
        auto clear = gl<void (*)(GLbitfield)>("glClear");
        ASSERT_NE(clear_color, nullptr);
        ASSERT_NE(clear, nullptr);
        clear_color(static_cast<float>(rgb >> 16) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
                    static_cast<float>(rgb & 0xFF) / 255.0f, 1.0f);
        clear(GL_COLOR_BUFFER_BIT);
        rk_GfxFlip(-1, -1);
    }

    // True once every pixel of the window reads back as 0xRRGGBB (within
    // three seconds).
    bool window_shows(uint32_t rgb)
    {
        auto end = Clock::now() + std::chrono::seconds(3);
        for (;;) {
            bool all = true;
            XSync(peer, False);
            XImage *img = XGetImage(peer, rk_x11.window, 0, 0, static_cast<unsigned>(rk_x11.w),
                                    static_cast<unsigned>(rk_x11.h), AllPlanes, ZPixmap);
            if (!img)
                return false;
            for (int y = 0; y < rk_x11.h && all; ++y)
                for (int x = 0; x < rk_x11.w && all; ++x)
                    all = (XGetPixel(img, x, y) & 0xFFFFFF) == rgb;
            XDestroyImage(img);
            if (all || Clock::now() > end)
                return all;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
};

// ---- frames --------------------------------------------------------------

TEST_F(OpenGLTest, ClearedFramesReachTheWindowAcrossReopening)
{
    boot("320x240x24");
    const uint32_t colours[] = {0xFF3399, 0x33CC66};
    for (uint32_t rgb : colours) {
        SCOPED_TRACE(rgb);
        ASSERT_EQ(open_gl(160, 100), 0);
        ASSERT_EQ(__rk_gfx->driver, &rk_gfxDriverOpenGL);
        EXPECT_TRUE(__rk_gfx->flags & SCREEN_OPENGL);
        EXPECT_EQ(rk_x11.w, 160);
        EXPECT_EQ(rk_x11.h, 100);
        // The context is current in this thread: it answers GL queries.
        auto get_string = gl<const GLubyte *(*)(GLenum)>("glGetString");
        ASSERT_NE(get_string, nullptr);
        EXPECT_NE(get_string(GL_VERSION), nullptr);
        EXPECT_EQ(rk_hGL_ExtensionSupported("GL_EXT_bgra"), 1);
        EXPECT_EQ(rk_GfxGetGLProcAddress("glNoSuchFunction"), nullptr);

        clear_and_flip(rgb);
        EXPECT_TRUE(window_shows(rgb));
        rk_GfxScreen(0, 0, 0, 0, 0);
        EXPECT_EQ(rk_GfxGetGLProcAddress("glClear"), nullptr);
    }

    // Screens without a context have no GL functions.
    __rk_gfx_driver_name = "x11";
    ASSERT_EQ(rk_GfxScreenRes(160, 100, 32, 0, 0, 0), 0);
    ASSERT_EQ(__rk_gfx->driver, &rk_gfxDriverX11);
    EXPECT_EQ(rk_GfxGetGLProcAddress("glClear"), nullptr);
    ASSERT_EQ(rk_GfxScreenRes(160, 100, 32, 0, -1, 0), 0);
    EXPECT_EQ(rk_GfxGetGLProcAddress("glClear"), nullptr);
}

TEST_F(OpenGLTest, TwoDimensionalHelpers)
{
    boot("320x240x24");
    ASSERT_EQ(open_gl(100, 80), 0);
    rk_hGL_SetupProjection();

    // A 100 x 64 image gets a 128 x 64 texture of its colour.
    void *img = rk_GfxImageCreate(100, 64, 0, 32, 0);
    ASSERT_NE(img, nullptr);
    GLuint tex = rk_hGL_ImageCreate(img, 0x80C04020);
    rk_GfxImageDestroy(img);
    ASSERT_NE(tex, 0u);
    auto level = gl<void (*)(GLenum, GLint, GLenum, GLint *)>("glGetTexLevelParameteriv");
    auto get_image = gl<void (*)(GLenum, GLint, GLenum, GLenum, void *)>("glGetTexImage");
    ASSERT_NE(level, nullptr);
    ASSERT_NE(get_image, nullptr);
    GLint w = 0, h = 0;
    level(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    level(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    EXPECT_EQ(w, 128);
    EXPECT_EQ(h, 64);
    std::vector<uint32_t> texels(128 * 64);
    get_image(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
    EXPECT_EQ(texels.front(), 0x80C04020u);
    EXPECT_EQ(texels.back(), 0x80C04020u);

    // Texturing follows bit 0 of the state.
    auto is_enabled = gl<GLboolean (*)(GLenum)>("glIsEnabled");
    ASSERT_NE(is_enabled, nullptr);
    rk_hGL_SetState(1);
    EXPECT_TRUE(is_enabled(GL_TEXTURE_2D));
    rk_hGL_SetState(3);
    EXPECT_TRUE(is_enabled(GL_TEXTURE_2D));
    rk_hGL_SetState(0);
    EXPECT_FALSE(is_enabled(GL_TEXTURE_2D));
    rk_hGL_ImageDestroy(tex);
    auto is_texture = gl<GLboolean (*)(GLuint)>("glIsTexture");
    EXPECT_FALSE(is_texture(tex));

    // The projection maps pixel (x, y) to window pixel (x, y), y downwards:
    // a point drawn at (10, 5) in white lands there.
    auto begin = gl<void (*)(GLenum)>("glBegin");
    auto end = gl<void (*)()>("glEnd");
    auto vertex = gl<void (*)(GLfloat, GLfloat)>("glVertex2f");
    auto colour = gl<void (*)(GLfloat, GLfloat, GLfloat)>("glColor3f");
    auto read = gl<void (*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void *)>("glReadPixels");
    colour(1, 1, 1);
    begin(GL_POINTS);
    vertex(10, 5);
    end();
    uint8_t px[4] = {};
    read(10, 80 - 1 - 5, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);  // GL counts rows from the bottom
    EXPECT_EQ(px[0], 255);
    read(11, 80 - 1 - 5, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
    EXPECT_EQ(px[0], 0);
}

// At scale 2 the window is twice the mode's size and the projection still
// counts screen pixels: screen pixel (10, 5) covers window pixels 20-21, 10-11.
TEST_F(OpenGLTest, ScaledWindowShowsScreenPixelsAsBlocks)
{
    setenv("RIVEZ_SCALE", "2", 1);
    boot("320x240x24");
    ASSERT_EQ(open_gl(100, 80), 0);
    XWindowAttributes a{};
    XGetWindowAttributes(peer, rk_x11.window, &a);
    EXPECT_EQ(a.width, 200);
    EXPECT_EQ(a.height, 160);
    rk_hGL_SetupProjection();
    auto rect = gl<void (*)(GLfloat, GLfloat, GLfloat, GLfloat)>("glRectf");
    auto colour = gl<void (*)(GLfloat, GLfloat, GLfloat)>("glColor3f");
    auto read = gl<void (*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void *)>("glReadPixels");
    ASSERT_NE(rect, nullptr);
    colour(1, 1, 1);
    rect(9.5f, 4.5f, 10.5f, 5.5f);
    uint8_t px[4][4] = {};
    read(19, 160 - 12, 4, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);  // window row 11, columns 19-22
    EXPECT_EQ(px[0][0], 0);
    EXPECT_EQ(px[1][0], 255);
    EXPECT_EQ(px[2][0], 255);
    EXPECT_EQ(px[3][0], 0);
}

// ---- full screen ---------------------------------------------------------

TEST_F(OpenGLTest, FullScreenOnlyAtTheExactSize)
{
    boot("640x480x24");
    // 640 x 400 would need a letterbox in 640 x 480: refused, and the
    // selection settles for a window; the desktop keeps its size.
    ASSERT_EQ(open_gl(640, 400, RK_MODE_FULLSCREEN), 0);
    EXPECT_EQ(__rk_gfx->driver, &rk_gfxDriverOpenGL);
    EXPECT_FALSE(rk_x11.flags & RK_MODE_FULLSCREEN);
    EXPECT_EQ(DisplayWidth(peer, 0), 640);
    EXPECT_EQ(DisplayHeight(peer, 0), 480);

    ASSERT_EQ(open_gl(640, 480, RK_MODE_FULLSCREEN), 0);
    EXPECT_TRUE(rk_x11.flags & RK_MODE_FULLSCREEN);
    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(peer, rk_x11.fswindow, &a));
    EXPECT_EQ(a.width, 640);
    EXPECT_EQ(a.height, 480);
    clear_and_flip(0x2040C0);
    EXPECT_TRUE(window_shows(0x2040C0));
    // Closing gives the keyboard back.
    rk_GfxScreen(0, 0, 0, 0, 0);
    EXPECT_EQ(XGrabKeyboard(peer, DefaultRootWindow(peer), False, GrabModeAsync, GrabModeAsync, CurrentTime),
              GrabSuccess);
}

// ---- servers the driver cannot use ---------------------------------------

TEST_F(OpenGLTest, UnusableServerFailsWithNothingLeft)
{
    struct Case {
        const char *what;
        const char *without;  // extension the server leaves out
        int red_bits;            // preset wanted size
    };
    const Case cases[] = {{"no GLX", "GLX", 0}, {"no fitting visual", nullptr, 16}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boot("320x240x24", c.without);
        int windows = root_child_count(peer);
        int threads = running_threads();
        int fds = count_entries("/proc/self/fd");
        std::memset(&__rk_gl_params, 0, sizeof __rk_gl_params);
        __rk_gl_params.red_bits = c.red_bits;
        EXPECT_EQ(open_gl(160, 100), 1);
        EXPECT_EQ(__rk_gfx, nullptr);
        XSync(peer, False);
        EXPECT_EQ(root_child_count(peer), windows);
        EXPECT_EQ(running_threads(), threads);
        EXPECT_EQ(count_entries("/proc/self/fd"), fds) << "a display connection left open";
        TearDown();
    }
}

// ---- wanted buffer sizes -------------------------------------------------

TEST(OpenGLParameters, CompletedForTheScreenAndTheFlags)
{
    struct Case {
        const char *what;
        int depth;  // of a memory-only screen; 0: none open
        int flags;
        GLParams preset;
        GLParams want;
    };
    constexpr int S = RK_MODE_STENCIL_BUFFER, A = RK_MODE_ACCUMULATION_BUFFER, M = RK_MODE_MULTISAMPLE;
    // color r g b a depth stencil accum ar ag ab aa samples
    const Case cases[] = {
        {"32 bits", 32, 0, {}, {32, 8, 8, 8, 8, 16, 0, 0, 0, 0, 0, 0, 0}},
        {"24 bits, stored as 32", 24, 0, {}, {32, 8, 8, 8, 8, 16, 0, 0, 0, 0, 0, 0, 0}},
        {"24 colour bits", 32, 0, {24}, {24, 8, 8, 8, 0, 16, 0, 0, 0, 0, 0, 0, 0}},
        {"16 bits", 16, 0, {}, {16, 5, 5, 5, 0, 16, 0, 0, 0, 0, 0, 0, 0}},
        {"15 colour bits", 16, 0, {15}, {15, 5, 5, 5, 0, 16, 0, 0, 0, 0, 0, 0, 0}},
        {"8 bits", 8, 0, {}, {8, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0}},
        {"all three buffers", 16, S | A | M, {}, {16, 5, 5, 5, 0, 16, 8, 32, 8, 8, 8, 8, 4}},
        {"preset sizes win over the flags",
         32,
         S | A | M,
         {0, 5, 6, 5, 0, 24, 4, 0, 16, 16, 16, 0, 8},
         {16, 5, 6, 5, 0, 24, 4, 48, 16, 16, 16, 8, 8}},
        {"small accumulation sizes", 32, 0, {0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 0, 0},
         {32, 8, 8, 8, 8, 16, 0, 12, 4, 4, 4, 0, 0}},
        {"no screen: nothing to size from", 0, 0, {}, {0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0}},
        {"sizes too large to add up", 32, 0, {0, INT32_MAX, INT32_MAX, 0},
         {INT32_MAX, INT32_MAX, INT32_MAX, 8, 8, 16, 0, 0, 0, 0, 0, 0, 0}},
    };
    __rk_gfx_driver_name = "null";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.depth)
            ASSERT_EQ(rk_GfxScreenRes(32, 32, c.depth, 0, 0, 0), 0);
        else
            rk_GfxScreen(0, 0, 0, 0, 0);
        __rk_gl_params = c.preset;
        rk_hGL_NormalizeParameters(c.flags);
        EXPECT_EQ(std::memcmp(&__rk_gl_params, &c.want, sizeof(GLParams)), 0)
            << testing::PrintToString(std::vector<int32_t>(&__rk_gl_params.color_bits,
                                                           &__rk_gl_params.color_bits + 13));
    }
    rk_GfxScreen(0, 0, 0, 0, 0);
    __rk_gfx_driver_name = nullptr;
}

TEST(OpenGLExtensions, WholeNamesOnly)
{
    std::strcpy(__rk_gl.extensions, "GL_ARB_multitexture GL_EXT_bgra GL_XYZ_texture_float");
    struct Case {
        const char *name;
        int want;
    };
    const Case cases[] = {{"GL_EXT_bgra", 1},       {"GL_ARB_multitexture", 1}, {"GL_XYZ_texture_float", 1},
                          {"GL_EXT_bgr", 0},        {"GL_ARB_multi", 0},        {"texture_float", 0},
                          {"EXT_bgra", 0},          {"", 0}};
    for (const Case &c : cases)
        EXPECT_EQ(rk_hGL_ExtensionSupported(c.name), c.want) << c.name;
}

// ---- a program against the runtime ---------------------------------------

// The example program: opens a screen with a context, clears it, flips,
// waits for a key and ends, closing the screen at its exit.
TEST_F(OpenGLTest, ExampleProgramShowsItsFrameAndExitsCleanly)
{
    boot("320x240x24");
    // The window may be half set up when it is looked at: errors are
    // expected and ignored.
    XSetErrorHandler([](Display *, XErrorEvent *) { return 0; });
    struct Child {
        pid_t pid = -1;
        ~Child()
        {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    } child;
    child.pid = fork();
    ASSERT_GE(child.pid, 0);
    if (child.pid == 0) {
        execl(MALWERK_GL_EXAMPLE, MALWERK_GL_EXAMPLE, static_cast<char *>(nullptr));
        _exit(127);
    }

    // Its window shows the colour (Mesa under the sanitizers starts slowly).
    Window top = 0;
    bool shown = false;
    for (auto end = Clock::now() + std::chrono::seconds(30); !shown && Clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!top)
            top = find_toplevel(peer, 320, 240);
        if (XImage *img = top ? XGetImage(peer, top, 0, 0, 320, 240, AllPlanes, ZPixmap) : nullptr) {
            shown = (XGetPixel(img, 0, 0) & 0xFFFFFF) == 0xFF3399 && (XGetPixel(img, 319, 239) & 0xFFFFFF) == 0xFF3399;
            XDestroyImage(img);
        }
    }
    ASSERT_TRUE(shown);

    // A key ends it, with status 0.
    int status = -1;
    for (auto end = Clock::now() + std::chrono::seconds(30); Clock::now() < end;) {
        XSetInputFocus(peer, top, RevertToParent, CurrentTime);
        XSync(peer, False);
        ASSERT_EQ(std::system("xdotool key a"), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
            child.pid = -1;
            break;
        }
    }
    EXPECT_EQ(child.pid, -1) << "still running";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
