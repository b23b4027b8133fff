// The X11 driver's connection: the display opened and closed, the error
// handlers, the lost display that ends the program, the driver lock, the
// bounded waits for the server, and the driver's table.
#include "gfx/drivers/x11_private.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "gfx/core/state.h"
#include "gfx/drivers/x11_probe.h"
#include "rt/rt.h"

X11Window rk_x11;
X11Private rk_x11p;
const char **__rk_x11_icon;

// ---- errors --------------------------------------------------------------

// Protocol errors are expected (a refused shared-memory attach, a window
// gone from under us) and never end the program.
static int on_x_error(Display *, XErrorEvent *e)
{
    rk_x11p.last_error = e->error_code;
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

void rk_hX11Lock()
{
    if (rk_x11p.display_lost && rk_x11p.thread_started && !exiting && on_main_thread())
        end_process();
    pthread_mutex_lock(&rk_x11p.mutex);
    if (rk_x11.display && !rk_x11p.display_lost) {
        XLockDisplay(rk_x11.display);
        display_locked = true;
    }
}

void rk_hX11UnlockQuietly()
{
    if (display_locked && !rk_x11p.display_lost)
        XUnlockDisplay(rk_x11.display);
    display_locked = false;
    pthread_mutex_unlock(&rk_x11p.mutex);
}

void rk_hX11Unlock()
{
    rk_hX11UnlockQuietly();
    rk_hX11WakeWhenDue();
}

bool rk_hX11Alive()
{
    return rk_x11.display && !rk_x11p.display_lost;
}

bool rk_hX11DisplayIsLocal()
{
    const char *name = XDisplayName(nullptr);
    return !name || !*name || name[0] == ':' || std::strncmp(name, "unix:", 5) == 0;
}


// ---- waits ---------------------------------------------------------------

// Waits for a structure event of `type` on `win`, at most two seconds: a
// window manager may never map a window, and opening must not hang on it
// (drawing into a window that is not shown yet is harmless). The awaited
// event is handled like any other: a MapNotify gives the window the focus,
// which is all the focus it gets on a server without a window manager.
void rk_hX11WaitFor(Window win, int type)
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


// Unmaps `win` and waits for it only when it is mapped: a start hook that
// failed before mapping would otherwise wait forever for the event.
void rk_hX11UnmapAndWait(Window win)
{
    XWindowAttributes a;
    if (!XGetWindowAttributes(rk_x11.display, win, &a) || a.map_state == IsUnmapped)
        return;
    XUnmapWindow(rk_x11.display, win);
    rk_hX11WaitFor(win, UnmapNotify);
}

// ---- open and close ------------------------------------------------------

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
    rk_x11p.scale = rk_hX11ChooseScale(rk_x11.display, w, h);
    if (!rk_hX11CreateWindows(title, flags))
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
    return rk_hX11StartThread();
}

void rk_hX11Exit()
{
    if (rk_x11p.thread_started) {
        rk_x11p.is_running = false;
        rk_hX11WakeNow();
        pthread_join(rk_x11p.thread, nullptr);
        pthread_mutex_destroy(&rk_x11p.mutex);
        pthread_cond_destroy(&rk_x11p.cond);
        rk_x11p.thread_started = false;
    }
    Display *d = rk_x11.display;
    if (!d)
        return;
    if (!rk_x11p.display_lost) {
        rk_hX11LeaveFullscreen();
        XSync(d, False);
        rk_hX11DestroyWindows();
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

// ---- the table -----------------------------------------------------------

static int driver_init(const char *title, int w, int h, int depth, int refresh_rate, int flags)
{
    if (flags & RK_MODE_OPENGL)
        return -1;
    std::memset(&rk_x11, 0, sizeof rk_x11);
    rk_x11.init = rk_hX11WindowStart;
    rk_x11.exit = rk_hX11WindowStop;
    rk_x11.update = rk_hX11Present;
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
    rk_hX11PaletteShown,
};
