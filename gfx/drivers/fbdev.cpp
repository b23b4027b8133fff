#include "gfx/drivers/fbdev.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fb.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <time.h>

#include "gfx/core/mem.h"
#include "gfx/core/screen.h"
#include "gfx/core/builtin.h"
#include "gfx/drivers/blit.h"
#include "gfx/drivers/conkbd.h"
#include "gfx/drivers/softcursor.h"
#include "gfx/input/keys.h"
#include "rt/sysdev.h"
#include "rt/term.h"

FBDevDriver rk_fbdev;

namespace {

constexpr int MOUSE_BUFFER = 1024;
constexpr int CMAP_BLOCK = 6 * 256;  // saved red, green, blue, then current ones
constexpr int VSYNC_METHODS = FB_VBLANK_HAVE_VCOUNT | FB_VBLANK_HAVE_VBLANK;
// A retrace that does not come within this time means the device does not
// report it after all; the thread then paces itself by the clock.
constexpr int VSYNC_TIMEOUT_MS = 50;
// The widest image the 16-colour path converts.
constexpr int VGA_MAX_WIDTH = 2048;
// driver_wait_vsync gives up after this long without a pass.
constexpr int PASS_TIMEOUT_MS = 200;

// The standard display sizes tried for a larger mode, in order.
constexpr struct {
    uint32_t w, h;
} standard_mode[] = {{320, 200}, {320, 240}, {400, 300},  {512, 384},   {640, 400},
                     {640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1600, 1200}};

struct FBDevState {
    int device_fd = -1;
    fb_fix_screeninfo device_info;
    fb_var_screeninfo orig_mode, mode;
    uint8_t *framebuffer;  // the mapping, smem_len bytes
    std::size_t mapped_size;
    std::size_t framebuffer_offset;  // of the image's top-left corner
    BlitterFn blitter;
    fb_cmap orig_cmap, cmap;
    uint16_t *palette;  // CMAP_BLOCK entries behind both maps
    bool is_palette_changed;
    bool is_active;
    uint8_t color_conv[4096];
    uint32_t vsync_flags;

    int mouse_fd = -1;
    int mouse_packet_size;
    uint8_t mouse_bytes[MOUSE_BUFFER];
    int mouse_held;  // bytes of an unfinished packet in mouse_bytes
    int mouse_x, mouse_y, mouse_z, mouse_buttons, mouse_clip, mouse_shown;
    uint32_t last_click_time;
    bool cursor_ready;

    pthread_t thread;
    bool thread_started;
    unsigned passes;  // completed passes, under `mutex`
    bool console_taken;
};
FBDevState fb;

// What a fatal signal must put back. Set once the thing is changed, cleared
// once it is restored on the normal way out. (The console keyboard puts the
// keyboard and the console's text mode back itself.) restore_cmap is set
// only when the device's colour map could be read: without it the device's
// map is never written, since it could not be put back.
std::atomic<bool> restore_mode, restore_cmap;
std::atomic<bool> is_running;

// The driver lock. Never destroyed: the console's background thread may
// still call a console-switch hook while the driver closes.
pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t cond;  // signalled after each pass, on a monotonic clock
pthread_once_t cond_once = PTHREAD_ONCE_INIT;

void init_cond()
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&cond, &attr);
    pthread_condattr_destroy(&attr);
}

timespec deadline_in(int ms)
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += ms / 1000;
    t.tv_nsec += (ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
    return t;
}

bool past(const timespec &deadline)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

