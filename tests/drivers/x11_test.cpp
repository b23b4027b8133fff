// The X11 driver against a real Xvfb: what the window shows, keys and the
// pointer from xdotool and XTEST, the close protocol, full screen through
// RandR, remote displays and a server that goes away.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <functional>
#include <future>
#include <optional>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "gfx/core/color.h"
#include "gfx/core/screen.h"
#include "gfx/drivers/blit.h"
#include "gfx/drivers/driver.h"
#include "gfx/drivers/x11.h"
#include "gfx/drivers/x11_private.h"
#include "gfx/input/keys.h"
#include "gfx/input/mouse.h"
#include "rt/input.h"
#include "rt/str.h"
#include "support/shm.h"
#include "support/xvfb.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

// Fault injection into the real Xlib: the runtime's n-th call of XCreateGC
// returns null from the moment a test sets this to n; 0 leaves every call
// alone. Calls from inside the X libraries are not counted.
static std::atomic<int> gc_calls_until_failure;

extern "C" GC XCreateGC(Display *d, Drawable drawable, unsigned long mask, XGCValues *values)
{
    using Real = GC (*)(Display *, Drawable, unsigned long, XGCValues *);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "XCreateGC"));
    Dl_info self{}, caller{};
    bool ours = dladdr(reinterpret_cast<void *>(&gc_calls_until_failure), &self) &&
                dladdr(__builtin_return_address(0), &caller) && caller.dli_fbase == self.dli_fbase;
    int n = ours ? gc_calls_until_failure.load() : 0;
    while (n > 0 && !gc_calls_until_failure.compare_exchange_weak(n, n - 1)) {
    }
    return n == 1 ? nullptr : real(d, drawable, mask, values);
}

namespace {

using Clock = std::chrono::steady_clock;

class X11Test : public ::testing::Test {
protected:
    Xvfb server;
    Display *peer = nullptr;  // the test's own connection

    // Each test starts as a program would: windows at the mode's size unless
    // it asks for a scale, no title and no focus yet (both outlive a screen,
    // as do codes left in the key buffer, drained after each test).
    void SetUp() override
    {
        unsetenv("RIVEZ_SCALE");
        unsetenv("GDK_SCALE");
        __rk_window_title = nullptr;
        rk_x11p.has_focus = 0;
    }

    void TearDown() override
    {
        while (__rk_gfx && rk_GfxKeyHit())
            rk_GfxGetkey();
        rk_GfxScreen(0, 0, 0, 0, 0);
        __rk_gfx_driver_name = nullptr;
        if (peer)
            XCloseDisplay(peer);
        peer = nullptr;
        server.stop();
    }

    void boot(const char *geometry, bool tcp = false)
    {
        ASSERT_TRUE(server.start(geometry, tcp));
        peer = XOpenDisplay(nullptr);
        ASSERT_NE(peer, nullptr);
    }

    static int open(int w, int h, int depth, int flags = 0)
    {
        __rk_gfx_driver_name = "x11";
        return rk_GfxScreenRes(w, h, depth, 0, flags, 0);
    }

