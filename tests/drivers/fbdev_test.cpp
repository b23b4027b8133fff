// The framebuffer driver against the test device: modes, depths and the
// planar VGA, colour maps, the mouse and its cursor, and the console left as
// it was found.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/kd.h>
#include <linux/keyboard.h>
#include <string>
#include <vector>

#include "gfx/core/color.h"
#include "gfx/core/screen.h"
#include "gfx/core/target.h"
#include "gfx/drivers/fbdev.h"
#include "gfx/input/keys.h"
#include "gfx/input/mouse.h"
#include "rt/console.h"
#include "tests/support/fbdev_fixture.h"

namespace {

bool accept_all(const fb_var_screeninfo &)
{
    return true;
}
bool accept_none(const fb_var_screeninfo &)
{
    return false;
}
bool only_1024x768_16(const fb_var_screeninfo &m)
{
    return m.xres == 1024 && m.yres == 768 && m.bits_per_pixel == 16;
}
bool only_own_depth_16(const fb_var_screeninfo &m)
{
    return m.bits_per_pixel == 16;
}
bool only_own_555(const fb_var_screeninfo &m)
{
    return m.bits_per_pixel == 16 && m.green.length == 5;
}
bool only_32(const fb_var_screeninfo &m)
{
    return m.bits_per_pixel == 32;
}
bool only_8(const fb_var_screeninfo &m)
{
    return m.bits_per_pixel == 8;
}

struct DeviceCase {
    const char *name;
    uint32_t type;
    uint32_t visual;
    Layout layout;  // the device's mode before the program
    uint32_t xres, yres;
    bool (*accepts)(const fb_var_screeninfo &);
    uint32_t smem_len;  // 0: the mode's size
    int depth;          // the screen the program opens
    int want_w, want_h;
    bool opens;
    uint32_t shown_xres, shown_yres, shown_bpp;  // the mode in force while open
    // Device name (RIVEZ_FRAMEBUFFER names any other than "/dev/fb0") and
    // how it reports the retrace.
    const char *fb_name = "/dev/fb0";
    uint32_t vblank_flags = 0;
    bool vblank_stuck = false;
    int rate = -1;                  // refresh rate the screen gets; -1: not checked
    const char *modes16 = nullptr;  // sizes the device lists for 16 bits
    // A request of the device that fails, or its memory that cannot be
    // mapped: the open fails half-way.
    unsigned long failing_request = 0;
    bool mmap_fails = false;
    bool ports_refused = false;  // the process may not use the VGA ports
};

constexpr uint32_t VCOUNT = FB_VBLANK_HAVE_VCOUNT, VBLANK = FB_VBLANK_HAVE_VBLANK;

const DeviceCase device_cases[] = {
    // The exact mode (attempt 1) on a device named by RIVEZ_FRAMEBUFFER.
    {"exact32", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L32, 1024, 768, accept_all, 0, 32, 800, 600, true,
     800, 600, 32, "/dev/fb1", VCOUNT, false, 90,
     "320x200 320x240 400x300 512x384 640x400 640x480 800x600 1024x768 1280x1024 1600x1200"},
    // Only 1024 x 768 at the device's own depth: attempt 4, centred.
    {"larger16", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L16, 1024, 768, only_1024x768_16, 0, 32, 800, 600,
     true, 1024, 768, 16, "/dev/fb0", VBLANK, false, 60, "1024x768"},
    // Nothing accepted: the device's current mode, large enough, centred. Its
    // retrace counter never moves.
    {"current24", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L24, 1024, 768, accept_none, 0, 32, 800, 600, true,
     1024, 768, 24, "/dev/fb0", VCOUNT, true, 60, ""},
    // Nothing accepted and the current mode too small: refused.
    {"refused", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L32, 640, 480, accept_none, 0, 32, 800, 600, false,
     0, 0, 0},
    // The device's depth at the exact size (attempt 3), 16 and 15 bits.
    {"own16", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L16, 800, 600, only_own_depth_16, 0, 32, 800, 600, true,
     800, 600, 16, "/dev/fb0", VBLANK, true},
    {"own15", FB_TYPE_PACKED_PIXELS, FB_VISUAL_DIRECTCOLOR, L15, 800, 600, only_own_555, 0, 32, 800, 600, true,
     800, 600, 16},
    // 16- and 8-bit screens; on a pseudo-colour device the palette goes to
    // the device's colour map.
    {"screen16", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L32, 800, 600, accept_all, 0, 16, 800, 600, true, 800,
     600, 16},
    {"pseudo8", FB_TYPE_PACKED_PIXELS, FB_VISUAL_PSEUDOCOLOR, L8, 640, 480, only_8, 0, 8, 640, 480, true, 640, 480,
     8},
    {"screen8_on32", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L32, 640, 480, only_32, 0, 8, 640, 480, true,
     640, 480, 32},
    // The mode fits, the device memory does not hold it: refused.
    {"short_memory", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L32, 1024, 768, accept_all, 800 * 600 * 4 - 4, 32,
     800, 600, false, 0, 0, 0},
    // The open fails after the mode was set, or when the keyboard cannot be
    // taken: everything is put back.
    {"mmap_fails", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L32, 1024, 768, accept_all, 0, 32, 800, 600, false,
     0, 0, 0, "/dev/fb0", 0, false, -1, nullptr, 0, true},
    {"keyboard_refused", FB_TYPE_PACKED_PIXELS, FB_VISUAL_TRUECOLOR, L32, 1024, 768, accept_all, 0, 32, 800, 600,
     false, 0, 0, 0, "/dev/fb0", 0, false, -1, nullptr, KDSKBMODE},
    // Not a packed-pixel or VGA device, or a monochrome one: refused.
    {"planes", FB_TYPE_PLANES, FB_VISUAL_TRUECOLOR, L32, 1024, 768, accept_all, 0, 32, 800, 600, false, 0, 0, 0},
    {"mono", FB_TYPE_PACKED_PIXELS, FB_VISUAL_MONO01, L32, 1024, 768, accept_all, 0, 32, 800, 600, false, 0, 0,
     0},
    // The 16-colour VGA: an 8-bit screen through the nearest of 16 colours,
    // centred, and a 4-bit screen with its own palette.
    {"vga16_depth8", FB_TYPE_VGA_PLANES, FB_VISUAL_PSEUDOCOLOR, L4, 800, 600, accept_all, 0, 8, 640, 480, true, 800,
     600, 4},
    {"vga16_depth4", FB_TYPE_VGA_PLANES, FB_VISUAL_PSEUDOCOLOR, L4, 640, 480, accept_all, 0, 4, 640, 480, true, 640,
     480, 4},
    // Without the VGA ports the 16-colour device cannot be used.
    {"vga16_no_ports", FB_TYPE_VGA_PLANES, FB_VISUAL_PSEUDOCOLOR, L4, 640, 480, accept_all, 0, 4, 640, 480, false, 0,
     0, 0, "/dev/fb0", 0, false, -1, nullptr, 0, false, true},
    // A 16-colour VGA cannot show 32 bits.
    {"vga16_depth32", FB_TYPE_VGA_PLANES, FB_VISUAL_PSEUDOCOLOR, L4, 800, 600, accept_all, 0, 32, 800, 600, false,
     0, 0, 0},
    // A colour map that cannot be read cannot be put back: the device keeps
    // its own colours throughout.
    {"cmap_unreadable", FB_TYPE_PACKED_PIXELS, FB_VISUAL_PSEUDOCOLOR, L8, 640, 480, only_8, 0, 8, 640, 480, true,
     640, 480, 8, "/dev/fb0", 0, false, -1, nullptr, FBIOGETCMAP},
    {"vga16_cmap_unreadable", FB_TYPE_VGA_PLANES, FB_VISUAL_PSEUDOCOLOR, L4, 640, 480, accept_all, 0, 8, 640, 480,
     true, 640, 480, 4, "/dev/fb0", 0, false, -1, nullptr, FBIOGETCMAP},
};

void PrintTo(const DeviceCase &c, std::ostream *os)
{
    *os << c.name;
}

class FBDevModes : public FBDevTest, public ::testing::WithParamInterface<DeviceCase> {};

// Colours drawn at four places of the screen (negative: from the right or
// bottom edge): values for 16- and 32-bit screens, indices of the default
// palette for the others.
struct Mark {
    int x, y;
    uint32_t rgb;
    uint8_t index;
    uint32_t index_rgb;
};
constexpr Mark marks[] = {{0, 0, 0xFF0000, 3, 0x00AAAA},
                          {17, 3, 0x00FF00, 10, 0x55FF55},
                          {-1, 1, 0x0000FF, 9, 0x5555FF},
                          {100, -1, 0x12C456, 6, 0xAA5500}};

TEST_P(FBDevModes, OpensShowsAndRestores)
{
    const DeviceCase &c = GetParam();
    TestDevConfig cfg;
    cfg.type = c.type;
    cfg.visual = c.visual;
    cfg.mode = make_mode(c.xres, c.yres, c.layout);
    cfg.accepts = c.accepts;
    cfg.smem_len = c.smem_len;
    std::snprintf(cfg.fb_name, sizeof cfg.fb_name, "%s", c.fb_name);
    if (std::strcmp(c.fb_name, "/dev/fb0") != 0)
        setenv("RIVEZ_FRAMEBUFFER", c.fb_name, 1);
    cfg.vblank_flags = c.vblank_flags;
    cfg.vblank_stuck = c.vblank_stuck;
    cfg.failing_request = c.failing_request;
    cfg.mmap_fails = c.mmap_fails;
    cfg.ports_granted = !c.ports_refused;
    TestDev dev(cfg);
    TestDevState before = dev.state();
    auto at_x = [&](const Mark &k) { return k.x < 0 ? c.want_w + k.x : k.x; };
    auto at_y = [&](const Mark &k) { return k.y < 0 ? c.want_h + k.y : k.y; };

    ConsoleChild child;
    ASSERT_TRUE(child.start(dev, [&](ConsoleChild &me) {
        int info[4];
        rk_hScreenInfo(&info[0], &info[1], &info[2], &info[3]);
        me.report("before " + std::to_string(info[0]) + "x" + std::to_string(info[1]) + "x" + std::to_string(info[2]));
        if (rk_GfxScreenRes(c.want_w, c.want_h, c.depth, 0, 0, 0) != 0) {
            me.report("refused");
            return 0;
        }
        ScreenState *s = __rk_gfx;
        me.check(std::strcmp(s->driver->name, "FBDev") == 0, "driver");
        rk_GfxLock();
        for (const Mark &k : marks) {
            uint8_t *p = s->framebuffer + static_cast<std::size_t>(at_y(k)) * s->pitch +
                         static_cast<std::size_t>(at_x(k)) * s->bpp;
            uint16_t v16 = static_cast<uint16_t>(((k.rgb >> 8) & 0xF800) | ((k.rgb >> 5) & 0x7E0) | ((k.rgb & 0xFF) >> 3));
            if (s->bpp == 4)
                std::memcpy(p, &k.rgb, 4);
            else if (s->bpp == 2)
                std::memcpy(p, &v16, 2);
            else
                *p = k.index;
        }
        rk_GfxUnlock(-1, -1);
        // Reading the retrace port waits about a frame, also while the
        // program holds the screen lock (the thread cannot pass then).
        rk_GfxIn(0x3DA);
        rk_GfxLock();
        rk_GfxIn(0x3DA);
        rk_GfxUnlock(1, 0);
        rk_hScreenInfo(&info[0], &info[1], &info[2], &info[3]);
        me.report("info " + std::to_string(info[0]) + "x" + std::to_string(info[1]) + "x" + std::to_string(info[2]) +
                  " " + std::to_string(s->refresh_rate));
        int count = -1;
        std::string modes;
        if (int *list = s->driver->fetch_modes(16, &count)) {
            for (int i = 0; i < count; ++i)
                modes += (i ? " " : "") + std::to_string(list[i] >> 16) + "x" + std::to_string(list[i] & 0xFFFF);
            std::free(list);
        }
        me.report("modes16 " + modes);
        me.check(s->driver->fetch_modes(12, &count) == nullptr && count == 0, "no modes for 12 bits");
        me.report("open");
        me.wait_go();
        return 0;
    }));
    ASSERT_TRUE(child.wait_report(c.opens ? "open" : "refused")) << child.reports;
    // Without an open device the size is always asked of "/dev/fb0".
    std::string fb0 = std::strcmp(c.fb_name, "/dev/fb0") == 0
                          ? std::to_string(c.xres) + "x" + std::to_string(c.yres) + "x" + std::to_string(cfg.mode.bits_per_pixel)
                          : "0x0x0";
    EXPECT_TRUE(child.wait_report("before " + fb0 + "\n", 0)) << child.reports;
    if (!c.opens && c.mmap_fails) {
        EXPECT_GT(dev.counters().mode_sets, 1);
    }
    if (c.opens) {
        fb_var_screeninfo m = dev.mode();
        EXPECT_EQ(m.xres, c.shown_xres);
        EXPECT_EQ(m.yres, c.shown_yres);
        EXPECT_EQ(m.bits_per_pixel, c.shown_bpp);
        EXPECT_EQ(dev.state().kd_mode, KD_GRAPHICS);
        EXPECT_EQ(dev.state().kb_mode, K_MEDIUMRAW);
        std::string info = "info " + std::to_string(m.xres) + "x" + std::to_string(m.yres) + "x" +
                           std::to_string(m.bits_per_pixel) + " ";
        EXPECT_TRUE(child.wait_report(c.rate >= 0 ? info + std::to_string(c.rate) + "\n" : info, 0)) << child.reports;
        if (c.modes16) {
            EXPECT_TRUE(child.wait_report(std::string("modes16 ") + c.modes16 + "\n", 0)) << child.reports;
            EXPECT_GT(dev.counters().mode_tests, 0);
        }
        if (c.vblank_flags) {
            EXPECT_GT(dev.counters().vblank_reads, 0);
        }
        for (const Mark &k : marks) {
            uint32_t want = c.depth <= 8 ? k.index_rgb : c.depth == 16 ? (k.rgb & 0xF8FCF8) : k.rgb;
            want = truncate_to(want, m);
            if (c.failing_request == FBIOGETCMAP)  // the device's own grey ramp
                want = k.index * 0x010101u;
            uint32_t got = 0;
            EXPECT_TRUE(testdev_wait([&] { return (got = device_shows(dev, c.want_w, c.want_h, at_x(k), at_y(k))) == want; }))
                << "at " << at_x(k) << "," << at_y(k) << std::hex << " shows " << got << " want " << want;
        }
        // The planar path asked for the ports and set the graphics
        // controller to plain writes of all eight bits.
        if (c.type == FB_TYPE_VGA_PLANES) {
            EXPECT_TRUE(dev.port_access());
            EXPECT_GT(dev.counters().port_writes, 0);
            EXPECT_EQ(dev.gc_reg(3), 0);
            EXPECT_EQ(dev.gc_reg(5), 0);
            EXPECT_EQ(dev.gc_reg(1), 0);
            EXPECT_EQ(dev.gc_reg(8), 0xFF);
            EXPECT_NE(dev.seq_reg(2), 0);
        }
        child.go();
    }
    int status = child.finish();
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << " signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(dev.state() == before);
}

INSTANTIATE_TEST_SUITE_P(Devices, FBDevModes, ::testing::ValuesIn(device_cases),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace

namespace {

// Events in the open screen's queue, oldest first, as "type:f1,f2,..." with
// the fields the type uses.
std::string take_events()
{
    static constexpr int used[] = {0, 2, 2, 2, 4, 1, 1, 1, 1, 0, 0, 0, 0, 0};
    ScreenState *s = __rk_gfx;
    std::string out;
    pthread_mutex_lock(s->event_mutex);
    for (; s->event_head != s->event_tail; s->event_head = (s->event_head + 1) % RK_EVENT_QUEUE_SIZE) {
        const int32_t *r = s->event_queue + 5 * s->event_head;
        out += (out.empty() ? "" : " ") + std::to_string(r[0]);
        for (int i = 0; i < (r[0] >= 0 && r[0] < 14 ? used[r[0]] : 0); ++i)
            out += (i ? "," : ":") + std::to_string(r[1 + i]);
    }
    pthread_mutex_unlock(s->event_mutex);
    return out;
}

struct MouseCase {
    const char *name;
    TestDevMouse mice[TESTDEV_MICE];
    int used;         // index of the device the driver reads, -1: none
    int packet_size;
};

const MouseCase mouse_cases[] = {
    {"none", {}, -1, 0},
    {"mice_wheel", {{true, true, true}, {true, true, true}, {}}, 0, 4},
    {"mice_no_knock", {{true, true, false}, {}, {}}, 0, 3},
    {"usb_read_only", {{false, false, false}, {true, false, false}, {true, true, true}}, 1, 3},
    {"psaux_wheel", {{}, {}, {true, true, true}}, 2, 4},
};

void PrintTo(const MouseCase &c, std::ostream *os)
{
    *os << c.name;
}

class FBDevMouse : public FBDevTest, public ::testing::WithParamInterface<MouseCase> {};

// A packet of the case's size.
void packet(std::vector<uint8_t> &out, int size, uint8_t b0, uint8_t dx, uint8_t dy, uint8_t z = 0)
{
    out.insert(out.end(), {b0, dx, dy});
    if (size == 4)
        out.push_back(z);
}

TEST_P(FBDevMouse, PacketsEventsAndCursor)
{
    const MouseCase &c = GetParam();
    TestDevConfig cfg;
    cfg.mode = make_mode(800, 600, L32);
    std::memcpy(cfg.mice, c.mice, sizeof cfg.mice);
    TestDev dev(cfg);
    TestDevState before = dev.state();

    ConsoleChild child;
    ASSERT_TRUE(child.start(dev, [&](ConsoleChild &me) {
        if (rk_GfxScreenRes(800, 600, 32, 0, 0, 0) != 0)
            return 1;
        rk_GfxLock();
        for (int y = 0; y < 600; ++y)
            for (int x = 0; x < 800; ++x)
                std::memcpy(__rk_gfx->framebuffer + y * 3200 + x * 4, "\xFF\xFF\xFF\x00", 4);
        rk_GfxUnlock(-1, -1);
        int x, y, wheel, buttons, clip;
        int r = rk_GetMouse(&x, &y, &wheel, &buttons, &clip);
        if (c.used < 0) {
            me.check(r != 0 && x == -1, "no mouse: no position");
            return 0;
        }
        me.check(r == 0 && x == 400 && y == 300 && wheel == 0 && buttons == 0, "mouse starts in the middle");
        me.report("open");
        // The arrow is on the device, never in the program's picture.
        me.wait_go();
        rk_GfxLock();
        me.check(std::memcmp(__rk_gfx->framebuffer + 300 * 3200 + 400 * 4, "\xFF\xFF\xFF", 3) == 0,
                 "framebuffer keeps no arrow");
        rk_GfxUnlock(1, 0);
        me.report("pushed?");
        me.wait_go();
        for (int i = 0; i < 5000 && !(rk_GetMouse(&x, &y, &wheel, &buttons, &clip) == 0 && x == 100); ++i)
            rk_Delay(1);
        me.report("at " + std::to_string(x) + "," + std::to_string(y) + " wheel " + std::to_string(wheel) +
                  " buttons " + std::to_string(buttons));
        me.report("events " + take_events());
        rk_SetMouse(-1, -1, 0, -1);
        rk_SetMouse(-1, -1, -1, -1);  // negative: the cursor stays as it is
        me.report("hidden");
        me.wait_go();
        return 0;
    }));
    if (c.used < 0) {
        int status = child.finish();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_TRUE(dev.state() == before);
        return;
    }
    ASSERT_TRUE(child.wait_report("open"));
    EXPECT_EQ(dev.counters().knock_bytes, c.packet_size == 4 ? 6 : 0);

    // The arrow at (400, 300): black outline at the hot spot, white inside,
    // and on a 32-bit screen a shadow darkening the white below it.
    EXPECT_TRUE(testdev_wait([&] {
        return device_shows(dev, 800, 600, 399, 300) == 0xFFFFFF && device_shows(dev, 800, 600, 400, 300) == 0 &&
               device_shows(dev, 800, 600, 401, 302) == 0xFFFFFF && device_shows(dev, 800, 600, 399, 320) == 0xFFFFFF;
    }));
    uint32_t shadow = device_shows(dev, 800, 600, 408, 312);
    EXPECT_TRUE((shadow & 0xFF) > 0x80 && (shadow & 0xFF) < 0xFF) << std::hex << shadow;
    child.go();
    ASSERT_TRUE(child.wait_report("pushed?"));

    // A byte that cannot start a packet, a move of (10, 5), left pressed,
    // released and pressed again at once (a double click), released, two
    // moves of -256 that stop at the edge, the wheel up and down, then 300
    // packets that change nothing and 100 single steps right: more bytes
    // than one read takes.
    int n = c.packet_size;
    std::vector<uint8_t> bytes{0xC8};
    packet(bytes, n, 0x28, 10, 0xFB);
    packet(bytes, n, 0x09, 0, 0);
    packet(bytes, n, 0x08, 0, 0);
    packet(bytes, n, 0x09, 0, 0);
    packet(bytes, n, 0x08, 0, 0);
    packet(bytes, n, 0x18, 0, 0);
    packet(bytes, n, 0x18, 0, 0);
    packet(bytes, n, 0x08, 0, 0, 0x0F);
    packet(bytes, n, 0x08, 0, 0, 0x0F);
    packet(bytes, n, 0x08, 0, 0, 0x01);
    for (int i = 0; i < 300; ++i)
        packet(bytes, n, 0x08, 0, 0);
    for (int i = 0; i < 100; ++i)
        packet(bytes, n, 0x08, 1, 0);
    dev.push_mouse(c.used, bytes.data(), bytes.size());
    child.go();
    ASSERT_TRUE(child.wait_report("hidden"));
    EXPECT_EQ(dev.mouse_pending(c.used), 0u);
    std::string wheel = n == 4 ? "1" : "0";
    EXPECT_TRUE(child.wait_report("at 100,305 wheel " + wheel + " buttons 0\n", 0)) << child.reports;
    std::string events = "events 4:410,305,10,5 5:1 6:1 7:1 6:1 4:154,305,-256,0 4:0,305,-256,0";
    if (n == 4)
        events += " 8:1 8:2 8:1";
    events += " 4:1,305,1,0";
    EXPECT_NE(child.reports.find(events), std::string::npos) << child.reports;
    // Hidden: the device shows the picture again.
    EXPECT_TRUE(testdev_wait([&] { return device_shows(dev, 800, 600, 100, 305) == 0xFFFFFF; }));
    child.go();
    int status = child.finish();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(dev.state() == before);
}

INSTANTIATE_TEST_SUITE_P(Devices, FBDevMouse, ::testing::ValuesIn(mouse_cases),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace

namespace {

// A fatal signal while the screen is open: the runtime's fatal-signal path
// puts the console back before the process ends with the signal. SIGTERM
// comes from outside, the others are raised by the program. A palette
// change is waiting for the driver's thread when the signal comes, and mode
// changes are slow, so a thread that kept going would send the program's
// colours after the restore.
class FBDevSignal : public FBDevTest, public ::testing::WithParamInterface<int> {};

TEST_P(FBDevSignal, ConsoleRestored)
{
    int sig = GetParam();
    TestDevConfig cfg;
    cfg.type = FB_TYPE_PACKED_PIXELS;
    cfg.visual = FB_VISUAL_PSEUDOCOLOR;
    cfg.mode = make_mode(1024, 768, L8);
    cfg.mice[0] = {true, true, true};
    cfg.mode_set_ms = 30;
    TestDev dev(cfg);
    TestDevState before = dev.state();
    ConsoleChild child;
    ASSERT_TRUE(child.start(dev, [&](ConsoleChild &me) {
        if (rk_GfxScreen(18, 0, 0, 0, 0) != 0)
            return 1;
        rk_GfxPalette(1, 0x3F3F3F, -1, -1);
        me.report("open");
        me.wait_go();
        for (int i = 0;; ++i) {
            rk_GfxPalette(2, i & 63, -1, -1);
            if (sig != SIGTERM)
                raise(sig);
        }
    }));
    ASSERT_TRUE(child.wait_report("open"));
    EXPECT_TRUE(testdev_wait([&] { return dev.counters().cmap_puts > 0 && dev.state().cmap[0][1] == 0xFF00; }));
    EXPECT_EQ(dev.state().kd_mode, KD_GRAPHICS);
    EXPECT_EQ(dev.mode().xres, 640u);
    child.go();
    if (sig == SIGTERM) {
        usleep(50000);
        kill(child.pid, SIGTERM);
    }
    int status = child.finish();
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_TRUE(dev.state() == before);
}

INSTANTIATE_TEST_SUITE_P(Signals, FBDevSignal, ::testing::Values(SIGTERM, SIGSEGV, SIGINT),
                         [](const auto &p) { return std::string(sigabbrev_np(p.param)); });

}  // namespace

namespace {

// Switching to another virtual console and back with the console keyboard:
// the device gets its own colours back and the display freezes while away,
// everything is repainted on return, and the switch posts its events. A
// direct-colour device keeps its own colour map throughout.
struct SwitchCase {
    const char *name;
    uint32_t visual;
    Layout layout;
    int depth;
};

const SwitchCase switch_cases[] = {
    {"pseudo8", FB_VISUAL_PSEUDOCOLOR, L8, 8},
    {"direct32", FB_VISUAL_DIRECTCOLOR, L32, 32},
};

void PrintTo(const SwitchCase &c, std::ostream *os)
{
    *os << c.name;
}

class FBDevSwitch : public FBDevTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(FBDevSwitch, ConsoleSwitch)
{
    const SwitchCase &c = GetParam();
    TestDevConfig cfg;
    cfg.type = FB_TYPE_PACKED_PIXELS;
    cfg.visual = c.visual;
    cfg.mode = make_mode(640, 480, c.layout);
    TestDev dev(cfg);
    dev.set_keymap(8, 3, K(KT_CONS, 1));  // Alt+2: console 2
    TestDevState before = dev.state();
    ConsoleChild child;
    ASSERT_TRUE(child.start(dev, [&](ConsoleChild &me) {
        if (rk_GfxScreenRes(640, 480, c.depth, 0, 0, 0) != 0)
            return 1;
        rk_GfxPalette(4, 0x3F, -1, -1);  // red, on the 8-bit screen
        me.report("open");
        me.wait_go();
        rk_GfxLock();
        ScreenState *s = __rk_gfx;
        for (int x = 0; x < 640; ++x)
            if (s->bpp == 1)
                s->framebuffer[10 * 640 + x] = 4;
            else
                std::memcpy(s->framebuffer + 10 * s->pitch + 4 * x, "\x00\x00\xFF\x00", 4);
        rk_GfxUnlock(10, 10);
        me.report("drawn");
        me.wait_go();
        me.report("events " + take_events());
        return 0;
    }));
    ASSERT_TRUE(child.wait_report("open"));
    if (c.depth == 8) {
        ASSERT_TRUE(testdev_wait([&] { return dev.state().cmap[0][4] == 0xFF00; }));
    }

    static constexpr uint8_t alt_2[] = {56, 3};
    dev.push_keys(alt_2, sizeof alt_2);
    ASSERT_TRUE(testdev_wait([&] { return dev.state().active_vt == 2; }));
    EXPECT_EQ(dev.state().kd_mode, KD_TEXT);
    EXPECT_EQ(std::memcmp(dev.state().cmap, before.cmap, sizeof before.cmap), 0);
    // Drawing while away does not reach the device.
    child.go();
    ASSERT_TRUE(child.wait_report("drawn"));
    usleep(100000);
    EXPECT_EQ(dev.memory()[10 * dev.fix().line_length], 0);

    dev.user_activate(1);
    EXPECT_TRUE(testdev_wait([&] { return dev.state().kd_mode == KD_GRAPHICS; }));
    EXPECT_TRUE(testdev_wait([&] { return device_shows(dev, 640, 480, 0, 10) == 0xFF0000; }));
    if (c.depth == 8)
        EXPECT_EQ(dev.state().cmap[0][4], 0xFF00);
    else
        EXPECT_EQ(std::memcmp(dev.state().cmap, before.cmap, sizeof before.cmap), 0);
    static constexpr uint8_t release[] = {0x80 | 3, 0x80 | 56};
    dev.push_keys(release, sizeof release);
    usleep(100000);
    child.go();
    int status = child.finish();
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // Alt pressed, the display lost and regained around the switch, then the
    // console key reported as pressed without a key code.
    EXPECT_NE(child.reports.find("events 1:56,0 12 11 1:3,0 2:3,"), std::string::npos) << child.reports;
    EXPECT_TRUE(dev.state() == before);
}

INSTANTIATE_TEST_SUITE_P(Devices, FBDevSwitch, ::testing::ValuesIn(switch_cases),
                         [](const auto &p) { return std::string(p.param.name); });

}  // namespace