void sleep_us(long us)
{
    timespec t{us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// Wall-clock milliseconds; differences are taken unsigned.
uint32_t now_ms()
{
    timeval tv;
    gettimeofday(&tv, nullptr);
    return static_cast<uint32_t>(static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u);
}

// The program's thread calls the mouse and palette entries either inside
// rk_GfxLock (which holds the driver lock already) or outside it; outside it
// the entry takes the lock itself.
struct ProgramGuard {
    bool taken;
    ProgramGuard() : taken(!__rk_gfx || __rk_gfx->lock_count == 0)
    {
        if (taken)
            pthread_mutex_lock(&mutex);
    }
    ~ProgramGuard()
    {
        if (taken)
            pthread_mutex_unlock(&mutex);
    }
    ProgramGuard(const ProgramGuard &) = delete;
    ProgramGuard &operator=(const ProgramGuard &) = delete;
};

void post_event(int type, int a, int b = 0, int c = 0, int d = 0)
{
    EventRecord r{type, {a, b, c, d}};
    rk_hPostEvent(&r);
}

void mark_all_dirty()
{
    if (__rk_gfx && __rk_gfx->dirty && rk_fbdev.h > 0)
        std::memset(__rk_gfx->dirty, 1, static_cast<std::size_t>(rk_fbdev.h));
}

void clear_all_dirty()
{
    if (__rk_gfx && __rk_gfx->dirty && rk_fbdev.h > 0)
        std::memset(__rk_gfx->dirty, 0, static_cast<std::size_t>(rk_fbdev.h));
}

const char *device_name()
{
    const char *name = std::getenv("RIVEZ_FRAMEBUFFER");
    return name && *name ? name : "/dev/fb0";
}

// ---------------------------------------------------------------------------
// Console restoration on a fatal signal: plain requests only.

void signal_restore()
{
    int fd = fb.device_fd;
    if (restore_cmap.load()) {
        fb_cmap c = fb.orig_cmap;
        rk_sys->ioctl(fd, FBIOPUTCMAP, &c);
    }
    if (restore_mode.load()) {
        fb_var_screeninfo m = fb.orig_mode;
        rk_sys->ioctl(fd, FBIOPUT_VSCREENINFO, &m);
    }
}

// ---------------------------------------------------------------------------
// The device's refresh rate.

int refresh_from_timing(const fb_var_screeninfo &m)
{
    long double htotal = static_cast<long double>(m.xres) + m.left_margin + m.right_margin + m.hsync_len;
    long double vtotal = static_cast<long double>(m.yres) + m.upper_margin + m.lower_margin + m.vsync_len;
    switch (m.vmode & FB_VMODE_MASK) {
    case FB_VMODE_NONINTERLACED: vtotal *= 2; break;
    case FB_VMODE_DOUBLE: vtotal *= 4; break;
    default: break;
    }
    if (m.pixclock == 0 || htotal == 0 || vtotal == 0)
        return 0;
    long double rate = 1e12L / m.pixclock / htotal / vtotal * 2;
    return rate >= static_cast<long double>(INT_MAX) ? INT_MAX : static_cast<int>(rate);
}

// ---------------------------------------------------------------------------
// Mouse: PS/2 packets of 3 bytes, or 4 with the wheel.

void mouse_packet(const uint8_t *p)
{
    const ScreenState *s = __rk_gfx;
    int dx = p[1] - ((p[0] & 0x10) ? 256 : 0);
    int dy = -(p[2] - ((p[0] & 0x20) ? 256 : 0));
    fb.mouse_x = std::clamp(fb.mouse_x + dx, 0, std::max(s->w - 1, 0));
    fb.mouse_y = std::clamp(fb.mouse_y + dy, 0, std::max(s->h - 1, 0));
    if (dx || dy)
        post_event(RK_EVENT_MOUSE_MOVE, fb.mouse_x, fb.mouse_y, dx, dy);
    int old_buttons = fb.mouse_buttons;
    fb.mouse_buttons = p[0] & 7;
    if (fb.mouse_packet_size == 4) {
        int z = p[3] & 0x0F;
        if (z) {
            fb.mouse_z += (z - 7) >> 3;  // 1..6: -1, 7..14: 0, 15: +1
            post_event(RK_EVENT_MOUSE_WHEEL, fb.mouse_z);
        }
    }
    for (int button : {4, 2, 1}) {
        if (!((old_buttons ^ fb.mouse_buttons) & button))
            continue;
        if (fb.mouse_buttons & button) {
            uint32_t now = now_ms();
            bool twice = now - fb.last_click_time < 250;
            fb.last_click_time = now;
            post_event(twice ? RK_EVENT_MOUSE_DOUBLE_CLICK : RK_EVENT_MOUSE_PRESS, button);
        } else {
            post_event(RK_EVENT_MOUSE_RELEASE, button);
        }
    }
}

// Reads what the mouse has sent, never more than the buffer holds, and takes
// the complete packets; a byte that cannot start a packet is dropped alone.
void mouse_input()
{
    pollfd p{fb.mouse_fd, POLLIN, 0};
    if (rk_sys->poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN))
        return;
    std::size_t room = MOUSE_BUFFER - static_cast<std::size_t>(fb.mouse_held);
    ssize_t n = room ? rk_sys->read(fb.mouse_fd, fb.mouse_bytes + fb.mouse_held, room) : 0;
    if (n <= 0)
        return;
    int held = fb.mouse_held + static_cast<int>(n), pos = 0, size = fb.mouse_packet_size;
    while (pos < held) {
        uint8_t first = fb.mouse_bytes[pos];
        bool bad = size == 3 ? first > 0x3F : (first & 0xC8) != 0x08;
        if (bad) {
            ++pos;
            continue;
        }
        if (held - pos < size)
            break;
        mouse_packet(fb.mouse_bytes + pos);
        pos += size;
    }
    std::memmove(fb.mouse_bytes, fb.mouse_bytes + pos, static_cast<std::size_t>(held - pos));
    fb.mouse_held = held - pos;
}

// Opens the first mouse device there is. Read-write devices get the wheel
// knock (sample rates 200, 100, 80); one that takes all six bytes sends
// 4-byte packets.
void open_mouse()
{
    static constexpr const char *names[] = {"/dev/input/mice", "/dev/usbmouse", "/dev/psaux"};
    static constexpr uint8_t knock[6] = {0xF3, 200, 0xF3, 100, 0xF3, 80};
    fb.mouse_packet_size = 3;
    for (const char *name : names) {
        int fd = rk_sys->open(name, O_RDWR | O_NONBLOCK);
        if (fd >= 0) {
            fb.mouse_packet_size = rk_sys->write(fd, knock, sizeof knock) == static_cast<ssize_t>(sizeof knock) ? 4 : 3;
        } else {
            fd = rk_sys->open(name, O_RDONLY | O_NONBLOCK);
            fb.mouse_packet_size = 3;
        }
        if (fd >= 0) {
            fb.mouse_fd = fd;
            break;
        }
    }
    if (fb.mouse_fd < 0)
        return;
    const ScreenState *s = __rk_gfx;
    fb.mouse_x = std::min(rk_fbdev.w / 2, std::max(s->w - 1, 0));
    fb.mouse_y = std::min(rk_fbdev.h / 2, std::max(s->h - 1, 0));
    fb.mouse_z = fb.mouse_buttons = fb.mouse_clip = 0;
    fb.mouse_held = 0;
    fb.mouse_shown = 1;
    fb.cursor_ready = rk_hSoftCursorInit() == 0;
}

// ---------------------------------------------------------------------------
// The 16-colour VGA: four bit planes behind one window, the plane chosen with
// the sequencer's map mask.

void vga_out(uint16_t index_port, uint8_t index, uint8_t value)
{
    rk_sys->outb(index, index_port);
    rk_sys->outb(value, static_cast<uint16_t>(index_port + 1));
}

uint8_t vga_index(const ScreenState *s, uint8_t byte)
{
    if (s->depth != 8)
        return byte;
    uint32_t e = s->device_palette[byte];
    return fb.color_conv[((e >> 20) & 0xF) * 256 + ((e >> 12) & 0xF) * 16 + ((e >> 4) & 0xF)];
}

void vga16_blitter(uint8_t *dest, int dest_pitch)
{
    const ScreenState *s = __rk_gfx;
    vga_out(0x3CE, 3, 0);     // data rotate / function
    vga_out(0x3CE, 5, 0);     // write mode 0
    vga_out(0x3CE, 1, 0);     // enable set/reset
    vga_out(0x3CE, 8, 0xFF);  // bit mask
    int bytes = s->w / 8;
    uint8_t planes[4][VGA_MAX_WIDTH / 8];
    for (int y = 0; y < rk_fbdev.h; ++y, dest += dest_pitch) {
        int line = y / s->scanline_size;
        if (!s->dirty[line])
            continue;
        const uint8_t *src = s->framebuffer + static_cast<std::size_t>(line) * s->pitch;
        for (int j = 0; j < bytes; ++j) {
            uint8_t bits[4] = {0, 0, 0, 0};
            for (int i = 0; i < 8; ++i) {
                uint8_t c = vga_index(s, src[8 * j + i]);
                for (int k = 0; k < 4; ++k)
                    bits[k] = static_cast<uint8_t>(bits[k] | (((c >> k) & 1) << (7 - i)));
            }
            for (int k = 0; k < 4; ++k)
                planes[k][j] = bits[k];
        }
        for (int k = 0; k < 4; ++k) {
            vga_out(0x3C4, 2, static_cast<uint8_t>(1 << k));
            std::memcpy(dest, planes[k], static_cast<std::size_t>(bytes));
        }
    }
}

// ---------------------------------------------------------------------------
// The thread.

// Waits for the vertical retrace, as the device reports it. A device that
// fails to answer or never shows the retrace is no longer asked.
void wait_retrace()
{
    fb_vblank vb{};
    timespec deadline = deadline_in(VSYNC_TIMEOUT_MS);
    auto read_vblank = [&] {
        if (rk_sys->ioctl(fb.device_fd, FBIOGET_VBLANK, &vb) != 0 || past(deadline) || !is_running.load()) {
            if (is_running.load())
                fb.vsync_flags = 0;
            return false;
        }
        return true;
    };
    if (fb.vsync_flags & FB_VBLANK_HAVE_VCOUNT) {
        if (!read_vblank())
            return;
        uint32_t last = vb.vcount;
        while (read_vblank() && vb.vcount >= last)
            last = vb.vcount;
    } else if (fb.vsync_flags & FB_VBLANK_HAVE_VBLANK) {
        do {
            if (!read_vblank())
                return;
        } while (vb.flags & FB_VBLANK_VBLANKING);
        do {
            if (!read_vblank())
                return;
        } while (!(vb.flags & FB_VBLANK_VBLANKING));
    }
}

void present()
{
    if (fb.is_palette_changed) {
        // An 8-bit screen on the 16-colour VGA keeps the 16 device colours
        // and shows its own palette through them: its lines are converted
        // anew. Any other screen sends its palette.
        if (fb.mode.bits_per_pixel == 4 && __rk_gfx->depth == 8)
            mark_all_dirty();
        else if (restore_cmap.load())
            rk_sys->ioctl(fb.device_fd, FBIOPUTCMAP, &fb.cmap);
        if (fb.mouse_fd >= 0)
            rk_hSoftCursorPaletteChanged();
        fb.is_palette_changed = false;
    }
    bool cursor = fb.mouse_fd >= 0 && fb.mouse_shown;
    int x = fb.mouse_x, y = fb.mouse_y;
    if (cursor)
        rk_hSoftCursorPut(x, y);
    fb.blitter(fb.framebuffer + fb.framebuffer_offset, static_cast<int>(fb.device_info.line_length));
    clear_all_dirty();
    if (cursor)
        rk_hSoftCursorUnput(x, y);
}

void *driver_thread(void *)
{
    // Signals from outside go to the program's thread, so that the
    // fatal-signal path can stop this one before it restores the device.
    sigset_t block;
    sigfillset(&block);
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigdelset(&block, s);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);
    pthread_mutex_lock(&mutex);
    is_running.store(true);
    pthread_cond_broadcast(&cond);
    pthread_mutex_unlock(&mutex);
    while (is_running.load()) {
        pthread_mutex_lock(&mutex);
        if (fb.mouse_fd >= 0)
            mouse_input();
        wait_retrace();
        ++fb.passes;
        pthread_cond_broadcast(&cond);
        if (fb.is_active && rk_hDeviceEnter()) {
            present();
            rk_hDeviceLeave();
        }
        long pause = fb.vsync_flags & VSYNC_METHODS ? 8000
                     : rk_fbdev.refresh_rate > 0   ? 1000000 / rk_fbdev.refresh_rate
                                                   : 16666;
        pthread_mutex_unlock(&mutex);
        // In slices, so that a closing driver need not wait for a slow rate.
        for (long left = pause; left > 0 && is_running.load(); left -= 10000)
            sleep_us(std::min(left, 10000L));
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Console switching, called by the console keyboard from the console's
// background thread.

void driver_save_screen()
{
    pthread_mutex_lock(&mutex);
    bool open = fb.device_fd >= 0 && fb.framebuffer;
    fb.is_active = false;
    if (open && restore_cmap.load() && rk_hDeviceEnter()) {
        rk_sys->ioctl(fb.device_fd, FBIOPUTCMAP, &fb.orig_cmap);
        rk_hDeviceLeave();
    }
    pthread_mutex_unlock(&mutex);
    if (open)
        post_event(RK_EVENT_WINDOW_LOST_FOCUS, 0);
}

void driver_restore_screen()
{
    pthread_mutex_lock(&mutex);
    bool open = fb.device_fd >= 0 && fb.framebuffer;
    fb.is_active = true;
    if (open) {
        fb.is_palette_changed = true;
        std::memset(fb.framebuffer, 0, fb.mapped_size);
        mark_all_dirty();
    }
    pthread_mutex_unlock(&mutex);
    if (open)
        post_event(RK_EVENT_WINDOW_GOT_FOCUS, 0);
}

void driver_key_handler(int code)
{
    int type = (code & 0x100) ? RK_EVENT_KEY_REPEAT : (code & 0x80) ? RK_EVENT_KEY_PRESS : RK_EVENT_KEY_RELEASE;
    int key = (code & 0x1000000) ? 0 : (code >> 16) & 0xFF;
    post_event(type, code & 0x7F, key);
}

// ---------------------------------------------------------------------------
// Modes.

// The channel layout of a depth, as attempts 1 and 2 ask for it.
void set_layout(fb_var_screeninfo &m, int depth)
{
    struct Layout {
        uint32_t r_off, r_len, g_off, g_len, b_off, b_len;
    };
    Layout l{};
    switch (depth) {
    case 16: l = {11, 5, 5, 6, 0, 5}; break;
    case 15: l = {10, 5, 5, 5, 0, 5}; break;
    case 24: case 32: l = {16, 8, 8, 8, 0, 8}; break;
    default: break;
    }
    m.bits_per_pixel = static_cast<uint32_t>(depth);
    m.grayscale = 0;
    m.red = {l.r_off, l.r_len, 0};
    m.green = {l.g_off, l.g_len, 0};
    m.blue = {l.b_off, l.b_len, 0};
}

void set_size(fb_var_screeninfo &m, uint32_t w, uint32_t h)
{
    m.xres = m.xres_virtual = w;
    m.yres = m.yres_virtual = h;
}

bool put_mode(fb_var_screeninfo &m)
{
    m.activate = FB_ACTIVATE_NOW;
    if (rk_sys->ioctl(fb.device_fd, FBIOPUT_VSCREENINFO, &m) != 0)
        return false;
    restore_mode.store(true);
    fb.mode = m;
    return true;
}

// Attempts 1 and 2 ask for the wanted depth, 3 and 4 keep the device's;
// 1 and 3 ask for the exact size, 2 and 4 for the first larger standard size.
bool choose_mode(int width, int height, int depth)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        fb_var_screeninfo m = fb.orig_mode;
        m.xoffset = m.yoffset = 0;
        if (attempt < 2)
            set_layout(m, depth);
        if (attempt % 2 == 0) {
            set_size(m, static_cast<uint32_t>(width), static_cast<uint32_t>(height));
            if (put_mode(m))
                return true;
            continue;
        }
        for (const auto &sm : standard_mode) {
            if (sm.w < static_cast<uint32_t>(width) || sm.h <= static_cast<uint32_t>(height))
                continue;
            fb_var_screeninfo t = m;
            set_size(t, sm.w, sm.h);
            if (put_mode(t))
                return true;
        }
    }
    if (fb.orig_mode.xres < static_cast<uint32_t>(width) || fb.orig_mode.yres < static_cast<uint32_t>(height))
        return false;
    fb.mode = fb.orig_mode;
    return true;
}

