// The X11 window: display and windows, the window thread that presents the
// dirty framebuffer lines every 30 ms and handles X events, images in
// shared memory, the shaped window, and the window operations of the table.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/shape.h>
#include <X11/xpm.h>

#include "gfx/core/color.h"
#include "gfx/core/screen.h"
#include "gfx/drivers/x11_private.h"
#include "gfx/drivers/x11_probe.h"
#include "rt/rt.h"

X11Window rk_x11;
X11Private rk_x11p;
const char **__rk_x11_icon;

static constexpr long kEventMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                                   EnterWindowMask | LeaveWindowMask | PointerMotionMask | ExposureMask |
                                   StructureNotifyMask | FocusChangeMask;
static_assert(kEventMask == 0x22807F);

// ---- errors --------------------------------------------------------------

static int last_x_error;

// Protocol errors are expected (a refused shared-memory attach, a window
// gone from under us) and never end the program.
static int on_x_error(Display *, XErrorEvent *e)
{
    last_x_error = e->error_code;
    return 0;
}

// A broken connection marks the display lost instead of ending the process:
// exiting from here would run the exit handlers on the window thread while
// it holds the driver lock, and closing the screen would never return.
static int on_io_error(Display *)
{
    rk_x11p.display_lost = true;
    return 0;
}

static void on_io_error_exit(Display *, void *)
{
    rk_x11p.display_lost = true;
}

bool rk_hX11DisplayLost()
{
    return rk_x11p.display_lost;
}

void rk_hXlibInit()
{
    if (rk_x11p.xlib_inited)
        return;
    rk_x11p.xlib_inited = true;
    XInitThreads();
    XSetErrorHandler(on_x_error);
    XSetIOErrorHandler(on_io_error);
}

// ---- a lost display --------------------------------------------------------

// When the server goes away the program ends as any X client does: one line
// on standard error and status 1, through exit() so that the exit procedures
// close the screen and restore the terminal. The window thread only notices
// and ends; the program's main thread ends the process at its next driver
// lock, which every wait of the layer (sleep, key wait, line input) takes at
// least every 50 ms. It holds no lock of the driver there, and the exit
// procedures join the window thread, which nothing keeps from ending.
static bool exiting;

[[noreturn]] static void end_process()
{
    exiting = true;
    char buf[128] = {};
    const char *name = rk_hGetExeName(buf, sizeof buf);
    const char *display = rk_x11.display ? DisplayString(rk_x11.display) : nullptr;
    std::fprintf(stderr, "%s: lost the connection to the X display %s\n", name ? name : "rkgfx",
                 display ? display : "");
    std::exit(1);
}

// Only the program's main thread ends the process: another thread of the
// program (the console's, say) may be one that the exit procedures join.
static bool on_main_thread()
{
    return gettid() == getpid();
}

// ---- lock ----------------------------------------------------------------

// Once the connection has broken, Xlib may still hold its own display lock
// for the thread that met the error: no Xlib call may follow, not even
// XLockDisplay.
static bool display_locked;
static Display *abandoned_display;

// The window thread runs from a successful start to its join.
static std::atomic<bool> thread_started;

void rk_hX11Lock()
{
    if (rk_x11p.display_lost && thread_started && !exiting && on_main_thread())
        end_process();
    pthread_mutex_lock(&rk_x11p.mutex);
    if (rk_x11.display && !rk_x11p.display_lost) {
        XLockDisplay(rk_x11.display);
        display_locked = true;
    }
}

void rk_hX11Unlock()
{
    if (display_locked && !rk_x11p.display_lost)
        XUnlockDisplay(rk_x11.display);
    display_locked = false;
    pthread_mutex_unlock(&rk_x11p.mutex);
}

// ---- helpers -------------------------------------------------------------

static bool x_alive()
{
    return rk_x11.display && !rk_x11p.display_lost;
}

// Waits for a structure event of `type` on `win`, at most two seconds: a
// window manager may never map a window, and opening must not hang on it
// (drawing into a window that is not shown yet is harmless). The awaited
// event is handled like any other: a MapNotify gives the window the focus,
// which is all the focus it gets on a server without a window manager.
static void wait_for(Window win, int type)
{
    Display *d = rk_x11.display;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (;;) {
        XEvent e;
        while (XCheckMaskEvent(d, StructureNotifyMask, &e))
            if (e.type == type && e.xany.window == win) {
                rk_hX11HandleEvent(&e);
                return;
            }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (rk_x11p.display_lost || left.count() <= 0)
            return;
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
    }
}

static void WaitMapped(Window win) { wait_for(win, MapNotify); }
static void WaitUnmapped(Window win) { wait_for(win, UnmapNotify); }

// Unmaps `win` and waits for it only when it is mapped: a start hook that
// failed before mapping would otherwise wait forever for the event.
void rk_hX11UnmapAndWait(Window win)
{
    XWindowAttributes a;
    if (!XGetWindowAttributes(rk_x11.display, win, &a) || a.map_state == IsUnmapped)
        return;
    XUnmapWindow(rk_x11.display, win);
    WaitUnmapped(win);
}

