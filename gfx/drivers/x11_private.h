// State of the X11 driver shared by its files (connection, window, image,
// presentation, input, full screen) and the OpenGL driver, which shares the
// window. Private to gfx/drivers/.
#pragma once
#include <atomic>
#include <ctime>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

#include "gfx/core/fingerprint.h"
#include "gfx/core/state.h"
#include "gfx/drivers/blit.h"
#include "gfx/drivers/x11.h"

struct X11Private {
    XImage *image;
    bool is_shm;
    XShmSegmentInfo shm_info;
    XImage *shape_image;
    Pixmap shape_pixmap;
    GC shape_gc;
    void (*update_mask)(const uint8_t *src, uint8_t *mask, int w, int rows);
    BlitterFn blitter;
    // A window shows each framebuffer pixel as scale x scale pixels (full
    // screen as one). Above 1 the blitter converts into `staging`, the
    // framebuffer in the display's format (none when the conversion is a
    // copy), and the dirty lines are replicated from there into `image`.
    int scale;
    uint8_t *staging;
    int staging_pitch;
    // What the window shows: the fingerprints of the framebuffer lines
    // last sent (gfx/core/fingerprint.h) and the device palette, so that a
    // line marked dirty but unchanged is not sent again; `resend` (set when
    // the window must be redrawn whole) sends every dirty line once more.
    LineFingerprint *sent;
    uint32_t sent_palette[256];
    bool resend;
    Window root_window;
    Colormap color_map;
    Cursor arrow_cursor, blank_cursor;
    Atom wm_intern_hints;
    Atom wm_delete_window;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    pthread_t thread;
    // Written by the stopping thread and read by the window thread on
    // every pass, outside the driver lock.
    std::atomic<bool> is_running;
    bool xlib_inited;
    std::atomic<bool> display_lost;  // the server went away: no more X calls
    // The window thread runs from a successful start to its join.
    std::atomic<bool> thread_started;
    // The window thread's rest between passes (x11_present.cpp): it waits
    // on `wake` after a pass until `pass_due_ns` (CLOCK_MONOTONIC, 30 ms
    // after the pass began), or a little beyond while the program releases
    // the lock often; the first release by the program after `pass_due_ns`
    // sets `wake` and ends it.
    std::atomic<long long> pass_due_ns;
    std::atomic<int> wake;
    int last_error;  // code of the last protocol error the handler saw

    // Input (the focus and click time survive mode changes).
    int has_focus;
    int mouse_on;
    int mouse_x, mouse_y;
    int mouse_buttons;
    int mouse_wheel;
    int mouse_x_root, mouse_y_root;
    unsigned long last_click_time;
    int cursor_shown;
    // The pointer as the last query reported it, in window pixels. A query
    // is a round trip to the server, so it is asked again only when an event
    // has reached the connection since (each motion, button or crossing in
    // the window sends one), after the window moved, a warp or a new window,
    // or when the answer is half a second old. `events_taken` counts the
    // events the window thread has taken from the queue; with those still
    // queued it tells whether any came in.
    bool pointer_known;
    int pointer_x, pointer_y;
    unsigned pointer_mask;
    unsigned long events_taken, pointer_events;
    long long pointer_time_ns;
    // The connection's request counters after the window thread last took
    // the events: while neither moves, no call has read from the server.
    unsigned long next_request_seen, last_read_seen;

    // XRandR.
    int target_size, target_rate;
    int current_size;
    int orig_size, orig_rate;
    Rotation orig_rotation;
    int real_h;
    int alt_h;  // the next standard height above h
};
extern X11Private rk_x11p;

// Input (x11_input.cpp).
// Fetches the keyboard description keys are translated with, builds the
// keycode -> scancode table from it and asks for the server's notices of
// keyboard changes.
void rk_hX11LoadKeyboard();
// Frees the description when the display closes.
void rk_hX11FreeKeyboard();
void rk_hX11HandleEvent(XEvent *event);
int rk_hX11TranslateKey(XKeyEvent *event);
// Grabs the pointer into `window`, retrying every `interval_us` for about
// two seconds; false when it never succeeds.
bool rk_hX11GrabPointer(unsigned interval_us);

// A clock's time in nanoseconds.
inline long long rk_hX11Now(clockid_t clock = CLOCK_MONOTONIC)
{
    timespec t;
    clock_gettime(clock, &t);
    return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The scale in force: `scale` in a window, 1 in full screen.
inline int rk_hX11Scale()
{
    return (rk_x11.flags & RK_MODE_FULLSCREEN) || rk_x11p.scale < 1 ? 1 : rk_x11p.scale;
}

// Connection (x11_connection.cpp).
// True while a display is open and has not been lost.
bool rk_hX11Alive();
// True for an empty display name or one beginning with ":" or "unix:".
bool rk_hX11DisplayIsLocal();
// Waits (at most two seconds) for a structure event of `type` on `win` and
// handles it.
void rk_hX11WaitFor(Window win, int type);
// Unmaps a mapped window and waits (bounded) for the server to confirm.
void rk_hX11UnmapAndWait(Window win);

// The window scale for a display of w x h pixels on `d`: RIVEZ_SCALE (1 to
// 4) when set to one of those, else GDK_SCALE likewise, else 2 from an
// Xft.dpi resource of 192 and 3 from 288; 1 when nothing applies or the
// window would be too large for X.
int rk_hX11ChooseScale(Display *d, int w, int h);

// Windows (x11_window.cpp): the content, frame and full-screen windows made
// with everything the window manager is told; false when the content window
// cannot be made, the decorations cannot be removed or the display is lost.
bool rk_hX11CreateWindows(const char *title, int flags);
// Their cursors, colour map and hints freed and the windows destroyed; the
// display must be alive.
void rk_hX11DestroyWindows();

// Images (x11_image.cpp): the X11 driver's start and stop hooks of the
// window thread, which make and free the image, the shape mask and the
// shown window. Start returns 0 or -1.
int rk_hX11WindowStart();
void rk_hX11WindowStop();

// Presentation (x11_present.cpp).
// The X11 driver's update hook: sends the changed lines to the window.
void rk_hX11Present();
// Starts the window thread and waits (bounded) until its start hook has run;
// 0 when it runs, -1 when it could not start or its start hook failed.
int rk_hX11StartThread();
// Switches between window and full screen in the window thread.
void rk_hX11Toggle();
// Marks every display line dirty.
void rk_hX11DirtyAll();
// Notes a release of the driver lock by the program and ends the window
// thread's rest when its next pass is due (rk_hX11Unlock calls it after
// releasing); the other ends the rest at once.
void rk_hX11WakeWhenDue();
void rk_hX11WakeNow();
// Releases the driver lock without the above: the window thread's own.
void rk_hX11UnlockQuietly();

// Full screen (x11_fullscreen.cpp): fills the XRandR state at start.
void rk_hX11SetupXRandR(int refresh_rate);