// Places the image in the middle of the mode and picks its blitter. Refuses
// a mode the image does not fit in, or whose memory ends before the image's
// last line does.
bool place_image(int width, int height)
{
    const fb_var_screeninfo &m = fb.mode;
    std::size_t line = fb.device_info.line_length, offset, row_bytes;
    if (m.xres < static_cast<uint32_t>(width) || m.yres < static_cast<uint32_t>(height))
        return false;
    if (m.bits_per_pixel == 4) {
        if (width > VGA_MAX_WIDTH)
            return false;
        fb.blitter = vga16_blitter;
        fb.orig_cmap.len = fb.cmap.len = 16;
        offset = static_cast<std::size_t>((m.yres - height) / 2) * (m.xres / 8) + (m.xres - width) / 16;
        row_bytes = static_cast<std::size_t>(width) / 8;
    } else {
        fb.orig_cmap.len = fb.cmap.len = 256;
        std::size_t bytes_pp = (m.bits_per_pixel + 7) / 8;
        offset = static_cast<std::size_t>((m.yres - height) / 2) * line + ((m.xres - width) / 2) * bytes_pp;
        row_bytes = static_cast<std::size_t>(width) * bytes_pp;
        // A 16-bit mode with a 5-bit green channel is 15-bit.
        int format = m.bits_per_pixel == 16 && m.green.length == 5 ? 15 : static_cast<int>(m.bits_per_pixel);
        fb.blitter = rk_hGetBlitter(format, m.red.offset == 0);
    }
    std::size_t end;
    if (!fb.blitter || height <= 0 || row_bytes > line ||
        !rk_hSizeMulAdd(static_cast<long long>(height) - 1, static_cast<long long>(line),
                        static_cast<long long>(offset + row_bytes), &end) ||
        end > fb.device_info.smem_len)
        return false;
    fb.framebuffer_offset = offset;
    return true;
}