void rk_hX11DirtyAll()
{
    ScreenState *s = __rk_gfx;
    if (s && s->dirty)
        std::memset(s->dirty, 1, static_cast<std::size_t>(s->h) * s->scanline_size);
    rk_x11p.resend = true;
}

static int floor_half(int v)
{
    return v >= 0 ? v / 2 : -((1 - v) / 2);
}

// ---- title ---------------------------------------------------------------

// Length of the UTF-8 sequence starting at `p` (shortest forms only, no
// surrogates) and its code point; 0 when it is not one.
static int utf8_sequence(const unsigned char *p, uint32_t *cp)
{
    static constexpr uint32_t min_cp[5] = {0, 0, 0x80, 0x800, 0x10000};
    int n = p[0] < 0x80 ? 1 : (p[0] & 0xE0) == 0xC0 ? 2 : (p[0] & 0xF0) == 0xE0 ? 3 : (p[0] & 0xF8) == 0xF0 ? 4 : 0;
    if (n == 0)
        return 0;
    uint32_t v = n == 1 ? p[0] : p[0] & (0x7F >> n);
    for (int i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        v = (v << 6) | (p[i] & 0x3F);
    }
    if (v < min_cp[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    *cp = v;
    return n;
}

static bool is_utf8(const unsigned char *p)
{
    uint32_t cp;
    for (int n; *p; p += n)
        if (!(n = utf8_sequence(p, &cp)))
            return false;
    return true;
}

static void set_text_property(Display *d, Window win, Atom property, Atom type, const char *text, std::size_t len)
{
    XChangeProperty(d, win, property, type, 8, PropModeReplace, reinterpret_cast<const unsigned char *>(text),
                    static_cast<int>(len));
}

// The caption for window managers and task lists: WM_NAME in Latin-1 and
// _NET_WM_NAME in UTF-8. A title that is valid UTF-8 is taken as such, any
// other as Latin-1; characters that Latin-1 lacks become '?' in WM_NAME.
static void set_title(Display *d, Window win, const char *title)
{
    if (!win)
        return;
    const auto *in = reinterpret_cast<const unsigned char *>(title ? title : "");
    std::size_t len = std::strlen(reinterpret_cast<const char *>(in));
    if (len > 0xFFFF)
        return;  // no caption is that long
    char *latin1 = static_cast<char *>(std::malloc(len + 1));
    char *utf8 = static_cast<char *>(std::malloc(2 * len + 1));
    if (latin1 && utf8) {
        std::size_t nl = 0, nu = 0;
        if (is_utf8(in)) {
            std::memcpy(utf8, in, nu = len);
            uint32_t cp = 0;
            for (std::size_t i = 0; i < len;) {
                i += static_cast<std::size_t>(utf8_sequence(in + i, &cp));
                latin1[nl++] = cp <= 0xFF ? static_cast<char>(cp) : '?';
            }
        } else {
            std::memcpy(latin1, in, nl = len);
            for (std::size_t i = 0; i < len; ++i) {
                if (in[i] < 0x80) {
                    utf8[nu++] = static_cast<char>(in[i]);
                } else {
                    utf8[nu++] = static_cast<char>(0xC0 | (in[i] >> 6));
                    utf8[nu++] = static_cast<char>(0x80 | (in[i] & 0x3F));
                }
            }
        }
        set_text_property(d, win, XA_WM_NAME, XA_STRING, latin1, nl);
        set_text_property(d, win, XInternAtom(d, "_NET_WM_NAME", False), XInternAtom(d, "UTF8_STRING", False), utf8,
                          nu);
    }
    std::free(latin1);
    std::free(utf8);
}

// WM_CLASS of the windows: the program's file name and the same name
// capitalised, as window managers and task lists group programs by it.
static void set_class(Display *d, const char *title)
{
    char name[128] = {};
    const char *exe = rk_hGetExeName(name, sizeof name);
    const char *res = exe && *exe ? exe : title && *title ? title : "rkgfx";
    char res_name[128] = {}, res_class[128] = {};
    std::strncpy(res_name, res, sizeof res_name - 1);
    std::strncpy(res_class, res, sizeof res_class - 1);
    if (res_class[0] >= 'a' && res_class[0] <= 'z')
        res_class[0] = static_cast<char>(res_class[0] - 'a' + 'A');
    XClassHint hint{res_name, res_class};
    for (Window win : {rk_x11.window, rk_x11.wmwindow})
        if (win)
            XSetClassHint(d, win, &hint);
}

// ---- shape masks ---------------------------------------------------------

// One bit per pixel, least significant bit first; a pixel of the
// transparent colour clears its bit.
template <int Bpp>
static void update_mask(const uint8_t *, uint8_t *mask, int first, int rows)
{
    const ScreenState *s = __rk_gfx;
    int bpl = rk_x11p.shape_image->bytes_per_line;
    for (int r = first; r < first + rows; ++r) {
        const uint8_t *src = s->framebuffer + static_cast<std::size_t>(r / s->scanline_size) * s->pitch;
        uint8_t *out = mask + static_cast<std::size_t>(r) * bpl;
        std::memset(out, 0, static_cast<std::size_t>((rk_x11.w + 7) / 8));
        for (int x = 0; x < rk_x11.w; ++x) {
            bool opaque;
            if constexpr (Bpp == 1) {
                opaque = src[x] != 0;
            } else if constexpr (Bpp == 2) {
                uint16_t p;
                std::memcpy(&p, src + 2 * x, 2);
                opaque = p != 0xF81F;
            } else {
                uint32_t p;
                std::memcpy(&p, src + 4 * x, 4);
                opaque = (p & 0xFFFFFF) != 0xFF00FF;
            }
            if (opaque)
                out[x >> 3] |= static_cast<uint8_t>(1u << (x & 7));
        }
    }
}

// ---- image ---------------------------------------------------------------

static void free_shm_segment()
{
    if (rk_x11p.shm_info.shmaddr && rk_x11p.shm_info.shmaddr != reinterpret_cast<char *>(-1))
        shmdt(rk_x11p.shm_info.shmaddr);
    if (rk_x11p.shm_info.shmid >= 0)
        shmctl(rk_x11p.shm_info.shmid, IPC_RMID, nullptr);
    rk_x11p.shm_info.shmaddr = nullptr;
    rk_x11p.shm_info.shmid = -1;
}

// The image in a shared-memory segment only this user can read or write.
// The segment is marked for removal as soon as the server has attached it,
// so it goes away with the last detach even if the program dies.
static bool create_shm_image()
{
    Display *d = rk_x11.display;
    XImage *img = XShmCreateImage(d, rk_x11.visual, static_cast<unsigned>(DefaultDepth(d, rk_x11.screen)), ZPixmap,
                                  nullptr, &rk_x11p.shm_info, static_cast<unsigned>(rk_x11.w),
                                  static_cast<unsigned>(rk_x11.h));
    if (!img)
        return false;
    std::size_t size = static_cast<std::size_t>(img->bytes_per_line) * static_cast<std::size_t>(img->height);
    rk_x11p.shm_info.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    rk_x11p.shm_info.shmaddr = nullptr;
    if (rk_x11p.shm_info.shmid >= 0) {
        void *addr = shmat(rk_x11p.shm_info.shmid, nullptr, 0);
        if (addr != reinterpret_cast<void *>(-1)) {
            rk_x11p.shm_info.shmaddr = img->data = static_cast<char *>(addr);
            rk_x11p.shm_info.readOnly = False;
            last_x_error = 0;
            if (XShmAttach(d, &rk_x11p.shm_info)) {
                XSync(d, False);
                if (last_x_error == 0 && !rk_x11p.display_lost) {
                    shmctl(rk_x11p.shm_info.shmid, IPC_RMID, nullptr);
                    rk_x11p.image = img;
                    return true;
                }
            }
        }
    }
    free_shm_segment();
    img->data = nullptr;
    XDestroyImage(img);
    return false;
}

static bool create_plain_image()
{
    Display *d = rk_x11.display;
    XImage *img = XCreateImage(d, rk_x11.visual, static_cast<unsigned>(DefaultDepth(d, rk_x11.screen)), ZPixmap, 0,
                               nullptr, static_cast<unsigned>(rk_x11.w), static_cast<unsigned>(rk_x11.h), 32, 0);
    if (!img)
        return false;
    img->data = static_cast<char *>(
        std::calloc(static_cast<std::size_t>(img->bytes_per_line) * static_cast<std::size_t>(img->height), 1));
    if (!img->data) {
        XDestroyImage(img);
        return false;
    }
    rk_x11p.image = img;
    return true;
}

bool rk_hX11DisplayIsLocal()
{
    const char *name = XDisplayName(nullptr);
    return !name || !*name || name[0] == ':' || std::strncmp(name, "unix:", 5) == 0;
}

// ---- hooks of the X11 driver ---------------------------------------------

static int x11_init()
{
    Display *d = rk_x11.display;
    rk_x11p.image = rk_x11p.shape_image = nullptr;
    rk_x11p.shape_pixmap = None;
    rk_x11p.shape_gc = nullptr;
    rk_x11p.is_shm = false;
    // Without room for the copy every dirty line is sent, as it is anyway
    // in the first pass into a new window.
    std::free(rk_x11p.sent);
    rk_x11p.sent = nullptr;
    if (const ScreenState *s = __rk_gfx)
        rk_x11p.sent = static_cast<uint8_t *>(std::malloc(static_cast<std::size_t>(s->pitch) * s->h));
    rk_x11p.resend = true;

    unsigned long red = rk_x11.visual->red_mask;
    bool red_low = false;
    if (rk_x11.pixel_format == 24 || rk_x11.pixel_format == 32)
        red_low = red == 0xFF || red == 0x1F;
    else if (rk_x11.pixel_format == 15 || rk_x11.pixel_format == 16)
        red_low = red == 0x1F;
    rk_x11p.blitter = rk_hGetBlitter(rk_x11.pixel_format, red_low);
    if (!rk_x11p.blitter)
        return -1;

    bool fullscreen = rk_x11.flags & RK_MODE_FULLSCREEN;
    int x = 0, y = 0;
    if (!fullscreen) {
        x = floor_half(DisplayWidth(d, rk_x11.screen) - rk_x11.w);
        y = floor_half(DisplayHeight(d, rk_x11.screen) - rk_x11.h);
    }
    rk_hX11InitWindow(x, y);

    if (rk_x11.flags & RK_MODE_SHAPED) {
        int bpl = (rk_x11.w + 7) / 8;
        char *data = static_cast<char *>(std::calloc(static_cast<std::size_t>(bpl) * rk_x11.h, 1));
        if (!data)
            return -1;
        rk_x11p.shape_image = XCreateImage(d, rk_x11.visual, 1, XYBitmap, 0, data, static_cast<unsigned>(rk_x11.w),
                                           static_cast<unsigned>(rk_x11.h), 8, bpl);
        if (!rk_x11p.shape_image) {
            std::free(data);
            return -1;
        }
        rk_x11p.shape_image->bitmap_bit_order = LSBFirst;
        rk_x11p.shape_image->byte_order = LSBFirst;
        rk_x11p.shape_pixmap = XCreateBitmapFromData(d, rk_x11.window, data, static_cast<unsigned>(rk_x11.w),
                                                     static_cast<unsigned>(rk_x11.h));
        XGCValues v;
        v.foreground = 1;
        v.background = 0;
        if (!rk_x11p.shape_pixmap)
            return -1;
        rk_x11p.shape_gc = XCreateGC(d, rk_x11p.shape_pixmap, GCForeground | GCBackground, &v);
        if (!rk_x11p.shape_gc)
            return -1;
        int bpp = __rk_gfx ? __rk_gfx->bpp : 4;
        rk_x11p.update_mask = bpp == 1 ? update_mask<1> : bpp == 2 ? update_mask<2> : update_mask<4>;
    }

    rk_x11.display_offset = 0;
    int event_base, error_base;
    bool local = rk_hX11DisplayIsLocal();
    if (local && XShmQueryExtension(d)) {
        (void)event_base;
        (void)error_base;
        if (fullscreen) {
            int real_h;
            if (rk_hX11EnterFullscreen(&real_h) != 0) {
                rk_hX11LeaveFullscreen();
                return -1;
            }
            XReparentWindow(d, rk_x11.window, rk_x11.fswindow, 0, 0);
            XResizeWindow(d, rk_x11.fswindow, static_cast<unsigned>(rk_x11.w), static_cast<unsigned>(real_h));
            XResizeWindow(d, rk_x11.window, static_cast<unsigned>(rk_x11.w), static_cast<unsigned>(real_h));
            rk_x11.display_offset = (real_h - rk_x11.h) / 2;
        }
        rk_x11p.is_shm = true;
        if (create_shm_image())
            return 0;
        rk_x11p.is_shm = false;
    } else if (fullscreen) {
        return -1;
    }
    return create_plain_image() ? 0 : -1;
}

static void x11_exit()
{
    Display *d = rk_x11.display;
    bool fullscreen = rk_x11.flags & RK_MODE_FULLSCREEN;
    if (x_alive()) {
        if (fullscreen)
            rk_hX11LeaveFullscreen();
        rk_hX11UnmapAndWait(rk_x11.window);
        if (fullscreen) {
            XUnmapWindow(d, rk_x11.fswindow);
            XSync(d, False);
        } else if (!(rk_x11.flags & RK_MODE_NO_FRAME)) {
            rk_hX11UnmapAndWait(rk_x11.wmwindow);
        }
    }
    if (XImage *img = rk_x11p.image) {
        if (rk_x11p.is_shm) {
            if (x_alive())
                XShmDetach(d, &rk_x11p.shm_info);
            img->data = nullptr;
            free_shm_segment();
        }
        XDestroyImage(img);
        rk_x11p.image = nullptr;
    }
    std::free(rk_x11p.sent);
    rk_x11p.sent = nullptr;
    if (rk_x11p.shape_image) {
        XDestroyImage(rk_x11p.shape_image);
        rk_x11p.shape_image = nullptr;
    }
    if (x_alive() && rk_x11p.shape_pixmap)
        XFreePixmap(d, rk_x11p.shape_pixmap);
    if (x_alive() && rk_x11p.shape_gc)
        XFreeGC(d, rk_x11p.shape_gc);
    rk_x11p.shape_pixmap = None;
    rk_x11p.shape_gc = nullptr;
}

// Clears the dirty flag of every line whose pixels (and palette) equal what
// was last sent, and keeps the others as sent: a frame redrawn the same
// costs one comparison per line, no conversion and no transfer.
static void drop_unchanged_lines(ScreenState *s)
{
    uint8_t *sent = rk_x11p.sent;
    if (!sent)
        return;
    if (std::memcmp(rk_x11p.sent_palette, s->device_palette, sizeof rk_x11p.sent_palette) != 0) {
        std::memcpy(rk_x11p.sent_palette, s->device_palette, sizeof rk_x11p.sent_palette);
        rk_x11p.resend = true;
    }
    auto pitch = static_cast<std::size_t>(s->pitch);
    for (int k = 0; k < s->h; ++k) {
        if (!s->dirty[k])
            continue;
        const uint8_t *line = s->framebuffer + k * pitch;
        uint8_t *copy = sent + k * pitch;
        if (!rk_x11p.resend && std::memcmp(line, copy, pitch) == 0)
            s->dirty[k] = 0;
        else
            std::memcpy(copy, line, pitch);
    }
    rk_x11p.resend = false;
}

static void x11_update()
{
    ScreenState *s = __rk_gfx;
    if (!s || !rk_x11p.image || rk_x11p.display_lost)
        return;
    Display *d = rk_x11.display;
    drop_unchanged_lines(s);
    rk_x11p.blitter(reinterpret_cast<uint8_t *>(rk_x11p.image->data), rk_x11p.image->bytes_per_line);
    int sl = s->scanline_size > 0 ? s->scanline_size : 1;
    int lines = std::min(rk_x11.h, s->h * sl);
    for (int i = 0; i < lines;) {
        if (!s->dirty[i / sl]) {
            ++i;
            continue;
        }
        int n = 1;
        while (i + n < lines && s->dirty[(i + n) / sl])
            ++n;
        if (rk_x11p.shape_image) {
            rk_x11p.update_mask(nullptr, reinterpret_cast<uint8_t *>(rk_x11p.shape_image->data), i, n);
            XPutImage(d, rk_x11p.shape_pixmap, rk_x11p.shape_gc, rk_x11p.shape_image, 0, i, 0, i,
                      static_cast<unsigned>(rk_x11.w), static_cast<unsigned>(n));
            XShapeCombineMask(d, rk_x11.window, ShapeBounding, 0, 0, rk_x11p.shape_pixmap, ShapeSet);
        }
        if (rk_x11p.is_shm)
            XShmPutImage(d, rk_x11.window, rk_x11.gc, rk_x11p.image, 0, i, 0, i + rk_x11.display_offset,
                         static_cast<unsigned>(rk_x11.w), static_cast<unsigned>(n), False);
        else
            XPutImage(d, rk_x11.window, rk_x11.gc, rk_x11p.image, 0, i, 0, i + rk_x11.display_offset,
                      static_cast<unsigned>(rk_x11.w), static_cast<unsigned>(n));
        i += n;
    }
    std::memset(s->dirty, 0, static_cast<std::size_t>(s->h) * sl);
}

// ---- window thread -------------------------------------------------------

static bool thread_ready;

static void *window_thread(void *)
{
    rk_x11p.is_running = true;
    if (rk_x11.init() != 0)
        rk_x11p.is_running = false;
    rk_x11p.cursor_shown = 1;
    rk_x11p.mouse_x_root = -1;

    pthread_mutex_lock(&rk_x11p.mutex);
    thread_ready = true;
    pthread_cond_signal(&rk_x11p.cond);
    pthread_mutex_unlock(&rk_x11p.mutex);

    while (rk_x11p.is_running && !rk_x11p.display_lost) {
        rk_hX11Lock();
        if (rk_x11p.display_lost) {
            rk_hX11Unlock();
            break;
        }
        rk_x11.update();
        while (!rk_x11p.display_lost && XPending(rk_x11.display)) {
            XEvent e;
            XNextEvent(rk_x11.display, &e);
            if (!rk_x11p.display_lost)
                rk_hX11HandleEvent(&e);
        }
        rk_hX11Unlock();
        usleep(30000);
    }
    rk_x11.exit();
    return nullptr;
}

void rk_hX11Toggle()
{
    rk_x11.exit();
    rk_x11.flags ^= RK_MODE_FULLSCREEN;
    if (rk_x11.init() != 0) {
        rk_x11.exit();
        rk_x11.flags ^= RK_MODE_FULLSCREEN;
        rk_x11.init();
    }
    rk_hRestorePalette();
    if (__rk_gfx && __rk_gfx->key_state)
        std::memset(__rk_gfx->key_state, 0, 128);
}

// ---- start and stop ------------------------------------------------------

// Pixel format of the image for a visual depth: the pixmap format's bits
// per pixel, except that 16 bits per pixel keep the depth (15 or 16).
static int pixel_format_for(Display *d, int depth)
{
    int n = 0, result = 0;
    XPixmapFormatValues *formats = XListPixmapFormats(d, &n);
    for (int i = 0; i < n; ++i)
        if (formats[i].depth == depth)
            result = formats[i].bits_per_pixel == 16 ? depth : formats[i].bits_per_pixel;
    if (formats)
        XFree(formats);
    return result;
}

static Window create_window(Display *d, bool override)
{
    XSetWindowAttributes a{};
    a.background_pixel = BlackPixel(d, rk_x11.screen);
    a.border_pixel = BlackPixel(d, rk_x11.screen);
    a.backing_store = NotUseful;
    a.event_mask = kEventMask;
    a.colormap = XCreateColormap(d, rk_x11p.root_window, rk_x11.visual, AllocNone);
    a.override_redirect = override ? True : False;
    return XCreateWindow(d, rk_x11p.root_window, 0, 0, static_cast<unsigned>(rk_x11.w),
                         static_cast<unsigned>(rk_x11.h), 0, rk_x11.depth, InputOutput, rk_x11.visual,
                         CWBackPixel | CWBorderPixel | CWBackingStore | CWEventMask | CWColormap |
                             CWOverrideRedirect,
                         &a);
}

static void set_size_hints(Display *d)
{
    XSizeHints *hints = XAllocSizeHints();
    if (!hints)
        return;
    hints->min_width = hints->base_width = rk_x11.w;
    hints->min_height = hints->base_height = rk_x11.h;
    if (rk_x11.flags & RK_MODE_NO_SWITCH) {
        hints->max_width = rk_x11.w;
        hints->max_height = rk_x11.h;
    } else {
        hints->max_width = DisplayWidth(d, rk_x11.screen);
        hints->max_height = DisplayHeight(d, rk_x11.screen);
    }
    hints->width_inc = hints->height_inc = 65536;
    hints->flags = PMinSize | PMaxSize | PResizeInc | PBaseSize;
    XSetWMNormalHints(d, rk_x11.window, hints);
    XSetWMNormalHints(d, rk_x11.fswindow, hints);
    hints->max_width = hints->min_width;
    hints->max_height = hints->min_height;
    XSetWMNormalHints(d, rk_x11.wmwindow, hints);
    XFree(hints);
}

// A window without decorations through the first hints atom the window
// manager knows; false when it knows none.
static bool remove_decorations(Display *d)
{
    static const char *const names[] = {"_MOTIF_WM_HINTS", "KWM_WIN_DECORATION", "_WIN_HINTS"};
    for (const char *name : names) {
        Atom a = XInternAtom(d, name, True);
        if (a == None)
            continue;
        rk_x11p.wm_intern_hints = a;
        long motif[5] = {2, 0, 0, 0, 0};
        long zero = 0;
        bool is_motif = name == names[0];
        XChangeProperty(d, rk_x11.window, a, a, 32, PropModeReplace,
                        reinterpret_cast<unsigned char *>(is_motif ? motif : &zero), is_motif ? 5 : 1);
        return true;
    }
    return false;
}

static void make_cursors(Display *d)
{
    Pixmap pm = XCreatePixmap(d, rk_x11.window, 1, 1, 1);
    XGCValues v;
    v.function = GXcopy;
    v.foreground = 0;
    v.background = 0;
    // Without a GC the pixmap cannot be cleared, and an uncleared mask may
    // show a dot: the window then has no blank cursor and keeps the arrow.
    if (GC gc = XCreateGC(d, pm, GCFunction | GCForeground | GCBackground, &v)) {
        XDrawPoint(d, pm, gc, 0, 0);
        XFreeGC(d, gc);
        XColor black{};
        rk_x11p.blank_cursor = XCreatePixmapCursor(d, pm, pm, &black, &black, 0, 0);
    }
    rk_x11p.arrow_cursor = XCreateFontCursor(d, XC_left_ptr);
    XFreePixmap(d, pm);
}

// The start hook's own waits are bounded (two map waits and a pointer grab of
// about two seconds each); only a server that stops answering holds it longer.
static constexpr int kStartWaitSeconds = 8;

static int x11_start_thread()
{
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_mutex_init(&rk_x11p.mutex, nullptr);
    pthread_cond_init(&rk_x11p.cond, &attr);
    pthread_condattr_destroy(&attr);
    pthread_mutex_lock(&rk_x11p.mutex);
    thread_ready = false;
    if (pthread_create(&rk_x11p.thread, nullptr, window_thread, nullptr) == 0) {
        thread_started = true;
        timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += kStartWaitSeconds;
        while (!thread_ready && pthread_cond_timedwait(&rk_x11p.cond, &rk_x11p.mutex, &deadline) != ETIMEDOUT) {
        }
        if (!thread_ready) {
            // Stuck in a round trip to a server that no longer answers:
            // breaking the connection makes each X call of the thread return
            // at once, and the open fails.
            rk_x11p.is_running = false;
            shutdown(ConnectionNumber(rk_x11.display), SHUT_RDWR);
            while (!thread_ready)
                pthread_cond_wait(&rk_x11p.cond, &rk_x11p.mutex);
        }
        pthread_mutex_unlock(&rk_x11p.mutex);
        if (rk_x11p.is_running)
            return 0;
        pthread_join(rk_x11p.thread, nullptr);
        thread_started = false;
    } else {
        pthread_mutex_unlock(&rk_x11p.mutex);
    }
    pthread_cond_destroy(&rk_x11p.cond);
    pthread_mutex_destroy(&rk_x11p.mutex);
    return -1;
}

int rk_hX11Init(const char *title, int w, int h, int depth, int refresh_rate, int flags)
{
    rk_x11p.is_running = false;
    rk_hXlibInit();
    rk_x11.h = h;
    rk_x11.flags = flags;
    rk_x11.w = w;
    rk_x11.refresh_rate = refresh_rate;
    rk_x11p.target_size = rk_x11p.target_rate = rk_x11p.current_size = -1;
    rk_x11p.color_map = None;
    rk_x11p.arrow_cursor = rk_x11p.blank_cursor = None;
    rk_x11p.wm_intern_hints = None;
    rk_x11p.image = rk_x11p.shape_image = nullptr;
    rk_x11p.shm_info.shmid = -1;
    rk_x11p.shm_info.shmaddr = nullptr;

    rk_x11p.alt_h = h;
    for (int std_h : {240, 480, 600, 768, 1024})
        if (std_h > h) {
            rk_x11p.alt_h = std_h;
            break;
        }

    if (rk_x11.visual) {
        rk_x11.depth = depth;
    } else {
        rk_x11p.display_lost = false;
        if (rk_hX11CheckDisplay() != 0)
            return -1;
        rk_x11.display = XOpenDisplay(nullptr);
        if (!rk_x11.display)
            return -1;
        XSetIOErrorExitHandler(rk_x11.display, on_io_error_exit, nullptr);
        rk_x11.screen = DefaultScreen(rk_x11.display);
        rk_x11.visual = DefaultVisual(rk_x11.display, rk_x11.screen);
        rk_x11.depth = DefaultDepth(rk_x11.display, rk_x11.screen);
        rk_x11.pixel_format = pixel_format_for(rk_x11.display, rk_x11.depth);
    }
    Display *d = rk_x11.display;
    rk_x11p.root_window = RootWindow(d, rk_x11.screen);
    rk_x11.window = create_window(d, false);
    if (!rk_x11.window)
        return -1;
    rk_x11.wmwindow = create_window(d, false);
    rk_x11.fswindow = create_window(d, true);
    // The caption goes on the content window and on the frame window, which
    // is the one a window manager decorates and lists.
    set_title(d, rk_x11.window, title);
    set_title(d, rk_x11.wmwindow, title);
    set_class(d, title);

    if (__rk_x11_icon) {
        Pixmap icon = None, mask = None;
        if (XpmCreatePixmapFromData(d, rk_x11p.root_window, const_cast<char **>(__rk_x11_icon), &icon, &mask,
                                    nullptr) == XpmSuccess) {
            XWMHints *wm = XAllocWMHints();
            if (wm) {
                wm->icon_pixmap = icon;
                wm->icon_mask = mask;
                wm->flags = IconPixmapHint | (mask ? IconMaskHint : 0);
                XSetWMHints(d, rk_x11.wmwindow, wm);
                XFree(wm);
            }
        }
    }

    set_size_hints(d);
    if ((flags & RK_MODE_NO_FRAME) && !remove_decorations(d))
        return -1;
    rk_x11p.wm_delete_window = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, rk_x11.wmwindow, &rk_x11p.wm_delete_window, 1);

    if (rk_x11.visual->c_class == PseudoColor) {
        rk_x11p.color_map = XCreateColormap(d, rk_x11p.root_window, rk_x11.visual, AllocAll);
        XSetWindowColormap(d, rk_x11.window, rk_x11p.color_map);
    }
    XClearWindow(d, rk_x11.window);
    make_cursors(d);
    rk_x11.gc = DefaultGC(d, rk_x11.screen);
    XSync(d, False);
    if (rk_x11p.display_lost)
        return -1;

    rk_hX11SetupXRandR(refresh_rate);
    rk_hX11LoadKeyboard();

    if (flags & RK_MODE_FULLSCREEN) {
        rk_x11p.mouse_on = 1;
        rk_x11p.mouse_x = w / 2;
        rk_x11p.mouse_y = h / 2;
    } else {
        rk_x11p.mouse_on = 0;
    }
    rk_x11p.mouse_wheel = rk_x11p.mouse_buttons = 0;
    return x11_start_thread();
}

void rk_hX11Exit()
{
    if (thread_started) {
        rk_x11p.is_running = false;
        pthread_join(rk_x11p.thread, nullptr);
        pthread_mutex_destroy(&rk_x11p.mutex);
        pthread_cond_destroy(&rk_x11p.cond);
        thread_started = false;
    }
    Display *d = rk_x11.display;
    if (!d)
        return;
    if (!rk_x11p.display_lost) {
        rk_hX11LeaveFullscreen();
        XSync(d, False);
        if (rk_x11p.arrow_cursor || rk_x11p.blank_cursor)
            XUndefineCursor(d, rk_x11.window);
        for (Cursor c : {rk_x11p.arrow_cursor, rk_x11p.blank_cursor})
            if (c)
                XFreeCursor(d, c);
        if (rk_x11p.color_map)
            XFreeColormap(d, rk_x11p.color_map);
        if (rk_x11p.wm_intern_hints)
            XDeleteProperty(d, rk_x11.window, rk_x11p.wm_intern_hints);
        for (Window win : {rk_x11.window, rk_x11.fswindow, rk_x11.wmwindow})
            if (win)
                XDestroyWindow(d, win);
    }
    rk_hX11FreeKeyboard();
    if (rk_x11.config)
        XRRFreeScreenConfigInfo(rk_x11.config);
    rk_x11.config = nullptr;
    if (rk_x11p.display_lost) {
        // A broken connection cannot be closed through Xlib (see above):
        // its socket is closed and the record kept.
        close(ConnectionNumber(d));
        abandoned_display = d;
    } else {
        XCloseDisplay(d);
    }
    rk_x11.display = nullptr;
    rk_x11.visual = nullptr;
    rk_x11.window = rk_x11.wmwindow = rk_x11.fswindow = 0;
}

// ---- window operations ---------------------------------------------------

void rk_hX11InitWindow(int x, int y)
{
    Display *d = rk_x11.display;
    unsigned w = static_cast<unsigned>(rk_x11.w), h = static_cast<unsigned>(rk_x11.h);
    if (rk_x11.flags & RK_MODE_FULLSCREEN) {
        XMoveResizeWindow(d, rk_x11.fswindow, 0, 0, w, h);
        XMoveResizeWindow(d, rk_x11.window, 0, 0, w, h);
        XReparentWindow(d, rk_x11.window, rk_x11.fswindow, 0, 0);
        XMapRaised(d, rk_x11.fswindow);
        XSync(d, False);
        XMapRaised(d, rk_x11.window);
        XSync(d, False);
    } else {
        XResizeWindow(d, rk_x11.wmwindow, w, h);
        XResizeWindow(d, rk_x11.window, w, h);
        bool frame = !(rk_x11.flags & RK_MODE_NO_FRAME);
        if (frame) {
            XReparentWindow(d, rk_x11.window, rk_x11.wmwindow, 0, 0);
            XMapRaised(d, rk_x11.wmwindow);
            WaitMapped(rk_x11.wmwindow);
        }
        XMapRaised(d, rk_x11.window);
        if (!frame)
            XMoveWindow(d, rk_x11.window, x, y);
        WaitMapped(rk_x11.window);
    }
    XRaiseWindow(d, rk_x11.window);
    if (rk_x11.flags & RK_MODE_ALWAYS_ON_TOP) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.send_event = True;
        e.xclient.window = rk_x11.wmwindow;
        e.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 1;
        e.xclient.data.l[1] = static_cast<long>(XInternAtom(d, "_NET_WM_STATE_ABOVE", False));
        XSendEvent(d, rk_x11p.root_window, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    }
}

void rk_hX11SetPalette(int index, int r, int g, int b)
{
    if (!x_alive() || !rk_x11p.color_map)
        return;
    XColor c{};
    c.pixel = static_cast<unsigned long>(index);
    c.red = static_cast<unsigned short>(r * 257);
    c.green = static_cast<unsigned short>(g * 257);
    c.blue = static_cast<unsigned short>(b * 257);
    c.flags = DoRed | DoGreen | DoBlue;
    XStoreColors(rk_x11.display, rk_x11p.color_map, &c, 1);
}

void rk_hX11WaitVSync()
{
    usleep(rk_x11.refresh_rate > 0 ? 1000000u / static_cast<unsigned>(rk_x11.refresh_rate) : 16666u);
}

void rk_hX11SetWindowTitle(const char *title)
{
    if (!x_alive())
        return;
    set_title(rk_x11.display, rk_x11.window, title);
    set_title(rk_x11.display, rk_x11.wmwindow, title);
    XFlush(rk_x11.display);
}

int rk_hGetWindowHandle()
{
    return rk_x11.display ? static_cast<int>(rk_x11.window) : 0;
}

int rk_hX11SetWindowPos(int x, int y)
{
    if ((rk_x11.flags & RK_MODE_FULLSCREEN) || !x_alive())
        return 0;
    rk_hX11Lock();
    Display *d = rk_x11.display;
    Window top = rk_x11.window;
    int off_x = 0, off_y = 0;
    for (;;) {
        Window root, parent, *children = nullptr;
        unsigned n;
        if (!XQueryTree(d, top, &root, &parent, &children, &n))
            break;
        if (children)
            XFree(children);
        if (parent == rk_x11p.root_window || parent == 0)
            break;
        XWindowAttributes a;
        XGetWindowAttributes(d, top, &a);
        off_x += a.x;
        off_y += a.y;
        top = parent;
    }
    XWindowAttributes ta{};
    XGetWindowAttributes(d, top, &ta);
    int nx = x == static_cast<int>(0x80000000u) ? ta.x : x - off_x;
    int ny = y == static_cast<int>(0x80000000u) ? ta.y : y - off_y;
    XSetWindowAttributes sa{};
    sa.override_redirect = True;
    XChangeWindowAttributes(d, top, CWOverrideRedirect, &sa);
    XMoveWindow(d, top, nx, ny);
    sa.override_redirect = False;
    XChangeWindowAttributes(d, top, CWOverrideRedirect, &sa);
    XClearWindow(d, rk_x11.wmwindow);
    XEvent e;
    while (XCheckWindowEvent(d, rk_x11.window, PointerMotionMask, &e)) {
    }
    rk_hX11Unlock();
    return ((ta.y + off_y) << 16) | ((ta.x + off_x) & 0xFFFF);
}

// ---- the table -----------------------------------------------------------

static int driver_init(const char *title, int w, int h, int depth, int refresh_rate, int flags)
{
    if (flags & RK_MODE_OPENGL)
        return -1;
    std::memset(&rk_x11, 0, sizeof rk_x11);
    rk_x11.init = x11_init;
    rk_x11.exit = x11_exit;
    rk_x11.update = x11_update;
    return rk_hX11Init(title, w, h, std::max(depth, 8), refresh_rate, flags);
}

const DisplayDriver rk_gfxDriverX11 = {
    "X11",
    driver_init,
    rk_hX11Exit,
    rk_hX11Lock,
    rk_hX11Unlock,
    rk_hX11SetPalette,
    rk_hX11WaitVSync,
    rk_hX11GetMouse,
    rk_hX11SetMouse,
    rk_hX11SetWindowTitle,
    rk_hX11SetWindowPos,
    rk_hX11FetchModes,
    nullptr,
    nullptr,
    rk_hX11ScreenInfo,
};