    // Waits until the window thread has sent every dirty line and the server
    // has processed it.
    static void present()
    {
        ScreenState *s = __rk_gfx;
        auto end = Clock::now() + std::chrono::seconds(3);
        for (;;) {
            rk_GfxLock();
            bool dirty = std::memchr(s->dirty, 1, static_cast<std::size_t>(s->h) * s->scanline_size) != nullptr;
            if (!dirty)
                XSync(rk_x11.display, False);
            rk_GfxUnlock(1, 0);
            if (!dirty || Clock::now() > end)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    XImage *grab(int y0 = 0, int rows = -1)
    {
        XSync(peer, False);
        return XGetImage(peer, rk_x11.window, 0, y0, static_cast<unsigned>(rk_x11.w),
                         static_cast<unsigned>(rows < 0 ? rk_x11.h - y0 : rows), AllPlanes, ZPixmap);
    }

    static void fill_random(uint32_t seed)
    {
        std::mt19937 rng(seed);
        ScreenState *s = __rk_gfx;
        rk_GfxLock();
        for (std::size_t i = 0; i < static_cast<std::size_t>(s->pitch) * s->h; ++i)
            s->framebuffer[i] = static_cast<uint8_t>(rng());
        rk_GfxUnlock(-1, -1);
    }

    // Takes every queued event record.
    static std::vector<EventRecord> take_events()
    {
        std::vector<EventRecord> out;
        ScreenState *s = __rk_gfx;
        pthread_mutex_lock(s->event_mutex);
        while (s->event_head != s->event_tail) {
            EventRecord r;
            std::memcpy(&r, s->event_queue + 5 * s->event_head, sizeof r);
            out.push_back(r);
            s->event_head = (s->event_head + 1) % 128;
        }
        pthread_mutex_unlock(s->event_mutex);
        return out;
    }

    // Collects events until one of `type` arrives (or two seconds pass).
    static std::vector<EventRecord> events_until(int type)
    {
        std::vector<EventRecord> all;
        auto end = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < end) {
            for (const EventRecord &r : take_events())
                all.push_back(r);
            for (const EventRecord &r : all)
                if (r.type == type)
                    return all;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return all;
    }

    // Collects events for `ms` milliseconds.
    static std::vector<EventRecord> events_for(int ms)
    {
        std::vector<EventRecord> all;
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            for (const EventRecord &r : take_events())
                all.push_back(r);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return all;
    }

    static std::optional<EventRecord> find(const std::vector<EventRecord> &v, int type)
    {
        for (const EventRecord &r : v)
            if (r.type == type)
                return r;
        return std::nullopt;
    }

    static void xdotool(const std::string &args)
    {
        ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    }

    // Gives the window the keyboard focus; the events up to then are taken.
    void focus()
    {
        XSetInputFocus(peer, rk_x11.window, RevertToParent, CurrentTime);
        XSync(peer, False);
        events_for(150);
        rk_GfxLock();
        bool has_focus = rk_x11p.has_focus;
        rk_GfxUnlock(1, 0);
        ASSERT_TRUE(has_focus);
    }

    // The next key of the buffer, or 0 when none comes within two seconds.
    static int next_key()
    {
        for (auto end = Clock::now() + std::chrono::seconds(2); Clock::now() < end;) {
            if (rk_GfxKeyHit())
                return rk_GfxGetkey();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }

    // The program's query: 0 with a position, 1 and all -1 without one.
    static int get_mouse(int *x, int *y, int *wheel, int *buttons)
    {
        return rk_GfxGetMouse(x, y, wheel, buttons, nullptr);
    }
};

// ---- presentation --------------------------------------------------------

struct DepthCase {
    const char *geometry;
    int fb_depth;
    int format;
};

TEST_F(X11Test, WindowShowsTheConvertedFramebufferOnEveryDepth)
{
    const DepthCase cases[] = {{"320x200x24", 32, 32}, {"320x200x16", 32, 16}, {"320x200x15", 32, 15},
                               {"320x200x16", 16, 16}, {"320x200x24", 8, 32}};
    for (const DepthCase &c : cases) {
        SCOPED_TRACE(c.geometry);
        boot(c.geometry);
        ASSERT_EQ(open(160, 100, c.fb_depth), 0);
        ASSERT_EQ(__rk_gfx->driver, &rk_gfxDriverX11);
        EXPECT_EQ(rk_x11.pixel_format, c.format);
        fill_random(c.format);
        present();

        // The model: the blitter for this display on the same framebuffer.
        int bytes = c.format == 32 ? 4 : 2;
        std::vector<uint8_t> want(static_cast<std::size_t>(rk_x11.w) * rk_x11.h * bytes);
        std::memset(__rk_gfx->dirty, 1, static_cast<std::size_t>(__rk_gfx->h));
        rk_hGetBlitter(c.format, 0)(want.data(), rk_x11.w * bytes);
        std::memset(__rk_gfx->dirty, 0, static_cast<std::size_t>(__rk_gfx->h));

        XImage *img = grab();
        ASSERT_NE(img, nullptr);
        uint32_t mask = c.format == 32 ? 0xFFFFFF : 0xFFFF;
        for (int y = 0; y < rk_x11.h; ++y)
            for (int x = 0; x < rk_x11.w; ++x) {
                uint32_t w = 0;
                std::memcpy(&w, want.data() + (static_cast<std::size_t>(y) * rk_x11.w + x) * bytes, bytes);
                ASSERT_EQ(XGetPixel(img, x, y) & mask, w & mask) << x << "," << y;
            }
        XDestroyImage(img);
        TearDown();
    }
}

TEST_F(X11Test, PseudoColorShowsIndicesThroughThePalette)
{
    boot("320x200x8");
    EXPECT_NE(open(64, 48, 32), 0) << "true colour has no blitter on an 8-bit display";
    EXPECT_EQ(__rk_gfx, nullptr);

    ASSERT_EQ(open(64, 48, 8), 0);
    EXPECT_EQ(rk_x11.pixel_format, 8);
    fill_random(8);
    present();
    XImage *img = grab();
    ASSERT_NE(img, nullptr);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(XGetPixel(img, x, y), __rk_gfx->framebuffer[y * 64 + x]);
    XDestroyImage(img);

    XWindowAttributes a;
    XGetWindowAttributes(peer, rk_x11.window, &a);
    for (int i : {0, 1, 15, 200}) {
        XColor c{};
        c.pixel = static_cast<unsigned long>(i);
        XQueryColor(peer, a.colormap, &c);
        uint32_t e = __rk_gfx->device_palette[i];
        EXPECT_EQ(c.red >> 8, e & 0xFF) << i;
        EXPECT_EQ(c.green >> 8, (e >> 8) & 0xFF) << i;
        EXPECT_EQ(c.blue >> 8, (e >> 16) & 0xFF) << i;
    }
    // The whole palette sent again reaches the colour map.
    __rk_gfx->device_palette[7] = 0x563412;
    rk_hRestorePalette();
    XSync(rk_x11.display, False);
    XColor c{};
    c.pixel = 7;
    XQueryColor(peer, a.colormap, &c);
    EXPECT_EQ((c.red >> 8) | (c.green & 0xFF00) | (c.blue >> 8 << 16), 0x563412u);
}

TEST_F(X11Test, OnlyDirtyLinesAreSent)
{
    boot("320x200x24");
    ASSERT_EQ(open(64, 40, 32), 0);
    fill_random(1);
    present();
    // Lines 5 and 9 change in memory, but only line 9 is marked.
    rk_GfxLock();
    ScreenState *s = __rk_gfx;
    for (int y : {5, 9})
        for (int x = 0; x < 64; ++x)
            std::memcpy(s->framebuffer + y * s->pitch + 4 * x, "\x11\x22\x33\x00", 4);
    rk_GfxUnlock(9, 9);
    present();
    XImage *img = grab();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(XGetPixel(img, 3, 9), 0x332211u);
    EXPECT_NE(XGetPixel(img, 3, 5), 0x332211u);
    XDestroyImage(img);
}

// A line marked dirty whose pixels are what the window already shows is not
// sent again: paint from another client over the window stays until the
// line changes, or until the window must be redrawn whole (an expose), or
// the palette that converts its pixels changes.
TEST_F(X11Test, UnchangedLinesAreNotSentAgain)
{
    boot("320x200x24");
    ASSERT_EQ(open(64, 40, 32), 0);
    fill_random(3);
    present();
    ScreenState *s = __rk_gfx;
    auto shown = [&](int x, int y) {
        XImage *img = grab(y, 1);
        uint32_t v = img ? static_cast<uint32_t>(XGetPixel(img, x, 0)) & 0xFFFFFF : 0;
        if (img)
            XDestroyImage(img);
        return v;
    };
    auto fb = [&](int x, int y) {
        uint32_t v;
        std::memcpy(&v, s->framebuffer + y * s->pitch + 4 * x, 4);
        return v & 0xFFFFFF;
    };
    auto paint_over = [&] {
        GC gc = XCreateGC(peer, rk_x11.window, 0, nullptr);
        XSetForeground(peer, gc, 0x00FF00);
        XFillRectangle(peer, rk_x11.window, gc, 0, 0, 64, 40);
        XFreeGC(peer, gc);
        XSync(peer, False);
    };
    paint_over();
    rk_GfxLock();
    rk_GfxUnlock(-1, -1);
    present();
    EXPECT_EQ(shown(10, 7), 0x00FF00u);

    rk_GfxLock();
    std::memcpy(s->framebuffer + 7 * s->pitch + 40, "\x44\x33\x22\x00", 4);
    rk_GfxUnlock(-1, -1);
    present();
    EXPECT_EQ(shown(10, 7), 0x223344u);
    EXPECT_EQ(shown(3, 7), fb(3, 7)) << "a changed line goes whole";
    EXPECT_EQ(shown(10, 8), 0x00FF00u);

    rk_GfxLock();
    rk_hX11DirtyAll();
    rk_GfxUnlock(1, 0);
    present();
    for (int y : {0, 8, 39})
        EXPECT_EQ(shown(20, y), fb(20, y)) << y;

    rk_GfxScreen(0, 0, 0, 0, 0);
    ASSERT_EQ(open(64, 40, 8), 0);
    s = __rk_gfx;
    rk_GfxLock();
    std::memset(s->framebuffer, 5, static_cast<std::size_t>(s->pitch) * s->h);
    rk_GfxUnlock(-1, -1);
    present();
    auto rgb = [](uint32_t e) { return ((e & 0xFF) << 16) | (e & 0xFF00) | ((e >> 16) & 0xFF); };
    EXPECT_EQ(shown(1, 1), rgb(s->device_palette[5]));
    uint32_t before = s->device_palette[5];
    rk_GfxPalette(5, 0x102030, -1, -1);
    ASSERT_NE(s->device_palette[5], before);
    present();
    EXPECT_EQ(shown(1, 1), rgb(s->device_palette[5]));
}

// The window thread rests about 30 ms after each pass. A program that
// releases the lock every 8 ms, as one drawing frames does, wakes it with
// its first release after that (2 ms late, at 32 ms): each pass starts
// right after a release, not by the timer (which waits beyond the 30 ms by
// a gap between releases). Passes of a screen left alone come on time, and
// no pass comes more than a millisecond early.
TEST_F(X11Test, PassFollowsTheReleaseThatFindsItDue)
{
    boot("320x200x24");
    ASSERT_EQ(open(64, 40, 32), 0);
    constexpr long long REST = 30'000'000, MS = 1'000'000;
    auto now = [] { return rk_hX11Now(); };
    // Over 900 ms: how long after it was due each pass started, and how
    // long after the program's last release before it.
    auto passes = [&](bool releasing) {
        std::vector<long long> late, after_release;
        long long due = rk_x11p.pass_due_ns, released = 0, next_release = now();
        for (long long end = now() + 900 * MS; now() < end;) {
            if (releasing && now() >= next_release) {
                rk_GfxLock();
                rk_GfxUnlock(1, 0);
                released = now();
                next_release += 8 * MS;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (long long next = rk_x11p.pass_due_ns; next != due) {
                late.push_back(next - REST - due);
                after_release.push_back(next - REST - released);
                due = next;
            }
        }
        std::sort(late.begin(), late.end());
        std::sort(after_release.begin(), after_release.end());
        return std::pair{late, after_release};
    };
    auto [late, after_release] = passes(true);
    auto [alone, unused] = passes(false);
    ASSERT_GE(late.size(), 15u);
    ASSERT_GE(alone.size(), 15u);
    EXPECT_GE(late.front(), -MS) << "a pass before its rest was over";
    EXPECT_GE(alone.front(), -MS);
    EXPECT_LT(after_release[after_release.size() / 2], MS) << "median start after the last release";
    EXPECT_LT(late[late.size() / 2], 5 * MS) << "median lateness with releases";
    EXPECT_LT(alone[alone.size() / 2], 4 * MS) << "median lateness of a screen left alone";
}

TEST_F(X11Test, ShapedWindowCutsOutTheMaskColour)
{
    boot("320x200x24");
    XInternAtom(peer, "_MOTIF_WM_HINTS", False);  // shaped windows have no frame
    XSync(peer, False);
    ASSERT_EQ(open(37, 4, 32, RK_MODE_SHAPED), 0);
    EXPECT_EQ(rk_x11.flags & 0x1C, 0x1C);
    rk_GfxLock();
    ScreenState *s = __rk_gfx;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 37; ++x) {
            // Column 36 (in the partial last mask byte) and column 3 are
            // transparent, whatever their top byte; 0xFE00FF is not.
            uint32_t p = x == 36 ? 0x00FF00FF : x == 3 ? 0xFFFF00FF : x == 4 ? 0x00FE00FF : 0x00123456;
            std::memcpy(s->framebuffer + y * s->pitch + 4 * x, &p, 4);
        }
    rk_GfxUnlock(-1, -1);
    present();
    int n = 0, order = 0;
    XRectangle *r = XShapeGetRectangles(peer, rk_x11.window, ShapeBounding, &n, &order);
    // Each row: columns 0-2 and 4-35 remain.
    int area = 0, max_right = 0;
    for (int i = 0; i < n; ++i) {
        area += r[i].width * r[i].height;
        max_right = std::max(max_right, r[i].x + r[i].width);
        EXPECT_FALSE(r[i].x <= 3 && r[i].x + r[i].width > 3);
    }
    EXPECT_EQ(area, 4 * 35);
    EXPECT_EQ(max_right, 36);
    XFree(r);
}

// A scaled shaped window cuts out whole blocks: column 3 at scale 2.
TEST_F(X11Test, ScaledShapedWindowCutsOutBlocks)
{
    setenv("RIVEZ_SCALE", "2", 1);
    boot("320x200x24");
    XInternAtom(peer, "_MOTIF_WM_HINTS", False);
    XSync(peer, False);
    ASSERT_EQ(open(9, 2, 32, RK_MODE_SHAPED), 0);
    rk_GfxLock();
    for (int i = 0; i < 18; ++i) {
        uint32_t p = i % 9 == 3 ? 0xFF00FF : 0x123456;
        std::memcpy(__rk_gfx->framebuffer + i / 9 * __rk_gfx->pitch + 4 * (i % 9), &p, 4);
    }
    rk_GfxUnlock(-1, -1);
    present();
    int n = 0, order = 0, area = 0;
    XRectangle *r = XShapeGetRectangles(peer, rk_x11.window, ShapeBounding, &n, &order);
    for (int i = 0; i < n; ++i) {
        area += r[i].width * r[i].height;
        EXPECT_FALSE(r[i].x < 8 && r[i].x + r[i].width > 6) << r[i].x;
    }
    EXPECT_EQ(area, 8 * 2 * 4);
    XFree(r);
}

// A window at scale f (1, 2, 3) is f times the mode's size, hinted so; each
// framebuffer pixel shows as an f x f block (converted straight from the
// framebuffer or through the staging lines), a dirty line as f window
// lines; the pointer reports the framebuffer pixel under it, and setting
// the position puts it on the pixel's block.
TEST_F(X11Test, ScaledWindowReplicatesPixelsAndMapsThePointer)
{
    struct Case {
        int f, depth;
    };
    for (const Case c : {Case{1, 32}, Case{2, 32}, Case{2, 8}, Case{3, 16}}) {
        const int f = c.f, ww = 100 * f, wh = 60 * f;
        SCOPED_TRACE(testing::Message() << "scale " << f << " depth " << c.depth);
        setenv("RIVEZ_SCALE", std::to_string(f).c_str(), 1);
        boot("800x600x24");
        ASSERT_EQ(open(100, 60, c.depth), 0);
        EXPECT_TRUE(find_toplevel(peer, ww, wh));
        XSizeHints hints{};
        long supplied = 0;
        XGetWMNormalHints(peer, rk_x11.wmwindow, &hints, &supplied);
        EXPECT_EQ(hints.min_width, ww);
        EXPECT_EQ(hints.max_height, wh);

        // The model: the unscaled blitter's pixels, before and after line 9
        // changes and is marked and line 5 changes unmarked.
        ScreenState *s = __rk_gfx;
        auto model = [&] {
            std::vector<uint32_t> px(100 * 60);
            std::memset(s->dirty, 1, 60);
            rk_hGetBlitter(32, 0)(reinterpret_cast<uint8_t *>(px.data()), 400);
            std::memset(s->dirty, 0, 60);
            return px;
        };
        fill_random(static_cast<uint32_t>(f));
        present();
        rk_GfxLock();
        std::vector<uint32_t> before = model();
        for (int y : {5, 9})
            std::memset(s->framebuffer + y * s->pitch, 0x5A, static_cast<std::size_t>(s->pitch));
        std::vector<uint32_t> after = model();
        rk_GfxUnlock(9, 9);
        present();
        XSync(peer, False);
        XImage *img = XGetImage(peer, rk_x11.window, 0, 0, static_cast<unsigned>(ww), static_cast<unsigned>(wh),
                                AllPlanes, ZPixmap);
        ASSERT_NE(img, nullptr);
        for (int y = 0; y < wh; ++y)
            for (int x = 0; x < ww; ++x) {
                uint32_t want = (y / f == 5 ? before : after)[static_cast<std::size_t>(y / f * 100 + x / f)];
                ASSERT_EQ(XGetPixel(img, x, y), want & 0xFFFFFF) << x << "," << y;
            }
        XDestroyImage(img);

        focus();
        int x, y, wheel, buttons;
        xdotool("mousemove " + std::to_string(ww - 1) + " " + std::to_string(37 * f + f - 1));
        std::optional<EventRecord> move = find(events_until(4), 4);
        ASSERT_TRUE(move);
        EXPECT_EQ(move->field[0], 99);
        EXPECT_EQ(move->field[1], 37);
        ASSERT_EQ(get_mouse(&x, &y, &wheel, &buttons), 0);
        EXPECT_EQ(x, 99);
        EXPECT_EQ(y, 37);
        rk_GfxSetMouse(10, 20, -1, -1);
        Window root, child;
        int rx, ry, wx, wy;
        unsigned mask;
        ASSERT_TRUE(XQueryPointer(peer, rk_x11.window, &root, &child, &rx, &ry, &wx, &wy, &mask));
        EXPECT_EQ(wx, 10 * f);
        EXPECT_EQ(wy, 20 * f);
        TearDown();
    }

    // Full screen keeps the mode's size.
    setenv("RIVEZ_SCALE", "2", 1);
    boot("320x240x24");
    ASSERT_EQ(open(320, 240, 32, RK_MODE_FULLSCREEN), 0);
    ASSERT_TRUE(rk_x11.flags & RK_MODE_FULLSCREEN);
    XWindowAttributes a{};
    XGetWindowAttributes(peer, rk_x11.window, &a);
    EXPECT_EQ(a.width, 320);
    EXPECT_EQ(a.height, 240);
}

// RIVEZ_SCALE, else GDK_SCALE, else the desktop's Xft.dpi resource; values
// that are not a scale of 1 to 4 (or a usable dpi) are passed over.
TEST_F(X11Test, ScaleComesFromTheEnvironmentOrTheDesktopDpi)
{
    boot("320x200x24");
    struct Case {
        const char *rivez, *gdk, *resources;
        int want;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 1},
        {"3", "2", "Xft.dpi: 288\n", 3},
        {nullptr, "2", "Xft.dpi: 96\n", 2},
        {"0", "4", nullptr, 4},
        {"5", "x", "Xft.antialias: 1\nXft.dpi:\t192\n", 2},
        {"2x", "", "Xft.dpi: 191.9\n", 1},
        {nullptr, "1", "Xft.dpi: 288\n", 1},
        {nullptr, nullptr, "*dpi: 200\n", 2},
        {nullptr, nullptr, "Xft.dpi: inf\n", 1},
        {nullptr, nullptr, "Xft.dpi: big\n", 1},
        {nullptr, nullptr, "Xft.dpi: 288.0\n", 3},
    };
    Atom rm = XInternAtom(peer, "RESOURCE_MANAGER", False);
    auto set_env = [](const char *name, const char *v) { v ? setenv(name, v, 1) : unsetenv(name); };
    for (const Case &c : cases) {
        SCOPED_TRACE(&c - cases);
        set_env("RIVEZ_SCALE", c.rivez);
        set_env("GDK_SCALE", c.gdk);
        if (c.resources)
            XChangeProperty(peer, DefaultRootWindow(peer), rm, XA_STRING, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(c.resources),
                            static_cast<int>(std::strlen(c.resources)));
        else
            XDeleteProperty(peer, DefaultRootWindow(peer), rm);
        XSync(peer, False);
        Display *d = XOpenDisplay(nullptr);  // reads the resources as it connects
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(rk_hX11ChooseScale(d, 320, 200), c.want);
        // A window X could not hold stays at the mode's size.
        EXPECT_EQ(rk_hX11ChooseScale(d, 9000, 200), 1);
        XCloseDisplay(d);
    }
    // The window opened last follows the resource.
    ASSERT_EQ(open(64, 40, 32), 0);
    EXPECT_EQ(rk_x11p.scale, 3);
}

// ---- window operations ---------------------------------------------------

TEST_F(X11Test, NoFrameNeedsADecorationAtom)
{
    boot("320x200x24");
    EXPECT_NE(open(64, 40, 32, RK_MODE_NO_FRAME), 0);
    Atom motif = XInternAtom(peer, "_MOTIF_WM_HINTS", False);
    XSync(peer, False);
    ASSERT_EQ(open(64, 40, 32, RK_MODE_NO_FRAME), 0);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char *data = nullptr;
    ASSERT_EQ(XGetWindowProperty(peer, rk_x11.window, motif, 0, 5, False, motif, &type, &format, &n, &after, &data),
              Success);
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(reinterpret_cast<long *>(data)[0], 2);
    EXPECT_EQ(reinterpret_cast<long *>(data)[2], 0);
    XFree(data);
    // Without a frame the window sits centred on the screen.
    XWindowAttributes a;
    XGetWindowAttributes(peer, rk_x11.window, &a);
    EXPECT_EQ(a.x, 128);
    EXPECT_EQ(a.y, 80);
    EXPECT_EQ(rk_hX11SetWindowPos(static_cast<int>(0x80000000u), static_cast<int>(0x80000000u)), (80 << 16) | 128);
    EXPECT_EQ(rk_hX11SetWindowPos(10, 20), (80 << 16) | 128);
    XGetWindowAttributes(peer, rk_x11.window, &a);
    EXPECT_EQ(a.x, 10);
    EXPECT_EQ(a.y, 20);
}

TEST_F(X11Test, TitleHintsAndVSync)
{
    boot("320x200x24");
    ASSERT_EQ(open(64, 40, 32, RK_MODE_NO_SWITCH), 0);
    rk_hX11SetWindowTitle("Bild");
    char *name = nullptr;
    rk_GfxLock();
    XSync(rk_x11.display, False);
    rk_GfxUnlock(1, 0);
    ASSERT_TRUE(XFetchName(peer, rk_x11.wmwindow, &name));
    EXPECT_STREQ(name, "Bild");
    XFree(name);
    XSizeHints hints;
    long supplied;
    ASSERT_TRUE(XGetWMNormalHints(peer, rk_x11.window, &hints, &supplied));
    EXPECT_EQ(hints.max_width, 64);
    EXPECT_EQ(hints.min_height, 40);
    EXPECT_EQ(rk_hGetWindowHandle(), static_cast<int>(rk_x11.window));

    rk_x11.refresh_rate = 75;
    auto t0 = Clock::now();
    rk_hX11WaitVSync();
    EXPECT_GE(Clock::now() - t0, std::chrono::microseconds(13333));
}

TEST_F(X11Test, SharedMemoryIsPrivateToTheUser)
{
    boot("320x200x24");
    ASSERT_EQ(open(64, 40, 32), 0);
    rk_GfxLock();
    bool is_shm = rk_x11p.is_shm;
    int shmid = rk_x11p.shm_info.shmid;
    rk_GfxUnlock(1, 0);
    ASSERT_TRUE(is_shm);
    shmid_ds info{};
    ASSERT_EQ(shmctl(shmid, IPC_STAT, &info), 0);
    EXPECT_EQ(info.shm_perm.mode & 0777, 0600u);
    // Marked for removal once attached: nothing is left behind if the
    // program dies.
    EXPECT_TRUE(info.shm_perm.mode & SHM_DEST);
}

// ---- input ---------------------------------------------------------------

TEST_F(X11Test, KeysArriveAsCodesStateAndEvents)
{
    boot("320x200x24");
    ASSERT_EQ(open(320, 200, 32), 0);
    focus();
    take_events();
    rk_hGfxInputBufferChanged();

    xdotool("keydown a");
    auto ev = events_until(1);
    std::optional<EventRecord> press = find(ev, 1);
    ASSERT_TRUE(press);
    EXPECT_EQ(press->field[0], 30);
    EXPECT_EQ(press->field[1], 'a');
    rk_GfxLock();
    EXPECT_EQ(__rk_gfx->key_state[30], 1);
    rk_GfxUnlock(1, 0);
    EXPECT_EQ(rk_hGfxInputBufferChanged(), 1);
    xdotool("keyup a");
    std::optional<EventRecord> release = find(events_until(2), 2);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->field[0], 30);
    rk_GfxLock();
    EXPECT_EQ(__rk_gfx->key_state[30], 0);
    rk_GfxUnlock(1, 0);

    // Named keys get extended codes; F11 has none but still posts events.
    xdotool("key Up F11");
    ev = events_for(250);
    std::vector<int> presses;
    for (const EventRecord &r : ev)
        if (r.type == 1)
            presses.push_back(r.field[1]);
    EXPECT_EQ(presses, (std::vector<int>{0x101, 0}));

    // Alt+Enter with switching forbidden is just Return.
    rk_GfxLock();
    rk_x11.flags |= RK_MODE_NO_SWITCH;
    rk_GfxUnlock(1, 0);
    xdotool("key alt+Return");
    bool got_return = false;
    for (const EventRecord &r : events_for(150))
        if (r.type == 1 && r.field[0] == 28)
            got_return = r.field[1] == 13;
    EXPECT_TRUE(got_return);
    EXPECT_FALSE(rk_x11.flags & RK_MODE_FULLSCREEN);
}

// An event that a round trip of the program's thread read from the
// connection, rather than the window thread, is still taken on the window
// thread's next pass, though the connection is quiet by then.
TEST_F(X11Test, EventsReadByAnotherCallAreTaken)
{
    boot("320x200x24");
    ASSERT_EQ(open(320, 200, 32), 0);
    focus();
    take_events();
    for (const char *key : {"a", "b"}) {
        rk_GfxLock();
        xdotool((std::string("keydown ") + key).c_str());
        XSync(rk_x11.display, False);
        rk_GfxUnlock(1, 0);
        std::optional<EventRecord> press = find(events_until(1), 1);
        ASSERT_TRUE(press) << key;
        EXPECT_EQ(press->field[1], key[0]);
        xdotool((std::string("keyup ") + key).c_str());
        events_until(2);
    }
}

TEST_F(X11Test, AutoRepeatIsOnePressManyRepeatsOneRelease)
{
    boot("320x200x24");
    ASSERT_EQ(open(320, 200, 32), 0);
    focus();
    take_events();
    // A release and a press 1 ms apart, as the server's auto-repeat sends
    // them, then a real release 100 ms later.
    KeyCode kc = XKeysymToKeycode(peer, XK_b);
    auto send_key = [&](int type, Time t) {
        XEvent e{};
        e.xkey.type = type;
        e.xkey.display = peer;
        e.xkey.window = rk_x11.window;
        e.xkey.root = DefaultRootWindow(peer);
        e.xkey.time = t;
        e.xkey.keycode = kc;
        e.xkey.same_screen = True;
        XSendEvent(peer, rk_x11.window, False, 0, &e);
    };
    rk_GfxLock();  // all of them in one pass of the window thread
    send_key(KeyPress, 1000);
    send_key(KeyRelease, 1500);
    send_key(KeyPress, 1501);
    send_key(KeyRelease, 1600);
    send_key(KeyPress, 1600);
    send_key(KeyRelease, 1700);
    XSync(peer, False);
    rk_GfxUnlock(1, 0);
    std::vector<int> types;
    for (const EventRecord &r : events_until(2)) {
        types.push_back(r.type);
        EXPECT_EQ(r.field[0], 48);
        EXPECT_EQ(r.field[1], 'b');
    }
    EXPECT_EQ(types, (std::vector<int>{1, 3, 3, 2}));
}

TEST_F(X11Test, PointerButtonsWheelAndDoubleClicks)
{
    boot("800x600x24");
    ASSERT_EQ(open(320, 200, 32), 0);
    focus();
    int x, y, wheel, buttons;
    xdotool("mousemove 700 500");
    events_for(150);
    EXPECT_EQ(get_mouse(&x, &y, &wheel, &buttons), 1) << "pointer outside the image";
    EXPECT_EQ(x, -1);
    EXPECT_EQ(buttons, -1);

    // With no window manager the frame stays at the screen's origin.
    xdotool("mousemove 50 30");
    std::optional<EventRecord> move = find(events_until(4), 4);
    ASSERT_TRUE(move);
    EXPECT_EQ(move->field[0], 50);
    EXPECT_EQ(move->field[1], 30);
    ASSERT_EQ(get_mouse(&x, &y, &wheel, &buttons), 0);
    EXPECT_EQ(x, 50);
    EXPECT_EQ(y, 30);
    EXPECT_EQ(buttons, 0);

    xdotool("mousedown 1 mousedown 3");
    events_for(150);
    get_mouse(&x, &y, &wheel, &buttons);
    EXPECT_EQ(buttons, 3);
    xdotool("mouseup 1 mouseup 3 click 4");
    std::optional<EventRecord> w = find(events_until(8), 8);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->field[0], 1);
    get_mouse(&x, &y, &wheel, &buttons);
    EXPECT_EQ(wheel, 1);
    EXPECT_EQ(buttons, 0);