// Colour maps: the device's own is kept for the way out and starts the
// current one, so that sending the current map changes nothing until the
// program sets colours.
bool setup_colormaps(int depth)
{
    fb.palette = static_cast<uint16_t *>(std::calloc(CMAP_BLOCK, sizeof(uint16_t)));
    if (!fb.palette)
        return false;
    fb.orig_cmap.start = fb.cmap.start = 0;
    fb.orig_cmap.red = fb.palette;
    fb.orig_cmap.green = fb.palette + 256;
    fb.orig_cmap.blue = fb.palette + 512;
    fb.cmap.red = fb.palette + 768;
    fb.cmap.green = fb.palette + 1024;
    fb.cmap.blue = fb.palette + 1280;
    fb.orig_cmap.transp = fb.cmap.transp = nullptr;
    if (rk_sys->ioctl(fb.device_fd, FBIOGETCMAP, &fb.orig_cmap) == 0) {
        std::memcpy(fb.palette + 768, fb.palette, 768 * sizeof(uint16_t));
        restore_cmap.store(true);
    }
    if (depth != 8 || fb.mode.bits_per_pixel != 4)
        return true;
    // An 8-bit screen on the 16-colour VGA: the 16 default colours go to the
    // device, and every colour of the screen is shown as the nearest of them.
    ScreenState *s = __rk_gfx;
    const uint8_t *c = rk_palette_16.data;
    for (int k = 0; k < 16; ++k, c += 3) {
        uint32_t r = c[0], g = c[1], b = c[2];
        fb.cmap.red[k] = static_cast<uint16_t>(r * 256);
        fb.cmap.green[k] = static_cast<uint16_t>(g * 256);
        fb.cmap.blue[k] = static_cast<uint16_t>(b * 256);
        s->device_palette[k] = r | (g << 8) | (b << 16);
    }
    if (restore_cmap.load())
        rk_sys->ioctl(fb.device_fd, FBIOPUTCMAP, &fb.cmap);
    for (int j = 0; j < 4096; ++j) {
        int r = (j & 0xF) * 16, g = j & 0xF0, b = (j & 0xF00) / 16;
        int best = 0, best_distance = INT_MAX;
        for (int k = 0; k < 16; ++k) {
            int d = rk_hColorDistance(k, r, g, b);
            if (d < best_distance) {
                best_distance = d;
                best = k;
            }
        }
        fb.color_conv[j] = static_cast<uint8_t>(best);
    }
    return true;
}

