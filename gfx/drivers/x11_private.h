// State of the X11 driver shared by its window, input and full-screen
// files and the OpenGL driver, which shares the window. Private to
// gfx/drivers/.
#pragma once
#include <atomic>
#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

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
    // What the window shows: the framebuffer lines and device palette last
    // sent, so that a line marked dirty but unchanged is not sent again;
    // `resend` (set when the window must be redrawn whole) sends every
    // dirty line once more.
    uint8_t *sent;
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

    // Input (the focus and click time survive mode changes).
    int has_focus;
    int mouse_on;
    int mouse_x, mouse_y;
    int mouse_buttons;
    int mouse_wheel;
    int mouse_x_root, mouse_y_root;
    unsigned long last_click_time;
    int cursor_shown;

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

// Window (x11_window.cpp): switches between window and full screen in the
// window thread.
void rk_hX11Toggle();
// Marks every display line dirty.
void rk_hX11DirtyAll();
// Unmaps a mapped window and waits (bounded) for the server to confirm.
void rk_hX11UnmapAndWait(Window win);
// True for an empty display name or one beginning with ":" or "unix:".
bool rk_hX11DisplayIsLocal();

// Full screen (x11_fullscreen.cpp): fills the XRandR state at start.
void rk_hX11SetupXRandR(int refresh_rate);