    // Presses 249 ms apart are a double click; 250 ms apart are not.
    auto press = [&](Time t) {
        XEvent e{};
        e.xbutton.type = ButtonPress;
        e.xbutton.window = rk_x11.window;
        e.xbutton.time = t;
        e.xbutton.button = 1;
        e.xbutton.same_screen = True;
        XSendEvent(peer, rk_x11.window, False, 0, &e);
    };
    take_events();
    press(100000);
    press(100249);
    press(100499);
    XSync(peer, False);
    std::vector<int> types;
    for (int i = 0; i < 40 && types.size() < 3; ++i)
        for (const EventRecord &r : events_until(5))
            if (r.type == 5 || r.type == 7)
                types.push_back(r.type);
    EXPECT_EQ(types, (std::vector<int>{5, 7, 5}));
}

// The pointer is asked of the server only when something may have moved it:
// an event on the connection, a warp, or an answer grown old.
TEST_F(X11Test, PointerIsAskedAgainOnlyAfterInput)
{
    boot("800x600x24");
    ASSERT_EQ(open(320, 200, 32), 0);
    focus();
    int x = -1, y = -1, wheel, buttons = -1;
    // Within `ms` of the call; an event of the server comes through within
    // moments, an answer renewed by its age alone only after half a second.
    auto reaches = [&](int wx, int wy, int wb, int ms = 2000) {
        for (auto end = Clock::now() + std::chrono::milliseconds(ms); Clock::now() < end;) {
            if (get_mouse(&x, &y, &wheel, &buttons) == 0 && x == wx && y == wy && buttons == wb)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    };
    auto asked_at = [] {
        rk_GfxLock();
        long long t = rk_x11p.pointer_time_ns;
        rk_GfxUnlock(1, 0);
        return t;
    };
    xdotool("mousemove 50 30");
    ASSERT_TRUE(reaches(50, 30, 0));

    // At rest: the answer is reused (a few calls well within its age).
    bool reused = false;
    for (int attempt = 0; attempt < 5 && !reused; ++attempt) {
        const long long before = asked_at();
        const auto t0 = Clock::now();
        for (int i = 0; i < 10; ++i) {
            ASSERT_EQ(get_mouse(&x, &y, &wheel, &buttons), 0);
            EXPECT_EQ(x * 1000 + y, 50 * 1000 + 30);
        }
        if (Clock::now() - t0 < std::chrono::milliseconds(50))
            reused = asked_at() == before;
    }
    EXPECT_TRUE(reused);

    // Every kind of change shows at once: motion, a button, and the
    // program's warp (with no event yet).
    xdotool("mousemove 61 42");
    EXPECT_TRUE(reaches(61, 42, 0, 30));
    xdotool("mousedown 1");
    EXPECT_TRUE(reaches(61, 42, 1, 30));
    xdotool("mouseup 1");
    EXPECT_TRUE(reaches(61, 42, 0, 30));
    rk_GfxSetMouse(10, 20, -1, -1);
    ASSERT_EQ(get_mouse(&x, &y, &wheel, &buttons), 0);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 20);
}

TEST_F(X11Test, CloseButtonPostsKeyAndEvent)
{
    boot("320x200x24");
    ASSERT_EQ(open(64, 40, 32), 0);
    rk_hGfxInputBufferChanged();
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = rk_x11.wmwindow;
    e.xclient.message_type = XInternAtom(peer, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(peer, "WM_DELETE_WINDOW", False));
    XSendEvent(peer, rk_x11.wmwindow, False, 0, &e);
    XSync(peer, False);
    ASSERT_TRUE(find(events_until(13), 13));
    EXPECT_EQ(rk_GfxGetkey(), 256);
}

// ---- full screen and modes -----------------------------------------------

TEST_F(X11Test, FullScreenLetterboxesAndReturns)
{
    boot("640x480x24");
    ASSERT_EQ(open(640, 400, 32, RK_MODE_FULLSCREEN), 0);
    EXPECT_TRUE(rk_x11.flags & RK_MODE_FULLSCREEN);
    EXPECT_EQ(rk_x11.display_offset, 40);
    fill_random(3);
    present();
    XImage *img = grab(0, 480);
    ASSERT_NE(img, nullptr);
    for (int y = 0; y < 400; y += 37)
        for (int x = 0; x < 640; x += 53) {
            uint32_t p;
            std::memcpy(&p, __rk_gfx->framebuffer + y * __rk_gfx->pitch + 4 * x, 4);
            ASSERT_EQ(XGetPixel(img, x, y + 40), p & 0xFFFFFF) << x << "," << y;
        }
    XDestroyImage(img);

    // The pointer at the image's top edge reports y = 0.
    XSetInputFocus(peer, rk_x11.window, RevertToParent, CurrentTime);
    XSync(peer, False);
    events_for(100);
    xdotool("mousemove 10 40");
    events_until(4);
    int x, y, wheel, buttons;
    ASSERT_EQ(get_mouse(&x, &y, &wheel, &buttons), 0);
    EXPECT_EQ(y, 0);

    // Leaving releases the keyboard grab and keeps the desktop size.
    rk_GfxScreen(0, 0, 0, 0, 0);
    EXPECT_EQ(XGrabKeyboard(peer, DefaultRootWindow(peer), False, GrabModeAsync, GrabModeAsync, CurrentTime),
              GrabSuccess);
    EXPECT_EQ(DisplayWidth(peer, 0), 640);
    EXPECT_EQ(DisplayHeight(peer, 0), 480);
}

TEST_F(X11Test, FullScreenAtTheDesktopSize)
{
    boot("320x240x24");
    ASSERT_EQ(open(320, 240, 32, RK_MODE_FULLSCREEN), 0);
    EXPECT_TRUE(rk_x11.flags & RK_MODE_FULLSCREEN);
    EXPECT_EQ(rk_x11.display_offset, 0);
    // A mode no size fits falls back to a window.
    ASSERT_EQ(open(200, 100, 32, RK_MODE_FULLSCREEN), 0);
    EXPECT_FALSE(rk_x11.flags & RK_MODE_FULLSCREEN);
}

TEST_F(X11Test, ModesAndScreenInfo)
{
    boot("640x480x16");
    int count = -1;
    EXPECT_EQ(rk_hX11FetchModes(12, &count), nullptr);
    int *modes = rk_hX11FetchModes(32, &count);  // no screen open
    ASSERT_NE(modes, nullptr);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(modes[0], (640 << 16) | 480);
    std::free(modes);
    int w, h, depth, rate;
    rk_hScreenInfo(&w, &h, &depth, &rate);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(depth, 16);

    ASSERT_EQ(open(64, 40, 16), 0);
    modes = __rk_gfx->driver->fetch_modes(16, &count);
    ASSERT_NE(modes, nullptr);
    EXPECT_EQ(modes[0], (640 << 16) | 480);
    std::free(modes);
}

// ---- connections ---------------------------------------------------------

TEST_F(X11Test, RemoteDisplayUsesPlainImagesAndNoFullScreen)
{
    boot("320x200x24", true);
    setenv("DISPLAY", ("127.0.0.1" + server.name()).c_str(), 1);
    ASSERT_EQ(open(64, 40, 32, RK_MODE_FULLSCREEN), 0);
    EXPECT_FALSE(rk_x11.flags & RK_MODE_FULLSCREEN) << "full screen fails on a remote display";
    EXPECT_FALSE(rk_x11p.is_shm);
    fill_random(5);
    present();
    XImage *img = grab();
    ASSERT_NE(img, nullptr);
    uint32_t p;
    std::memcpy(&p, __rk_gfx->framebuffer + 7 * __rk_gfx->pitch + 4 * 9, 4);
    EXPECT_EQ(XGetPixel(img, 9, 7), p & 0xFFFFFF);
    XDestroyImage(img);
}

TEST_F(X11Test, ClosingAfterTheServerWentAwayReturns)
{
    boot("320x200x24");
    ASSERT_EQ(open(64, 40, 32), 0);
    XCloseDisplay(peer);
    peer = nullptr;
    server.stop();
    auto done = std::async(std::launch::async, [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int x, y, wheel, buttons, clip;
        rk_GfxLock();
        int r = __rk_gfx->driver->get_mouse(&x, &y, &wheel, &buttons, &clip);
        rk_GfxUnlock(-1, -1);
        rk_GfxScreen(0, 0, 0, 0, 0);
        return r;
    });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "closing hung";
    EXPECT_EQ(done.get(), -1);
    EXPECT_EQ(__rk_gfx, nullptr);
}

// A window manager that never maps the window (here: a client that takes
// the redirection of the root window and ignores every map request) must
// not keep the screen from opening.
TEST_F(X11Test, WindowNeverMappedByTheManagerDoesNotHang)
{
    boot("320x200x24");
    XSelectInput(peer, DefaultRootWindow(peer), SubstructureRedirectMask);
    XSync(peer, False);
    auto done = std::async(std::launch::async, [] { return open(64, 40, 32); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(8)), std::future_status::ready) << "opening hung";
    EXPECT_EQ(done.get(), 0);
    fill_random(3);
    rk_GfxScreen(0, 0, 0, 0, 0);
    EXPECT_EQ(__rk_gfx, nullptr);
}

TEST_F(X11Test, NoDisplayFailsCleanly)
{
    unsetenv("DISPLAY");
    __rk_gfx_driver_name = nullptr;
    EXPECT_EQ(rk_GfxScreenRes(64, 40, 32, 0, 0, 0), 1);
    EXPECT_EQ(__rk_gfx, nullptr);
    int w = -1, h = -1, depth = -1, rate = -1;
    rk_hScreenInfo(&w, &h, &depth, &rate);
    EXPECT_EQ(w | h | depth | rate, 0);
}

}  // namespace