// ---------------------------------------------------------------------------
// The table's entries.

void driver_exit();

// Takes the keyboard and switches the console to graphics; the console
// calls driver_exit on its own way out.
bool take_console()
{
    rk_hConsoleSetKeyboard(&rk_console_keyboard);
    if (rk_hConsoleGfxMode(driver_exit, driver_save_screen, driver_restore_screen, driver_key_handler) != 0)
        return false;
    fb.console_taken = true;
    return true;
}

int driver_init(const char *title, int width, int height, int depth, int refresh_rate, int flags)
{
    if (flags & RK_MODE_OPENGL)
        return -1;
    rk_fbdev.w = width;
    rk_fbdev.h = height;
    rk_fbdev.flags = flags;
    rk_fbdev.refresh_rate = 0;
    pthread_once(&cond_once, init_cond);

    fb.device_fd = rk_sys->open(device_name(), O_RDWR);
    if (fb.device_fd < 0)
        return -1;
    if (rk_sys->ioctl(fb.device_fd, FBIOGET_FSCREENINFO, &fb.device_info) != 0 ||
        rk_sys->ioctl(fb.device_fd, FBIOGET_VSCREENINFO, &fb.orig_mode) != 0)
        return -1;
    const fb_fix_screeninfo &info = fb.device_info;
    if ((info.type != FB_TYPE_PACKED_PIXELS && info.type != FB_TYPE_VGA_PLANES) ||
        info.visual < FB_VISUAL_TRUECOLOR || info.visual > FB_VISUAL_DIRECTCOLOR)
        return -1;
    rk_hAddSignalRestore(signal_restore);

    int d = std::max(depth, 4);
    if (info.type == FB_TYPE_VGA_PLANES && info.type_aux == 0) {
        if (fb.orig_mode.xres < static_cast<uint32_t>(width) || fb.orig_mode.yres < static_cast<uint32_t>(height) ||
            d > 8 || rk_hRequestPortAccess() != 0)
            return -1;
        fb.mode = fb.orig_mode;
    } else if (!choose_mode(width, height, d)) {
        return -1;
    }

    pthread_mutex_lock(&mutex);
    fb.is_active = true;
    fb.is_palette_changed = false;
    pthread_mutex_unlock(&mutex);
    if (!take_console())
        return -1;
    int rate = 0;
    rk_hFBDevInfo(nullptr, nullptr, nullptr, &rate);
    rk_fbdev.refresh_rate = rate;
    __rk_gfx->refresh_rate = rate;

    if (rk_sys->ioctl(fb.device_fd, FBIOGET_FSCREENINFO, &fb.device_info) != 0 || !place_image(width, height))
        return -1;
    void *p = rk_sys->mmap(fb.device_info.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fb.device_fd, 0);
    if (p == MAP_FAILED)
        return -1;
    // The console-switch hooks may already run on the console's thread.
    pthread_mutex_lock(&mutex);
    fb.framebuffer = static_cast<uint8_t *>(p);
    fb.mapped_size = fb.device_info.smem_len;
    std::memset(fb.framebuffer, 0, fb.mapped_size);
    pthread_mutex_unlock(&mutex);

    open_mouse();
    if (!setup_colormaps(d))
        return -1;
    fb_vblank vb{};
    fb.vsync_flags = rk_sys->ioctl(fb.device_fd, FBIOGET_VBLANK, &vb) == 0 ? vb.flags : 0;

    pthread_mutex_lock(&mutex);
    is_running.store(false);
    if (pthread_create(&fb.thread, nullptr, driver_thread, nullptr) != 0) {
        pthread_mutex_unlock(&mutex);
        return -1;
    }
    fb.thread_started = true;
    while (!is_running.load())
        pthread_cond_wait(&cond, &mutex);
    pthread_mutex_unlock(&mutex);
    return 0;
}