namespace {

TEST_F(X11Test, GrabsHeldElsewhereAreGivenUp)
{
    boot("320x200x24");
    // Another client holds the keyboard: full screen fails and the
    // selection falls back to a window.
    ASSERT_EQ(XGrabKeyboard(peer, DefaultRootWindow(peer), False, GrabModeAsync, GrabModeAsync, CurrentTime),
              GrabSuccess);
    XSync(peer, False);
    ASSERT_EQ(open(320, 200, 32, RK_MODE_FULLSCREEN), 0);
    EXPECT_FALSE(rk_x11.flags & RK_MODE_FULLSCREEN);

    // Another client holds the pointer: a clip request is dropped after
    // about two seconds instead of hanging.
    ASSERT_EQ(XGrabPointer(peer, DefaultRootWindow(peer), False, 0, GrabModeAsync, GrabModeAsync, None, None,
                           CurrentTime),
              GrabSuccess);
    XSync(peer, False);
    auto t0 = Clock::now();
    rk_GfxLock();
    __rk_gfx->driver->set_mouse(-1, -1, -1, 1);
    rk_GfxUnlock(1, 0);
    auto took = Clock::now() - t0;
    EXPECT_EQ(rk_x11.mouse_clip, 0);
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LE(took, std::chrono::milliseconds(3000));
}

// The paint program itself: X11 when DISPLAY works, a clean failure when
// there is no display.
TEST_F(X11Test, PaintProgramStartsOnX11OrFailsCleanly)
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    std::string exe = std::string(self).substr(0, std::string(self).rfind('/')) + "/../malwerk";
    unsetenv("RIVEZ");

    unsetenv("DISPLAY");
    EXPECT_NE(std::system((exe + " 2>/dev/null").c_str()), 0);

    boot("800x600x24");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execl(exe.c_str(), exe.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // Its 800 x 600 window appears on the server.
    bool found = false;
    for (int i = 0; i < 200 && !found; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        XQueryTree(peer, DefaultRootWindow(peer), &root, &parent, &children, &count);
        for (unsigned k = 0; k < count; ++k) {
            XWindowAttributes a;
            if (XGetWindowAttributes(peer, children[k], &a) && a.map_state == IsViewable && a.width == 800 &&
                a.height == 600)
                found = true;
        }
        if (children)
            XFree(children);
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(found);
    // SIGTERM may arrive before the program has installed its handler.
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 0) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM))
        << status;
}

}  // namespace

namespace {

TEST_F(X11Test, AltEnterTogglesFullScreen)
{
    boot("320x200x24");
    ASSERT_EQ(open(320, 200, 32), 0);
    focus();
    rk_GfxLock();
    __rk_gfx->key_state[30] = 1;
    rk_GfxUnlock(1, 0);
    xdotool("keydown alt keydown Return");
    std::optional<EventRecord> enter;
    for (int i = 0; i < 5 && !enter; ++i)
        for (const EventRecord &r : events_until(1))
            if (r.type == 1 && r.field[0] == 28)
                enter = r;
    xdotool("keyup Return keyup alt");
    ASSERT_TRUE(enter);
    EXPECT_EQ(enter->field[1], 0) << "a toggle posts no key";
    EXPECT_TRUE(rk_x11.flags & RK_MODE_FULLSCREEN);
    rk_GfxLock();
    EXPECT_EQ(__rk_gfx->key_state[30], 0) << "the toggle clears the held keys";
    rk_GfxUnlock(1, 0);
    fill_random(9);
    present();
    XImage *img = grab(0, 1);
    ASSERT_NE(img, nullptr);
    uint32_t p;
    std::memcpy(&p, __rk_gfx->framebuffer + 4 * 5, 4);
    EXPECT_EQ(XGetPixel(img, 5, 0), p & 0xFFFFFF);
    XDestroyImage(img);
}

}  // namespace