void driver_exit()
{
    if (fb.thread_started) {
        pthread_mutex_lock(&mutex);
        is_running.store(false);
        pthread_cond_broadcast(&cond);
        pthread_mutex_unlock(&mutex);
        pthread_join(fb.thread, nullptr);
        fb.thread_started = false;
    }
    if (fb.mouse_fd >= 0) {
        if (fb.cursor_ready)
            rk_hSoftCursorExit();
        fb.cursor_ready = false;
        rk_sys->close(fb.mouse_fd);
        fb.mouse_fd = -1;
    }
    if (fb.device_fd < 0)
        return;
    if (fb.console_taken) {
        rk_hConsoleGfxMode(nullptr, nullptr, nullptr, nullptr);
        fb.console_taken = false;
    }
    pthread_mutex_lock(&mutex);
    if (fb.framebuffer)
        rk_sys->munmap(fb.framebuffer, fb.mapped_size);
    fb.framebuffer = nullptr;
    fb.mapped_size = 0;
    if (restore_cmap.load())
        rk_sys->ioctl(fb.device_fd, FBIOPUTCMAP, &fb.orig_cmap);
    restore_cmap.store(false);
    std::free(fb.palette);
    fb.palette = nullptr;
    if (restore_mode.load()) {
        fb_var_screeninfo m = fb.orig_mode;
        rk_sys->ioctl(fb.device_fd, FBIOPUT_VSCREENINFO, &m);
    }
    restore_mode.store(false);
    rk_hRemoveSignalRestore(signal_restore);
    rk_sys->close(fb.device_fd);
    fb.device_fd = -1;
    fb.blitter = nullptr;
    pthread_mutex_unlock(&mutex);
}

void driver_lock()
{
    pthread_mutex_lock(&mutex);
}

void driver_unlock()
{
    pthread_mutex_unlock(&mutex);
}

void driver_set_palette(int index, int red, int green, int blue)
{
    ProgramGuard guard;
    if (!fb.palette || index < 0 || index > 255)
        return;
    fb.cmap.red[index] = static_cast<uint16_t>(red * 256);
    fb.cmap.green[index] = static_cast<uint16_t>(green * 256);
    fb.cmap.blue[index] = static_cast<uint16_t>(blue * 256);
    fb.is_palette_changed = true;
}

// About one frame: until the thread's next pass, or a frame's time when the
// caller holds the driver lock (the thread cannot pass then). Ends early
// when the thread has stopped.
void driver_wait_vsync()
{
    if (__rk_gfx && __rk_gfx->lock_count > 0) {
        sleep_us(rk_fbdev.refresh_rate > 0 ? 1000000 / rk_fbdev.refresh_rate : 16666);
        return;
    }
    pthread_mutex_lock(&mutex);
    unsigned start = fb.passes;
    timespec deadline = deadline_in(PASS_TIMEOUT_MS);
    while (is_running.load() && fb.passes == start)
        if (pthread_cond_timedwait(&cond, &mutex, &deadline) == ETIMEDOUT)
            break;
    pthread_mutex_unlock(&mutex);
}