namespace {

// ---- focus, keys and title as a user meets them ----------------------------

// With no window manager nobody sets the focus: the map itself gives it, so
// the pointer and the keys work at once.
TEST_F(X11Test, MapGivesTheFocusWithoutAWindowManager)
{
    boot("320x200x24");
    ASSERT_EQ(open(320, 200, 32), 0);
    ASSERT_TRUE(find(events_until(11), 11));
    EXPECT_EQ(rk_x11p.has_focus, 1);
    xdotool("mousemove 40 30");
    events_until(4);
    int x, y, wheel, buttons;
    ASSERT_EQ(get_mouse(&x, &y, &wheel, &buttons), 0);
    EXPECT_EQ(x, 40);
    EXPECT_EQ(y, 30);
    xdotool("key x");
    events_until(2);
    EXPECT_EQ(next_key(), 'x');
}

// Named keys give their code even when they also type a byte (both Delete
// keys type DEL); keypad Delete with Num Lock on types its decimal point.
TEST_F(X11Test, DeleteKeysGiveTheirNamedCode)
{
    boot("320x200x24");
    ASSERT_EQ(open(320, 200, 32), 0);
    focus();
    unsigned num_lock = 0;
    XModifierKeymap *mods = XGetModifierMapping(peer);
    KeyCode nl = XKeysymToKeycode(peer, XK_Num_Lock);
    for (int m = 0; m < 8; ++m)
        for (int k = 0; k < mods->max_keypermod; ++k)
            if (nl && mods->modifiermap[m * mods->max_keypermod + k] == nl)
                num_lock = 1u << m;
    XFreeModifiermap(mods);
    ASSERT_NE(num_lock, 0u);

    struct Case {
        KeySym sym;
        unsigned state;
        int code;
    };
    const Case cases[] = {{XK_Delete, 0, RK_KEY_DELETE}, {XK_KP_Delete, 0, RK_KEY_DELETE},
                          {XK_KP_Delete, num_lock, '.'}, {XK_BackSpace, 0, 8},
                          {XK_Up, 0, RK_KEY_UP},         {XK_a, ShiftMask, 'A'}};
    for (const Case &c : cases) {
        SCOPED_TRACE(XKeysymToString(c.sym));
        take_events();
        XEvent e{};
        e.xkey.type = KeyPress;
        e.xkey.display = peer;
        e.xkey.window = rk_x11.window;
        e.xkey.root = DefaultRootWindow(peer);
        e.xkey.keycode = XKeysymToKeycode(peer, c.sym);
        e.xkey.state = c.state;
        e.xkey.same_screen = True;
        XSendEvent(peer, rk_x11.window, False, 0, &e);
        XSync(peer, False);
        std::optional<EventRecord> press = find(events_until(1), 1);
        ASSERT_TRUE(press);
        EXPECT_EQ(press->field[1], c.code);
        EXPECT_EQ(next_key(), c.code);
    }
    // The real key, typed through XTEST.
    xdotool("key Delete");
    events_until(2);
    EXPECT_EQ(next_key(), RK_KEY_DELETE);
}

// A text property of `win` and its type name.
static std::pair<std::string, std::string> text_property(Display *dpy, Window win, const char *name)
{
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char *data = nullptr;
    std::pair<std::string, std::string> out;
    if (XGetWindowProperty(dpy, win, XInternAtom(dpy, name, False), 0, 1024, False, AnyPropertyType, &type, &format,
                           &n, &after, &data) == Success &&
        data) {
        out.first.assign(reinterpret_cast<char *>(data), n);
        char *type_name = type ? XGetAtomName(dpy, type) : nullptr;
        out.second = type_name ? type_name : "";
        if (type_name)
            XFree(type_name);
    }
    if (data)
        XFree(data);
    return out;
}

// Both windows, the inner one and the frame a window manager decorates, carry
// the caption as WM_NAME (Latin-1) and _NET_WM_NAME (UTF-8), and WM_CLASS.
TEST_F(X11Test, TitleAndClassOnBothWindows)
{
    boot("320x200x24");
    ASSERT_EQ(open(64, 40, 32), 0);
    for (Window win : {rk_x11.window, rk_x11.wmwindow}) {
        EXPECT_EQ(text_property(peer, win, "WM_NAME"), std::make_pair(std::string("malwerk_tests"), std::string("STRING")));
        EXPECT_EQ(text_property(peer, win, "_NET_WM_NAME").second, "UTF8_STRING");
        XClassHint hint{};
        ASSERT_TRUE(XGetClassHint(peer, win, &hint));
        EXPECT_STREQ(hint.res_name, "malwerk_tests");
        EXPECT_STREQ(hint.res_class, "Malwerk_tests");
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    struct Case {
        const char *title, *latin1, *utf8;
    };
    const Case cases[] = {
        {"Bild", "Bild", "Bild"},
        {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC", "Gr\xFC\xDF ?", "Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"},  // UTF-8
        {"Gr\xFC\xDF", "Gr\xFC\xDF", "Gr\xC3\xBC\xC3\x9F"},                                      // Latin-1
        {"", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.utf8);
        rk_GfxSetWindowTitle(rk_StrAllocTempDesc(c.title));
        rk_GfxLock();
        XSync(rk_x11.display, False);
        rk_GfxUnlock(1, 0);
        for (Window win : {rk_x11.window, rk_x11.wmwindow}) {
            EXPECT_EQ(text_property(peer, win, "WM_NAME").first, c.latin1);
            EXPECT_EQ(text_property(peer, win, "_NET_WM_NAME").first, c.utf8);
        }
    }
}

// Starts openbox on the test's server; stopped and reaped by the destructor.
struct Openbox {
    pid_t pid = -1;
    ~Openbox()
    {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    // False when openbox does not come up; it is up once it has framed a
    // window of ours.
    bool start(Display *dpy)
    {
        pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int null = ::open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execlp("openbox", "openbox", "--sm-disable", static_cast<char *>(nullptr));
            _exit(127);
        }
        Window probe = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 10, 10, 0, 0, 0);
        bool framed = false;
        for (int i = 0; i < 500 && !framed; ++i) {
            XMapWindow(dpy, probe);
            XSync(dpy, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            Window root, parent, *children = nullptr;
            unsigned n;
            if (XQueryTree(dpy, probe, &root, &parent, &children, &n))
                framed = parent != root;
            if (children)
                XFree(children);
        }
        XDestroyWindow(dpy, probe);
        XSync(dpy, False);
        return framed;
    }
};

// Under a real window manager the frame window is the managed one: the
// manager shows the caption from the open on, and follows a change.
TEST_F(X11Test, WindowManagerShowsTheTitle)
{
    boot("640x480x24");
    Openbox wm;
    if (std::system("command -v openbox >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "openbox is not installed";
    ASSERT_TRUE(wm.start(peer));
    ASSERT_EQ(open(64, 40, 32), 0);
    auto visible_name = [&] { return text_property(peer, rk_x11.wmwindow, "_NET_WM_VISIBLE_NAME").first; };
    auto wait_name = [&](const std::string &want) {
        for (int i = 0; i < 300 && visible_name() != want; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return visible_name();
    };
    EXPECT_EQ(wait_name("malwerk_tests"), "malwerk_tests");
    rk_GfxSetWindowTitle(rk_StrAllocTempDesc("Gr\xC3\xBC\xC3\x9F"));
    EXPECT_EQ(wait_name("Gr\xC3\xBC\xC3\x9F"), "Gr\xC3\xBC\xC3\x9F");
    // The manager gives the window the focus.
    events_for(200);
    rk_GfxLock();
    EXPECT_EQ(rk_x11p.has_focus, 1);
    rk_GfxUnlock(1, 0);
}

// ---- failures inside the open ----------------------------------------------

// Each XCreateGC of the open fails in turn: the open degrades (no blank
// cursor) or fails cleanly, and what opens shows the framebuffer.
TEST_F(X11Test, EachFailedGraphicsContextOfTheOpenIsSurvived)
{
    boot("320x200x24");
    XInternAtom(peer, "_MOTIF_WM_HINTS", False);  // shaped windows have no frame
    XSync(peer, False);
    for (int flags : {0, static_cast<int>(RK_MODE_SHAPED)}) {
        int walked = 0;
        for (int n = 1; n < 20; ++n) {
            SCOPED_TRACE(testing::Message() << "flags " << flags << ", call " << n);
            gc_calls_until_failure = n;
            int r = open(64, 40, 32, flags);
            bool failed_one = gc_calls_until_failure == 0;
            gc_calls_until_failure = 0;
            if (r != 0) {
                EXPECT_EQ(__rk_gfx, nullptr);
            } else {
                if (n == 1) {  // the cursor's: the window has no blank cursor
                    EXPECT_EQ(rk_x11p.blank_cursor, None);
                    rk_GfxSetMouse(-1, -1, 0, -1);  // hiding keeps the arrow
                    EXPECT_EQ(rk_x11p.cursor_shown, 1);
                }
                fill_random(static_cast<uint32_t>(n));
                present();
                XImage *img = grab(0, 1);
                ASSERT_NE(img, nullptr);
                uint32_t p;
                std::memcpy(&p, __rk_gfx->framebuffer + 4 * 3, 4);
                EXPECT_EQ(XGetPixel(img, 3, 0), p & 0xFFFFFF);
                XDestroyImage(img);
            }
            rk_GfxScreen(0, 0, 0, 0, 0);
            if (!failed_one)
                break;  // the open makes fewer than n calls: all were walked
            ++walked;
        }
        EXPECT_EQ(walked, flags ? 2 : 1) << "the cursor's and the shape's";
    }
}

// A window thread whose start hook hangs in a round trip (another client
// holds a server grab, as a stuck server would) fails the open in bounded
// time, and the driver opens again afterwards.
TEST_F(X11Test, StuckStartOfTheWindowThreadFailsTheOpen)
{
    boot("320x200x24");
    static Display *grabber;
    grabber = peer;
    std::memset(&rk_x11, 0, sizeof rk_x11);
    rk_x11.init = [] {
        XGrabServer(grabber);
        XSync(grabber, False);
        XSync(rk_x11.display, False);
        return 0;
    };
    rk_x11.exit = [] {};
    rk_x11.update = [] {};
    auto t0 = Clock::now();
    auto opened = std::async(std::launch::async, [] { return rk_hX11Init("t", 64, 40, 24, 0, 0); });
    bool in_time = opened.wait_for(std::chrono::seconds(15)) == std::future_status::ready;
    XUngrabServer(peer);
    XSync(peer, False);
    int r = opened.get();
    auto took = Clock::now() - t0;
    rk_hX11Exit();
    EXPECT_TRUE(in_time) << "the open waited for the stuck thread";
    EXPECT_EQ(r, -1);
    EXPECT_LT(took, std::chrono::seconds(12));
    EXPECT_EQ(rk_x11.display, nullptr);
    ASSERT_EQ(open(64, 40, 32), 0);
    fill_random(4);
    present();
}

// ---- a lost display ----------------------------------------------------------

// How a program in a child process ended after the server was killed.
struct ProgramEnd {
    bool ended = false;
    int status = 0;
    Clock::duration took{};
    std::string err;  // what it wrote to standard error
};

// Kills the server under the program `pid` and waits (at most five seconds)
// for the program to end; its standard error is read from `err_fd`, which is
// closed.
static ProgramEnd kill_server_under(Xvfb &server, pid_t pid, int err_fd)
{
    ProgramEnd end;
    auto t0 = Clock::now();
    server.stop(SIGKILL);
    while (!(end.ended = waitpid(pid, &end.status, WNOHANG) == pid) && Clock::now() - t0 < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    end.took = Clock::now() - t0;
    if (!end.ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &end.status, 0);
    }
    char buf[256];
    for (ssize_t n; (n = read(err_fd, buf, sizeof buf)) > 0;)
        end.err.append(buf, static_cast<std::size_t>(n));
    close(err_fd);
    return end;
}

// The program ended as an X client does when its server goes away: status 1
// within two seconds, after one line on standard error.
static void expect_lost_display_exit(const ProgramEnd &end)
{
    EXPECT_TRUE(end.ended);
    EXPECT_TRUE(WIFEXITED(end.status) && WEXITSTATUS(end.status) == 1)
        << "status " << end.status << (WIFSIGNALED(end.status) ? ", killed by a signal" : "");
    EXPECT_LT(end.took, std::chrono::seconds(2));
    EXPECT_EQ(std::count(end.err.begin(), end.err.end(), '\n'), 1) << end.err;
    EXPECT_NE(end.err.find("lost the connection to the X display"), std::string::npos) << end.err;
}

// The server killed under a program that waits in the layer: the program
// ends with one line on standard error and status 1 within two seconds, and
// leaves no shared-memory segment behind.
TEST_F(X11Test, LostDisplayEndsTheProgram)
{
    struct Case {
        const char *what;
        void (*wait)();
    };
    const Case cases[] = {
        {"sleep", [] { rk_GfxSleep(8000); }},
        {"key wait", [] { rk_GfxGetkey(); }},
        {"line input", [] { rk_ConsoleInput(rk_StrAllocTempDesc("Name"), 1, 1); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boot("320x200x24");
        int ready[2], err[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(err), 0);
        std::fflush(nullptr);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(err[1], 2);
            close(err[0]);
            close(ready[0]);
            if (open(320, 200, 32) != 0)
                _exit(3);
            if (write(ready[1], "r", 1) != 1)
                _exit(4);
            c.wait();
            _exit(0);  // the wait ended and the program went on
        }
        close(ready[1]);
        close(err[1]);
        char b;
        bool opened = read(ready[0], &b, 1) == 1;
        close(ready[0]);
        int shmid = shm_segment_of(pid);
        XCloseDisplay(peer);  // this process would end with its connection
        peer = nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ProgramEnd end = kill_server_under(server, pid, err[0]);

        ASSERT_TRUE(opened);
        expect_lost_display_exit(end);
        EXPECT_GE(shmid, 0);
        EXPECT_FALSE(shm_segment_exists(shmid));
    }
}

// A key that follows a keyboard change (typing through XTEST reports one
// too) is translated by the changed keyboard, which is fetched from the
// server first. The server killed during that fetch ends the program like
// any lost display, without a crash inside Xlib. The program is held while
// the layout changes and the key is sent, and the server is stopped before
// the program goes on, so the fetch is under way at the kill. Before that, a
// key after a change of layout types by the new layout.
TEST_F(X11Test, LostDisplayWhileAKeyAwaitsTheChangedKeyboard)
{
    boot("320x200x24");
    int ready[2], keys[2], err[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(keys), 0);
    ASSERT_EQ(pipe(err), 0);
    std::fflush(nullptr);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(err[1], 2);
        close(err[0]);
        close(ready[0]);
        close(keys[0]);
        if (open(320, 200, 32) != 0)
            _exit(3);
        auto win = static_cast<uint32_t>(rk_x11.window);
        if (write(ready[1], &win, sizeof win) != sizeof win)
            _exit(4);
        for (;;) {
            int k = rk_GfxGetkey();
            if (write(keys[1], &k, sizeof k) != sizeof k)
                _exit(5);
        }
    }
    close(ready[1]);
    close(keys[1]);
    close(err[1]);
    uint32_t win = 0;
    ASSERT_EQ(read(ready[0], &win, sizeof win), static_cast<ssize_t>(sizeof win));
    close(ready[0]);

    const KeyCode y = XKeysymToKeycode(peer, XK_y);  // z in the German layout
    auto press = [&] {
        XEvent e{};
        e.xkey.type = KeyPress;
        e.xkey.display = peer;
        e.xkey.window = win;
        e.xkey.root = DefaultRootWindow(peer);
        e.xkey.keycode = y;
        e.xkey.same_screen = True;
        XSendEvent(peer, win, False, 0, &e);
        XSync(peer, False);
    };
    ASSERT_EQ(std::system("setxkbmap -layout de"), 0);
    press();
    pollfd typed{keys[0], POLLIN, 0};
    int k = 0;
    ASSERT_EQ(poll(&typed, 1, 2000), 1);
    ASSERT_EQ(read(keys[0], &k, sizeof k), static_cast<ssize_t>(sizeof k));
    EXPECT_EQ(k, 'z');

    kill(pid, SIGSTOP);
    int changed = std::system("setxkbmap -layout us");
    press();
    XCloseDisplay(peer);  // this process would end with its connection
    peer = nullptr;
    kill(server.pid(), SIGSTOP);
    kill(pid, SIGCONT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ProgramEnd end = kill_server_under(server, pid, err[0]);
    close(keys[0]);
    EXPECT_EQ(changed, 0);
    expect_lost_display_exit(end);
}

}  // namespace