int driver_get_mouse(int *x, int *y, int *wheel, int *buttons, int *clip)
{
    ProgramGuard guard;
    if (fb.mouse_fd < 0)
        return -1;
    *x = fb.mouse_x;
    *y = fb.mouse_y;
    *wheel = fb.mouse_z;
    *buttons = fb.mouse_buttons;
    *clip = fb.mouse_clip;
    return 0;
}

// A negative cursor or clip leaves it as it is.
void driver_set_mouse(int x, int y, int cursor, int clip)
{
    ProgramGuard guard;
    const ScreenState *s = __rk_gfx;
    if (x >= 0 && x < s->w)
        fb.mouse_x = x;
    if (y >= 0 && y < s->h)
        fb.mouse_y = y;
    if (cursor >= 0)
        fb.mouse_shown = cursor != 0;
    if (clip >= 0)
        fb.mouse_clip = clip > 0;
}

int *driver_fetch_modes(int depth, int *count)
{
    *count = 0;
    if (depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        return nullptr;
    int fd = fb.device_fd >= 0 ? fb.device_fd : rk_sys->open(device_name(), O_RDWR);
    if (fd < 0)
        return nullptr;
    int *list = nullptr;
    fb_var_screeninfo scratch;
    if (rk_sys->ioctl(fd, FBIOGET_VSCREENINFO, &scratch) == 0 &&
        (list = static_cast<int *>(std::malloc(sizeof standard_mode / sizeof standard_mode[0] * sizeof(int))))) {
        for (const auto &sm : standard_mode) {
            fb_var_screeninfo t = scratch;
            set_size(t, sm.w, sm.h);
            t.bits_per_pixel = static_cast<uint32_t>(depth);
            t.activate = FB_ACTIVATE_TEST;
            if (rk_sys->ioctl(fd, FBIOPUT_VSCREENINFO, &t) == 0)
                list[(*count)++] = static_cast<int>((sm.w << 16) | sm.h);
        }
    }
    if (fd != fb.device_fd)
        rk_sys->close(fd);
    return list;
}

}  // namespace

int rk_hFBDevInfo(int *width, int *height, int *depth, int *rate)
{
    fb_var_screeninfo m;
    if (fb.device_fd >= 0) {
        m = fb.mode;
    } else {
        int fd = rk_sys->open("/dev/fb0", O_RDONLY);
        if (fd < 0)
            return -1;
        int r = rk_sys->ioctl(fd, FBIOGET_VSCREENINFO, &m);
        rk_sys->close(fd);
        if (r != 0)
            return -1;
    }
    if (width)
        *width = static_cast<int>(std::min<uint32_t>(m.xres, INT_MAX));
    if (height)
        *height = static_cast<int>(std::min<uint32_t>(m.yres, INT_MAX));
    if (depth)
        *depth = static_cast<int>(std::min<uint32_t>(m.bits_per_pixel, INT_MAX));
    int r = refresh_from_timing(m);
    if (rate && r > 0)
        *rate = r;
    return 0;
}

const DisplayDriver rk_gfxDriverFBDev = {
    "FBDev",          driver_init,        driver_exit,      driver_lock,      driver_unlock,
    driver_set_palette, driver_wait_vsync, driver_get_mouse, driver_set_mouse, nullptr,
    nullptr,          driver_fetch_modes, nullptr,          nullptr,          rk_hFBDevInfo,
};
